#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QWebEnginePage;

// The store's URL texts: placeholders filled in just before a page loads, and the filter that
// keeps the account query and the reader's identifier out of what the user sees.
QString AuthText(const QString& user, const QString& password);
QString DeviceSegment(const QString& identifier);
// Replaces the first "{{AUTH}}" by `authText`, then the first "{{DEVICE}}" by the device
// segment of `identifier`; later placeholders stay.
QString SubstituteStoreUrl(const QString& url, const QString& authText, const QString& identifier);
QString DisplayUrl(const QString& text, const QString& identifier);
// A requested URL shown before its page has a location: without its first "{{DEVICE}}".
QString RequestedUrlForDisplay(const QString& url);

// The scheme, host and port of a URL the way a page sees its own origin ("" for anything but
// http and https, so local files never count as the store).
QString StoreOrigin(const QString& url);

// The object behind `window.external` of the browser tabs. Pages cannot call into the program
// synchronously, so the identifier is pushed into every page instead: a script defines the
// object when a document is created, and Refresh re-sends the value to the documents already
// open whenever a reader comes or goes. Only pages of the store's own sites get the identifier;
// any other page reads "".
class TWBExternal : public QObject
{
    Q_OBJECT
public:
    // Fills an 88-byte identity record (zeros when no reader is attached).
    using TIdentitySource = std::function<void(void* buffer)>;

    explicit TWBExternal(TIdentitySource source, QObject* parent = nullptr);
    ~TWBExternal() override;

    // The identifier of the attached reader, asked afresh on every call; "" without a reader.
    QString DeviceID() const;

    // Origins (see StoreOrigin) whose pages may read the identifier.
    void SetStoreOrigins(const QStringList& urls);
    const QStringList& StoreOrigins() const { return FOrigins; }

    // Gives a page the object from its next document on; the page is followed until it dies.
    void Install(QWebEnginePage* page);
    // Re-reads the identifier and hands it to every installed page.
    void Refresh();

private:
    QString ScriptSource() const;
    void UpdatePage(QWebEnginePage* page, const QString& source);

    TIdentitySource FSource;
    QStringList FOrigins;
    QString FLastId;
    QList<QPointer<QWebEnginePage>> FPages;
};
