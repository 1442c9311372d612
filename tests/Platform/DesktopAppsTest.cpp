// Which application the desktop's associations give for a file, and opening the file with it,
// on XDG folders of the test's own (the machine's applications never take part).
#include "DesktopApps.h"
#include "../Support/XdgFolders.h"
#include "FileNames.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeDatabase>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

#include <cerrno>

namespace {

class DesktopAppsTest : public testing::Test
{
protected:
    QTemporaryDir Dir;
    TXdgFolders Xdg{Dir.path()};

    QString Path(const QString& rest) const { return Xdg.Path(rest); }
    void Entry(const QString& folder, const QString& id, const QString& exec,
               const QByteArray& more = {})
    {
        Xdg.Entry(folder, id, id.section(u'.', 0, 0), exec, more);
    }
    void List(const QString& path, const QByteArray& text) { Xdg.Write(path, text); }

    QString App(const char* type)
    {
        const auto app = DesktopApps::ForType(QMimeDatabase().mimeTypeForName(type));
        return app ? app->Id : QString();
    }

    QByteArray RecordedArguments(const QString& program)
    {
        QElapsedTimer timer;
        timer.start();
        while (!QFile::exists(program + ".args") && timer.elapsed() < 10000)
            QThread::msleep(20);
        QThread::msleep(50); // written in one go, but let the shell finish it
        QFile f(program + ".args");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(not run)");
    }
};

} // namespace

// The order of the look-up: the desktop's own list before the common one, the user's lists
// before the system's, defaults before associations, an association removed by a list that
// counts more, entries that cannot run, and the type's ancestors last.
TEST_F(DesktopAppsTest, TheDesktopsAssociationsDecide)
{
    EXPECT_EQ(App("application/epub+zip"), QString());

    Entry("system", "declared.desktop", "declared %f", "MimeType=application/epub+zip;\n");
    EXPECT_EQ(App("application/epub+zip"), "declared.desktop");

    Entry("system", "added.desktop", "added %f");
    List("system/applications/mimeapps.list",
         "[Added Associations]\napplication/epub+zip=added.desktop;\n");
    EXPECT_EQ(App("application/epub+zip"), "added.desktop");
    List("config/mimeapps.list", "[Removed Associations]\napplication/epub+zip=added.desktop;\n");
    EXPECT_EQ(App("application/epub+zip"), "declared.desktop");
    List("config/mimeapps.list", "[Removed Associations]\napplication/epub+zip=added.desktop;"
                                 "declared.desktop;\n");
    EXPECT_EQ(App("application/epub+zip"), QString());

    // Defaults: an entry in a subfolder goes by its id; one that is not installed, hidden or
    // whose TryExec program is missing is passed over.
    Entry("data", "vendor-reader.desktop", "reader %f");
    Entry("data", "hidden.desktop", "hidden %f", "Hidden=true\n");
    Entry("data", "absent.desktop", "absent %f", "TryExec=/nonexistent/korvel-absent\n");
    List("config/mimeapps.list",
         "[Default Applications]\napplication/epub+zip=gone.desktop;hidden.desktop;"
         "absent.desktop;vendor-reader.desktop;\n");
    EXPECT_EQ(App("application/epub+zip"), "vendor-reader.desktop");
    List("config/test-mimeapps.list",
         "[Default Applications]\napplication/epub+zip=added.desktop\n");
    EXPECT_EQ(App("application/epub+zip"), "added.desktop");
    // The user's own entry hides the system's entry of the same id.
    Entry("data", "added.desktop", "mine %f", "Name[zh_CN]=我的阅读器\n");
    const auto app = DesktopApps::ForType(QMimeDatabase().mimeTypeForName("application/epub+zip"));
    ASSERT_TRUE(app);
    EXPECT_EQ(app->Exec, "mine %f");
    EXPECT_EQ(app->Name, QStringLiteral("我的阅读器"));

    // A type without an application of its own takes its parent's (plain text for a
    // subtype), but never the catch-all of every type.
    EXPECT_EQ(App("text/markdown"), QString());
    Entry("system", "editor.desktop", "editor %f", "MimeType=text/plain;\n");
    EXPECT_EQ(App("text/markdown"), "editor.desktop");
    Entry("system", "hexdump.desktop", "hex %f", "MimeType=application/octet-stream;\n");
    EXPECT_EQ(App("image/png"), QString());
}

