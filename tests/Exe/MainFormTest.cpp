#include "Globals.h"
#include "IniFile.h"
#include "uMainForm.h"
#include "uMsgDlg.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <memory>

#include <sys/stat.h>

namespace {

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray Scramble(const QByteArray& plain, quint16 key)
{
    QByteArray out;
    out.append(char(key & 0xFF)).append(char(key >> 8));
    for (char c : plain) {
        const quint8 b = quint8(c) ^ quint8(key >> 8);
        out.append(char(b));
        key = quint16((key + b) * 0x3B57 + 0x5E29);
    }
    return out.toBase64();
}

} // namespace

class MainFormTest : public QObject
{
    Q_OBJECT

    QTemporaryDir FDir;
    QString Ini() const { return FDir.filePath("Korvel.ini"); }
    std::unique_ptr<TXALVarnixForm> Form() { return std::make_unique<TXALVarnixForm>(Ini()); }

private slots:
    void init()
    {
        QFile::remove(Ini());
        ProcessSettings() = TProcessSettings();
    }

    void layoutAndCaption()
    {
        auto form = Form();
        QCOMPARE(form->windowTitle(), QStringLiteral("KeltoVarnix"));
        QCOMPARE(form->size(), QSize(831, 404));
        QCOMPARE(form->minimumSize(), QSize(700, 300));
        QCOMPARE(form->findChild<QWidget*>("ToolBar")->height(), 50);
        QCOMPARE(form->findChild<QWidget*>("NavigatorBar")->height(), 38);
        QCOMPARE(form->findChild<QWidget*>("NavigatorPanel")->minimumWidth(), 120);
        QCOMPARE(form->Notebook()->count(), 3);
        QCOMPARE(form->Notebook()->widget(0)->objectName(), QStringLiteral("Browser"));
        QCOMPARE(form->Notebook()->widget(1)->objectName(), QStringLiteral("List"));
        QCOMPARE(form->Notebook()->widget(2)->objectName(), QStringLiteral("Task"));

        // The navigator bar's new-shelf button is a picture; its caption is its tooltip and
        // what a screen reader says, and the menus keep their text without the picture.
        auto* newShelf = form->findChild<QToolButton*>("NewFolderButton");
        QVERIFY(newShelf);
        QCOMPARE(newShelf->toolButtonStyle(), Qt::ToolButtonIconOnly);
        QVERIFY(!newShelf->icon().isNull());
        QCOMPARE(newShelf->toolTip(), QStringLiteral("新建书架"));
        QCOMPARE(newShelf->accessibleName(), QStringLiteral("新建书架"));
        QVERIFY(!form->ActNewFolder->isIconVisibleInMenu());
    }

    void missingFileReadsDefaultsAndFirstSaveCreatesIt()
    {
        {
            auto form = Form();
            QCOMPARE(form->size(), QSize(831, 404));
            QVERIFY(form->ActViewThumb->isChecked());
            QVERIFY(!form->ActViewList->isChecked());
            QVERIFY(!form->ActAutoRunUpdate->isChecked());
            QVERIFY(!form->AutoUpdateTimer()->isActive());
            QVERIFY(!ProcessSettings().AutoMode);
            QCOMPARE(ProcessSettings().UpdateServer, QString::fromLatin1(BuiltInUpdateServer));
            QVERIFY(ProcessSettings().BindingTemplate.isEmpty());
            for (int i = 0; i < BookListColumnCount; ++i) {
                QCOMPARE(form->ListColumns()[i].Position, i);
                QCOMPARE(form->ListColumns()[i].Width, TXALVarnixForm::DesignListColumns()[i].Width);
            }
        }
        const TIniFile ini(Ini());
        QCOMPARE(ini.ReadSections(),
                 QStringList({"Window", "Login", "Controls", "Update", "ListHeader"}));
        QCOMPARE(ini.ReadString("Window", "State", ""), QStringLiteral("Normal"));
        QCOMPARE(ini.ReadString("Update", "AutoRunUpdate", ""), QStringLiteral("0"));
        QCOMPARE(ini.ReadSection("ListHeader").size(), 3 * BookListColumnCount);
        QCOMPARE(ini.ReadString("ListHeader", "Visible4", ""), QStringLiteral("0")); // "类别"
        QCOMPARE(ini.ReadString("ListHeader", "Width7", ""), QStringLiteral("40"));  // "加密"
        QVERIFY(!ini.ValueExists("Update", "UpdateServer"));
        QVERIFY(!ini.ValueExists("Update", "Testweb"));
    }

