#include "Skins.h"
#include "SkinFixture.h"
#include "uMsgDlg.h"
#include "ZipSkinRes.h"

#include <QApplication>
#include <QFile>
#include <QPalette>
#include <QPoint>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <optional>

#include <sys/resource.h>

namespace {

// A skin archive in a private folder, with a manager that has loaded it.
struct TSkinFixture
{
    QTemporaryDir Dir;
    QString Path;
    TSkinManager Skins;

    explicit TSkinFixture(const QByteArray& ini, QList<QPair<QString, QByteArray>> entries = {})
    {
        Path = Dir.filePath(QStringLiteral("theme.zip"));
        entries.prepend({QStringLiteral("skin.ini"), ini});
        EXPECT_TRUE(WriteZip(Path, entries));
        Skins.SetResource(std::make_shared<TZipSkinResource>(Path, QString()));
    }
};

// The message of the skin error a call raises, or nothing when it raises none.
template <class F> std::optional<QString> SkinError(F&& call)
{
    try {
        call();
    } catch (const ESkinException& e) {
        return e.Message();
    }
    return std::nullopt;
}

} // namespace

TEST(SkinItems, SplitAtCommasBlanksAndQuotes)
{
    const struct
    {
        QString Value;
        QStringList Items;
    } cases[] = {
        {"a,b", {"a", "b"}},
        {"a,,b", {"a", "", "b"}},
        {"a,", {"a", ""}},
        {",", {"", ""}},
        {"  a \t b  ", {"a", "b"}},
        {"a , b", {"a", "b"}},
        {"\"Segoe UI\",10", {"Segoe UI", "10"}},
        {"\"x, y\" z", {"x, y", "z"}},
        {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
        {"\"unclosed, text", {"unclosed, text"}},
        {"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SkinValues::SplitItems(c.Value), c.Items) << qPrintable(c.Value);
}

TEST(SkinIni, SectionsKeysAndLines)
{
    TSkinFixture f("Color=1\r\n" // before any section: ignored
                   "[Tree]\r"
                   "  Color = Red \n"
                   "color=Blue\n" // the same key, second: ignored
                   "; Font = x\n"
                   "NoEquals\n"
                   "Empty =   \n"
                   "Eq = a=b\n"
                   "\t[ Tree ]\n" // the same section again: never searched
                   "Width=5\n"
                   "[List]\n"
                   "Width=7\n");
    EXPECT_EQ(f.Skins.GetColor("TREE", "COLOR", 0), RGBToColor(255, 0, 0));
    EXPECT_FALSE(f.Skins.HasValue("Tree", "Width"));
    EXPECT_EQ(f.Skins.GetInteger("list", "width", 0), 7);
    EXPECT_FALSE(f.Skins.HasValue("Tree", "; Font"));
    EXPECT_FALSE(f.Skins.HasValue("Tree", "NoEquals"));
    EXPECT_EQ(f.Skins.RawValue("Tree", "Eq"), "a=b");
    // An empty value is no value: the default, and no error.
    EXPECT_FALSE(f.Skins.HasValue("Tree", "Empty"));
    EXPECT_EQ(f.Skins.GetInteger("Tree", "Empty", 42), 42);
    EXPECT_EQ(f.Skins.GetColor("Tree", "Missing", clBtnFace), clBtnFace);
}

// A skin file of short keys costs about a hundred times its size once read, so one larger
// than any real skin is not read at all (the plain look), and the largest that is read stays
// cheap. Peak memory is measured around each load.
TEST(SkinIni, OversizedFileIsNotRead)
{
    // Distinct keys up to a few megabytes; beyond that one key repeated, made in one piece so
    // that making it does not raise the peak the test measures.
    const auto keys = [](qsizetype size) {
        QByteArray ini = "[Tree]\nColor=Red\n";
        if (size > 4 * TSkinManager::MaxSkinFileSize)
            return ini + QByteArray("k=1\n").repeated(size / 4);
        for (int i = 0; ini.size() < size; ++i)
            ini += "k" + QByteArray::number(i) + "=1\n";
        return ini;
    };
    const struct
    {
        const char* Name;
        qsizetype Size;
        bool Read;
    } cases[] = {
        {"at the bound", TSkinManager::MaxSkinFileSize - 16, true},
        {"over the bound", TSkinManager::MaxSkinFileSize + 1, false},
        {"over the archive's entry bound", 40 << 20, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("theme.zip"));
        {
            QByteArray ini = keys(c.Size);
            ini.truncate(c.Size);
            ASSERT_TRUE(WriteZip(path, {{QStringLiteral("skin.ini"), ini}}));
        }
        struct rusage before;
        getrusage(RUSAGE_SELF, &before);
        TSkinManager skins;
        skins.SetResource(std::make_shared<TZipSkinResource>(path, QString()));
        struct rusage after;
        getrusage(RUSAGE_SELF, &after);
        EXPECT_EQ(skins.HasValue("Tree", "Color"), c.Read);
        EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 200 * 1024) << "KiB more at peak";
    }
}

TEST(SkinValueTypes, ColoursIntegersBooleansPointsRectangles)
{
    const QColor buttonFace = QApplication::palette().color(QPalette::Active, QPalette::Button);
    TSkinFixture f("[V]\n"
                   "Red=Red\nLower=red\nPrefixed=clRed\nOrange=255,128,0\nCut=300,0,0\n"
                   "Two=1,2\nSys=$FF00000F\nFace=BtnFace\nNone=None\nDecimal=16777215\n"
                   "Spaced= 0  0  255\nWord=Reddish\n"
                   "Int=12\nHexInt=$7FFFFFFF\nAllOnes=$FFFFFFFF\nMin=-2147483648\n"
                   "TooBig=2147483648\nTooLong=$123456789\nDollar=$\nPair=12,13\nJunk=1x\n"
                   "T=TRUE\nF=false\nZero=0\nSeven=7\nYes=yes\n"
                   "Pt=3,-4\nPt3=1,2,3\nRc=5,4,25,16\nEmptyRc=,,,\n");
    auto& s = f.Skins;
    const QString v = "V";

    const struct
    {
        const char* Key;
        std::optional<TColor> Color; // nothing: invalid
    } colours[] = {
        {"Red", RGBToColor(255, 0, 0)},
        {"Lower", RGBToColor(255, 0, 0)},
        {"Prefixed", std::nullopt},
        {"Orange", RGBToColor(255, 128, 0)},
        {"Cut", RGBToColor(44, 0, 0)},
        {"Two", std::nullopt},
        {"Sys", static_cast<TColor>(0xFF00000Fu)},
        {"Face", RGBToColor(buttonFace.red(), buttonFace.green(), buttonFace.blue())},
        {"None", clNone},
        {"Decimal", 0xFFFFFF},
        {"Spaced", RGBToColor(0, 0, 255)},
        {"Word", std::nullopt},
    };
    for (const auto& c : colours) {
        if (c.Color) {
            EXPECT_EQ(s.GetColor(v, c.Key, -1), *c.Color) << c.Key;
        } else {
            EXPECT_EQ(SkinError([&] { s.GetColor(v, c.Key, 0); }),
                      QStringLiteral("Invalid value \"%1\"").arg(s.RawValue(v, c.Key)))
                << c.Key;
        }
    }

    const struct
    {
        const char* Key;
        std::optional<qint32> Value;
    } integers[] = {
        {"Int", 12},        {"HexInt", 2147483647}, {"AllOnes", -1},
        {"Min", INT32_MIN}, {"TooBig", {}},         {"TooLong", {}},
        {"Dollar", {}},     {"Pair", {}},           {"Junk", {}},
    };
    for (const auto& c : integers) {
        if (c.Value)
            EXPECT_EQ(s.GetInteger(v, c.Key, 0), *c.Value) << c.Key;
        else
            EXPECT_TRUE(SkinError([&] { s.GetInteger(v, c.Key, 0); })) << c.Key;
    }

    const struct
    {
        const char* Key;
        std::optional<bool> Value;
    } booleans[] = {{"T", true}, {"F", false}, {"Zero", false}, {"Seven", true}, {"Yes", {}}};
    for (const auto& c : booleans) {
        if (c.Value)
            EXPECT_EQ(s.GetBool(v, c.Key, !*c.Value), *c.Value) << c.Key;
        else
            EXPECT_TRUE(SkinError([&] { s.GetBool(v, c.Key, false); })) << c.Key;
    }

    QPoint point;
    EXPECT_TRUE(s.GetPoint(v, "Pt", point));
    EXPECT_EQ(point, QPoint(3, -4));
    EXPECT_TRUE(SkinError([&] { s.GetPoint(v, "Pt3", point); }));
    EXPECT_FALSE(s.GetPoint(v, "Missing", point));
    TSkinRect rect;
    EXPECT_TRUE(s.GetRect(v, "Rc", rect));
    EXPECT_EQ(rect, (TSkinRect{5, 4, 25, 16}));
    EXPECT_TRUE(s.GetRect(v, "EmptyRc", rect));
    EXPECT_EQ(rect, (TSkinRect{}));
}

TEST(SkinValueTypes, Fonts)
{
    TSkinFixture f("[F]\nBad=Tahoma,10,,BX\nPlain=Tahoma,10,,\nBlank=Tahoma 10\n"
                   "Full=\"DejaVu Sans\",12,Red,BIUS\nStyleOnly=,,,U\nPixels=,-20,$FF000008,\n"
                   "BadColour=Tahoma,10,Reddish,\nBadSize=Tahoma,big,,\n");
    auto& s = f.Skins;
    const TSkinFont* font = nullptr;
    const TSkinFont fresh;

    for (const char* key : {"Bad", "Blank", "BadColour", "BadSize"})
        EXPECT_TRUE(SkinError([&] { s.GetFont("F", key, font); })) << key;

    ASSERT_TRUE(s.GetFont("F", "Plain", font));
    EXPECT_EQ(font->Font.family(), "Tahoma");
    EXPECT_EQ(font->Font.pointSize(), 10);
    EXPECT_EQ(font->Font.bold(), fresh.Font.bold());
    EXPECT_EQ(font->Color, clWindowText);

    ASSERT_TRUE(s.GetFont("F", "Full", font));
    EXPECT_EQ(font->Font.family(), "DejaVu Sans");
    EXPECT_EQ(font->Font.pointSize(), 12);
    EXPECT_TRUE(font->Font.bold() && font->Font.italic() && font->Font.underline() &&
                font->Font.strikeOut());
    EXPECT_EQ(font->Color, RGBToColor(255, 0, 0));

    ASSERT_TRUE(s.GetFont("F", "StyleOnly", font));
    EXPECT_EQ(font->Font.family(), fresh.Font.family());
    EXPECT_TRUE(font->Font.underline());
    EXPECT_FALSE(font->Font.bold());

    ASSERT_TRUE(s.GetFont("F", "Pixels", font));
    EXPECT_EQ(font->Font.pixelSize(), 20);
    EXPECT_EQ(font->Color, static_cast<TColor>(0xFF000008u));

    EXPECT_FALSE(s.GetFont("F", "Missing", font));
    EXPECT_EQ(font, nullptr);
}

TEST(SkinCache, OneBitmapPerEntryAndMissingEntriesRemembered)
{
    TSkinFixture f("[Images]\nA=pic.bmp\nB=pic.bmp\nC=Pic.BMP\nGone=nothing.bmp\nEmpty=empty.bmp\n"
                   "Png=pic.png\nBroken=broken.bmp\nOther=other.bmp\n",
                   {{"pic.bmp", ImageBytes(6, 3, qRgb(1, 2, 3))},
                    {"pic.png", ImageBytes(4, 4, qRgb(9, 9, 9), "PNG")},
                    {"empty.bmp", QByteArray()},
                    {"broken.bmp", QByteArray("BM this is not a picture")},
                    {"other.bmp", ImageBytes(2, 2, qRgb(0, 0, 0))}});
    auto& s = f.Skins;
    const QImage *a = nullptr, *b = nullptr, *c = nullptr;
    ASSERT_TRUE(s.GetBitmap("Images", "A", a));
    ASSERT_TRUE(s.GetBitmap("Images", "B", b));
    ASSERT_TRUE(s.GetBitmap("Images", "C", c)); // the cache ignores letter case
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, c);
    EXPECT_EQ(a->size(), QSize(6, 3));
    EXPECT_EQ(a->pixel(0, 0), qRgb(1, 2, 3));

    const QImage* png = nullptr;
    ASSERT_TRUE(s.GetBitmap("Images", "Png", png));
    EXPECT_EQ(png->size(), QSize(4, 4));

    const QImage* none = EmptyBitmap();
    EXPECT_FALSE(s.GetBitmap("Images", "Gone", none));
    EXPECT_EQ(none, nullptr);
    EXPECT_FALSE(s.GetBitmap("Images", "Empty", none));
    EXPECT_FALSE(s.GetBitmap("Images", "Missing", none));
    // A damaged picture is no picture, asked for again without another read, and listed once.
    EXPECT_TRUE(s.SkippedPictures().isEmpty());
    EXPECT_FALSE(s.GetBitmap("Images", "Broken", none));
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(s.SkippedPictures(), QStringList{"broken.bmp"});

    // Once the archive is gone, what was read (or found missing) is still answered from the
    // cache; only a new entry needs the archive, and says so.
    ASSERT_TRUE(QFile::remove(f.Path));
    EXPECT_FALSE(s.GetBitmap("Images", "Gone", none));
    EXPECT_FALSE(s.GetBitmap("Images", "Broken", none));
    EXPECT_EQ(s.SkippedPictures(), QStringList{"broken.bmp"});
    EXPECT_TRUE(s.GetBitmap("Images", "A", a));
    EXPECT_EQ(a, b);
    try {
        s.GetBitmap("Images", "Other", none);
        ADD_FAILURE() << "reading a new entry of a removed archive succeeded";
    } catch (const EArchiveError& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()),
                  QStringLiteral("Load archive \"%1\" failed").arg(f.Path));
    }
}

