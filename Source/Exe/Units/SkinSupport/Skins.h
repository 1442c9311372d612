#pragma once

#include <QFont>
#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <type_traits>
#include <vector>

class QBuffer;
class QColor;
class QIODevice;
class QPoint;
class QWidget;
class TSkinManager;

// ---------------------------------------------------------------------------------------------
// Numbers of a skin are checked before any arithmetic: a damaged or hostile skin.ini may hold
// any 32-bit value, and offsets, sizes and fonts beyond these limits fit no screen.
inline constexpr int MaxSkinCoordinate = 32767;
inline constexpr int MaxSkinFontSize = 400;
inline constexpr int MaxSkinCellSize = 1024;
inline constexpr int SkinCoordinate(qint32 v)
{
    return std::clamp(v, -MaxSkinCoordinate, MaxSkinCoordinate);
}

// ---------------------------------------------------------------------------------------------
// Colour values

// A colour as the skin and the drawing code exchange it: red + green * 256 + blue * 65536 for
// a literal colour, 0xFF000000 + n for system colour n (resolved through the application's
// palette when drawn), and two markers of the drawing layer. Kept as a plain number so that a
// skin can name a system colour and still follow the desktop's palette.
using TColor = qint32;

inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clDefault = 0x20000000;
inline constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000u);
inline constexpr TColor clBtnFace = clSystemColor | 15;
inline constexpr TColor clWindow = clSystemColor | 5;
inline constexpr TColor clWindowText = clSystemColor | 8;
inline constexpr TColor clGrayText = clSystemColor | 17;
inline constexpr TColor clHighlight = clSystemColor | 13;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clFuchsia = 0xFF00FF; // the skins' usual transparent colour

inline constexpr TColor RGBToColor(int red, int green, int blue)
{
    return (red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16);
}
// A system colour becomes its current value; everything else is returned unchanged.
TColor ColorToRGB(TColor color);
// The colour to paint with; the two markers of the drawing layer give an invalid QColor.
QColor ColorToQColor(TColor color);

// ---------------------------------------------------------------------------------------------
// Errors

// The error of a bad skin: an invalid value or a control subclassed twice.
class ESkinException : public std::runtime_error
{
public:
    explicit ESkinException(const QString& message);
    QString Message() const { return QString::fromUtf8(what()); }
};

// ---------------------------------------------------------------------------------------------
// Values

// A font as a skin describes it: the font and the colour its text is drawn in.
struct TSkinFont
{
    QFont Font;
    TColor Color = clWindowText;
};

// Rectangles are given by their four edges, as written in the skin; no width/height arithmetic
// hides in them.
struct TSkinRect
{
    qint32 Left = 0;
    qint32 Top = 0;
    qint32 Right = 0;
    qint32 Bottom = 0;
    bool operator==(const TSkinRect&) const = default;
};

enum TSkinValueKind
{
    skStrings,
    skIntegers,
    skBoolean,
    skColor,
    skBitmap,
    skFont,
    skStream
};

// One parsed value, owned by the manager's cache; what the getters hand out points into it.
struct TSkinValue
{
    TSkinValue();
    ~TSkinValue();
    int Count = 0;
    TSkinValueKind Kind = skStrings;
    bool Bool = false;
    TColor Color = 0;
    std::vector<qint32> Integers;
    QStringList Strings;
    std::unique_ptr<QImage> Bitmap; // null when the entry is missing or empty
    std::unique_ptr<TSkinFont> Font;
    std::unique_ptr<QBuffer> Stream; // null when the entry is missing or empty
};

// The parsers behind the getters, usable on their own. Each returns false for text that is
// not a value of its type.
namespace SkinValues {
// Cuts a value into items at commas and, outside double quotes, at runs of blanks and control
// characters; a quoted item may hold both, and "" inside it stands for one quote.
QStringList SplitItems(const QString& value);
// Decimal, or "$" and at most eight hexadecimal digits (taken as 32 bits); empty reads as 0.
bool ParseInteger(const QString& text, qint32& value);
bool ParseBool(const QString& text, bool& value);
// A name of the colour table (without its "cl"), a number, or three numbers red, green, blue.
bool ParseColor(const QString& text, TColor& color);
// Face name, size in points, colour and the style letters B, I, U and S; each may be empty.
bool ParseFont(const QString& text, TSkinFont& font);
} // namespace SkinValues

