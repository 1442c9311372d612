#include "Codec936.h"
#include "IniFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

TIniFile FromText(const char* utf8)
{
    TIniFile ini(QString{});
    ini.SetText(QString::fromUtf8(utf8));
    return ini;
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

} // namespace

struct TReadCase
{
    const char* Name;
    const char* Text;
    const char* Section;
    const char* Key;
    const char* Expected; // nullptr: not found
};

class IniRead : public testing::TestWithParam<TReadCase>
{
};

TEST_P(IniRead, FollowsTheProfileRules)
{
    const TReadCase& c = GetParam();
    const TIniFile ini = FromText(c.Text);
    const QString missing = QStringLiteral("<missing>");
    const QString value = ini.ReadString(QString::fromUtf8(c.Section), QString::fromUtf8(c.Key), missing);
    EXPECT_EQ(value, c.Expected ? QString::fromUtf8(c.Expected) : missing) << c.Name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniRead,
    testing::Values(
        TReadCase{"names ignore case", "[Window]\nTop=5\n", "window", "TOP", "5"},
        TReadCase{"names and values trimmed", "  [ Window ]  \n\t Top \t=  5  \n", "Window", "Top", "5"},
        TReadCase{"first key wins", "[A]\nk=1\nK=2\n", "a", "k", "1"},
        TReadCase{"first section wins", "[A]\nk=1\n[a]\nk=2\nj=3\n", "A", "k", "1"},
        TReadCase{"later duplicate section unseen", "[A]\nk=1\n[a]\nj=3\n", "A", "j", nullptr},
        TReadCase{"value after first equals", "[A]\nurl=a=b=c\n", "A", "url", "a=b=c"},
        TReadCase{"double quotes removed", "[A]\nk=\"  padded  \"\n", "A", "k", "  padded  "},
        TReadCase{"single quotes removed", "[A]\nk='x y'\n", "A", "k", "x y"},
        TReadCase{"unmatched quotes kept", "[A]\nk=\"x'\n", "A", "k", "\"x'"},
        TReadCase{"empty value", "[A]\nk=\n", "A", "k", ""},
        TReadCase{"comment is no key", "[A]\n;k=1\n", "A", ";k", nullptr},
        TReadCase{"line without equals is no key", "[A]\nk\n", "A", "k", nullptr},
        TReadCase{"keys before any section ignored", "k=1\n[A]\n", "A", "k", nullptr},
        TReadCase{"key of another section unseen", "[A]\nk=1\n[B]\n", "B", "k", nullptr},
        TReadCase{"CRLF line ends", "[A]\r\nk=v\r\n", "A", "k", "v"},
        TReadCase{"Chinese names", "[书库]\n名称=本地书库\n", "书库", "名称", "本地书库"},
        TReadCase{"missing file section", "", "A", "k", nullptr}),
    [](const testing::TestParamInfo<TReadCase>& info) { return "case" + std::to_string(info.index); });

TEST(IniFile, IntegersAndBooleans)
{
    const TIniFile ini = FromText("[N]\na=12\nb= -3 \nc=$1F\nd=0x10\ne=12abc\nf=\ng=99999999999\n"
                                  "t1=1\nt2=0\nt3=2\nt4=true\nt5=-1\n");
    const struct
    {
        const char* Key;
        int Expected;
    } ints[] = {{"a", 12}, {"b", -3}, {"c", 31}, {"d", 16}, {"e", 7}, {"f", 7}, {"g", 7}, {"none", 7}};
    for (const auto& c : ints) EXPECT_EQ(ini.ReadInteger("N", c.Key, 7), c.Expected) << c.Key;

    EXPECT_TRUE(ini.ReadBool("N", "t1", false));
    EXPECT_FALSE(ini.ReadBool("N", "t2", true));
    EXPECT_TRUE(ini.ReadBool("N", "t3", false));
    EXPECT_FALSE(ini.ReadBool("N", "t4", false)); // not an integer: the default
    EXPECT_TRUE(ini.ReadBool("N", "t4", true));
    EXPECT_TRUE(ini.ReadBool("N", "t5", false));
}

TEST(IniFile, ListsSectionsAndKeys)
{
    const TIniFile ini = FromText("[A]\nx=1\n; note\nY=2\nx=3\n[B]\n[a]\nz=4\n");
    EXPECT_EQ(ini.ReadSections(), QStringList({"A", "B"}));
    EXPECT_EQ(ini.ReadSection("a"), QStringList({"x", "Y"}));
    EXPECT_TRUE(ini.SectionExists("b"));
    EXPECT_FALSE(ini.SectionExists("C"));
    EXPECT_TRUE(ini.ValueExists("A", "y"));
}

TEST(IniFile, WritingKeepsEveryOtherLine)
{
    TIniFile ini = FromText("; settings\n[Window]\nTop=1\n  odd line\nLeft=2\n\n[Other]\nk=v\n");
    ini.WriteInteger("window", "top", 10);  // replaced in place
    ini.WriteInteger("Window", "Width", 30); // new key after the section's last line
    ini.WriteString("New", "Key", "x");     // new section at the end
    ini.DeleteKey("Other", "missing");
    EXPECT_EQ(ini.Text(),
              "; settings\n[Window]\ntop=10\n  odd line\nLeft=2\nWidth=30\n\n[Other]\nk=v\n[New]\nKey=x\n");
}

