#pragma once

#include <QDateTime>
#include <QDialog>
#include <QPointer>
#include <QString>

#include <functional>

class TSkinManager;

class QFrame;
class QLabel;
class QLineEdit;
class QNetworkAccessManager;
class QNetworkReply;
class QPushButton;

// The binding request to the store when the settings name no other: user name, password and
// the reader's identifier fill the three "%s" in this order.
inline constexpr char BuiltInBindingTemplate[] =
    "https://store.vadaziv.example/bangDingFromVarnix.action?userName=%s&pwd=%s&DeviceID=%s";

// "yyyymmddhhnnsszzz" of local time: 17 digits that make every request unique to the millisecond.
QString BindingTimeStamp(const QDateTime& time);

// A value for the request's query: its code page 936 bytes with every byte outside the
// unreserved ASCII set written as %XX, so that "&", "#", "%" or a blank arrive as typed.
QString EncodeQueryValue(const QString& value);

// Fills the first three "%s" of `format` with the encoded user name, password and identifier
// ("%%" stands for "%") and appends "&" and the time stamp. An empty format takes the built-in
// one.
QString BindingRequestUrl(const QString& format, const QString& userName, const QString& password,
                          const QString& deviceId, const QDateTime& time);

// The character set a page declares: the "charset" of its content type, else the first
// <meta charset> or <meta http-equiv="Content-Type" content="...; charset=..."> near its start.
// Empty when it declares none.
QByteArray DeclaredCharset(const QByteArray& contentType, const QByteArray& body);

// What a reader of the page sees as its text: the markup without tags, comments, scripts and
// styles, with character references resolved.
QString PageText(const QString& html);

// Sorts the store's answer: returns the next bind state (1 finished, 2 try again) and replaces
// `text` by "未知错误！" when the answer is not one the store gives about binding.
int ClassifyBindReply(QString& text);

// The dialog that binds the attached reader to the user's store account. The store answers
// with a page meant for people, so the answer is read as text and sorted by the words in it;
// only the store's complaints about the user name or password keep the dialog open for another
// try. The request travels as a plain HTTP GET, so the dialog stays responsive while it waits.
class TBaseForm : public QDialog
{
    Q_OBJECT
public:
    // Fills an 88-byte identity record of the attached reader (all zero without one).
    using TIdentityQuery = std::function<void(void* buffer)>;

    // With a skin manager, the top panel takes the skin's toolbar look.
    TBaseForm(QWidget* owner, TIdentityQuery identityQuery, TSkinManager* skins = nullptr);
    ~TBaseForm() override;

    QString RequestUrl;
    // 0 waiting for the store, 1 finished (the dialog closes), 2 idle or trying again.
    int BindState = 2;

    QFrame* pnlTop = nullptr;
    QLineEdit* edtUser = nullptr;
    QLineEdit* edtPassword = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

    static constexpr int DesignWidth = 529;
    static constexpr int DesignHeight = 360;
    // The store answers with a short page; only this much of a longer answer is read.
    static constexpr qint64 MaxReplyBytes = 1 << 20;

    // Runs "确定": the device check, the validation and the request.
    void Confirm();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool ReaderAttached(QString& deviceId) const;
    void Send(const QString& url);
    void ReplyFinished(QNetworkReply* reply);
    void ShowAnswer(const QString& text);
    void EnterUserBox();
    void EnterPasswordBox();
    static void SetGrey(QLineEdit* edit, bool grey);

    TIdentityQuery FIdentityQuery;
    QNetworkAccessManager* FNetwork = nullptr;
    QPointer<QNetworkReply> FPending;
};

// Tests decide whether the computer counts as connected instead of the platform; the program
// itself never sets it.
void SetNetworkStateAnswer(std::function<bool()> answer);
