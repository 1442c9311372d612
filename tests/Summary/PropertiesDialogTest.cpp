#include "BookTestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

// The properties dialog of the default library, opened through the manager as the
// "查看文件信息" command does.
class PropertiesDialogTest : public QObject
{
    Q_OBJECT

private slots:
    void showsTheBookAndItsFile()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + "/book.txt";
        WriteBytes(path, QStringLiteral("书名：围城\n作者：钱钟书\n正文 text\n").toUtf8());

        QMap<QString, QString> seen;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(qobject_cast<QDialog*>(QApplication::activeModalWidget()));
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            for (auto* label : dialog->findChildren<QLabel*>())
                if (!label->objectName().isEmpty()) seen[label->objectName()] = label->text();
            seen["caption"] = dialog->windowTitle();
            dialog->reject();
        });
        ShippedLibraries().ShowProperties(nullptr, path);

        QCOMPARE(seen.value("caption"), QStringLiteral("文件信息 - book.txt"));
        QCOMPARE(seen.value("title"), QStringLiteral("围城"));
        QCOMPARE(seen.value("author"), QStringLiteral("钱钟书"));
        QCOMPARE(seen.value("characters"), QStringLiteral("17"));
        QCOMPARE(seen.value("fileName"), QStringLiteral("book.txt"));
        QVERIFY(seen.value("size").contains(QStringLiteral("字节")));
        QCOMPARE(seen.value("encrypted"), QStringLiteral("否"));
        QVERIFY(!seen.value("modified").isEmpty());
    }
};

QTEST_MAIN(PropertiesDialogTest)
#include "PropertiesDialogTest.moc"