TEST(IniFile, WrittenValuesReadBackTheSame)
{
    TIniFile ini = FromText("");
    // A line break in a value must not become a second key line.
    ini.WriteString("A", "user", "evil\n[Update]\nUpdateServer=x");
    ini.WriteString("A", "padded", "  two blanks  ");
    ini.WriteString("A", "quoted", "\"q\"");
    EXPECT_FALSE(ini.SectionExists("Update"));
    EXPECT_EQ(ini.ReadSection("A").size(), 3);
    EXPECT_EQ(ini.ReadString("A", "user", ""), "evil [Update] UpdateServer=x");
    EXPECT_EQ(ini.ReadString("A", "padded", ""), "  two blanks  ");
    EXPECT_EQ(ini.ReadString("A", "quoted", ""), "\"q\"");
}

TEST(IniFile, FileOnDiskIsCodePage936AndKeepsItsLineBreaks)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Korvel.ini");
    WriteAll(path, QByteArray("; \xCE\xD2\r\n[Login]\r\nUserName=old\r\n"));
    {
        TIniFile ini(path);
        EXPECT_EQ(ini.ReadString("Login", "UserName", ""), "old");
        ini.WriteString("Login", "UserName", QStringLiteral("书虫"));
        ASSERT_TRUE(ini.UpdateFile());
    }
    // 书 CAE9, 虫 B3E6; the comment's bytes and the CRLF line ends are kept.
    EXPECT_EQ(ReadAll(path), QByteArray("; \xCE\xD2\r\n[Login]\r\nUserName=\xCA\xE9\xB3\xE6\r\n"));
    EXPECT_EQ(TIniFile(path).ReadString("Login", "UserName", ""), QStringLiteral("书虫"));
}

TEST(IniFile, MissingOrUnreadableFileIsEmpty)
{
    QTemporaryDir dir;
    const TIniFile missing(dir.filePath("none.ini"));
    EXPECT_TRUE(missing.ReadSections().isEmpty());
    const TIniFile folder(dir.path()); // a folder cannot be read as a file
    EXPECT_TRUE(folder.ReadSections().isEmpty());
    // A pipe nobody writes to would block the reader for ever: it counts as missing.
    const QString fifo = dir.filePath("pipe.ini");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const TIniFile pipe(fifo);
    EXPECT_TRUE(pipe.ReadSections().isEmpty());
    // Written, a settings path that is a folder fails rather than being lost quietly.
    TIniFile intoFolder(dir.path());
    intoFolder.WriteString("Window", "Top", "1");
    EXPECT_FALSE(intoFolder.UpdateFile());
    WriteAll(dir.filePath("junk.ini"), QByteArray("\x00\xFF\xFE[\x01=\n=\n[]\n", 11));
    const TIniFile junk(dir.filePath("junk.ini"));
    EXPECT_EQ(junk.ReadString("", "", "d"), "d");
}

// A list of 100,000 keys (a hostile "home.dll") is read key by key in linear time; the first
// of two equal names (in any case) still wins, in the first section of a name. The bound only
// catches a quadratic reader, which took minutes.
TEST(IniFile, HugeSectionsReadInLinearTime)
{
    QString text = "[Home]\n";
    for (int i = 0; i < 100000; ++i)
        text += QStringLiteral("key%1=value%1\n").arg(i);
    text += "KEY5=later\n[home]\nkey6=second section\n[Other]\nx=1\n";
    TIniFile ini(QString{});
    ini.SetText(text);
    QElapsedTimer clock;
    clock.start();
    const QStringList keys = ini.ReadSection("HOME");
    ASSERT_EQ(keys.size(), 100000);
    qint64 total = 0;
    for (const QString& key : keys)
        total += ini.ReadString("Home", key, QString()).size();
    EXPECT_LT(clock.elapsed(), 20000);
    EXPECT_GT(total, 0);
    EXPECT_EQ(ini.ReadString("home", "Key5", ""), "value5");
    EXPECT_EQ(ini.ReadString("Home", "key6", ""), "value6");
    EXPECT_EQ(ini.ReadSections(), (QStringList{"Home", "Other"}));
    // Writing keeps the index right: a new key, a changed key, a deleted key.
    ini.WriteString("Other", "y", "2");
    ini.WriteString("home", "KEY7", "changed");
    ini.DeleteKey("Home", "key8");
    EXPECT_EQ(ini.ReadString("Other", "y", ""), "2");
    EXPECT_EQ(ini.ReadString("Home", "key7", ""), "changed");
    EXPECT_EQ(ini.ReadString("Home", "key8", "gone"), "gone");
    EXPECT_EQ(ini.ReadString("Home", "key9", ""), "value9");
    ini.EraseSection("home");
    EXPECT_EQ(ini.ReadString("Home", "key9", "gone"), "gone");
    EXPECT_EQ(ini.ReadString("Other", "x", ""), "1");
}

TEST(IniFile, FailedWriteLeavesTheOldFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Korvel.ini");
    const QByteArray old("[Window]\nTop=1\n");
    WriteAll(path, old);

    TIniFile ini(path);
    ini.WriteString("Window", "Big", QString(4096, u'x'));
    // A file size limit makes every write past 64 bytes fail, as a full disk would.
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool written = ini.UpdateFile();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_DFL);

    EXPECT_FALSE(written);
    EXPECT_EQ(ReadAll(path), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"Korvel.ini"})); // no leftovers

    TIniFile nowhere(dir.filePath("no/such/folder/Korvel.ini"));
    nowhere.WriteString("A", "k", "v");
    EXPECT_FALSE(nowhere.UpdateFile());
}
