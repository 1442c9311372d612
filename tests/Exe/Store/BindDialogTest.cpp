// The binding dialog against a real HTTP server on 127.0.0.1: the request it sends, the
// validation before anything is sent, how the store's answers are sorted and when the dialog
// closes. Message boxes are answered through the message box's test hook.
#include "Categories.h"
#include "Charset.h"
#include "Codec936.h"
#include "DevID.h"
#include "Globals.h"
#include "uBase.h"
#include "uMainForm.h"
#include "uMsgDlg.h"
#include "uWBExternal.h"

#include <QAction>
#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QNetworkCookie>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <QUrlQuery>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

#include <algorithm>

#include <cstring>
#include <deque>
#include <memory>
#include <utility>

namespace {

// A one-page store: answers every GET with the page it was given and remembers the request
// targets exactly as they arrived on the wire.
class TStoreServer : public QObject
{
public:
    QByteArray Status = "200 OK";
    QByteArray ContentType = "text/html; charset=utf-8";
    QByteArray Body;
    QList<QByteArray> Targets;
    QList<QByteArray> Cookies;  // the "Cookie" header of each request
    QByteArray SetCookie;       // sent with every answer when not empty
    // Requests held without an answer until Release.
    bool Hold = false;
    // When set, the answer declares this length, sends only Body and keeps the line open.
    qint64 DeclaredLength = -1;

    TStoreServer()
    {
        QVERIFY(FServer.listen(QHostAddress::LocalHost));
        connect(&FServer, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = FServer.nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [this, s] { Serve(s); });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    QUrl Origin() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(FServer.serverPort())); }
    QString Format() const
    {
        return QStringLiteral(
                   "http://127.0.0.1:%1/bangDingFromVarnix.action?userName=%s&pwd=%s&DeviceID=%s")
            .arg(FServer.serverPort());
    }

private:
    void Serve(QTcpSocket* s)
    {
        FReceived[s] += s->readAll();
        if (!FReceived[s].contains("\r\n\r\n")) return;
        const QByteArray got = FReceived.take(s);
        const QList<QByteArray> requestLine = got.left(got.indexOf("\r\n")).split(' ');
        Targets << (requestLine.size() > 1 ? requestLine[1] : QByteArray());
        QByteArray cookie;
        for (const QByteArray& line : got.left(got.indexOf("\r\n\r\n")).split('\n'))
            if (line.toLower().startsWith("cookie:")) cookie = line.mid(7).trimmed();
        Cookies << cookie;
        if (Hold)
            FHeld << s;
        else
            Answer(s);
    }

public:
    // Answers the held requests in the order they came, each with its own page.
    void Release(const QList<QByteArray>& bodies)
    {
        Hold = false;
        const QList<QPointer<QTcpSocket>> held = std::exchange(FHeld, {});
        for (qsizetype i = 0; i < held.size() && i < bodies.size(); ++i) {
            Body = bodies[i];
            if (held[i]) Answer(held[i]);
        }
    }

private:
    void Answer(QTcpSocket* s)
    {
        QByteArray answer = "HTTP/1.1 " + Status + "\r\n";
        if (!ContentType.isEmpty()) answer += "Content-Type: " + ContentType + "\r\n";
        if (!SetCookie.isEmpty()) answer += "Set-Cookie: " + SetCookie + "\r\n";
        const bool endless = DeclaredLength >= 0;
        answer += "Content-Length: " +
                  QByteArray::number(endless ? DeclaredLength : Body.size()) +
                  "\r\nConnection: close\r\n\r\n" + Body;
        s->write(answer);
        if (!endless) s->disconnectFromHost();
    }

    QTcpServer FServer;
    QHash<QTcpSocket*, QByteArray> FReceived;
    QList<QPointer<QTcpSocket>> FHeld;
};

