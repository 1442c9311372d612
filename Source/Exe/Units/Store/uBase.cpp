#include "uBase.h"

#include "Charset.h"
#include "Codec936.h"
#include "DevID.h"
#include "DialogPlacement.h"
#include "Globals.h"
#include "NetworkState.h"
#include "SkinData.h"
#include "Skins.h"
#include "Subclasses.h"
#include "uMsgDlg.h"
#include "uUpDateComm.h"
#include "uWBExternal.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <cstring>

namespace {

const QString UserPlaceholder = QStringLiteral("用户名");
const QString PasswordPlaceholder = QStringLiteral("请输入密码");

// How long the store may take to answer before the request counts as failed.
constexpr int ReplyTimeoutMs = 30000;

std::function<bool()> NetworkStateAnswer;

// The store session of the browser tabs, lent to the binding request: the cookies the tabs
// hold go with it, and those the store sets in its answer go back to the tabs.
class TStoreCookieJar : public QNetworkCookieJar
{
public:
    TStoreCookieJar(QWebEngineCookieStore* store, QObject* parent)
        : QNetworkCookieJar(parent), FStore(store)
    {
        connect(store, &QWebEngineCookieStore::cookieAdded, this,
                [this](const QNetworkCookie& cookie) { insertCookie(cookie); });
        connect(store, &QWebEngineCookieStore::cookieRemoved, this,
                [this](const QNetworkCookie& cookie) { deleteCookie(cookie); });
        // The profile's cookies are reachable only once one of its pages has loaded something,
        // and the tabs may not have opened any yet: a hidden blank page wakes them.
        auto* wake = new QWebEnginePage(StoreProfile(), this);
        connect(wake, &QWebEnginePage::loadFinished, this, [this] {
            if (FStore) FStore->loadAllCookies();
        });
        wake->load(QUrl(QStringLiteral("about:blank")));
    }

    bool setCookiesFromUrl(const QList<QNetworkCookie>& cookies, const QUrl& url) override
    {
        const bool taken = QNetworkCookieJar::setCookiesFromUrl(cookies, url);
        if (FStore)
            for (const QNetworkCookie& cookie : cookies)
                FStore->setCookie(cookie, url);
        return taken;
    }

private:
    QPointer<QWebEngineCookieStore> FStore;
};

bool NetworkConnected()
{
    return NetworkStateAnswer ? NetworkStateAnswer() : IsNetworkConnected();
}

bool IsNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

// The tag name that starts at `at` (just after "<" and an optional "/"), lower-cased.
QString TagNameAt(QStringView html, qsizetype at)
{
    qsizetype end = at;
    while (end < html.size() && end - at < 16 && IsNameChar(html[end]))
        ++end;
    return html.mid(at, end - at).toString().toLower();
}

QString ResolveReferences(const QString& text)
{
    static const QRegularExpression reference(
        QStringLiteral("&(#[0-9]+|#[xX][0-9a-fA-F]+|[a-zA-Z]+);"));
    QString out;
    out.reserve(text.size());
    qsizetype last = 0;
    auto it = reference.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(text).mid(last, m.capturedStart() - last);
        last = m.capturedEnd();
        const QString name = m.captured(1);
        char32_t code = 0;
        if (name.startsWith(u'#')) {
            bool ok = false;
            const bool hex = name.size() > 1 && (name[1] == u'x' || name[1] == u'X');
            const uint value = hex ? name.mid(2).toUInt(&ok, 16) : name.mid(1).toUInt(&ok, 10);
            if (ok && value > 0 && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF))
                code = value;
        } else {
            static const QHash<QString, char32_t> named = {
                {QStringLiteral("amp"), U'&'},   {QStringLiteral("lt"), U'<'},
                {QStringLiteral("gt"), U'>'},    {QStringLiteral("quot"), U'"'},
                {QStringLiteral("apos"), U'\''}, {QStringLiteral("nbsp"), U' '},
            };
            code = named.value(name.toLower(), 0);
        }
        if (code)
            out += QString::fromUcs4(&code, 1);
        else
            out += m.captured(0);
    }
    out += QStringView(text).mid(last);
    return out;
}

} // namespace