    void windowBoundsAndState()
    {
        WriteFile(Ini(), "[Window]\nTop=-50\nLeft=-20\nWidth=760\nHeight=350\nState=Bogus\n");
        {
            auto form = Form();
            QCOMPARE(form->geometry(), QRect(0, 0, 760, 350));
            QCOMPARE(form->windowState(), Qt::WindowNoState);
        }
        // A maximised window saves "Maximized" with its normal bounds.
        WriteFile(Ini(), "[Window]\nTop=30\nLeft=40\nWidth=720\nHeight=320\nState=Maximized\n");
        {
            auto form = Form();
            QVERIFY(form->windowState().testFlag(Qt::WindowMaximized));
            form->show();
            QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        }
        const TIniFile ini(Ini());
        QCOMPARE(ini.ReadString("Window", "State", ""), QStringLiteral("Maximized"));
        QCOMPARE(ini.ReadInteger("Window", "Left", 0), 40);
        QCOMPARE(ini.ReadInteger("Window", "Top", 0), 30);
        QCOMPARE(ini.ReadInteger("Window", "Width", 0), 720);
        QCOMPARE(ini.ReadInteger("Window", "Height", 0), 320);
    }

    void malformedValuesFallBackToDefaults()
    {
        WriteFile(Ini(), "garbage line\n[Window]\nTop=abc\nLeft=\nWidth=wide\nHeight=1e3\n"
                         "[Controls]\nShowThumbnail=maybe\n[ListHeader]\nPosition1=99\nWidth1=-5\n"
                         "Visible1=yes\n\x01\xFF\xFE=\n");
        auto form = Form();
        QCOMPARE(form->geometry().topLeft(), QPoint(100, 100));
        QCOMPARE(form->size(), QSize(831, 404));
        QVERIFY(form->ActViewThumb->isChecked());
        QCOMPARE(form->ListColumns()[0].Position, 0);
        QCOMPARE(form->ListColumns()[0].Width, 120);
        QVERIFY(form->ListColumns()[0].Visible);
    }

    void passwordIsOnlySavedWhenAsked_data()
    {
        QTest::addColumn<QByteArray>("savePassword");
        QTest::addColumn<QString>("written");
        QTest::newRow("not saved") << QByteArray("0") << QString();
        QTest::newRow("saved") << QByteArray("1") << QStringLiteral("p@ss 密码");
    }
    void passwordIsOnlySavedWhenAsked()
    {
        QFETCH(QByteArray, savePassword);
        QFETCH(QString, written);
        WriteFile(Ini(), "[Login]\nSavePassword=" + savePassword +
                             "\nUserName=reader\nPassword=p@ss \xC3\xDC\xC2\xEB\n");
        {
            auto form = Form();
            QCOMPARE(form->UserName(), QStringLiteral("reader"));
            QCOMPARE(form->Password(), QStringLiteral("p@ss 密码"));
        }
        const TIniFile ini(Ini());
        QVERIFY(ini.ValueExists("Login", "Password"));
        QCOMPARE(ini.ReadString("Login", "Password", "<none>"), written);
        QCOMPARE(ini.ReadString("Login", "UserName", ""), QStringLiteral("reader"));
        QCOMPARE(ini.ReadString("Login", "SavePassword", ""), QString::fromLatin1(savePassword));
    }

