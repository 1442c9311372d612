#include "uAboutForm.h"
#include "vindra.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>

// This test program carries a version record of its own whose texts are longer than the
// buffers, to show that they are cut and stay terminated.
extern "C" {
__attribute__((section(VINDRA_SECTION), used)) const char TestVersionRecord[] =
    "1234567890123456789012345678901234567890" "\0"
    "abcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghij" "\0"
    "ZYXWVUTSRQZYXWVUTSRQZYXWVUTSRQ";
}

namespace {

QString SelfPath()
{
    char path[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return QString::fromLocal8Bit(path, n > 0 ? n : 0);
}

} // namespace

TEST(Vindra, ReadsTheProgramsOwnVersionTexts)
{
    QString t1, t2, t3;
    ASSERT_TRUE(ReadVersionInfo(QStringLiteral(KORVEL_BIN_DIR "/Korvel"), t1, t2, t3));
    // Four numbers, the first text; the build date second; the processor third.
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+$")).match(t1).hasMatch()) << qPrintable(t1);
    EXPECT_TRUE(t2.startsWith(QStringLiteral("Build "))) << qPrintable(t2);
    EXPECT_FALSE(t3.isEmpty());
}

TEST(Vindra, TextsAreCutToTheirBuffers)
{
    char b1[VINDRA_TEXT1_SIZE] = {}, b2[VINDRA_TEXT2_SIZE] = {}, b3[VINDRA_TEXT3_SIZE] = {};
    const QByteArray self = QFile::encodeName(SelfPath());
    ASSERT_NE(GetVersionInfo(self.constData(), b1, b2, b3), 0);
    EXPECT_EQ(std::strlen(b1), VINDRA_TEXT1_SIZE - 1u);
    EXPECT_EQ(std::strncmp(b1, "1234567890", 10), 0);
    EXPECT_EQ(std::strlen(b2), VINDRA_TEXT2_SIZE - 1u);
    EXPECT_EQ(std::strlen(b3), VINDRA_TEXT3_SIZE - 1u);
    EXPECT_EQ(std::strncmp(b3, "ZYXWV", 5), 0);
}

TEST(Vindra, FailsForFilesWithoutARecordAndEmptiesTheResults)
{
    QTemporaryDir dir;
    QFile text(dir.filePath("notes.txt"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("\x7F" "ELF but not really");
    text.close();

    const QString paths[] = {
        dir.filePath("missing"),
        text.fileName(),
        QStringLiteral(KORVEL_BIN_DIR "/libvindra.so"), // an ELF file without a record
        dir.path(),
    };
    for (const QString& path : paths) {
        QString t1 = "x", t2 = "y", t3 = "z";
        EXPECT_FALSE(ReadVersionInfo(path, t1, t2, t3)) << qPrintable(path);
        EXPECT_TRUE(t1.isEmpty() && t2.isEmpty() && t3.isEmpty());
    }
    char b[64] = {};
    EXPECT_EQ(GetVersionInfo(nullptr, b, b, b), 0);
}
