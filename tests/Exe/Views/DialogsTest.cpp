#include "CursorControl.h"
#include "uAboutForm.h"
#include "uInputDlg.h"
#include "uMsgDlg.h"
#include "uStateForm.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// Runs `action` on the modal dialog once its event loop is running.
void WhenModal(std::function<void(QWidget*)> action)
{
    QTimer::singleShot(0, [action] {
        QWidget* dialog = QApplication::activeModalWidget();
        QVERIFY(dialog);
        action(dialog);
    });
}

void PressEsc(QWidget* dialog)
{
    QWidget* target = dialog->focusWidget() ? dialog->focusWidget() : dialog;
    QTest::keyClick(target, Qt::Key_Escape);
}

QStringList Captions(const TMsgDlg& dlg)
{
    QStringList out;
    for (QPushButton* b : dlg.Buttons())
        out << b->text();
    return out;
}

} // namespace

class DialogsTest : public QObject
{
    Q_OBJECT

private slots:
    void messageBoxButtonSets_data()
    {
        QTest::addColumn<unsigned>("flags");
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("focused");
        QTest::addColumn<int>("escResult");
        QTest::addColumn<int>("clientWidth");

        QTest::newRow("0x30 error")
            << 0x30u << QStringList{"确定"} << int(TMsgIcon::Exclamation) << "确定" << 1 << 122;
        QTest::newRow("0x01 ok cancel")
            << 0x01u << QStringList{"确定", "取消"} << int(TMsgIcon::None) << "确定" << 2 << 228;
        QTest::newRow("0x12 abort") << 0x12u << QStringList{"中断", "重试", "忽略"}
                                    << int(TMsgIcon::Stop) << "中断" << 5 << 334;
        QTest::newRow("0x23 delete") << 0x23u << QStringList{"是", "否", "取消"}
                                     << int(TMsgIcon::Question) << "是" << 2 << 334;
        QTest::newRow("0x24 confirm")
            << 0x24u << QStringList{"是", "否"} << int(TMsgIcon::Question) << "是" << 7 << 228;
        QTest::newRow("0x124 default two")
            << 0x124u << QStringList{"是", "否"} << int(TMsgIcon::Question) << "否" << 7 << 228;
        QTest::newRow("0x245 default three of two")
            << 0x245u << QStringList{"重试", "取消"} << int(TMsgIcon::Information) << "重试" << 2
            << 228;
        QTest::newRow("0x26 overwrite")
            << 0x26u << QStringList{"是", "否", "全部覆盖", "全部忽略", "取消"}
            << int(TMsgIcon::Question) << "取消" << 2 << 546;
        QTest::newRow("0x07 acts as 6")
            << 0x07u << QStringList{"是", "否", "全部覆盖", "全部忽略", "取消"}
            << int(TMsgIcon::None) << "取消" << 2 << 546;
        QTest::newRow("0x4000 help") << 0x4040u << QStringList{"确定", "帮助"}
                                     << int(TMsgIcon::Information) << "确定" << 1 << 228;
        QTest::newRow("0x303 default four") << 0x303u << QStringList{"是", "否", "取消"}
                                            << int(TMsgIcon::None) << "取消" << 2 << 334;
        QTest::newRow("0x80 application")
            << 0x80u << QStringList{"确定"} << int(TMsgIcon::Application) << "确定" << 1 << 122;
    }

    void messageBoxButtonSets()
    {
        QFETCH(unsigned, flags);
        QFETCH(QStringList, captions);
        QFETCH(int, icon);
        QFETCH(QString, focused);
        QFETCH(int, escResult);
        QFETCH(int, clientWidth);

        TMsgDlg dlg;
        dlg.Prepare(QStringLiteral("短"), QString(), flags, 77);
        QCOMPARE(Captions(dlg), captions);
        QCOMPARE(int(dlg.Icon()), icon);
        QCOMPARE(dlg.FocusedButton()->text(), focused);
        QCOMPARE(dlg.EscapeButton()->property("ModalResult").toInt(), escResult);
        QCOMPARE(dlg.width(), clientWidth);
        // One short line: the icon's bottom (48) decides the height.
        QCOMPARE(dlg.height(), 48 + 3 * 16 + 25);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("错误"));

