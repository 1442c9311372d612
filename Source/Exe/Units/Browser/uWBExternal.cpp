#include "uWBExternal.h"

#include "DevID.h"
#include "Folders.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>
#include <QUuid>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include <cstring>

namespace {

const QString AuthPlaceholder = QStringLiteral("{{AUTH}}");
const QString DevicePlaceholder = QStringLiteral("{{DEVICE}}");
const QString LoginPrefix = QStringLiteral("login.action?DEVICEID=");
const QString BindingPath = QStringLiteral("bangDingFromVarnix.action?");
const QString BaseScriptName = QStringLiteral("vAdaziv.external");
const QString StoreScriptName = QStringLiteral("vAdaziv.external.store");

// Identifiers shorter than this are not searched for outside their login segment: removing
// such a short text wherever it stands would mangle ordinary addresses.
constexpr int MinBareIdentifier = 6;

QString ReplaceFirst(QString text, const QString& what, const QString& by)
{
    const qsizetype at = text.indexOf(what);
    if (at >= 0) text.replace(at, what.size(), by);
    return text;
}

QString JsString(const QString& text)
{
    // A JSON array of one string, unwrapped: quotes, backslashes and line breaks escaped.
    const QByteArray json = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}

QString JsStrings(const QStringList& texts)
{
    return QString::fromUtf8(
        QJsonDocument(QJsonArray::fromStringList(texts)).toJson(QJsonDocument::Compact));
}

// Every frame: a `DeviceID` of "" unless the store's script below has defined it already.
const char BaseScript[] = R"JS((function () {
  "use strict";
  var current = window.external;
  if (current && Object.prototype.hasOwnProperty.call(current, "DeviceID")) return;
  var external = {};
  Object.defineProperty(external, "DeviceID", {
    get: function () { return ""; }, enumerable: true });
  Object.defineProperty(window, "external", { value: external, configurable: true });
})();)JS";

// Store frames only (the header's patterns): the identifier, and a listener for the program's
// messages. A new identifier is taken only from a sender on a store origin; a removal from any.
const char StoreScript[] = R"JS(// ==UserScript==
%1// ==/UserScript==
(function () {
  "use strict";
  var value = %2;
  var token = %3;
  var origins = %4;
  var external = {};
  Object.defineProperty(external, "DeviceID", {
    get: function () { return value; }, enumerable: true });
  Object.defineProperty(window, "external", { value: external, configurable: true });
  window.addEventListener("message", function (event) {
    var data = event.data;
    if (!data || typeof data !== "object" || data.token !== token) return;
    event.stopImmediatePropagation();
    if (typeof data.id !== "string") return;
    if (data.id === "" || origins.indexOf(event.origin) >= 0) value = data.id;
  }, true);
})();)JS";

// Run in the top document's own script world: hands the message to every frame of the page,
// addressed to the store origins only. A new identifier leaves only a store document.
const char TellScript[] = R"JS((function () {
  "use strict";
  var message = { token: %1, id: %2 };
  var origins = %3;
  if (message.id !== "" && origins.indexOf(location.origin) < 0) return;
  function tell(w) {
    for (var i = 0; i < origins.length; ++i) {
      try { w.postMessage(message, origins[i]); } catch (e) {}
    }
    var n = 0;
    try { n = w.frames.length; } catch (e) {}
    for (var j = 0; j < n; ++j) {
      try { tell(w.frames[j]); } catch (e) {}
    }
  }
  tell(window);
})();)JS";

// The engine's address pattern for the documents of one origin.
QString OriginPattern(const QString& origin)
{
    return QStringLiteral("// @include ") + origin + QStringLiteral("/*\n");
}

QStringList& IdentifiersSeen()
{
    static QStringList ids;
    return ids;
}

} // namespace

QString AuthText(const QString& user, const QString& password)
{
    if (user.isEmpty() && password.isEmpty()) return QString();
    return QString::fromLatin1(QUrl::toPercentEncoding(user)) + u':' +
           QString::fromLatin1(QUrl::toPercentEncoding(password));
}

QString DeviceSegment(const QString& identifier)
{
    return identifier.isEmpty() ? QString() : LoginPrefix + identifier;
}

QString SubstituteStoreUrl(const QString& url, const QString& authText, const QString& identifier)
{
    return ReplaceFirst(ReplaceFirst(url, AuthPlaceholder, authText), DevicePlaceholder,
                        DeviceSegment(identifier));
}

QString DisplayUrl(const QString& text, const TUrlSecrets& secrets)
{
    QString result = text;
    // Credentials filled into a URL's user part are never shown either.
    const qsizetype schemeEnd = result.indexOf(QLatin1String("://"));
    if (schemeEnd > 0) {
        const qsizetype hostStart = schemeEnd + 3;
        qsizetype hostEnd = result.size();
        for (const QChar c : {u'/', u'?', u'#'}) {
            const qsizetype at = result.indexOf(c, hostStart);
            if (at >= 0 && at < hostEnd) hostEnd = at;
        }
        const qsizetype at = result.lastIndexOf(u'@', hostEnd - 1);
        if (at >= hostStart) result.remove(hostStart, at + 1 - hostStart);
    }
    const qsizetype binding = result.indexOf(BindingPath);
    if (binding >= 0) result.truncate(binding + BindingPath.size());
    for (const QString& id : secrets.Identifiers) {
        if (id.isEmpty()) continue;
        result.remove(LoginPrefix + id);
        if (id.size() >= MinBareIdentifier) result.remove(id);
    }
    for (const QString& auth : secrets.AuthTexts) {
        if (auth.isEmpty()) continue;
        // As filled in, fully decoded, and as an address shows it after a round trip.
        static const QString query = QStringLiteral("http://h/?");
        const QString decoded = QUrl::fromPercentEncoding(auth.toLatin1());
        const QString shown = QUrl(query + auth).toString().mid(query.size());
        for (const QString& form : {auth, shown, decoded})
            if (!form.isEmpty() && form != QLatin1String(":")) result.remove(form);
    }
    return result;
}