TEST(SkinCache, FailedValueIsParsedAgainAndTypesDoNotShareAnEntry)
{
    TSkinFixture f("[S]\nBad=abc\nRect=1,2,3,4\n");
    auto& s = f.Skins;
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(SkinError([&] { s.GetInteger("S", "Bad", 0); }), "Invalid value \"abc\"") << i;

    // The same key as a rectangle and as one integer: each answer as if asked alone.
    TSkinRect rect;
    EXPECT_TRUE(s.GetRect("S", "Rect", rect));
    EXPECT_TRUE(SkinError([&] { s.GetInteger("S", "Rect", 0); }));
    EXPECT_TRUE(s.GetRect("S", "Rect", rect));
    EXPECT_EQ(rect, (TSkinRect{1, 2, 3, 4}));
}

TEST(SkinStreams, EntryBytesFromTheStart)
{
    TSkinFixture f("[System]\nDataFile=style.qss\nGone=missing.qss\n",
                   {{"style.qss", QByteArray("QWidget { color: red; }")}});
    QIODevice* stream = nullptr;
    ASSERT_TRUE(f.Skins.GetStream("System", "DataFile", stream));
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->readAll(), "QWidget { color: red; }");
    QIODevice* again = nullptr;
    ASSERT_TRUE(f.Skins.GetStream("System", "DataFile", again));
    EXPECT_EQ(again, stream);
    EXPECT_EQ(again->readAll(), "QWidget { color: red; }");
    // Present but missing in the archive: a value without a stream.
    EXPECT_TRUE(f.Skins.GetStream("System", "Gone", stream));
    EXPECT_EQ(stream, nullptr);
    EXPECT_FALSE(f.Skins.GetStream("System", "Missing", stream));
}