// The one bitmap that stands for "no picture", for consumers that need an object either way.
const QImage* EmptyBitmap();

// Skin pictures on a screen with more than one device pixel per logical pixel come from the
// picture's twin "<base>@2x<ext>" (exactly twice the size) when the archive has one; such a
// picture carries a device pixel ratio of 2. Everything a skin says about a picture (offsets,
// frame widths) is in logical pixels, so consumers measure with LogicalSize and cut with
// DeviceRect.
QString TwinPictureName(const QString& name);
// The screen's ratio that decides whether twins are used (1 without a GUI application).
qreal SkinPixelRatio();
inline QSize LogicalSize(const QImage& picture)
{
    return picture.deviceIndependentSize().toSize();
}
// A rectangle in a picture's logical pixels, in its device pixels.
inline QRectF DeviceRect(const QImage& picture, const QRect& logical)
{
    const qreal r = picture.devicePixelRatio();
    return QRectF(logical.x() * r, logical.y() * r, logical.width() * r, logical.height() * r);
}

// ---------------------------------------------------------------------------------------------
// Resources

// A source of named files. Open and Close bracket every read, so an implementation can hold
// its source open only for the time of one read.
class TSkinResource
{
public:
    virtual ~TSkinResource() = default;
    virtual void Open() = 0;
    virtual void Close() = 0;
    // Appends the named file's bytes to `stream`; false when there is no such file.
    virtual bool Read(const QString& name, QIODevice& stream) = 0;
};
using TSkinResourceRef = std::shared_ptr<TSkinResource>;

// ---------------------------------------------------------------------------------------------
// Subclasses and the nexus

// The base of everything that gives a control the skin's look without changing the control's
// class. It reads its section once, then hooks the control; freeing it undoes both. The
// manager creates it (TSkinManager::Subclass) and the nexus frees it when the control goes.
class TSubclass : public QObject
{
    Q_OBJECT
public:
    TSubclass(TSkinManager* manager, QWidget* control, const QString& section);
    ~TSubclass() override;

    TSkinManager* Manager() const { return FManager; }
    QWidget* Control() const { return FControl; }
    const QString& Section() const { return FSection; }

    // Hook the control, and restore what Install replaced.
    virtual void Install() {}
    virtual void Uninstall() {}
    // Read the section and configure the control; may throw ESkinException.
    virtual void ReadSkin() {}
    // Undo the event hooks that ReadSkin made.
    virtual void Release() {}
    // Ask the control to repaint.
    virtual void Refresh() {}

    // Undoes the hooks (when the control still lives) and deletes the subclass.
    static void Free(TSubclass* subclass);

private:
    friend class TSkinManager;
    friend class TComponentNexus;
    TSkinManager* FManager;
    QWidget* FControl;
    QString FSection;
};

// The process-wide register of which control carries which subclass. It follows the
// destruction of registered controls, so a subclass never outlives its control and a control
// can be subclassed again once its subclass is gone.
class TComponentNexus
{
public:
    static TComponentNexus& Instance();
    ~TComponentNexus();

    // False when the control already carries a live subclass.
    bool Register(QWidget* control, TSubclass* subclass);
    bool IsSubclassed(const QWidget* control) const;
    TSubclass* SubclassOf(const QWidget* control) const;
    // Frees every live subclass made by `manager` (by any manager when it is null).
    void ReleaseAll(TSkinManager* manager = nullptr);

private:
    TComponentNexus() = default;
    void Unregister(QObject* control);

    struct TEntry
    {
        TSubclass* Subclass = nullptr; // null: released
        QMetaObject::Connection Watch;
    };
    QHash<const QObject*, TEntry> FEntries;
};

// ---------------------------------------------------------------------------------------------
// The manager

// Answers typed questions about the skin ("the colour under Color in [Tree]") from
// "skin.ini" in the current resource, with defaults for what the skin leaves out and a cache,
// so every value is parsed once and every bitmap entry is decoded into one shared object.
// Everything it hands out is borrowed and stays valid until the resource is replaced or the
// manager is destroyed. It also creates the drawing subclasses and owns the tool buttons.
class TSkinManager : public QObject
{
    Q_OBJECT
public:
    explicit TSkinManager(QObject* owner = nullptr);
    ~TSkinManager() override;

