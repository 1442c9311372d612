#include "Skins.h"

#include "Codec936.h"
#include "Folders.h"
#include "uMsgDlg.h"
#include "ZipSkinRes.h"

#include <algorithm>
#include <QBuffer>
#include <QColor>
#include <QGuiApplication>
#include <QPalette>
#include <QPoint>
#include <QSet>
#include <QWidget>

#include <cassert>
#include <limits>

// ---------------------------------------------------------------------------------------------
// Colours

namespace {

struct TColorName
{
    const char* Name; // with its "cl" prefix, as the skin's text is looked up
    TColor Value;
};

// Literal colours, then system colours by index, then the drawing layer's two markers.
constexpr TColorName ColorNames[] = {
    {"clBlack", RGBToColor(0, 0, 0)},
    {"clMaroon", RGBToColor(128, 0, 0)},
    {"clGreen", RGBToColor(0, 128, 0)},
    {"clOlive", RGBToColor(128, 128, 0)},
    {"clNavy", RGBToColor(0, 0, 128)},
    {"clPurple", RGBToColor(128, 0, 128)},
    {"clTeal", RGBToColor(0, 128, 128)},
    {"clGray", RGBToColor(128, 128, 128)},
    {"clSilver", RGBToColor(192, 192, 192)},
    {"clRed", RGBToColor(255, 0, 0)},
    {"clLime", RGBToColor(0, 255, 0)},
    {"clYellow", RGBToColor(255, 255, 0)},
    {"clBlue", RGBToColor(0, 0, 255)},
    {"clFuchsia", RGBToColor(255, 0, 255)},
    {"clAqua", RGBToColor(0, 255, 255)},
    {"clWhite", RGBToColor(255, 255, 255)},
    {"clMoneyGreen", RGBToColor(192, 220, 192)},
    {"clSkyBlue", RGBToColor(166, 202, 240)},
    {"clCream", RGBToColor(255, 251, 240)},
    {"clMedGray", RGBToColor(160, 160, 164)},
    {"clScrollBar", clSystemColor | 0},
    {"clBackground", clSystemColor | 1},
    {"clActiveCaption", clSystemColor | 2},
    {"clInactiveCaption", clSystemColor | 3},
    {"clMenu", clSystemColor | 4},
    {"clWindow", clSystemColor | 5},
    {"clWindowFrame", clSystemColor | 6},
    {"clMenuText", clSystemColor | 7},
    {"clWindowText", clSystemColor | 8},
    {"clCaptionText", clSystemColor | 9},
    {"clActiveBorder", clSystemColor | 10},
    {"clInactiveBorder", clSystemColor | 11},
    {"clAppWorkSpace", clSystemColor | 12},
    {"clHighlight", clSystemColor | 13},
    {"clHighlightText", clSystemColor | 14},
    {"clBtnFace", clSystemColor | 15},
    {"clBtnShadow", clSystemColor | 16},
    {"clGrayText", clSystemColor | 17},
    {"clBtnText", clSystemColor | 18},
    {"clInactiveCaptionText", clSystemColor | 19},
    {"clBtnHighlight", clSystemColor | 20},
    {"cl3DDkShadow", clSystemColor | 21},
    {"cl3DLight", clSystemColor | 22},
    {"clInfoText", clSystemColor | 23},
    {"clInfoBk", clSystemColor | 24},
    {"clHotLight", clSystemColor | 26},
    {"clGradientActiveCaption", clSystemColor | 27},
    {"clGradientInactiveCaption", clSystemColor | 28},
    {"clMenuHighlight", clSystemColor | 29},
    {"clMenuBar", clSystemColor | 30},
    {"clNone", clNone},
    {"clDefault", clDefault},
};
static_assert(std::size(ColorNames) == 52);

struct TSystemRole
{
    QPalette::ColorGroup Group;
    QPalette::ColorRole Role;
};

// The palette role that plays each system colour's part on this desktop.
constexpr TSystemRole SystemRoles[] = {
    {QPalette::Active, QPalette::Midlight},        // 0 scroll bar
    {QPalette::Active, QPalette::Dark},            // 1 desktop
    {QPalette::Active, QPalette::Highlight},       // 2 active caption
    {QPalette::Inactive, QPalette::Mid},           // 3 inactive caption
    {QPalette::Active, QPalette::Window},          // 4 menu
    {QPalette::Active, QPalette::Base},            // 5 window
    {QPalette::Active, QPalette::Shadow},          // 6 window frame
    {QPalette::Active, QPalette::WindowText},      // 7 menu text
    {QPalette::Active, QPalette::Text},            // 8 window text
    {QPalette::Active, QPalette::HighlightedText}, // 9 caption text
    {QPalette::Active, QPalette::Button},          // 10 active border
    {QPalette::Inactive, QPalette::Button},        // 11 inactive border
    {QPalette::Active, QPalette::Dark},            // 12 application work space
    {QPalette::Active, QPalette::Highlight},       // 13 highlight
    {QPalette::Active, QPalette::HighlightedText}, // 14 highlighted text
    {QPalette::Active, QPalette::Button},          // 15 button face
    {QPalette::Active, QPalette::Dark},            // 16 button shadow
    {QPalette::Disabled, QPalette::Text},          // 17 grey text
    {QPalette::Active, QPalette::ButtonText},      // 18 button text
    {QPalette::Disabled, QPalette::WindowText},    // 19 inactive caption text
    {QPalette::Active, QPalette::Light},           // 20 button highlight
    {QPalette::Active, QPalette::Shadow},          // 21 3-D dark shadow
    {QPalette::Active, QPalette::Midlight},        // 22 3-D light
    {QPalette::Active, QPalette::ToolTipText},     // 23 info text
    {QPalette::Active, QPalette::ToolTipBase},     // 24 info background
    {QPalette::Active, QPalette::Window},          // 25 (unused)
    {QPalette::Active, QPalette::Link},            // 26 hot light
    {QPalette::Active, QPalette::Highlight},       // 27 gradient of the active caption
    {QPalette::Inactive, QPalette::Midlight},      // 28 gradient of the inactive caption
    {QPalette::Active, QPalette::Highlight},       // 29 menu highlight
    {QPalette::Active, QPalette::Window},          // 30 menu bar
};

bool IsBlank(QChar c)
{
    return c.unicode() >= 1 && c.unicode() <= 32;
}

} // namespace