void SetNetworkStateAnswer(std::function<bool()> answer)
{
    NetworkStateAnswer = std::move(answer);
}

QString BindingTimeStamp(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyyMMddHHmmsszzz"));
}

QString EncodeQueryValue(const QString& value)
{
    // Every byte outside the unreserved ASCII set becomes %XX.
    return QString::fromLatin1(Cp936::FromUnicode(value).toPercentEncoding());
}

QString BindingRequestUrl(const QString& format, const QString& userName, const QString& password,
                          const QString& deviceId, const QDateTime& time)
{
    const QString pattern = format.isEmpty() ? QString::fromUtf8(BuiltInBindingTemplate) : format;
    const QString values[] = {EncodeQueryValue(userName), EncodeQueryValue(password),
                              EncodeQueryValue(deviceId)};
    QString url;
    size_t next = 0;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == u'%' && i + 1 < pattern.size()) {
            if (pattern[i + 1] == u's') {
                if (next < std::size(values)) url += values[next++];
                ++i;
                continue;
            }
            if (pattern[i + 1] == u'%') {
                url += u'%';
                ++i;
                continue;
            }
        }
        url += pattern[i];
    }
    return url + u'&' + BindingTimeStamp(time);
}

QByteArray DeclaredCharset(const QByteArray& contentType, const QByteArray& body)
{
    // The value after "charset", up to a quote, blank, ";", "/" or ">".
    const auto valueAfter = [](const QByteArray& text, qsizetype at) -> QByteArray {
        qsizetype i = at + 7; // "charset"
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        if (i >= text.size() || text[i] != '=') return {};
        ++i;
        while (i < text.size() &&
               (text[i] == ' ' || text[i] == '\t' || text[i] == '"' || text[i] == '\''))
            ++i;
        qsizetype end = i;
        while (end < text.size() && !strchr("\"' \t;/>", text[end]))
            ++end;
        return text.mid(i, end - i);
    };

    const QByteArray header = contentType.toLower();
    for (qsizetype at = header.indexOf("charset"); at >= 0;
         at = header.indexOf("charset", at + 1)) {
        const QByteArray value = valueAfter(header, at);
        if (!value.isEmpty()) return value;
    }
    if (body.startsWith("\xEF\xBB\xBF")) return "utf-8";

    // Pages declare their set at the very start; a declaration far down does not count.
    const QByteArray head = body.left(4096).toLower();
    for (qsizetype meta = head.indexOf("<meta"); meta >= 0;
         meta = head.indexOf("<meta", meta + 1)) {
        qsizetype end = head.indexOf('>', meta);
        if (end < 0) end = head.size();
        const QByteArray tag = head.mid(meta, end - meta);
        const qsizetype at = tag.indexOf("charset");
        if (at < 0) continue;
        const QByteArray value = valueAfter(tag, at);
        if (!value.isEmpty()) return value;
    }
    return {};
}

