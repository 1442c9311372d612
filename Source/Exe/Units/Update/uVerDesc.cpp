#include "uVerDesc.h"

#include "Codec936.h"

#include <cstring>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QXmlStreamReader>

namespace {

constexpr char OpenError[] = "无法打开XML文件";

// A hexadecimal number without prefix; 0 when it cannot be read.
qint64 ReadHex(const QString& text)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{1,15}$"));
    if (!hex.match(text).hasMatch()) return 0;
    return text.toLongLong(nullptr, 16);
}

QString Hex2(uint8_t value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

// Element children in document order, text and comments skipped.
template <typename F> void ForEachElement(const QDomElement& parent, F&& visit)
{
    for (QDomElement e = parent.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        if (!visit(e)) return;
}

bool HasElements(const QDomElement& e)
{
    return !e.isNull() && !e.firstChildElement().isNull();
}

// An absent attribute and a present empty one both read as empty here; callers that must tell
// them apart use hasAttribute.
bool EmptyOrEquals(const QDomElement& e, const QString& name, const QString& value)
{
    const QString text = e.attribute(name);
    return text.isEmpty() || text == value;
}

constexpr qint64 DateBase = 2415019; // Julian day of 1899-12-30

// A date text as days since 1899-12-30: the ISO form first, then the system's short form.
bool ReadDate(const QString& text, double& days)
{
    const QString t = text.trimmed();
    QDate date = QDate::fromString(t, Qt::ISODate);
    for (const char* format : {"yyyy/M/d", "yyyy-M-d", "yyyy.M.d"})
        if (!date.isValid()) date = QDate::fromString(t, QString::fromLatin1(format));
    if (!date.isValid()) date = QLocale::system().toDate(t, QLocale::ShortFormat);
    if (!date.isValid()) return false;
    days = static_cast<double>(date.toJulianDay() - DateBase);
    return true;
}

double Now()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QTime t = now.time();
    return static_cast<double>(now.date().toJulianDay() - DateBase) +
           t.msecsSinceStartOfDay() / 86400000.0;
}

QByteArray Bytes(const QString& text)
{
    return Cp936::FromUnicode(text);
}

} // namespace

void TVersionQuery::SetVersion(const QByteArray& text)
{
    std::memset(Version, 0, sizeof(Version));
    std::memcpy(Version, text.constData(), std::min<size_t>(text.size(), sizeof(Version)));
}

QByteArray TVersionQuery::VersionText() const
{
    return QByteArray(Version, static_cast<qsizetype>(strnlen(Version, sizeof(Version))));
}

namespace {

// A version list is a few kilobytes, a few levels deep, and declares no entities.
constexpr qint64 MaxDescriptorSize = qint64(16) << 20;
constexpr int MaxDescriptorDepth = 64;

// Read once with a stream reader before the document is built: a list nested thousands of
// levels deep, or one whose declared entities expand to gigabytes, is refused in linear time
// and memory instead of being built.
bool SafeToBuild(const QByteArray& bytes)
{
    QXmlStreamReader reader(bytes);
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (++depth > MaxDescriptorDepth) return false;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::DTD:
            if (!reader.entityDeclarations().isEmpty()) return false;
            break;
        default:
            break;
        }
    }
    return !reader.hasError();
}

} // namespace

TVerDesc::TVerDesc(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) throw EVerDescError(OpenError);
    const QByteArray bytes = file.read(MaxDescriptorSize + 1);
    if (bytes.size() > MaxDescriptorSize || !SafeToBuild(bytes)) throw EVerDescError(OpenError);
    // The parser honours the encoding declaration (GBK, GB2312 included) and never loads
    // an external DTD or entity.
    if (!FDocument.setContent(bytes, false)) throw EVerDescError(OpenError);
}

QDomElement TVerDesc::Section(const QString& name) const
{
    return FDocument.documentElement().firstChildElement(name);
}

bool TVerDesc::HasRootChildren() const
{
    return HasElements(FDocument.documentElement());
}

TVerDesc::TVersionOrder TVerDesc::CompareVersion(const QByteArray& a, const QByteArray& b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x != y) return x < y ? TVersionOrder::Older : TVersionOrder::Newer;
    }
    if (a.size() == b.size()) return TVersionOrder::Same;
    return a.size() < b.size() ? TVersionOrder::Older : TVersionOrder::Newer;
}

void TVerDesc::ApplyMappings(TVersionQuery& query) const
{
    const int code = query.ReaderCode();
    if (code == 0 || !HasRootChildren()) return;
    ForEachElement(Section(QStringLiteral("Mappings")), [&](const QDomElement& e) {
        if (ReadHex(e.attribute(QStringLiteral("ID"))) != code) return true;
        query.Model = static_cast<uint8_t>(ReadHex(e.attribute(QStringLiteral("Model"))));
        query.Edition = static_cast<uint8_t>(ReadHex(e.attribute(QStringLiteral("Edition"))));
        return false;
    });
}

QString TVerDesc::GetEditionName(const TVersionQuery& query)
{
    if (query.ReaderCode() == 0 || !HasRootChildren() ||
        !HasElements(Section(QStringLiteral("Mappings"))))
        return QString();
    TVersionQuery q = query;
    ApplyMappings(q);
    QString name;
    ForEachElement(Section(QStringLiteral("Mappings")), [&](const QDomElement& e) {
        if (!EmptyOrEquals(e, QStringLiteral("Manufacturer"), Hex2(q.Manufacturer)) ||
            ReadHex(e.attribute(QStringLiteral("Model"))) != q.Model ||
            ReadHex(e.attribute(QStringLiteral("Edition"))) != q.Edition)
            return true;
        name = e.attribute(QStringLiteral("Name"));
        bool ok = false;
        const int type = e.attribute(QStringLiteral("Type")).trimmed().toInt(&ok);
        Type = ok ? type : 1;
        return false;
    });
    return name;
}