QString RequestedUrlForDisplay(const QString& url)
{
    return ReplaceFirst(url, DevicePlaceholder, QString());
}

QString StoreOrigin(const QString& url)
{
    const QUrl u(url);
    const QString scheme = u.scheme().toLower();
    if (!u.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        u.host().isEmpty())
        return QString();
    QString origin = scheme + QLatin1String("://") + u.host(QUrl::FullyEncoded);
    const int port = u.port();
    if (port >= 0 && port != (scheme == QLatin1String("http") ? 80 : 443))
        origin += u':' + QString::number(port);
    return origin;
}

QWebEngineProfile* StoreProfile()
{
    static QPointer<QWebEngineProfile> profile;
    if (!profile) {
        // A named profile keeps its data on disk; the default one forgets it at exit.
        profile = new QWebEngineProfile(QStringLiteral("Store"), QCoreApplication::instance());
        profile->setPersistentStoragePath(Folders::BrowserDataFolder());
        profile->setCachePath(Folders::BrowserCacheFolder());
        profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        profile->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    }
    return profile;
}

TWBExternal::TWBExternal(TIdentitySource source, QObject* parent)
    : QObject(parent), FSource(std::move(source)),
      FToken(QUuid::createUuid().toString(QUuid::WithoutBraces))
{
}

TWBExternal::~TWBExternal() = default;

const QStringList& TWBExternal::KnownIdentifiers()
{
    return IdentifiersSeen();
}

QString TWBExternal::DeviceID() const
{
    TDeviceIdentity identity;
    std::memset(&identity, 0, sizeof identity);
    if (FSource) FSource(&identity);
    const QString id = QString::fromStdString(IdentifierText(identity));
    if (!id.isEmpty() && !IdentifiersSeen().contains(id)) IdentifiersSeen() << id;
    return id;
}

void TWBExternal::SetStoreOrigins(const QStringList& urls)
{
    QStringList origins;
    for (const QString& url : urls) {
        const QString origin = StoreOrigin(url);
        if (!origin.isEmpty() && !origins.contains(origin)) origins << origin;
    }
    if (origins == FOrigins) return;
    FOrigins = origins;
    Refresh();
}

void TWBExternal::Install(QWebEnginePage* page)
{
    if (!page) return;
    FPages.removeAll(nullptr);
    if (!FPages.contains(page)) FPages << page;
    // The reader may have changed since the last page was given the object.
    Refresh();
}

void TWBExternal::UpdatePage(QWebEnginePage* page)
{
    QWebEngineScriptCollection& scripts = page->scripts();
    for (const QString& name : {BaseScriptName, StoreScriptName})
        for (const QWebEngineScript& old : scripts.find(name))
            scripts.remove(old);

    // Both run in every frame's own world as its document is created; the engine may still
    // leave one out by the patterns in its header.
    const auto insert = [&](const QString& name, const QString& source) {
        QWebEngineScript script;
        script.setSourceCode(source);
        script.setName(name);
        script.setInjectionPoint(QWebEngineScript::DocumentCreation);
        script.setWorldId(QWebEngineScript::MainWorld);
        script.setRunsOnSubFrames(true);
        scripts.insert(script);
    };
    insert(BaseScriptName, QString::fromLatin1(BaseScript));
    if (FOrigins.isEmpty()) return;

    // The engine matches the patterns against each frame's own address before the frame runs
    // anything, so no other origin ever receives this source.
    QString patterns;
    for (const QString& origin : FOrigins)
        patterns += OriginPattern(origin);
    insert(StoreScriptName,
           QString::fromLatin1(StoreScript)
               .arg(patterns, JsString(FLastId), JsString(FToken), JsStrings(FOrigins)));
}

void TWBExternal::TellPage(QWebEnginePage* page, const QString& identifier)
{
    if (FOrigins.isEmpty()) return;
    // A new identifier goes only into a page whose top document is on a store origin (the
    // script checks again in the document itself, which may have changed since). Store frames
    // inside another site's page lose the old one instead, and learn the new one when they load.
    const bool storeTop = FOrigins.contains(StoreOrigin(page->url().toString()));
    const QString id = storeTop ? identifier : QString();
    page->runJavaScript(
        QString::fromLatin1(TellScript).arg(JsString(FToken), JsString(id), JsStrings(FOrigins)),
        QWebEngineScript::ApplicationWorld);
}

void TWBExternal::Refresh()
{
    FLastId = DeviceID();
    FPages.removeAll(nullptr);
    for (const QPointer<QWebEnginePage>& page : FPages) {
        UpdatePage(page);
        // The documents on display were made with the old value.
        TellPage(page, FLastId);
    }
}
