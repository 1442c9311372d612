#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QWebEnginePage;
class QWebEngineProfile;

// The store's URL texts: placeholders filled in just before a page loads, and the filter that
// keeps the account query and the reader's identifier out of what the user sees.
// User name and password are percent-encoded, each on its own, so that "@", "/", "?", "#" or
// "&" in them reach the store as typed wherever the placeholder stands and never change where
// the request goes.
QString AuthText(const QString& user, const QString& password);
QString DeviceSegment(const QString& identifier);
// Replaces the first "{{AUTH}}" by `authText`, then the first "{{DEVICE}}" by the device
// segment of `identifier`; later placeholders stay.
QString SubstituteStoreUrl(const QString& url, const QString& authText, const QString& identifier);

// What the display filter hides besides the binding query and a URL's user part: every reader
// identifier of this run (a page may still carry one after its reader left) and every
// credentials text that was filled in.
struct TUrlSecrets
{
    QStringList Identifiers;
    QStringList AuthTexts;
};
QString DisplayUrl(const QString& text, const TUrlSecrets& secrets);

// The browser profile of the store's tabs and the binding dialog: cookies, local storage and
// the cache stay in the user's folders, so a store login survives a restart. One per process,
// made on first use and owned by the application, so that every page using it goes first.
QWebEngineProfile* StoreProfile();

// A requested URL shown before its page has a location: without its first "{{DEVICE}}".
QString RequestedUrlForDisplay(const QString& url);

// The scheme, host and port of a URL the way a page sees its own origin ("" for anything but
// http and https, so local files never count as the store).
QString StoreOrigin(const QString& url);

// The object behind `window.external` of the browser tabs. Pages cannot call into the program
// synchronously, so the identifier is pushed into the pages instead. Whoever reads it can act
// as the reader at the store, so it goes only where the engine itself has decided, per frame
// and before any of the frame's own scripts run, that the document belongs to a store origin:
// - every frame gets a script without the identifier that defines a `DeviceID` of "";
// - frames whose address is on a store origin get, in its place, a script that holds the
//   identifier (the engine injects it only into documents whose URL matches those origins);
// - when the reader changes, the open documents are told through window messages addressed to
//   the store origins only, which the engine delivers to no other origin. The new identifier is
//   sent only from a top document that is itself on a store origin, from a script world the
//   page's own scripts cannot reach; a removal ("") is sent from every top document.
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
    // Every identifier seen in this run, for the display filter.
    static const QStringList& KnownIdentifiers();

    // Origins (see StoreOrigin) whose pages may read the identifier.
    void SetStoreOrigins(const QStringList& urls);
    const QStringList& StoreOrigins() const { return FOrigins; }

    // Gives a page the object from its next document on; the page is followed until it dies.
    void Install(QWebEnginePage* page);
    // Re-reads the identifier and hands it to every installed page.
    void Refresh();

private:
    void UpdatePage(QWebEnginePage* page);
    void TellPage(QWebEnginePage* page, const QString& identifier);

    TIdentitySource FSource;
    QStringList FOrigins;
    QString FLastId;
    // Marks the program's own window messages, so a page cannot forge one.
    QString FToken;
    QList<QPointer<QWebEnginePage>> FPages;
};