        // Buttons right to left from the right edge, one row, tab order left to right.
        const auto& buttons = dlg.Buttons();
        const int n = int(buttons.size());
        for (int k = 1; k <= n; ++k) {
            QPushButton* b = buttons[size_t(n - k)];
            QCOMPARE(b->geometry(), QRect(clientWidth - k * 106, dlg.height() - 41, 90, 25));
        }
        for (int i = 1; i < n; ++i)
            QCOMPARE(buttons[size_t(i - 1)]->nextInFocusChain(), buttons[size_t(i)]);
        if (flags & 0x4000) {
            QCOMPARE(buttons.back()->property("ModalResult").toInt(), 9);
            QCOMPARE(buttons.back()->property("HelpContext").toInt(), 77);
        }
        QCOMPARE(dlg.Image1->isHidden(), icon == int(TMsgIcon::None));
        QCOMPARE(dlg.Label1->pos(), icon == int(TMsgIcon::None) ? QPoint(16, 16) : QPoint(64, 26));
    }

    void messageBoxResultsThroughTheKeyboard()
    {
        // Esc presses the rightmost button of the set, not the help button's neighbour.
        WhenModal([](QWidget* d) { PressEsc(d); });
        QCOMPARE(ShowMessageBox("删除吗?", "确认", 0x23), 2);
        WhenModal([](QWidget* d) { PressEsc(d); });
        QCOMPARE(ShowMessageBox("覆盖吗?", "确认", 0x26), 2);
        WhenModal([](QWidget* d) { PressEsc(d); });
        QCOMPARE(ShowMessageBox("出错了", QString(), 0x30), 1);

        // Enter presses the focused button.
        WhenModal([](QWidget* d) {
            QVERIFY(d->focusWidget());
            QCOMPARE(d->focusWidget()->property("ModalResult").toInt(), 7);
            QTest::keyClick(d->focusWidget(), Qt::Key_Return);
        });
        QCOMPARE(ShowMessageBox("继续吗?", "确认", 0x124), 7);

        WhenModal([](QWidget* d) {
            auto* dlg = qobject_cast<TMsgDlg*>(d);
            QVERIFY(dlg);
            QCOMPARE(dlg->windowTitle(), QStringLiteral("提示"));
            QVERIFY(dlg->windowFlags() & Qt::WindowStaysOnTopHint);
            QVERIFY(!(dlg->windowFlags() & Qt::WindowCloseButtonHint));
            dlg->Buttons().back()->click();
        });
        QCOMPARE(ShowMessageBox("帮助", "提示", 0x44000), 9);
    }

    void messageBoxTextLayout()
    {
        // Three lines: as tall as the text plus 3 x 16 + 25, the label moved up to the icon.
        TMsgDlg three;
        three.Prepare("第一行\n第二行\n第三行", QString(), 0x30, 0);
        QVERIFY(three.Label1->height() >= 32);
        QCOMPARE(three.Label1->y(), 16);
        QCOMPARE(three.height(), 16 + three.Label1->height() + 3 * 16 + 25);

        // A long line widens the box beyond the buttons; "&" stays literal, no wrapping.
        const QString longLine = QString("A&B ").repeated(40);
        TMsgDlg wide;
        wide.Prepare(longLine, QString(), 0x30, 0);
        QCOMPARE(wide.Label1->text(), longLine);
        QVERIFY(wide.Label1->width() >= wide.Label1->fontMetrics().horizontalAdvance(longLine));
        QCOMPARE(wide.width(), 64 + wide.Label1->width() + 16);
        QVERIFY(wide.width() > 122);

        // An empty text still gives a box with its buttons.
        TMsgDlg empty;
        empty.Prepare(QString(), QString(), 0x01, 0);
        QCOMPARE(empty.size(), QSize(228, 121));
        QCOMPARE(empty.Buttons().size(), size_t(2));
    }

    void formatText_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QVariantList>("args");
        QTest::addColumn<QString>("expected");
        QTest::newRow("s and d") << "书架\"%s\"中有%d本书" << QVariantList{"小说", 12}
                                 << "书架\"小说\"中有12本书";
        QTest::newRow("percent") << "100%% %s" << QVariantList{"完成"} << "100% 完成";
        QTest::newRow("hex unsigned") << "%x/%u" << QVariantList{255, 7u} << "FF/7";
        QTest::newRow("missing argument kept") << "%s and %s" << QVariantList{"a"} << "a and %s";
        QTest::newRow("unknown kind kept") << "%q %s" << QVariantList{"a"} << "%q a";
        QTest::newRow("trailing percent") << "50%" << QVariantList{} << "50%";
    }

    void formatText()
    {
        QFETCH(QString, format);
        QFETCH(QVariantList, args);
        QFETCH(QString, expected);
        QCOMPARE(FormatText(format, args), expected);
    }

    void showMessageFmtFormatsTheText()
    {
        WhenModal([](QWidget* d) {
            auto* dlg = qobject_cast<TMsgDlg*>(d);
            QCOMPARE(dlg->Label1->text(), QStringLiteral("找到 3 本书"));
            PressEsc(d);
        });
        QCOMPARE(ShowMessageFmt("找到 %d 本书", {3}, "提示", 0x40), 1);
    }

    void inputDialogLayout()
    {
        auto r8 = [](int x) { return (x + 7) / 8 * 8; };
        TInputDlg dlg;
        dlg.Prepare(QString(), QString(), "旧名称");
        QCOMPARE(dlg.windowTitle(), QStringLiteral("请输入"));
        QCOMPARE(dlg.Label1->text(), QStringLiteral("请在此处输入"));
        QCOMPARE(dlg.Label1->pos(), QPoint(16, 16));
        const int editTop = r8(16 + dlg.Label1->height());
        QCOMPARE(dlg.Edit1->geometry().topLeft(), QPoint(16, editTop));
        QCOMPARE(dlg.Edit1->width(), 296);
        const int buttonTop = r8(editTop + dlg.Edit1->height() + 16);
        QCOMPARE(dlg.Button2->geometry(), QRect(328 - 16 - 91, buttonTop, 91, 25));
        QCOMPARE(dlg.Button1->geometry(), QRect(328 - 16 - 91 - 16 - 91, buttonTop, 91, 25));
        QCOMPARE(dlg.size(), QSize(328, buttonTop + 25 + 16));

        // A prompt wider than the edit field widens the dialog and the field with it.
        TInputDlg wide;
        const QString prompt =
            QStringLiteral("请输入新书架的名称，名称中不能含有下列字符：\\ / : * ? \" < > |");
        wide.Prepare("新建书架", prompt, QString());
        const int labelWidth = wide.Label1->width();
        QVERIFY(labelWidth > 296);
        QCOMPARE(wide.width(), labelWidth + 32);
        QCOMPARE(wide.Edit1->width(), labelWidth);
        QCOMPARE(wide.Button2->x(), wide.width() - 16 - 91);
    }

    void inputQueryResults()
    {
        QString value = "旧名称";
        WhenModal([](QWidget* d) {
            auto* dlg = qobject_cast<TInputDlg*>(d);
            QCOMPARE(dlg->focusWidget(), dlg->Edit1);
            dlg->Edit1->setText("新名称");
            QTest::keyClick(dlg->Edit1, Qt::Key_Return);
        });
        QVERIFY(InputQueryDlg("新建书架", "名称", value));
        QCOMPARE(value, QStringLiteral("新名称"));

        WhenModal([](QWidget* d) {
            qobject_cast<TInputDlg*>(d)->Edit1->setText("不要");
            PressEsc(d);
        });
        QVERIFY(!InputQueryDlg("新建书架", "名称", value));
        QCOMPARE(value, QStringLiteral("新名称"));
    }

    void stateFormDisablesExactlyTheOtherWindows()
    {
        QMainWindow main;
        QWidget other;
        QWidget alreadyDisabled;
        main.show();
        other.show();
        alreadyDisabled.show();
        alreadyDisabled.setEnabled(false);

        auto form = std::make_unique<TStateForm>(&main);
        form->show();
        QVERIFY(!main.isEnabled());
        QVERIFY(!other.isEnabled());
        QVERIFY(form->isEnabled());
        QVERIFY(form->CancelBtn->isEnabled());
        form.reset();
        QVERIFY(main.isEnabled());
        QVERIFY(other.isEnabled());
        QVERIFY(!alreadyDisabled.isEnabled());
    }

    void messageBoxDuringAProgressDialogCanBeAnswered()
    {
        QMainWindow main;
        main.show();
        TStateForm form(&main);
        form.show();
        QVERIFY(!main.isEnabled());
        WhenModal([](QWidget* d) {
            QVERIFY(d->isEnabled());
            QVERIFY(d->focusWidget() && d->focusWidget()->isEnabled());
            PressEsc(d);
        });
        QCOMPARE(ShowMessageBox("复制失败", QString(), 0x30), 1);
        QVERIFY(!main.isEnabled()); // still held by the progress dialog
    }

    void stateFormHeightsTextAndCancel()
    {
        TStateForm form(nullptr);
        QCOMPARE(form.windowTitle(), QStringLiteral("请稍候"));
        QCOMPARE(form.size(), QSize(337, 117));
        QVERIFY(form.CancelBtn->isHidden());
        form.SetCancelVisible(true);
        QCOMPARE(form.size(), QSize(337, 153));
        form.SetCancelVisible(true);
        QCOMPARE(form.size(), QSize(337, 153));
        form.SetCancelVisible(false);
        QCOMPARE(form.size(), QSize(337, 117));
        form.SetCancelVisible(true);

        QCOMPARE(form.ProgressBar1->geometry(), QRect(16, 86, 305, 17));
        QCOMPARE(form.CancelBtn->geometry(), QRect(115, 117, 108, 25));

        form.SetMax(0);
        QCOMPARE(form.TextRect(), QRect(0, 0, 337, 153));
        form.SetMax(5);
        QCOMPARE(form.TextRect(), QRect(0, 0, 337, 86));

        form.show();
        // A refresh lets pending work run: the dialog paints and a click on cancel is seen.
        bool ran = false;
        QTimer::singleShot(0, [&ran] { ran = true; });
        form.SetStepText("正在复制 a.txt", 1);
        QVERIFY(ran);
        QCOMPARE(form.Position(), 1);
        QCOMPARE(form.Text(), QStringLiteral("正在复制 a.txt"));
        form.SetStepText("正在复制 b.txt", 10);
        QCOMPARE(form.Position(), 5); // held within the maximum

        QVERIFY(!form.Cancelled());
        QTimer::singleShot(0, form.CancelBtn, &QPushButton::click);
        form.SetText("正在复制 c.txt");
        QVERIFY(form.Cancelled());
        QVERIFY(form.isVisible()); // the caller decides what cancel means
    }

    void nestedWaitCursors()
    {
        QVERIFY(!QGuiApplication::overrideCursor());
        QGuiApplication::setOverrideCursor(QCursor(Qt::PointingHandCursor));
        {
            TCursorControl outer;
            QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
            {
                TCursorControl inner;
                QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
            }
            QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        }
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
        try {
            TCursorControl guard;
            throw std::runtime_error("stop");
        } catch (const std::exception&) {
        }
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
        QGuiApplication::restoreOverrideCursor();
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    void aboutBox()
    {
        TAboutForm about(nullptr, true, QStringLiteral(KORVEL_BIN_DIR "/Korvel"));
        QCOMPARE(about.size(), QSize(454, 291));
        QCOMPARE(TAboutForm::BackgroundPicture().size(), QSize(454, 291));
        QVERIFY(about.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(about.NameLabel->text(), QStringLiteral("KeltoVarnix"));
        QCOMPARE(about.NameLabel->pos(), QPoint(20, 96));
        QVERIFY(about.NameLabel->font().bold());
        QCOMPARE(about.NameLabel->font().pixelSize(), 19);
        QCOMPARE(about.VerLabel->pos(), QPoint(20, 121));
        QCOMPARE(about.VerLabel->text(), QStringLiteral(KORVEL_VERSION));
        QVERIFY(about.PVerLabel->text().startsWith("Build "));
        QCOMPARE(about.PVerLabel->pos(), QPoint(about.VerLabel->geometry().right() + 1 + 8, 123));
        QCOMPARE(about.CopyLabel->geometry(), QRect(20, 253, 401, 17));
        QVERIFY(!about.CopyLabel->isHidden());

        // Without version information the design text stays.
        TAboutForm bare(nullptr, true, QStringLiteral("/nonexistent/Korvel"));
        QCOMPARE(bare.VerLabel->text(), QStringLiteral("1.0.0"));
        QVERIFY(bare.PVerLabel->text().isEmpty());

        // A click anywhere closes it.
        for (QWidget* target :
             {static_cast<QWidget*>(about.NameLabel), static_cast<QWidget*>(about.Image1)}) {
            QTimer::singleShot(0, [target] { QTest::mouseClick(target, Qt::LeftButton); });
            QCOMPARE(about.exec(), int(QDialog::Accepted));
        }
    }
};

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