TEST(SkinArchive, MissingArchiveOrSkinFile)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath("theme.zip");
    {
        TSkinManager skins;
        try {
            skins.SetResource(std::make_shared<TZipSkinResource>(missing, QString()));
            ADD_FAILURE() << "a missing archive loaded";
        } catch (const EArchiveError& e) {
            EXPECT_EQ(QString::fromUtf8(e.what()),
                      QStringLiteral("Load archive \"%1\" failed").arg(missing));
        }
    }

    // The program's own loading tells the user and goes on with the plain look.
    QStringList shown;
    SetMessageBoxAnswer([&](const QString& text, const QString& caption, unsigned) {
        shown << caption + ": " + text;
        return mrOk;
    });
    TSkinManager skins;
    EXPECT_FALSE(LoadSkinArchive(skins, missing));
    EXPECT_EQ(shown, QStringList{QStringLiteral("错误: Load archive \"%1\" failed").arg(missing)});
    EXPECT_EQ(skins.Resource(), nullptr);
    EXPECT_EQ(skins.GetColor("Tree", "Color", clWindow), clWindow);

    // A file that is no archive at all fails the same way.
    const QString junk = dir.filePath("junk.zip");
    QFile file(junk);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not an archive");
    file.close();
    shown.clear();
    EXPECT_FALSE(LoadSkinArchive(skins, junk));
    EXPECT_EQ(shown.size(), 1);

    // An archive without "skin.ini" loads as an empty skin.
    const QString bare = dir.filePath("bare.zip");
    ASSERT_TRUE(WriteZip(bare, {{"readme.txt", "x"}}));
    shown.clear();
    EXPECT_TRUE(LoadSkinArchive(skins, bare));
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_NE(skins.Resource(), nullptr);
    EXPECT_FALSE(skins.HasValue("System", "DataFile"));
    SetMessageBoxAnswer(nullptr);
}