QString PageText(const QString& html)
{
    // One pass over the page, each search resumed where the last one failed, so an answer full
    // of unclosed tags or comments costs no more than its length.
    static const QSet<QString> dropped = {QStringLiteral("script"), QStringLiteral("style"),
                                          QStringLiteral("head"), QStringLiteral("title")};
    static const QSet<QString> breaking = {
        QStringLiteral("br"), QStringLiteral("p"),  QStringLiteral("div"), QStringLiteral("tr"),
        QStringLiteral("li"), QStringLiteral("h1"), QStringLiteral("h2"),  QStringLiteral("h3"),
        QStringLiteral("h4"), QStringLiteral("h5"), QStringLiteral("h6"),  QStringLiteral("table")};
    const QStringView page(html);
    const qsizetype n = page.size();
    qsizetype noTagEndFrom = n + 1;     // no ">" at or after this
    qsizetype noCommentEndFrom = n + 1; // no "-->" at or after this
    QHash<QString, qsizetype> noCloseFrom; // per dropped element: no closing tag after this

    const auto find = [&](QStringView what, qsizetype from, qsizetype& noneFrom) -> qsizetype {
        if (from >= noneFrom) return -1;
        const qsizetype at = page.indexOf(what, from, Qt::CaseInsensitive);
        if (at < 0) noneFrom = from;
        return at;
    };
    // The end of "</name\s*>" found at or after `from`, or -1.
    const auto closingEnd = [&](const QString& name, qsizetype from) -> qsizetype {
        auto known = noCloseFrom.find(name);
        if (known == noCloseFrom.end()) known = noCloseFrom.insert(name, n + 1);
        qsizetype& noneFrom = known.value();
        const QString closing = QStringLiteral("</") + name;
        for (qsizetype at = find(closing, from, noneFrom); at >= 0;
             at = find(closing, at + 1, noneFrom)) {
            qsizetype i = at + closing.size();
            while (i < n && page[i].isSpace())
                ++i;
            if (i < n && page[i] == u'>') return i + 1;
        }
        noneFrom = std::min(noneFrom, from); // none of the candidates after `from` closes
        return -1;
    };

    QString text;
    text.reserve(n);
    qsizetype i = 0;
    while (i < n) {
        const QChar c = page[i];
        const QChar next = i + 1 < n ? page[i + 1] : QChar();
        const bool tagStart = c == u'<' && (next == u'!' || next == u'/' || next == u'?' ||
                                            (next.unicode() < 128 && next.isLetter()));
        if (!tagStart) {
            text += c;
            ++i;
            continue;
        }
        if (page.mid(i, 4) == u"<!--") {
            const qsizetype close = find(u"-->", i + 4, noCommentEndFrom);
            if (close >= 0) {
                i = close + 3;
                continue;
            }
        }
        const qsizetype tagEnd = find(u">", i + 1, noTagEndFrom);
        if (tagEnd < 0) { // an unclosed tag is text
            text += c;
            ++i;
            continue;
        }
        const bool closing = next == u'/';
        const QString name = TagNameAt(page, i + (closing ? 2 : 1));
        if (!closing && dropped.contains(name)) {
            const qsizetype end = closingEnd(name, tagEnd + 1);
            if (end >= 0) {
                i = end;
                continue;
            }
        }
        if (breaking.contains(name) && !(closing && name == u"br")) text += u'\n';
        i = tagEnd + 1;
    }
    text = ResolveReferences(text);

    QStringList lines;
    for (const QStringView line : QStringView(text).split(u'\n')) {
        for (const QStringView part : line.split(u'\r')) {
            const QString simple = part.toString().simplified();
            if (!simple.isEmpty()) lines << simple;
        }
    }
    return lines.join(u'\n');
}

int ClassifyBindReply(QString& text)
{
    if (text.contains(QStringLiteral("成功"))) return 1;
    if (text.contains(QStringLiteral("用户名"))) return 2;
    if (text.contains(QStringLiteral("密码"))) return 2;
    if (!text.contains(QStringLiteral("绑定"))) {
        text = QStringLiteral("未知错误！");
        return 1;
    }
    return 1;
}