TColor ColorToRGB(TColor color)
{
    if ((static_cast<quint32>(color) & 0xFF000000u) != 0xFF000000u) return color;
    const quint32 index = static_cast<quint32>(color) & 0xFFu;
    if (index >= std::size(SystemRoles)) return clBlack;
    const QPalette palette = QGuiApplication::palette();
    const QColor c = palette.color(SystemRoles[index].Group, SystemRoles[index].Role);
    return RGBToColor(c.red(), c.green(), c.blue());
}

QColor ColorToQColor(TColor color)
{
    if (color == clNone || color == clDefault) return QColor();
    const TColor rgb = ColorToRGB(color);
    return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

ESkinException::ESkinException(const QString& message)
    : std::runtime_error(message.toUtf8().toStdString())
{
}

TSkinValue::TSkinValue() = default;
TSkinValue::~TSkinValue() = default;

const QImage* EmptyBitmap()
{
    static const QImage empty;
    return &empty;
}

// ---------------------------------------------------------------------------------------------
// Parsers

namespace SkinValues {

QStringList SplitItems(const QString& value)
{
    QStringList items;
    const qsizetype n = value.size();
    // A NUL ends the text, as it would in the file's own terms.
    const auto at = [&](qsizetype i) { return i < n ? value.at(i) : QChar(); };
    qsizetype i = 0;
    while (IsBlank(at(i)))
        ++i;
    while (!at(i).isNull()) {
        QString item;
        if (at(i) == u'"') {
            ++i;
            while (!at(i).isNull()) {
                if (at(i) == u'"') {
                    if (at(i + 1) == u'"') {
                        item += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += at(i++);
            }
        } else {
            const qsizetype start = i;
            while (!at(i).isNull() && at(i).unicode() > 32 && at(i) != u',')
                ++i;
            item = value.mid(start, i - start);
        }
        items.append(item);
        while (IsBlank(at(i)))
            ++i;
        if (at(i) == u',') {
            do
                ++i;
            while (IsBlank(at(i)));
            if (at(i).isNull()) items.append(QString());
        }
    }
    return items;
}

bool ParseInteger(const QString& text, qint32& value)
{
    if (text.isEmpty()) {
        value = 0;
        return true;
    }
    if (text.startsWith(u'$')) {
        if (text.size() < 2) return false;
        quint64 v = 0;
        for (qsizetype i = 1; i < text.size(); ++i) {
            const char16_t c = text.at(i).unicode();
            int digit = -1;
            if (c >= u'0' && c <= u'9')
                digit = c - u'0';
            else if (c >= u'a' && c <= u'f')
                digit = c - u'a' + 10;
            else if (c >= u'A' && c <= u'F')
                digit = c - u'A' + 10;
            if (digit < 0) return false;
            v = v * 16 + static_cast<quint64>(digit);
            if (v > 0xFFFFFFFFull) return false;
        }
        value = static_cast<qint32>(static_cast<quint32>(v));
        return true;
    }
    qsizetype i = 0;
    bool negative = false;
    if (text.at(0) == u'+' || text.at(0) == u'-') {
        negative = text.at(0) == u'-';
        i = 1;
    }
    if (i >= text.size()) return false;
    qint64 v = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9') return false;
        v = v * 10 + (c - u'0');
        if (v > 2147483648LL) return false;
    }
    if (negative) v = -v;
    if (v > 2147483647LL) return false;
    value = static_cast<qint32>(v);
    return true;
}

bool ParseBool(const QString& text, bool& value)
{
    if (text.compare(u"True", Qt::CaseInsensitive) == 0) {
        value = true;
        return true;
    }
    if (text.compare(u"False", Qt::CaseInsensitive) == 0) {
        value = false;
        return true;
    }
    qint32 number = 0;
    if (text.isEmpty() || !ParseInteger(text, number)) return false;
    value = number != 0;
    return true;
}

bool ParseColor(const QString& text, TColor& color)
{
    const QString name = QStringLiteral("cl") + text;
    for (const TColorName& entry : ColorNames) {
        if (name.compare(QLatin1String(entry.Name), Qt::CaseInsensitive) == 0) {
            color = ColorToRGB(entry.Value);
            return true;
        }
    }
    qint32 number = 0;
    if (!text.isEmpty() && ParseInteger(text, number)) {
        color = number;
        return true;
    }
    const QStringList items = SplitItems(text);
    if (items.size() != 3) return false;
    qint32 rgb[3] = {};
    for (int k = 0; k < 3; ++k)
        if (!ParseInteger(items.at(k), rgb[k])) return false;
    color = RGBToColor(rgb[0], rgb[1], rgb[2]);
    return true;
}

bool ParseFont(const QString& text, TSkinFont& font)
{
    const QStringList items = SplitItems(text);
    if (items.size() != 4) return false;
    TSkinFont result;
    if (!items.at(0).isEmpty()) result.Font.setFamily(items.at(0));
    if (!items.at(1).isEmpty()) {
        qint32 size = 0;
        if (!ParseInteger(items.at(1), size)) return false;
        // A negative size is a height in pixels; 0 keeps the font's own size. Sizes beyond
        // what any screen shows are brought back to the largest readable one.
        if (size > 0)
            result.Font.setPointSize(std::min(size, MaxSkinFontSize));
        else if (size < 0)
            result.Font.setPixelSize(int(std::min<qint64>(-qint64(size), MaxSkinFontSize)));
    }
    if (!items.at(3).isEmpty()) {
        bool bold = false, italic = false, underline = false, strikeOut = false;
        for (QChar c : items.at(3)) {
            switch (c.unicode()) {
            case u'B':
                bold = true;
                break;
            case u'I':
                italic = true;
                break;
            case u'U':
                underline = true;
                break;
            case u'S':
                strikeOut = true;
                break;
            default:
                return false;
            }
        }
        result.Font.setBold(bold);
        result.Font.setItalic(italic);
        result.Font.setUnderline(underline);
        result.Font.setStrikeOut(strikeOut);
    }
    if (!items.at(2).isEmpty() && !ParseColor(items.at(2), result.Color)) return false;
    font = result;
    return true;
}

} // namespace SkinValues

// ---------------------------------------------------------------------------------------------
// Subclasses and the nexus

TSubclass::TSubclass(TSkinManager* manager, QWidget* control, const QString& section)
    : FManager(manager), FControl(control), FSection(section)
{
    assert(manager && "a subclass needs a manager");
    assert(control && "a subclass needs a control");
    assert(!section.isEmpty() && "a subclass needs a section");
}

TSubclass::~TSubclass() = default;

void TSubclass::Free(TSubclass* subclass)
{
    if (!subclass) return;
    if (subclass->FControl) {
        subclass->Uninstall();
        subclass->Release();
    }
    delete subclass;
}

TComponentNexus& TComponentNexus::Instance()
{
    static TComponentNexus nexus;
    return nexus;
}

TComponentNexus::~TComponentNexus()
{
    for (TEntry& entry : FEntries)
        QObject::disconnect(entry.Watch);
}

bool TComponentNexus::Register(QWidget* control, TSubclass* subclass)
{
    if (!control || !subclass) return false;
    TEntry& entry = FEntries[control];
    if (entry.Subclass) return false;
    entry.Subclass = subclass;
    if (!entry.Watch)
        entry.Watch = QObject::connect(control, &QObject::destroyed,
                                       [this](QObject* gone) { Unregister(gone); });
    return true;
}

bool TComponentNexus::IsSubclassed(const QWidget* control) const
{
    return SubclassOf(control) != nullptr;
}

TSubclass* TComponentNexus::SubclassOf(const QWidget* control) const
{
    const auto it = FEntries.constFind(control);
    return it == FEntries.constEnd() ? nullptr : it->Subclass;
}

void TComponentNexus::ReleaseAll(TSkinManager* manager)
{
    // Collect first: freeing a subclass may touch its control, and nothing here may change the
    // table while it is walked.
    std::vector<TSubclass*> doomed;
    for (TEntry& entry : FEntries) {
        if (!entry.Subclass || (manager && entry.Subclass->FManager != manager)) continue;
        doomed.push_back(entry.Subclass);
        entry.Subclass = nullptr;
        QObject::disconnect(entry.Watch);
        entry.Watch = {};
    }
    for (TSubclass* subclass : doomed)
        TSubclass::Free(subclass);
}

void TComponentNexus::Unregister(QObject* control)
{
    const auto it = FEntries.find(control);
    if (it == FEntries.end()) return;
    TSubclass* subclass = it->Subclass;
    FEntries.erase(it);
    if (!subclass) return;
    // The control is being destroyed: there is nothing left to unhook.
    subclass->FControl = nullptr;
    TSubclass::Free(subclass);
}

// ---------------------------------------------------------------------------------------------
// The manager

TSkinManager::TSkinManager(QObject* owner) : QObject(owner) {}

TSkinManager::~TSkinManager()
{
    TComponentNexus::Instance().ReleaseAll(this);
    for (const QPointer<QWidget>& control : FOwned)
        delete control.data();
    FOwned.clear();
    UnloadSkin();
    FResource.reset();
}

void TSkinManager::SetResource(TSkinResourceRef resource)
{
    if (resource == FResource) return;
    UnloadSkin();
    FResource = std::move(resource);
    if (FResource) LoadSkin();
}

void TSkinManager::UnloadSkin()
{
    FCache.clear();
    FIni.clear();
    FSkippedPictures.clear();
}

void TSkinManager::LoadSkin()
{
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    if (!ReadFile(QStringLiteral("skin.ini"), buffer)) return;
    const QByteArray bytes = buffer.data();
    if (bytes.size() > MaxSkinFileSize) return;
    // The file is in the system's code page; a file saved by an editor as UTF-8 with a byte
    // order mark is taken as UTF-8, so the same text does not turn into nonsense.
    const QString text = bytes.startsWith("\xEF\xBB\xBF") ? QString::fromUtf8(bytes.mid(3))
                                                          : Cp936::ToUnicode(bytes);
    QHash<QString, QString>* section = nullptr;
    QSet<QString> seenSections;
    const auto trimmed = [](QStringView line) {
        qsizetype from = 0, to = line.size();
        while (from < to && line.at(from).unicode() <= 32)
            ++from;
        while (to > from && line.at(to - 1).unicode() <= 32)
            --to;
        return line.mid(from, to - from);
    };
    qsizetype pos = 0;
    while (pos <= text.size()) {
        qsizetype end = pos;
        while (end < text.size() && text.at(end) != u'\r' && text.at(end) != u'\n')
            ++end;
        const QStringView line = trimmed(QStringView(text).mid(pos, end - pos));
        if (end < text.size() && text.at(end) == u'\r' && end + 1 < text.size() &&
            text.at(end + 1) == u'\n')
            ++end;
        pos = end + 1;

        if (line.isEmpty() || line.startsWith(u';')) continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            const QString name = trimmed(line.mid(1, line.size() - 2)).toString().toLower();
            // Only the first section of a name is ever searched.
            if (seenSections.contains(name)) {
                section = nullptr;
            } else {
                seenSections.insert(name);
                section = &FIni[name];
            }
            continue;
        }
        if (!section) continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0) continue; // kept by the file, but never a key
        const QString key = trimmed(line.left(eq)).toString().toLower();
        if (!section->contains(key)) section->insert(key, trimmed(line.mid(eq + 1)).toString());
    }
}