// Answers message boxes in order (OK when nothing is queued) and records what they showed.
struct TAnswers
{
    struct TShown
    {
        QString Text, Caption;
        unsigned Flags;
    };
    std::deque<int> Queue;
    QList<TShown> Shown;
    TAnswers()
    {
        SetMessageBoxAnswer([this](const QString& text, const QString& caption, unsigned flags) {
            Shown << TShown{text, caption, flags};
            if (Queue.empty()) return int(mrOk);
            const int answer = Queue.front();
            Queue.pop_front();
            return answer;
        });
    }
    ~TAnswers() { SetMessageBoxAnswer(nullptr); }
};

TDeviceIdentity ReaderIdentity(const char* id)
{
    TDeviceIdentity identity;
    std::memset(&identity, 0, sizeof identity);
    identity.IdKind = 2;
    std::strncpy(identity.IdText, id, sizeof identity.IdText - 1);
    identity.EditionCode = 1;
    identity.ModelCode = 'V';
    identity.ManufacturerCode = 3;
    return identity;
}

const QDateTime SomeTime(QDate(2026, 1, 2), QTime(15, 4, 5, 6));

} // namespace

class BindDialogTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TStoreServer> FStore;
    std::unique_ptr<TBaseForm> FForm;
    bool FReader = true;

    // A shown dialog whose reader is "0123ABCD" while FReader is set.
    void Open()
    {
        FForm = std::make_unique<TBaseForm>(nullptr, [this](void* buffer) {
            if (!FReader) return;
            const TDeviceIdentity identity = ReaderIdentity("0123ABCD");
            std::memcpy(buffer, &identity, sizeof identity);
        });
        FForm->show();
    }
    // Types into a box the way an input method does, which carries any character.
    static void Enter(QLineEdit* edit, const QString& text)
    {
        QInputMethodEvent event;
        event.setCommitString(text);
        QCoreApplication::sendEvent(edit, &event);
    }
    // Types the account the way a user does: click, type.
    void Type(const QString& user, const QString& password)
    {
        QTest::mouseClick(FForm->edtUser, Qt::LeftButton);
        Enter(FForm->edtUser, user);
        QTest::mouseClick(FForm->edtPassword, Qt::LeftButton);
        Enter(FForm->edtPassword, password);
    }