TBaseForm::TBaseForm(QWidget* owner, TIdentityQuery identityQuery, TSkinManager* skins)
    : QDialog(owner), FIdentityQuery(std::move(identityQuery))
{
    setObjectName(QStringLiteral("BaseForm"));
    setWindowTitle(QStringLiteral("绑定设备"));

    pnlTop = new QFrame(this);
    pnlTop->setObjectName(QStringLiteral("pnlTop"));
    pnlTop->setGeometry(0, 0, DesignWidth, 40);
    // Until a skin paints it, a light band with a line below sets the title apart.
    pnlTop->setAutoFillBackground(true);
    pnlTop->setBackgroundRole(QPalette::Midlight);
    pnlTop->setFrameShape(QFrame::Panel);
    pnlTop->setFrameShadow(QFrame::Raised);
    auto* title = new QLabel(QStringLiteral("绑定设备"), pnlTop);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    title->setFont(titleFont);
    title->move(16, 12);
    title->adjustSize();
    if (skins && skins->Resource()) {
        try {
            skins->Subclass<TToolbarSubclass>(pnlTop, QStringLiteral("Toolbar"));
            // The skin's band replaces the plain one.
            pnlTop->setFrameShape(QFrame::NoFrame);
            pnlTop->setAutoFillBackground(false);
        } catch (const ESkinException& e) {
            // A bad skin value leaves the plain band; the dialog itself still works.
            ShowMessageBox(e.Message(), QStringLiteral("错误"), mbIconStop);
        }
    }

    const auto label = [this](const QString& text, int x, int y) {
        auto* l = new QLabel(text, this);
        l->setTextFormat(Qt::PlainText);
        l->move(x, y);
        l->adjustSize();
        return l;
    };
    label(QStringLiteral("如果您已经是注册用户，可与设备进行绑定："), 40, 64);
    label(QStringLiteral("用户名："), 96, 108);
    label(QStringLiteral("密码："), 96, 148);

    edtUser = new QLineEdit(UserPlaceholder, this);
    edtUser->setObjectName(QStringLiteral("edtUser"));
    edtUser->setGeometry(170, 104, 240, 24);
    edtPassword = new QLineEdit(PasswordPlaceholder, this);
    edtPassword->setObjectName(QStringLiteral("edtPassword"));
    edtPassword->setGeometry(170, 144, 240, 24);
    // Masked characters show as "*" once the password is typed.
    edtPassword->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    for (QLineEdit* edit : {edtUser, edtPassword}) {
        SetGrey(edit, true);
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textEdited, this, [edit] { SetGrey(edit, false); });
    }

    // The tip's line breaks are kept in the text as the store's other texts have them.
    QLabel* tip = label(
        QStringLiteral(
            "提示：\r\n1.请先连接要绑定的设备。\r\n2.请输入需要与设备绑定的Ruraza店账号及密码。")
            .replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
        40, 196);
    tip->setObjectName(QStringLiteral("lblTip"));

    btnOK = new QPushButton(QStringLiteral("确定"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(DesignWidth - 2 * (90 + 16), DesignHeight - 25 - 20, 90, 25);
    btnCancel = new QPushButton(QStringLiteral("取消"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(DesignWidth - (90 + 16), DesignHeight - 25 - 20, 90, 25);
    // Enter is handled by the boxes themselves; the buttons must not take it from them.
    btnOK->setAutoDefault(false);
    btnCancel->setAutoDefault(false);
    connect(btnOK, &QPushButton::clicked, this, &TBaseForm::Confirm);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    FNetwork = new QNetworkAccessManager(this);
    FNetwork->setCookieJar(new TStoreCookieJar(StoreProfile()->cookieStore(), FNetwork));
    resize(DesignWidth, DesignHeight);
    edtUser->setFocus();
}

TBaseForm::~TBaseForm()
{
    // A reply still on its way must not report into a dialog that is going away.
    if (FPending) {
        FPending->disconnect(this);
        FPending->abort();
    }
}

void TBaseForm::SetGrey(QLineEdit* edit, bool grey)
{
    ShowAsPlaceholder(edit, grey);
}

void TBaseForm::EnterUserBox()
{
    SetGrey(edtUser, false);
    if (edtUser->text() == UserPlaceholder) edtUser->clear();
}

void TBaseForm::EnterPasswordBox()
{
    SetGrey(edtPassword, false);
    if (edtPassword->text() == PasswordPlaceholder) {
        edtPassword->clear();
        edtPassword->setEchoMode(QLineEdit::Password);
    }
}

bool TBaseForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == edtUser || watched == edtPassword) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
            if (watched == edtUser)
                EnterUserBox();
            else
                EnterPasswordBox();
            break;
        case QEvent::FocusIn:
            if (watched == edtPassword) {
                EnterPasswordBox();
            } else if (edtUser->text() == UserPlaceholder) {
                // Reached by keyboard: typing replaces the placeholder instead of joining it.
                QMetaObject::invokeMethod(edtUser, &QLineEdit::selectAll, Qt::QueuedConnection);
            }
            break;
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key != Qt::Key_Return && key != Qt::Key_Enter) break;
            if (watched == edtUser)
                edtPassword->setFocus(Qt::TabFocusReason);
            else
                btnOK->click();
            return true;
        }
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool TBaseForm::ReaderAttached(QString& deviceId) const
{
    TDeviceIdentity identity;
    std::memset(&identity, 0, sizeof identity);
    if (FIdentityQuery) FIdentityQuery(&identity);
    deviceId = QString::fromLatin1(IdentifierText(identity));
    return !IsNoReader(identity);
}