    const TSkinResourceRef& Resource() const { return FResource; }
    // Unloads the current skin and loads "skin.ini" of the new resource (when there is one).
    // A resource that cannot be opened throws, and the manager keeps it; see LoadSkinArchive.
    void SetResource(TSkinResourceRef resource);
    // A skin file is a few kilobytes; a larger one than this is damaged and is not read, as
    // its keys would cost a hundred times its size in memory.
    static constexpr qsizetype MaxSkinFileSize = 1 << 20;

    // Creates a subclass of class T for `control`, reading section `section`, and registers it.
    // Throws ESkinException when the control already carries one, before anything is hooked,
    // and passes on an invalid value of the section, leaving the control untouched.
    template <class T> T* Subclass(QWidget* control, const QString& section)
    {
        static_assert(std::is_base_of_v<TSubclass, T>);
        CheckSubclassable(control, section);
        auto* subclass = new T(this, control, section);
        Attach(subclass);
        return subclass;
    }

    // False without a resource; the resource is opened and closed around the read.
    bool ReadFile(const QString& name, QIODevice& stream);

    // The key has a non-empty value; nothing is parsed.
    bool HasValue(const QString& section, const QString& key) const;
    // The raw text of a key, empty when the key is missing.
    QString RawValue(const QString& section, const QString& key) const;
    // The keys of a section that have a value, in lower case, in no particular order.
    QStringList Keys(const QString& section) const;

    qint32 GetInteger(const QString& section, const QString& key, qint32 defaultValue);
    bool GetBool(const QString& section, const QString& key, bool defaultValue);
    // The default is returned as given, not converted.
    TColor GetColor(const QString& section, const QString& key, TColor defaultValue);
    // True only when the value names an entry that holds a non-empty bitmap. An entry that is
    // no BMP or PNG picture answers false, like a missing one, and is listed in SkippedPictures.
    bool GetBitmap(const QString& section, const QString& key, const QImage*& bitmap);
    // The entries asked for as pictures that could not be decoded, in the order first asked.
    const QStringList& SkippedPictures() const { return FSkippedPictures; }
    bool GetPoint(const QString& section, const QString& key, QPoint& point);
    bool GetRect(const QString& section, const QString& key, TSkinRect& rect);
    bool GetFont(const QString& section, const QString& key, const TSkinFont*& font);
    // True when the key has a value; the stream is null when the entry is missing or empty and
    // is otherwise at its start.
    bool GetStream(const QString& section, const QString& key, QIODevice*& stream);

    // Controls that live as long as the manager at most (the tool buttons).
    void Own(QWidget* control);

private:
    void LoadSkin();
    void UnloadSkin();
    void CheckSubclassable(QWidget* control, const QString& section) const;
    void Attach(TSubclass* subclass);
    const TSkinValue* Lookup(const QString& section, const QString& key, int count,
                             TSkinValueKind kind);
    std::unique_ptr<TSkinValue> Parse(const QString& raw, int count, TSkinValueKind kind);

    TSkinResourceRef FResource;
    // Sections and keys in lower case; the first section and the first key of a name win.
    QHash<QString, QHash<QString, QString>> FIni;
    QHash<QString, std::shared_ptr<TSkinValue>> FCache; // keys in lower case; null: no value
    std::vector<QPointer<QWidget>> FOwned;
    QStringList FSkippedPictures;
};

// Gives `skins` the program's skin archive, "theme.zip" in the program folder (or `path`).
// When the archive is missing or cannot be read, the user is told so in the program's message
// box and the manager is left without a resource, so every getter yields its default and the
// program goes on with its plain look. Returns false in that case.
bool LoadSkinArchive(TSkinManager& skins, const QString& path = QString());

// The picture (as ARGB32) with every pixel of key's colour made fully transparent.
QImage KeyedOut(const QImage& picture, QRgb key);

// The picture with the mask colour made see-through; a picture with an alpha channel of its
// own keeps it.
QImage MaskedPicture(const QImage& bitmap, TColor mask);

// A tree's image list from section's "FixedIcon" and "Icon": FixedIcon, Icon, FixedIcon, Icon,
// each bitmap wider than the image width giving one image per width, left to right. The image
// width is FixedIcon's, or defaultSide (device pixels) without it.
QList<QImage> SkinImageList(TSkinManager& skins, const QString& section, TColor mask,
                            int defaultSide);