    void autoRunUpdateOnlyForExactlyOne_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("on");
        QTest::newRow("1") << QByteArray("1") << true;
        QTest::newRow("blanks trimmed") << QByteArray("  1 ") << true;
        QTest::newRow("true") << QByteArray("true") << false;
        QTest::newRow("01") << QByteArray("01") << false;
        QTest::newRow("2") << QByteArray("2") << false;
        QTest::newRow("0") << QByteArray("0") << false;
    }
    void autoRunUpdateOnlyForExactlyOne()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, on);
        WriteFile(Ini(), "[Update]\nAutoRunUpdate=" + value + "\n");
        {
            auto form = Form();
            QCOMPARE(form->ActAutoRunUpdate->isChecked(), on);
            QCOMPARE(ProcessSettings().AutoMode, on);
            QCOMPARE(form->AutoUpdateTimer()->isActive(), on);
            QCOMPARE(form->AutoUpdateTimer()->interval(), 2000);
            QVERIFY(form->AutoUpdateTimer()->isSingleShot());
        }
        QCOMPARE(TIniFile(Ini()).ReadString("Update", "AutoRunUpdate", ""),
                 on ? QStringLiteral("1") : QStringLiteral("0"));
    }

    void updateServerAndBindingTemplateAreReadNeverWritten()
    {
        const QByteArray scrambled = Scramble("ftp://a:b@host.example/up/", 0xBEEF);
        WriteFile(Ini(), "; keep me\n[Update]\nTestweb=http://bind/%s/%s/%s\nUpdateServer=" + scrambled +
                             "\nUnknown=kept\n");
        {
            auto form = Form();
            QCOMPARE(ProcessSettings().UpdateServer, QStringLiteral("ftp://a:b@host.example/up/"));
            QCOMPARE(ProcessSettings().BindingTemplate, QStringLiteral("http://bind/%s/%s/%s"));
        }
        const TIniFile ini(Ini());
        QCOMPARE(ini.ReadString("Update", "UpdateServer", ""), QString::fromLatin1(scrambled));
        QCOMPARE(ini.ReadString("Update", "Unknown", ""), QStringLiteral("kept"));
        QVERIFY(ini.Text().startsWith("; keep me\n"));

        // A value that unscrambles to nothing leaves the address empty.
        ProcessSettings() = TProcessSettings();
        WriteFile(Ini(), "[Update]\nUpdateServer=QQ==\n");
        Form();
        QVERIFY(ProcessSettings().UpdateServer.isEmpty());
    }

    void listHeaderColumns()
    {
        // Missing keys keep the design values; "Visible1" 0 hides the first column; positions
        // are applied column by column and always give an order of all columns.
        WriteFile(Ini(), "[ListHeader]\nVisible1=0\nWidth2=222\nVisible4=1\nPosition17=0\nPosition3=3\n");
        {
            auto form = Form();
            const auto& c = form->ListColumns();
            QVERIFY(!c[0].Visible);
            QCOMPARE(c[1].Width, 222);
            QVERIFY(c[3].Visible);
            QCOMPARE(c[16].Position, 0);
            QCOMPARE(c[0].Position, 1);
            QCOMPARE(c[1].Position, 2);
            QCOMPARE(c[3].Position, 3);
            QCOMPARE(c[2].Position, 4);
            QCOMPARE(c[5].Width, 120);
            QVector<int> seen(BookListColumnCount, 0);
            for (const TListColumn& col : c) ++seen[col.Position];
            QVERIFY(std::all_of(seen.begin(), seen.end(), [](int n) { return n == 1; }));
        }
        const TIniFile ini(Ini());
        QCOMPARE(ini.ReadInteger("ListHeader", "Position17", -1), 0);
        QCOMPARE(ini.ReadInteger("ListHeader", "Visible1", -1), 0);
        QCOMPARE(ini.ReadInteger("ListHeader", "Width2", -1), 222);
    }

    void viewChoiceRoundTrips()
    {
        WriteFile(Ini(), "[Controls]\nShowThumbnail=0\n");
        {
            auto form = Form();
            QVERIFY(form->ActViewList->isChecked());
            QVERIFY(!form->ActViewThumb->isChecked());
        }
        QCOMPARE(TIniFile(Ini()).ReadString("Controls", "ShowThumbnail", ""), QStringLiteral("0"));
    }

    // A settings file that cannot be written is reported once, when the window closes.
    void failedSaveKeepsTheOldFileAndSaysSo()
    {
        QTemporaryDir dir;
        QStringList shown;
        SetMessageBoxAnswer([&](const QString& text, const QString&, unsigned) {
            shown << text;
            return int(mrOk);
        });
        const QString missingFolder = dir.filePath("sub/Korvel.ini");
        const QString folder = dir.filePath("Korvel.ini");
        QVERIFY(QDir().mkpath(folder));
        for (const QString& path : {missingFolder, folder}) {
            shown.clear();
            {
                TXALVarnixForm form(path);
                QVERIFY(!form.SaveSettings()); // nothing written, no crash
                QVERIFY(shown.isEmpty());
            }
            QCOMPARE(shown.size(), 1);
            QVERIFY(shown[0].contains(QDir::toNativeSeparators(path)));
        }
        QVERIFY(!QFile::exists(missingFolder));
        QVERIFY(QFileInfo(folder).isDir());
        SetMessageBoxAnswer(nullptr);
    }

    // Sizes and places no screen can hold come back to what the desktop allows; a pipe in the
    // settings file's place reads as no settings instead of blocking the start.
    void hostileSettingsAreBounded_data()
    {
        QTest::addColumn<QByteArray>("window");
        QTest::newRow("huge size") << QByteArray("Width=2147483647\nHeight=2147483647\n");
        QTest::newRow("huge place") << QByteArray("Left=2147483647\nTop=2147483647\n");
        QTest::newRow("all at the limit")
            << QByteArray("Left=2147483647\nTop=-2147483648\nWidth=2147483647\nHeight=-1\n");
    }
    void hostileSettingsAreBounded()
    {
        QFETCH(QByteArray, window);
        WriteFile(Ini(), "[Window]\n" + window +
                             "[ListHeader]\nWidth1=2147483647\n");
        auto form = Form();
        QRect desktop;
        for (const QScreen* s : QGuiApplication::screens())
            desktop |= s->geometry();
        QVERIFY(form->width() <= 3 * std::max(desktop.width(), 3840));
        QVERIFY(form->height() <= 3 * std::max(desktop.height(), 2160));
        QVERIFY(form->width() >= form->minimumWidth());
        QVERIFY(form->height() >= form->minimumHeight());
        QVERIFY(form->x() >= 0 && form->y() >= 0);
    }
    void settingsPipeReadsAsMissing()
    {
        QFile::remove(Ini());
        QVERIFY(mkfifo(QFile::encodeName(Ini()).constData(), 0600) == 0);
        {
            auto form = Form();
            QCOMPARE(form->size(), QSize(831, 404));
        }
        QFile::remove(Ini());
    }
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