private slots:
    void init()
    {
        FStore = std::make_unique<TStoreServer>();
        ProcessSettings().BindingTemplate = FStore->Format();
        FReader = true;
    }
    void cleanup()
    {
        FForm.reset();
        FStore.reset();
        ProcessSettings().BindingTemplate.clear();
        SetNetworkStateAnswer(nullptr);
    }

    void timeStampHasSeventeenDigits()
    {
        QCOMPARE(BindingTimeStamp(SomeTime), QStringLiteral("20260102150405006"));
        QCOMPARE(BindingTimeStamp(QDateTime(QDate(2026, 12, 31), QTime(0, 0, 0, 999))),
                 QStringLiteral("20261231000000999"));
        // A millisecond apart never shares a stamp.
        QVERIFY(BindingTimeStamp(SomeTime) != BindingTimeStamp(SomeTime.addMSecs(1)));
    }

    void requestUrlEncodesTheValues()
    {
        // The built-in request, code page 936 bytes and every reserved character encoded.
        QCOMPARE(BindingRequestUrl(QString(), QStringLiteral("张三"), QStringLiteral("a&#% b"),
                                   QStringLiteral("0123ABCD"), SomeTime),
                 QStringLiteral("https://store.vadaziv.example/bangDingFromVarnix.action?"
                                "userName=%D5%C5%C8%FD&pwd=a%26%23%25%20b&DeviceID=0123ABCD"
                                "&20260102150405006"));
        // A configured format: "%%" is a percent sign, other directives stay as written.
        QCOMPARE(
            BindingRequestUrl(QStringLiteral("http://h/b?u=%s&p=%s&d=%s&r=100%%&x=%d"),
                              QStringLiteral("u-1.x_~"), QStringLiteral("+/="),
                              QStringLiteral("ID"), SomeTime),
            QStringLiteral("http://h/b?u=u-1.x_~&p=%2B%2F%3D&d=ID&r=100%&x=%d&20260102150405006"));
    }

    void validationBeforeAnythingIsSent_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("focusOnUser");
        QTest::newRow("both empty") << ""
                                    << ""
                                    << "用户名不能为空" << true;
        QTest::newRow("blank user") << "  "
                                    << "secret"
                                    << "用户名不能为空" << true;
        QTest::newRow("blank password") << "bob"
                                        << " \t"
                                        << "密码不能为空" << false;
        QTest::newRow("user placeholder, empty password") << "用户名"
                                                          << ""
                                                          << "请输入您的用户名和密码" << true;
        QTest::newRow("user placeholder") << "用户名"
                                          << "secret"
                                          << "请输入您的用户名和密码" << true;
    }
    void validationBeforeAnythingIsSent()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, message);
        QFETCH(bool, focusOnUser);
        Open();
        FForm->edtUser->setText(user);
        FForm->edtPassword->setText(password);
        TAnswers answers;
        FForm->btnOK->click();
        QCOMPARE(answers.Shown.size(), 1);
        QCOMPARE(answers.Shown[0].Text, message);
        QCOMPARE(answers.Shown[0].Caption, QStringLiteral("用户名密码输入不正确"));
        QCOMPARE(answers.Shown[0].Flags, unsigned(mbOK | mbIconInformation));
        QCOMPARE(FForm->focusWidget(), focusOnUser ? FForm->edtUser : FForm->edtPassword);
        QVERIFY(FForm->isVisible());
        QTest::qWait(50);
        QVERIFY(FStore->Targets.isEmpty());
    }

    void noReaderOffersToQuit()
    {
        FReader = false;
        Open();
        Type(QStringLiteral("bob"), QStringLiteral("secret"));
        TAnswers answers;
        answers.Queue = {mrCancel, mrOk};
        FForm->btnOK->click();
        QCOMPARE(answers.Shown.size(), 1);
        QCOMPARE(answers.Shown[0].Text,
                 QStringLiteral("请先连接设备再进行绑定, 【确认】退出绑定！"));
        QCOMPARE(answers.Shown[0].Caption, QStringLiteral("没有连接设备"));
        QCOMPARE(answers.Shown[0].Flags, unsigned(mbOKCancel | mbIconInformation));
        QVERIFY(FForm->isVisible()); // Cancel stays
        FForm->btnOK->click();
        QVERIFY(!FForm->isVisible()); // OK quits, with the result Cancel
        QCOMPARE(FForm->result(), int(QDialog::Rejected));
        QTest::qWait(50);
        QVERIFY(FStore->Targets.isEmpty());
    }

    void storeAnswersAreSorted_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("state");
        const QByteArray utf8 = "text/html; charset=utf-8";
        QTest::newRow("success") << utf8
                                 << QByteArray("<html><body><p>绑定成功！</p></body></html>")
                                 << "绑定成功！" << 1;
        QTest::newRow("success wins over password")
            << utf8 << QByteArray("<b>成功</b>修改密码") << "成功修改密码" << 1;
        QTest::newRow("wrong user")
            << utf8 << QByteArray("<div>用户名不存在</div>") << "用户名不存在" << 2;
        QTest::newRow("wrong password")
            << utf8 << QByteArray("密码错误&nbsp;&#65281;") << "密码错误 ！" << 2;
        QTest::newRow("already bound")
            << utf8 << QByteArray("<h1>该设备已经绑定</h1>") << "该设备已经绑定" << 1;
        QTest::newRow("other") << utf8 << QByteArray("<title>绑定</title><body>系统繁忙</body>")
                               << "未知错误！" << 1;
        QTest::newRow("GBK, declared in the page")
            << QByteArray("text/html")
            << QByteArray("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                          "charset=gb2312\">"
                          "<script>var s='成功';</script></head><body>") +
                   Cp936::FromUnicode(QStringLiteral("用户名或密码错误")) + "</body></html>"
            << "用户名或密码错误" << 2;
        QTest::newRow("GBK, no declaration at all")
            << QByteArray() << Cp936::FromUnicode(QStringLiteral("绑定成功")) << "绑定成功" << 1;
    }
    void storeAnswersAreSorted()
    {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(QString, shown);
        QFETCH(int, state);
        FStore->ContentType = contentType;
        FStore->Body = body;
        SetNetworkStateAnswer([] { return true; });
        Open();
        Type(QStringLiteral("张 三"), QStringLiteral("a&#% b"));
        TAnswers answers;
        FForm->btnOK->click();
        QCOMPARE(FForm->BindState, 0);
        QTRY_COMPARE(answers.Shown.size(), 1);
        QCOMPARE(answers.Shown[0].Text, shown);
        QCOMPARE(answers.Shown[0].Caption, QStringLiteral("提示"));
        QCOMPARE(FForm->BindState, state);
        QCOMPARE(FForm->isVisible(), state == 2);
        if (state == 1) QCOMPARE(FForm->result(), int(QDialog::Accepted));

        // The values arrive exactly as typed.
        QCOMPARE(FStore->Targets.size(), 1);
        const QByteArray target = FStore->Targets[0];
        QVERIFY(target.startsWith("/bangDingFromVarnix.action?userName=%D5%C5%20%C8%FD&pwd=a%26%23%"
                                  "25%20b&DeviceID=0123ABCD&"));
        QVERIFY(QRegularExpression(QStringLiteral("&\\d{17}$"))
                    .match(QString::fromLatin1(target))
                    .hasMatch());
        QCOMPARE(FForm->RequestUrl.toLatin1(),
                 FStore->Targets[0].prepend(
                     FStore->Format().left(FStore->Format().indexOf(u'/', 7)).toLatin1()));
    }

    void passwordBoxNeverEnteredSendsItsPlaceholder()
    {
        FStore->Body = "绑定成功";
        Open();
        QTest::mouseClick(FForm->edtUser, Qt::LeftButton);
        QTest::keyClicks(FForm->edtUser, QStringLiteral("bob"));
        QCOMPARE(FForm->edtUser->text(), QStringLiteral("bob"));
        QCOMPARE(FForm->edtPassword->echoMode(), QLineEdit::Normal);
        TAnswers answers;
        FForm->btnOK->click();
        QTRY_COMPARE(answers.Shown.size(), 1);
        QCOMPARE(FStore->Targets.size(), 1);
        QVERIFY(FStore->Targets[0].contains(
            "pwd=" + EncodeQueryValue(QStringLiteral("请输入密码")).toLatin1() + "&"));
    }

    void keysMoveThroughTheBoxes()
    {
        FStore->Body = "用户名不存在";
        Open();
        QApplication::setActiveWindow(FForm.get());
        QTest::mouseClick(FForm->edtUser, Qt::LeftButton);
        QTest::keyClicks(FForm->edtUser, QStringLiteral("bob"));
        QTest::keyClick(FForm->edtUser, Qt::Key_Return);
        // Entering the password box by keyboard clears its placeholder and masks it.
        QCOMPARE(FForm->focusWidget(), FForm->edtPassword);
        QCOMPARE(FForm->edtPassword->text(), QString());
        QCOMPARE(FForm->edtPassword->echoMode(), QLineEdit::Password);
        QCOMPARE(FForm->edtPassword->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter,
                                                        nullptr, FForm->edtPassword),
                 int('*'));
        QTest::keyClicks(FForm->edtPassword, QStringLiteral("pw"));
        TAnswers answers;
        QTest::keyClick(FForm->edtPassword, Qt::Key_Enter);
        QTRY_COMPARE(answers.Shown.size(), 1);
        QCOMPARE(FStore->Targets.size(), 1);
        QVERIFY(FStore->Targets[0].contains("userName=bob&pwd=pw&"));
        // Wrong user: the dialog stays with the texts kept, and a second try sends again.
        QVERIFY(FForm->isVisible());
        QCOMPARE(FForm->edtUser->text(), QStringLiteral("bob"));
        FStore->Body = "绑定成功";
        QTest::keyClick(FForm->edtPassword, Qt::Key_Return);
        QTRY_COMPARE(answers.Shown.size(), 2);
        QCOMPARE(FStore->Targets.size(), 2);
        QVERIFY(!FForm->isVisible());
    }

    void noNetwork()
    {
        // Nothing listens on the port: no answer, and the computer reports no connection.
        quint16 closedPort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            closedPort = probe.serverPort();
        }
        ProcessSettings().BindingTemplate =
            QStringLiteral("http://127.0.0.1:%1/b?u=%s&p=%s&d=%s").arg(closedPort);
        SetNetworkStateAnswer([] { return false; });
        Open();
        Type(QStringLiteral("bob"), QStringLiteral("pw"));
        TAnswers answers;
        FForm->btnOK->click();
        QTRY_COMPARE(answers.Shown.size(), 1);
        QCOMPARE(answers.Shown[0].Text, QStringLiteral("没有连接网络"));
        QVERIFY(!FForm->isVisible());

        // A store that answers is believed even when the platform reports no connection.
        ProcessSettings().BindingTemplate = FStore->Format();
        FStore->Body = "密码错误";
        Open();
        Type(QStringLiteral("bob"), QStringLiteral("pw"));
        FForm->btnOK->click();
        QTRY_COMPARE(answers.Shown.size(), 2);
        QCOMPARE(answers.Shown[1].Text, QStringLiteral("密码错误"));
        QVERIFY(FForm->isVisible());

        // Connected, but the store cannot be reached: an answer nobody recognises.
        ProcessSettings().BindingTemplate =
            QStringLiteral("http://127.0.0.1:%1/b?u=%s&p=%s&d=%s").arg(closedPort);
        SetNetworkStateAnswer([] { return true; });
        FForm->btnOK->click();
        QTRY_COMPARE(answers.Shown.size(), 3);
        QCOMPARE(answers.Shown[2].Text, QStringLiteral("未知错误！"));
        QVERIFY(!FForm->isVisible());
    }

    void onlyTheLatestRequestIsAnswered()
    {
        FStore->Hold = true;
        Open();
        Type(QStringLiteral("bob"), QStringLiteral("pw"));
        TAnswers answers;
        FForm->btnOK->click();
        QTRY_COMPARE(FStore->Targets.size(), 1);
        // Still waiting: a second press sends again and only its answer counts.
        FForm->edtUser->setText(QStringLiteral("alice"));
        FForm->btnOK->click();
        QTRY_COMPARE(FStore->Targets.size(), 2);
        FStore->Release({"用户名不存在", "绑定成功"});
        QTRY_COMPARE(answers.Shown.size(), 1);
        QCOMPARE(answers.Shown[0].Text, QStringLiteral("绑定成功"));
        QVERIFY(FStore->Targets[1].contains("userName=alice&"));
        QTest::qWait(100);
        QCOMPARE(answers.Shown.size(), 1);
        QVERIFY(!FForm->isVisible());
    }

    void pageTextDecodesTheDeclaredSet_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("charset");
        QTest::addColumn<QString>("text");
        QTest::newRow("utf-8") << QByteArray("\xE7\xBB\x91\xE5\xAE\x9A") << QByteArray("UTF-8")
                               << "绑定";
        QTest::newRow("gbk") << QByteArray("\xB0\xF3\xB6\xA8") << QByteArray(" GBK ") << "绑定";
        QTest::newRow("gb2312") << QByteArray("\xB0\xF3\xB6\xA8") << QByteArray("gb2312") << "绑定";
        QTest::newRow("big5") << QByteArray("\xA4\xA4\xA4\xE5") << QByteArray("big5") << "中文";
        QTest::newRow("latin-1") << QByteArray("caf\xE9") << QByteArray("iso-8859-1") << "café";
        QTest::newRow("unknown set reads as ours")
            << QByteArray("\xB0\xF3\xB6\xA8") << QByteArray("x-no-such-set") << "绑定";
        QTest::newRow("bad bytes") << QByteArray("a\xFF\xFF"
                                                 "b")
                                   << QByteArray("utf-8") << "a\uFFFD\uFFFDb";
    }
    void pageTextDecodesTheDeclaredSet()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, charset);
        QFETCH(QString, text);
        QCOMPARE(Charset::Decode(bytes, charset), text);
    }

    // The request goes with the store session of the browser tabs, and a cookie the store sets
    // in its answer reaches the tabs.
    // The page's text as a reader sees it, and answers made of unclosed tags, comments and
    // elements read in one pass (the bound only catches a hang; they take milliseconds).
    void pageTextReadsInOnePass_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("text");
        QTest::newRow("breaks") << "a<br>b<BR/>c</br>d<p>e</p>f<pre>g</pre>h<h2 x='1'>i</h2>"
                                << "a\nb\ncd\ne\nfgh\ni";
        QTest::newRow("dropped elements")
            << "<head><title>t</title></head><body>x<script type=a>if (a<b) s='成功'</script >"
               "y<STYLE>p{}</style>z<header>h</header></body>"
            << "xyzh";
        QTest::newRow("comments") << "a<!-- <p>成功</p> -->b<!-- open" << "ab<!-- open";
        QTest::newRow("unclosed script is a tag") << "<script>成功" << "成功";
        QTest::newRow("script closed by a false start")
            << "<script>x</script y</script\n>z" << "z";
        QTest::newRow("not tags") << "1 < 2 <3 and <" << "1 < 2 <3 and <";
        QTest::newRow("unclosed tag") << "a<b c" << "a<b c";
        QTest::newRow("references") << "&lt;&#x6210;&#21151;&gt;&nbsp;&bogus;&#0;"
                                    << "<成功> &bogus;&#0;";
        QTest::newRow("blank lines") << "\r\n  a \r\r b\n\n" << "a\nb";
        const int n = 100000;
        QTest::newRow("unclosed scripts") << QString("<script>").repeated(n) + "x"
                                          << "x";
        QTest::newRow("unclosed tags") << QString("<a").repeated(n) << QString("<a").repeated(n);
        QTest::newRow("unclosed comments") << QString("<!--").repeated(n) + ">成功"
                                           << "成功";
        QTest::newRow("false closings")
            << QString("<style>").repeated(n) + QString("</style").repeated(n) + ">x"
            << "x";
    }
    void pageTextReadsInOnePass()
    {
        QFETCH(QString, html);
        QFETCH(QString, text);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(PageText(html), text);
        QVERIFY(clock.elapsed() < 5000);
    }

    // An answer that never ends is judged by its first part instead of filling memory.
    void endlessAnswerIsReadToItsBound()
    {
        FStore->Body = "<p>绑定成功</p>" + QByteArray(2 * TBaseForm::MaxReplyBytes, ' ');
        FStore->DeclaredLength = qint64(1) << 40;
        SetNetworkStateAnswer([] { return true; });
        Open();
        Type(QStringLiteral("bob"), QStringLiteral("secret"));
        TAnswers answers;
        FForm->btnOK->click();
        QTRY_COMPARE(answers.Shown.size(), 1);
        QCOMPARE(answers.Shown[0].Text, QStringLiteral("绑定成功"));
        QCOMPARE(FForm->BindState, 1);
    }

    void storeSessionGoesWithTheRequest()
    {
        QWebEngineCookieStore* cookies = StoreProfile()->cookieStore();
        QStringList added; // "name=value" of every cookie the store learns
        const QMetaObject::Connection watch = connect(
            cookies, &QWebEngineCookieStore::cookieAdded, this,
            [&](const QNetworkCookie& c) { added << QString::fromUtf8(c.name() + '=' + c.value()); });
        Open();
        cookies->setCookie(QNetworkCookie("session", "tab-login"), FStore->Origin());
        QTRY_VERIFY(added.contains("session=tab-login"));
        FStore->SetCookie = "bound=yes; Max-Age=3600; Path=/";
        FStore->Body = "<html><body>绑定成功</body></html>";
        TAnswers answers;
        Type(QStringLiteral("bob"), QStringLiteral("pw"));
        FForm->btnOK->click();
        QTRY_COMPARE(answers.Shown.size(), 1);
        QCOMPARE(FStore->Cookies.size(), 1);
        QVERIFY2(FStore->Cookies[0].contains("session=tab-login"), FStore->Cookies[0].constData());
        QTRY_VERIFY(added.contains("bound=yes"));
        disconnect(watch);
        cookies->deleteAllCookies();
    }

    void pageCharsetDeclarations_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("charset");
        QTest::newRow("header") << QByteArray("text/html; Charset=\"GBK\"")
                                << QByteArray("<meta charset=utf-8>") << QByteArray("gbk");
        QTest::newRow("meta charset")
            << QByteArray("text/html") << QByteArray("<html><META CHARSET='UTF-8'>")
            << QByteArray("utf-8");
        QTest::newRow("meta http-equiv")
            << QByteArray()
            << QByteArray("<meta http-equiv=Content-Type content=\"text/html;charset=gb18030\"/>")
            << QByteArray("gb18030");
        QTest::newRow("BOM") << QByteArray() << QByteArray("\xEF\xBB\xBF<p>")
                             << QByteArray("utf-8");
        QTest::newRow("none") << QByteArray("text/html")
                              << QByteArray("<meta name=x content=charset>") << QByteArray();
    }
    void pageCharsetDeclarations()
    {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, charset);
        QCOMPARE(DeclaredCharset(contentType, body), charset);
    }

    // The command in the main window: shown in the library menu, the toolbar button hidden,
    // and a whole binding through the reader in slot one and the configured address.
    void mainWindowBindsTheAttachedReader()
    {
        QTemporaryDir dir;
        QDir().mkpath(dir.filePath("Storages"));
        TSystemCategory::SetLocalLibraryPath(dir.filePath("Storages/"));
        TBrowserCategory::SetHomeFileName(dir.filePath("home.dll"));
        QFile ini(dir.filePath("Korvel.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Update]\r\nTestweb=" + FStore->Format().toLatin1() + "\r\n");
        ini.close();
        ProcessSettings().BindingTemplate.clear();
        FStore->Body = "<p>绑定成功</p>";
        {
            TXALVarnixForm window(dir.filePath("Korvel.ini"));
            window.show();
            QAction* bind = nullptr;
            for (QAction* a : window.findChildren<QAction*>())
                if (a->text() == QStringLiteral("绑定设备")) bind = a;
            QVERIFY(bind);
            QToolButton* button = window.findChild<QToolButton*>(QStringLiteral("BindButton"));
            QVERIFY(button);
            QVERIFY(!button->isVisible());

            const TDeviceIdentity identity = ReaderIdentity("FEEDBEEF");
            window.SystemCategory()->ReaderSlot(0)->SetIdentity(&identity);

            TAnswers answers;
            QString title;
            QSize size;
            QTimer::singleShot(0, [&] {
                auto* form = qobject_cast<TBaseForm*>(QApplication::activeModalWidget());
                if (!form) return;
                title = form->windowTitle();
                size = form->size();
                form->edtUser->setText(QStringLiteral("bob"));
                form->edtPassword->setText(QStringLiteral("pw"));
                form->btnOK->click();
            });
            bind->trigger(); // returns when the dialog closes
            QCOMPARE(title, window.windowTitle());
            QCOMPARE(size, QSize(529, 360));
            QCOMPARE(answers.Shown.size(), 1);
            QCOMPARE(answers.Shown[0].Text, QStringLiteral("绑定成功"));
            QCOMPARE(FStore->Targets.size(), 1);
            QVERIFY(FStore->Targets[0].startsWith(
                "/bangDingFromVarnix.action?userName=bob&pwd=pw&DeviceID=FEEDBEEF&"));
            window.SystemCategory()->ReaderSlot(0)->SetIdentity(QByteArray(88, 0).constData());
        }
        TSystemCategory::SetLocalLibraryPath(QString());
        TBrowserCategory::SetHomeFileName(QString());
    }
};

QTEST_MAIN(BindDialogTest)
#include "BindDialogTest.moc"