bool TSkinManager::ReadFile(const QString& name, QIODevice& stream)
{
    if (!FResource) return false;
    FResource->Open();
    struct TCloser
    {
        TSkinResource* Resource;
        ~TCloser() { Resource->Close(); }
    } closer{FResource.get()};
    return FResource->Read(name, stream);
}

QString TSkinManager::RawValue(const QString& section, const QString& key) const
{
    const auto s = FIni.constFind(section.toLower());
    if (s == FIni.constEnd()) return QString();
    return s->value(key.toLower());
}

QStringList TSkinManager::Keys(const QString& section) const
{
    QStringList keys;
    const auto s = FIni.constFind(section.toLower());
    if (s == FIni.constEnd()) return keys;
    for (auto it = s->constBegin(); it != s->constEnd(); ++it)
        if (!it.value().isEmpty()) keys << it.key();
    return keys;
}

bool TSkinManager::HasValue(const QString& section, const QString& key) const
{
    return !RawValue(section, key).isEmpty();
}

const TSkinValue* TSkinManager::Lookup(const QString& section, const QString& key, int count,
                                       TSkinValueKind kind)
{
    const QString raw = RawValue(section, key);
    QString cacheKey = kind == skBitmap
                           ? raw.toLower()
                           : (QLatin1Char('[') + section + QLatin1String("].") + key).toLower();
    auto it = FCache.constFind(cacheKey);
    // A key read once as one type and then as another (an integer and then a rectangle) gets
    // an entry of its own per type, so the answer never depends on which question came first.
    if (it != FCache.constEnd() && *it &&
        ((*it)->Kind != kind || (*it)->Count != std::max(count, 1))) {
        cacheKey += QLatin1Char('\x01') + QString::number(kind) + QLatin1Char(':') +
                    QString::number(std::max(count, 1));
        it = FCache.constFind(cacheKey);
    }
    if (it != FCache.constEnd()) return it->get();
    if (raw.isEmpty()) {
        FCache.insert(cacheKey, nullptr);
        return nullptr;
    }
    std::shared_ptr<TSkinValue> value = Parse(raw, count, kind);
    const TSkinValue* result = value.get();
    FCache.insert(cacheKey, std::move(value));
    return result;
}