// "ExpireVer" names the first reader version that is no longer offered firmware: a reader whose
// version is the same as or newer than it gets no offer; an older one still does. Empty or
// absent, it restricts nothing. An "ExpireDate" that cannot be read as a date ends support, as
// a restriction that cannot be checked must not be ignored.
bool TVerDesc::IsSupported(const TVersionQuery& query) const
{
    const QByteArray version = query.VersionText();
    if (!version.isEmpty() && query.ReaderCode() == 0) return true;
    if (!HasRootChildren()) return false;
    const QString manufacturer = Hex2(query.Manufacturer);
    QDomElement entry;
    ForEachElement(Section(QStringLiteral("Supported")), [&](const QDomElement& e) {
        if (e.attribute(QStringLiteral("ID")) != manufacturer) return true;
        entry = e;
        return false;
    });
    if (entry.isNull()) return false;
    bool supported = true;
    const QString model = Hex2(query.Model);
    const QString edition = Hex2(query.Edition);
    ForEachElement(entry, [&](const QDomElement& e) {
        if (e.attribute(QStringLiteral("Model")) != model ||
            !EmptyOrEquals(e, QStringLiteral("Edition"), edition))
            return true;
        if (e.hasAttribute(QStringLiteral("ExpireDate"))) {
            double expire = 0;
            if (!ReadDate(e.attribute(QStringLiteral("ExpireDate")), expire) ||
                expire <= query.QueryDate)
                supported = false;
        }
        const QString expireVer = e.attribute(QStringLiteral("ExpireVer"));
        if (!expireVer.isEmpty() &&
            CompareVersion(version, Bytes(expireVer)) != TVersionOrder::Older)
            supported = false;
        return false;
    });
    return supported;
}

void TVerDesc::PickVersion(const TVersionQuery& query, TVersion& result) const
{
    const bool firmware = query.ReaderCode() != 0;
    const QByteArray version = query.VersionText();
    const QString model = Hex2(query.Model);
    const QString edition = Hex2(query.Edition);
    const QString manufacturer = Hex2(query.Manufacturer);
    if (firmware) {
        result.Model = model;
        result.Edition = edition;
    }
    const QString kId = QStringLiteral("ID");
    const QDomElement versions = Section(QStringLiteral("Versions"));
    for (QDomElement e = versions.lastChildElement(); !e.isNull(); e = e.previousSiblingElement()) {
        if (!e.hasAttribute(kId)) continue;
        const QByteArray id = Bytes(e.attribute(kId));
        if (CompareVersion(version, id) != TVersionOrder::Older) continue;
        if (firmware) {
            if (!EmptyOrEquals(e, QStringLiteral("Manufacturer"), manufacturer) ||
                e.attribute(QStringLiteral("Model")) != model ||
                !e.hasAttribute(QStringLiteral("Edition")) ||
                e.attribute(QStringLiteral("Edition")) != edition)
                continue;
            const QDomElement required = e.firstChildElement(QStringLiteral("Required"));
            if (!required.isNull() && required.hasAttribute(QStringLiteral("Ver")) &&
                CompareVersion(version, Bytes(required.attribute(QStringLiteral("Ver")))) ==
                    TVersionOrder::Older)
                continue;
            const QDomElement baseOn = e.firstChildElement(QStringLiteral("Baseon"));
            if (!baseOn.isNull() && baseOn.hasAttribute(QStringLiteral("Ver")) &&
                CompareVersion(version, Bytes(baseOn.attribute(QStringLiteral("Ver")))) !=
                    TVersionOrder::Same)
                continue;
        } else {
            if (e.attribute(QStringLiteral("Model")).toUpper() != QLatin1String("VARNIX") ||
                e.attribute(QStringLiteral("Edition")).toUpper() == QLatin1String("EXP"))
                continue;
        }

        const TVersionOrder order = CompareVersion(Bytes(result.ID), id);
        if (order == TVersionOrder::Newer) continue;
        if (order == TVersionOrder::Same && e.hasAttribute(QStringLiteral("Date"))) {
            double entryDate = 0;
            // An entry whose date cannot be read cannot prove it is newer: the best stays.
            if (!ReadDate(e.attribute(QStringLiteral("Date")), entryDate)) continue;
            double bestDate = 0;
            if (!ReadDate(result.Date, bestDate)) bestDate = Now();
            if (bestDate >= entryDate) continue;
        }
        result.ID = e.attribute(kId);
        result.Date = e.attribute(QStringLiteral("Date"));
        result.File = e.attribute(QStringLiteral("File"));
        result.FileSize = e.attribute(QStringLiteral("FileSize"));
        const QDomElement desc = e.firstChildElement(QStringLiteral("Desc"));
        if (!desc.isNull()) result.Desc = desc.text();
        if (!firmware) result.Model = QStringLiteral("VARNIX");
    }
}

void TVerDesc::FindUpdate(const TVersionQuery& query, TVersion& result)
{
    result.ID.clear();
    result.File.clear();
    if (query.Manufacturer == 0 || (query.VersionText().isEmpty() && query.ReaderCode() == 0))
        return;
    try {
        TVersionQuery q = query;
        ApplyMappings(q);
        if (IsSupported(q)) PickVersion(q, result);
    } catch (...) {
        // Whatever result holds by now stands.
    }
}