TEST(SkinArchive, PasswordOfEncryptedEntries)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("theme.zip");
    ASSERT_TRUE(WriteZip(path, {{"skin.ini", "[A]\nB=7\n"}}, "s3cret"));
    TSkinManager skins;
    skins.SetResource(std::make_shared<TZipSkinResource>(path, "s3cret"));
    EXPECT_EQ(skins.GetInteger("A", "B", 0), 7);
    // A wrong password reads no entry: the skin is empty rather than garbage.
    skins.SetResource(std::make_shared<TZipSkinResource>(path, "wrong"));
    EXPECT_FALSE(skins.HasValue("A", "B"));
}

// ---------------------------------------------------------------------------------------------
// Subclasses and the nexus

namespace {

struct TProbeLog
{
    int ReadSkin = 0, Install = 0, Uninstall = 0, Release = 0, Destroyed = 0;
};

// A subclass that records its life and reads one integer of its section.
class TProbeSubclass : public TSubclass
{
public:
    TProbeSubclass(TSkinManager* manager, QWidget* control, const QString& section)
        : TSubclass(manager, control, section)
    {
    }
    ~TProbeSubclass() override { ++Log.Destroyed; }
    void ReadSkin() override
    {
        ++Log.ReadSkin;
        Manager()->GetInteger(Section(), QStringLiteral("Value"), 0);
    }
    void Install() override { ++Log.Install; }
    void Uninstall() override { ++Log.Uninstall; }
    void Release() override { ++Log.Release; }
    static inline TProbeLog Log;
};

} // namespace