std::unique_ptr<TSkinValue> TSkinManager::Parse(const QString& raw, int count, TSkinValueKind kind)
{
    const auto invalid = [&raw] {
        return ESkinException(QStringLiteral("Invalid value \"%1\"").arg(raw));
    };
    auto value = std::make_unique<TSkinValue>();
    value->Kind = kind;
    value->Count = std::max(count, 1);
    switch (kind) {
    case skStrings:
    case skIntegers: {
        const QStringList items = SkinValues::SplitItems(raw);
        if (items.size() != value->Count) throw invalid();
        if (kind == skStrings) {
            value->Strings = items;
            break;
        }
        for (const QString& item : items) {
            qint32 number = 0;
            if (!SkinValues::ParseInteger(item, number)) throw invalid();
            value->Integers.push_back(number);
        }
        break;
    }
    case skBoolean:
        if (!SkinValues::ParseBool(raw, value->Bool)) throw invalid();
        break;
    case skColor:
        if (!SkinValues::ParseColor(raw, value->Color)) throw invalid();
        break;
    case skFont:
        value->Font = std::make_unique<TSkinFont>();
        if (!SkinValues::ParseFont(raw, *value->Font)) throw invalid();
        break;
    case skBitmap:
    case skStream: {
        auto buffer = std::make_unique<QBuffer>();
        buffer->open(QIODevice::ReadWrite);
        if (!ReadFile(raw, *buffer) || buffer->data().isEmpty()) break;
        if (kind == skStream) {
            buffer->seek(0);
            value->Stream = std::move(buffer);
            break;
        }
        // Bitmaps are BMP files; PNG is taken as well, for pictures that need an alpha channel.
        const QByteArray& bytes = buffer->data();
        const char* format = bytes.startsWith("BM")                  ? "BMP"
                             : bytes.startsWith("\x89PNG\r\n\x1A\n") ? "PNG"
                                                                     : nullptr;
        auto image = std::make_unique<QImage>();
        if (!format || !image->loadFromData(bytes, format) || image->isNull()) {
            // One damaged picture costs only itself: it reads as no picture (and is remembered,
            // so it is neither read again nor kept quiet), and the rest of the skin still works.
            if (!FSkippedPictures.contains(raw)) FSkippedPictures.append(raw);
            break;
        }
        // On a dense screen the twin replaces the picture when it decodes to exactly twice
        // its size; anything else would misplace every offset, so the picture is kept.
        if (SkinPixelRatio() > 1) {
            QBuffer twin;
            twin.open(QIODevice::ReadWrite);
            QImage dense;
            if (ReadFile(TwinPictureName(raw), twin) && dense.loadFromData(twin.data()) &&
                dense.size() == image->size() * 2) {
                dense.setDevicePixelRatio(2);
                *image = std::move(dense);
            }
        }
        value->Bitmap = std::move(image);
        break;
    }
    }
    return value;
}