void TBaseForm::Confirm()
{
    QString deviceId;
    if (!ReaderAttached(deviceId)) {
        if (ShowMessageBox(QStringLiteral("请先连接设备再进行绑定, 【确认】退出绑定！"),
                           QStringLiteral("没有连接设备"), mbOKCancel | mbIconInformation) == mrOk)
            done(QDialog::Rejected);
        return;
    }

    QString message;
    QLineEdit* focus = nullptr;
    if (edtPassword->text().trimmed().isEmpty()) {
        message = QStringLiteral("密码不能为空");
        focus = edtPassword;
    }
    if (edtUser->text().trimmed().isEmpty()) {
        message = QStringLiteral("用户名不能为空");
        focus = edtUser;
    }
    if (edtUser->text() == UserPlaceholder) {
        message = QStringLiteral("请输入您的用户名和密码");
        focus = edtUser;
    }
    if (!message.isEmpty()) {
        focus->setFocus();
        ShowMessageBox(message, QStringLiteral("用户名密码输入不正确"), mbOK | mbIconInformation);
        return;
    }

    RequestUrl = BindingRequestUrl(ProcessSettings().BindingTemplate, edtUser->text(),
                                   edtPassword->text(), deviceId, QDateTime::currentDateTime());
    BindState = 0;
    Send(RequestUrl);
}

void TBaseForm::Send(const QString& url)
{
    // A new request replaces the one still waiting; only the latest answer counts.
    if (FPending) {
        QNetworkReply* old = FPending;
        FPending = nullptr;
        old->abort();
    }
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    request.setHeader(QNetworkRequest::UserAgentHeader, UpdateUserAgent());
    request.setTransferTimeout(ReplyTimeoutMs);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    QNetworkReply* reply = FNetwork->get(request);
    FPending = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { ReplyFinished(reply); });
    // An endless answer is judged by its first part instead of filling memory.
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        if (reply->bytesAvailable() >= MaxReplyBytes) ReplyFinished(reply);
    });
}

void TBaseForm::ReplyFinished(QNetworkReply* reply)
{
    reply->deleteLater();
    if (reply != FPending || BindState != 0) return;
    FPending = nullptr;

    QString text;
    // An answer from the server proves the way there works, whatever the platform reports.
    const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    if (!answered && !NetworkConnected()) {
        text = QStringLiteral("没有连接网络");
        BindState = 1;
    } else {
        const QByteArray body = reply->read(MaxReplyBytes);
        if (reply->isRunning()) reply->abort(); // its finished signal finds nothing pending
        const QByteArray charset = DeclaredCharset(reply->rawHeader("Content-Type"), body);
        text = PageText(Charset::Decode(body, charset));
        BindState = ClassifyBindReply(text);
    }
    ShowAnswer(text);
    if (BindState == 1) done(QDialog::Accepted);
}

void TBaseForm::ShowAnswer(const QString& text)
{
    ShowMessageBox(text, QStringLiteral("提示"), mbOK | mbIconInformation);
}