// The Exec key's words, quotes and field codes; the file is added when no code asks for it.
TEST_F(DesktopAppsTest, CommandLines)
{
    const QString file = Path("书 架/红楼梦.epub");
    const QByteArray path = QFile::encodeName(file);
    const QByteArray url = "file://" + QUrl::toPercentEncoding(path, "/");
    struct TCase
    {
        const char* Exec;
        QList<QByteArray> Expected;
    };
    const TCase cases[] = {
        {"reader %f", {"reader", path}},
        {"reader --open=%u", {"reader", "--open=" + url}},
        {"reader %U", {"reader", url}},
        {"\"/opt/my reader/run\" --title %c %%f",
         {"/opt/my reader/run", "--title", "Reader", "%f", path}},
        {R"(sh -c "echo \\"\\$1\\"" %F)", {"sh", "-c", "echo \"$1\"", path}},
        {"reader %i %k %d %f", {"reader", "/apps/reader.desktop", path}},
        {"reader\\s%f", {"reader", path}},
        {"\"reader %f", {}},
        {"", {}},
    };
    for (const TCase& c : cases) {
        TDesktopApp app;
        app.Name = "Reader";
        app.File = "/apps/reader.desktop";
        app.Exec = QString::fromUtf8(c.Exec);
        EXPECT_EQ(DesktopApps::CommandLine(app, file), c.Expected) << c.Exec;
    }

    // A name that is not UTF-8 reaches the program byte for byte.
    TDesktopApp app;
    app.Exec = "reader %f";
    const QString foreign = FileNames::Decode("/books/\xBA\xEC\xC2\xA5\xC3\xCE.txt");
    EXPECT_EQ(DesktopApps::CommandLine(app, foreign),
              (QList<QByteArray>{"reader", "/books/\xBA\xEC\xC2\xA5\xC3\xCE.txt"}));
}

// Opening: the application runs on its own with the file; what is missing or fails is told
// apart.
TEST_F(DesktopAppsTest, OpeningTellsWhatWentWrong)
{
    const QString book = Path("书 架/红楼梦.epub");
    Xdg.Write("书 架/红楼梦.epub", "PK\x03\x04 not really a book");
    using DesktopApps::TOpenOutcome;

    DesktopApps::TOpenResult result = DesktopApps::Open(Path("gone.epub"));
    EXPECT_EQ(result.Outcome, TOpenOutcome::NoFile);

    result = DesktopApps::Open(book);
    EXPECT_EQ(result.Outcome, TOpenOutcome::NoApp);
    EXPECT_EQ(result.Type.name(), "application/epub+zip");

    List("config/mimeapps.list", "[Default Applications]\napplication/epub+zip=reader.desktop\n");
    Entry("data", "reader.desktop", "/nonexistent/korvel-reader %f");
    result = DesktopApps::Open(book);
    EXPECT_EQ(result.Outcome, TOpenOutcome::NoProgram);
    EXPECT_EQ(result.Program, "/nonexistent/korvel-reader");
    EXPECT_EQ(result.App.Id, "reader.desktop");

    // Found, but no program a system can run: the start fails with its reason.
    Xdg.Write("bin/not-a-program", "no interpreter line\n");
    QFile::setPermissions(Path("bin/not-a-program"), QFile::ReadOwner | QFile::ExeOwner);
    Entry("data", "reader.desktop", Path("bin/not-a-program") + " %f");
    result = DesktopApps::Open(book);
    EXPECT_EQ(result.Outcome, TOpenOutcome::Failed);
    EXPECT_EQ(result.Error, ENOEXEC);

    const QString recorder = Xdg.Recorder("bin/recorder");
    Entry("data", "reader.desktop", recorder + " --view %f");
    result = DesktopApps::Open(book);
    EXPECT_EQ(result.Outcome, TOpenOutcome::Started);
    EXPECT_EQ(RecordedArguments(recorder), "--view\n" + QFile::encodeName(book) + "\n");
}