qint32 TSkinManager::GetInteger(const QString& section, const QString& key, qint32 defaultValue)
{
    const TSkinValue* value = Lookup(section, key, 1, skIntegers);
    return value ? value->Integers.front() : defaultValue;
}

bool TSkinManager::GetBool(const QString& section, const QString& key, bool defaultValue)
{
    const TSkinValue* value = Lookup(section, key, 1, skBoolean);
    return value ? value->Bool : defaultValue;
}

TColor TSkinManager::GetColor(const QString& section, const QString& key, TColor defaultValue)
{
    const TSkinValue* value = Lookup(section, key, 1, skColor);
    return value ? value->Color : defaultValue;
}

bool TSkinManager::GetBitmap(const QString& section, const QString& key, const QImage*& bitmap)
{
    const TSkinValue* value = Lookup(section, key, 1, skBitmap);
    if (!value || !value->Bitmap || value->Bitmap->isNull()) {
        bitmap = nullptr;
        return false;
    }
    bitmap = value->Bitmap.get();
    return true;
}

bool TSkinManager::GetPoint(const QString& section, const QString& key, QPoint& point)
{
    const TSkinValue* value = Lookup(section, key, 2, skIntegers);
    if (!value) return false;
    point = QPoint(SkinCoordinate(value->Integers[0]), SkinCoordinate(value->Integers[1]));
    return true;
}

