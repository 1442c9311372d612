#include "uWBExternal.h"

#include "DevID.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include <cstring>

namespace {

const QString AuthPlaceholder = QStringLiteral("{{AUTH}}");
const QString DevicePlaceholder = QStringLiteral("{{DEVICE}}");
const QString LoginPrefix = QStringLiteral("login.action?DEVICEID=");
const QString BindingPath = QStringLiteral("bangDingFromVarnix.action?");
const QString ScriptName = QStringLiteral("vAdaziv.external");

QString ReplaceFirst(QString text, const QString& what, const QString& by)
{
    const qsizetype at = text.indexOf(what);
    if (at >= 0) text.replace(at, what.size(), by);
    return text;
}

// Defines window.external once per document; run again on the same document it only hands
// the new value to the object already there, so references a page keeps stay current. The
// origin is taken from location, which a page cannot redefine.
const char ExternalScript[] = R"JS((function () {
  var data = %1;
  var here = location.protocol + "//" + location.host;
  var value = "";
  for (var i = 0; i < data.origins.length; ++i)
    if (data.origins[i] === here) { value = data.id; break; }
  var key = Symbol.for("vAdaziv.external.update");
  var current = window.external;
  if (current && typeof current[key] === "function") { current[key](value); return; }
  var external = {};
  Object.defineProperty(external, "DeviceID", {
    get: function () { return value; }, enumerable: true });
  Object.defineProperty(external, key, { value: function (v) { value = String(v); } });
  Object.defineProperty(window, "external", { value: external, configurable: true });
})();)JS";

} // namespace

QString AuthText(const QString& user, const QString& password)
{
    const QString text = user + u':' + password;
    return text == QLatin1String(":") ? QString() : text;
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

QString DisplayUrl(const QString& text, const QString& identifier)
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
    if (!identifier.isEmpty()) result = ReplaceFirst(result, LoginPrefix + identifier, QString());
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

TWBExternal::TWBExternal(TIdentitySource source, QObject* parent)
    : QObject(parent), FSource(std::move(source))
{
}

TWBExternal::~TWBExternal() = default;

QString TWBExternal::DeviceID() const
{
    TDeviceIdentity identity;
    std::memset(&identity, 0, sizeof identity);
    if (FSource) FSource(&identity);
    return QString::fromStdString(IdentifierText(identity));
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

QString TWBExternal::ScriptSource() const
{
    QJsonObject data;
    data.insert(QStringLiteral("id"), FLastId);
    data.insert(QStringLiteral("origins"), QJsonArray::fromStringList(FOrigins));
    return QString::fromLatin1(ExternalScript)
        .arg(QString::fromUtf8(QJsonDocument(data).toJson(QJsonDocument::Compact)));
}

void TWBExternal::Install(QWebEnginePage* page)
{
    if (!page) return;
    FPages.removeAll(nullptr);
    if (!FPages.contains(page)) FPages << page;
    // The reader may have changed since the last page was given the object.
    Refresh();
}

void TWBExternal::UpdatePage(QWebEnginePage* page, const QString& source)
{
    QWebEngineScriptCollection& scripts = page->scripts();
    for (const QWebEngineScript& old : scripts.find(ScriptName))
        scripts.remove(old);
    QWebEngineScript script;
    script.setName(ScriptName);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(true);
    script.setSourceCode(source);
    scripts.insert(script);
}

void TWBExternal::Refresh()
{
    FLastId = DeviceID();
    const QString source = ScriptSource();
    FPages.removeAll(nullptr);
    for (const QPointer<QWebEnginePage>& page : FPages) {
        UpdatePage(page, source);
        // The document on display was made with the old value.
        page->runJavaScript(source, QWebEngineScript::MainWorld);
    }
}