TEST(SkinNexus, ControlsAndSubclassesLiveAndDieTogether)
{
    TSkinFixture f("[Good]\nValue=1\n[Bad]\nValue=x\n");
    auto& nexus = TComponentNexus::Instance();
    TProbeSubclass::Log = {};

    auto* control = new QWidget;
    TProbeSubclass* first = f.Skins.Subclass<TProbeSubclass>(control, "Good");
    EXPECT_EQ(nexus.SubclassOf(control), first);
    EXPECT_EQ(TProbeSubclass::Log.Install, 1);

    // A second subclass is refused before it reads or hooks anything.
    EXPECT_EQ(SkinError([&] { f.Skins.Subclass<TProbeSubclass>(control, "Good"); }),
              "Component has already been subclassed");
    EXPECT_EQ(TProbeSubclass::Log.ReadSkin, 1);
    EXPECT_EQ(TProbeSubclass::Log.Install, 1);
    EXPECT_EQ(nexus.SubclassOf(control), first);

    // Destroying the control frees its subclass; there is nothing left to unhook.
    delete control;
    EXPECT_EQ(TProbeSubclass::Log.Destroyed, 1);
    EXPECT_EQ(TProbeSubclass::Log.Uninstall, 0);
    EXPECT_FALSE(nexus.IsSubclassed(control));

    // An invalid value leaves the control unhooked and unregistered, free to be subclassed.
    QWidget other;
    TProbeSubclass::Log = {};
    EXPECT_EQ(SkinError([&] { f.Skins.Subclass<TProbeSubclass>(&other, "Bad"); }),
              "Invalid value \"x\"");
    EXPECT_EQ(TProbeSubclass::Log.Install, 0);
    EXPECT_EQ(TProbeSubclass::Log.Destroyed, 1);
    EXPECT_FALSE(nexus.IsSubclassed(&other));

    // A manager that goes frees its subclasses and unhooks them; another manager may then
    // subclass the same control.
    TProbeSubclass::Log = {};
    {
        TSkinManager shortLived;
        shortLived.Subclass<TProbeSubclass>(&other, "Good");
        EXPECT_TRUE(nexus.IsSubclassed(&other));
    }
    EXPECT_EQ(TProbeSubclass::Log.Uninstall, 1);
    EXPECT_EQ(TProbeSubclass::Log.Release, 1);
    EXPECT_EQ(TProbeSubclass::Log.Destroyed, 1);
    EXPECT_FALSE(nexus.IsSubclassed(&other));
    TProbeSubclass* again = f.Skins.Subclass<TProbeSubclass>(&other, "Good");
    EXPECT_EQ(nexus.SubclassOf(&other), again);
    nexus.ReleaseAll(&f.Skins);
    EXPECT_FALSE(nexus.IsSubclassed(&other));
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The tree's image list: FixedIcon sets the image width, a wider Icon gives one image per
// width, and the sequence is FixedIcon, Icon, FixedIcon, Icon.
TEST(SkinImageList, SlicesAndOrder)
{
    const auto stripe = [](QList<QRgb> colors) {
        QImage image(8 * int(colors.size()), 8, QImage::Format_RGB32);
        for (int i = 0; i < colors.size(); ++i)
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    image.setPixel(i * 8 + x, y, colors[i]);
        for (int i = 0; i < colors.size(); ++i)
            image.setPixel(i * 8, 0, qRgb(255, 0, 255)); // the mask colour, made see-through
        return EncodedImage(image);
    };
    const QRgb red = qRgb(200, 0, 0), green = qRgb(0, 200, 0), blue = qRgb(0, 0, 200);
    TSkinFixture f("[Tree]\nFixedIcon=fixed.bmp\nIcon=icons.bmp\n[OnlyIcon]\nIcon=icons.bmp\n",
                   {{"fixed.bmp", stripe({red})}, {"icons.bmp", stripe({green, blue})}});

    const QList<QImage> images = SkinImageList(f.Skins, "Tree", clFuchsia, 16);
    const QList<QRgb> expected = {red, green, blue, red, green, blue};
    ASSERT_EQ(images.size(), expected.size());
    for (int i = 0; i < images.size(); ++i) {
        EXPECT_EQ(images[i].size(), QSize(8, 8)) << i;
        EXPECT_EQ(images[i].pixel(4, 4), expected[i]) << i;
        EXPECT_EQ(qAlpha(images[i].pixel(0, 0)), 0) << i; // the mask pixel
    }

    // Without FixedIcon the images are as wide as the default side: the 16-pixel strip is one.
    const QList<QImage> only = SkinImageList(f.Skins, "OnlyIcon", clFuchsia, 16);
    ASSERT_EQ(only.size(), 2);
    EXPECT_EQ(only[0].size(), QSize(16, 8));
    EXPECT_TRUE(SkinImageList(f.Skins, "Missing", clFuchsia, 16).isEmpty());
}