bool TSkinManager::GetRect(const QString& section, const QString& key, TSkinRect& rect)
{
    const TSkinValue* value = Lookup(section, key, 4, skIntegers);
    if (!value) return false;
    rect = {SkinCoordinate(value->Integers[0]), SkinCoordinate(value->Integers[1]),
            SkinCoordinate(value->Integers[2]), SkinCoordinate(value->Integers[3])};
    return true;
}

bool TSkinManager::GetFont(const QString& section, const QString& key, const TSkinFont*& font)
{
    const TSkinValue* value = Lookup(section, key, 1, skFont);
    font = value ? value->Font.get() : nullptr;
    return value != nullptr;
}

bool TSkinManager::GetStream(const QString& section, const QString& key, QIODevice*& stream)
{
    const TSkinValue* value = Lookup(section, key, 1, skStream);
    stream = value ? value->Stream.get() : nullptr;
    if (stream) stream->seek(0);
    return value != nullptr;
}

void TSkinManager::CheckSubclassable(QWidget* control, const QString& section) const
{
    // A programming error, but one that must not turn into a crash while the window is built.
    if (!control || section.isEmpty())
        throw std::invalid_argument("a subclass needs a control and a section");
    if (TComponentNexus::Instance().IsSubclassed(control))
        throw ESkinException(QStringLiteral("Component has already been subclassed"));
}

void TSkinManager::Attach(TSubclass* subclass)
{
    // The section is read before anything is hooked, so a bad value leaves the control as it
    // was; whatever ReadSkin managed to hook is undone when the subclass is freed.
    try {
        subclass->ReadSkin();
    } catch (...) {
        subclass->Release();
        subclass->FControl = nullptr;
        TSubclass::Free(subclass);
        throw;
    }
    subclass->Install();
    TComponentNexus::Instance().Register(subclass->FControl, subclass);
}

void TSkinManager::Own(QWidget* control)
{
    if (control) FOwned.emplace_back(control);
}

// ---------------------------------------------------------------------------------------------

QString TwinPictureName(const QString& name)
{
    const int slash = name.lastIndexOf(u'/');
    const int dot = name.lastIndexOf(u'.');
    if (dot <= slash + 1) return name + QStringLiteral("@2x");
    return name.left(dot) + QStringLiteral("@2x") + name.mid(dot);
}

qreal SkinPixelRatio()
{
    return qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
}

bool LoadSkinArchive(TSkinManager& skins, const QString& path)
{
    const QString archive =
        path.isEmpty() ? Folders::ProgramFolder() + QStringLiteral("theme.zip") : path;
    try {
        skins.SetResource(std::make_shared<TZipSkinResource>(archive, QString()));
        return true;
    } catch (const std::exception& e) {
        skins.SetResource(nullptr);
        ShowMessageBox(QString::fromUtf8(e.what()), QStringLiteral("错误"), mbIconStop);
        return false;
    }
}

QImage KeyedOut(const QImage& picture, QRgb key)
{
    QImage result = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < result.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x)
            if ((line[x] & 0xFFFFFF) == (key & 0xFFFFFF)) line[x] = 0;
    }
    result.setDevicePixelRatio(picture.devicePixelRatio());
    return result;
}

QImage MaskedPicture(const QImage& bitmap, TColor mask)
{
    if (bitmap.hasAlphaChannel()) {
        QImage picture = bitmap.convertToFormat(QImage::Format_ARGB32);
        picture.setDevicePixelRatio(bitmap.devicePixelRatio());
        return picture;
    }
    return KeyedOut(bitmap, qRgb(mask & 0xFF, (mask >> 8) & 0xFF, (mask >> 16) & 0xFF));
}

QList<QImage> SkinImageList(TSkinManager& skins, const QString& section, TColor mask,
                            int defaultSide)
{
    const QImage* fixed = nullptr;
    const QImage* icon = nullptr;
    const bool hasFixed = skins.GetBitmap(section, QStringLiteral("FixedIcon"), fixed);
    const bool hasIcon = skins.GetBitmap(section, QStringLiteral("Icon"), icon);
    const int width = std::max(1, hasFixed ? fixed->width() : defaultSide);
    QList<QImage> images;
    const auto add = [&](const QImage* bitmap) {
        const QImage picture = MaskedPicture(*bitmap, mask);
        const int count = std::max(1, picture.width() / width);
        for (int i = 0; i < count; ++i) {
            QImage slice =
                picture.copy(i * width, 0, std::min(width, picture.width()), picture.height());
            slice.setDevicePixelRatio(bitmap->devicePixelRatio());
            images.append(slice);
        }
    };
    if (hasFixed) add(fixed);
    if (hasIcon) add(icon);
    if (hasFixed) add(fixed);
    if (hasIcon) add(icon);
    return images;
}
