// The built default skin: every entry skin.ini names is in theme.zip, every picture decodes at
// the size the skin relies on, the key colour is where it belongs, and the style sheet parses.

#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QMap>
#include <QStringList>
#include <QWidget>

#include <gtest/gtest.h>
#include <zip.h>

#include <map>

namespace {
const QString ZipPath = QStringLiteral(KORVEL_BIN_DIR "/theme.zip");
const QRgb Key = qRgb(255, 0, 255);

std::map<QString, QByteArray> ReadArchive()
{
    std::map<QString, QByteArray> entries;
    int error = 0;
    zip_t* zip = zip_open(ZipPath.toLocal8Bit().constData(), ZIP_RDONLY, &error);
    if (!zip) return entries;
    const zip_int64_t n = zip_get_num_entries(zip, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        if (zip_stat_index(zip, zip_uint64_t(i), 0, &st) != 0) continue;
        zip_file_t* file = zip_fopen_index(zip, zip_uint64_t(i), 0);
        if (!file) continue;
        QByteArray bytes(qsizetype(st.size), '\0');
        const zip_int64_t got = zip_fread(file, bytes.data(), st.size);
        zip_fclose(file);
        if (got == zip_int64_t(st.size)) entries[QString::fromUtf8(st.name)] = bytes;
    }
    zip_close(zip);
    return entries;
}

// A plain reading of skin.ini: sections and keys without regard to case, the first one wins.
using TIni = QMap<QString, QMap<QString, QString>>;

TIni ParseIni(const QByteArray& text)
{
    TIni ini;
    QString section;
    bool skipping = true;
    for (const QByteArray& raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(';')) continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            section = line.mid(1, line.size() - 2).trimmed().toLower();
            skipping = ini.contains(section);
            if (!skipping) ini[section];
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (skipping || eq < 0) continue;
        const QString key = line.left(eq).trimmed().toLower();
        if (!ini[section].contains(key)) ini[section][key] = line.mid(eq + 1).trimmed();
    }
    return ini;
}

QList<int> Numbers(const QString& value)
{
    QList<int> out;
    for (const QString& item : value.split(',')) {
        const QString t = item.trimmed();
        bool ok = false;
        const int v = t.startsWith('$') ? int(t.mid(1).toUInt(&ok, 16)) : t.toInt(&ok);
        out.append(ok ? v : -1);
    }
    return out;
}

bool IsPicture(const QString& value)
{
    return value.endsWith(QStringLiteral(".bmp"), Qt::CaseInsensitive);
}

QString TwinName(const QString& name)
{
    return name.left(name.size() - 4) + QStringLiteral("@2x") + name.right(4);
}

class ThemeTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        Entries = new std::map<QString, QByteArray>(ReadArchive());
        Ini =
            new TIni(ParseIni(Entries->count("skin.ini") ? Entries->at("skin.ini") : QByteArray()));
    }
    static void TearDownTestSuite()
    {
        delete Entries;
        delete Ini;
    }

    static QImage Picture(const QString& section, const QString& key)
    {
        const QString name = Ini->value(section.toLower()).value(key.toLower());
        const auto it = Entries->find(name);
        if (it == Entries->end()) return QImage();
        QImage image;
        image.loadFromData(it->second, "BMP");
        return image.convertToFormat(QImage::Format_ARGB32);
    }
    static int Integer(const QString& section, const QString& key)
    {
        return Numbers(Ini->value(section.toLower()).value(key.toLower())).value(0, -1);
    }

    static std::map<QString, QByteArray>* Entries;
    static TIni* Ini;
};
std::map<QString, QByteArray>* ThemeTest::Entries = nullptr;
TIni* ThemeTest::Ini = nullptr;

TEST_F(ThemeTest, EveryNamedEntryIsInTheArchiveWithItsTwin)
{
    ASSERT_TRUE(Entries->count("skin.ini")) << "no skin.ini in " << ZipPath.toStdString();
    int pictures = 0;
    for (auto s = Ini->cbegin(); s != Ini->cend(); ++s) {
        for (auto k = s->cbegin(); k != s->cend(); ++k) {
            const QString where = QStringLiteral("[%1] %2 = %3").arg(s.key(), k.key(), k.value());
            if (k.key() == QStringLiteral("datafile")) {
                EXPECT_TRUE(Entries->count(k.value())) << where.toStdString();
                continue;
            }
            if (!IsPicture(k.value())) continue;
            ++pictures;
            ASSERT_TRUE(Entries->count(k.value())) << where.toStdString();
            ASSERT_TRUE(Entries->count(TwinName(k.value())))
                << "no 200 % twin for " << where.toStdString();

            // Both decode as bitmaps, and the twin is exactly twice the size.
            QImage one, two;
            ASSERT_TRUE(one.loadFromData(Entries->at(k.value()), "BMP")) << where.toStdString();
            ASSERT_TRUE(two.loadFromData(Entries->at(TwinName(k.value())), "BMP"))
                << where.toStdString();
            EXPECT_EQ(two.size(), one.size() * 2) << where.toStdString();
        }
    }
    EXPECT_GT(pictures, 0);
    EXPECT_TRUE(Ini->value("system").contains("datafile"));
}

TEST_F(ThemeTest, PicturesHaveTheSizesTheSkinDeclares)
{
    // Five-frame strips, icons no larger than the face they sit on.
    const struct
    {
        const char* Background;
        QStringList Icons;
    } strips[] = {
        {"ToolButtonBackground", {"OpenButton", "ViewListButton", "ViewThumbButton"}},
        {"BrowseButtonBackground",
         {"BrowseNew", "BrowseBack", "BrowseNext", "BrowseStop", "BrowseRefresh", "BrowseHome"}},
    };
    for (const auto& strip : strips) {
        const QImage face = Picture("Images", strip.Background);
        ASSERT_FALSE(face.isNull()) << strip.Background;
        EXPECT_EQ(face.width() % 5, 0) << strip.Background;
        for (const QString& name : strip.Icons) {
            const QImage icon = Picture("Images", name);
            ASSERT_FALSE(icon.isNull()) << name.toStdString();
            EXPECT_EQ(icon.width() % 5, 0) << name.toStdString();
            EXPECT_LE(icon.width() / 5, face.width() / 5) << name.toStdString();
            EXPECT_LE(icon.height(), face.height()) << name.toStdString();
        }
    }

    // The nine-piece frames: every switched-on side is cut inside the picture.
    for (const char* section : {"Toolbar", "Navigator", "TreeContainer", "ClientContainer"}) {
        const QImage back = Picture(section, "Background");
        ASSERT_FALSE(back.isNull()) << section;
        const QList<int> o = Numbers(Ini->value(QString(section).toLower()).value("offset"));
        ASSERT_EQ(o.size(), 4) << section;
        const int left = o[0], top = o[1], right = o[2], bottom = o[3];
        EXPECT_TRUE(left <= 0 || left < back.width()) << section;
        EXPECT_TRUE(right <= 0 || (right > std::max(left, 0) && right < back.width())) << section;
        EXPECT_TRUE(top <= 0 || top < back.height()) << section;
        EXPECT_TRUE(bottom <= 0 || (bottom > std::max(top, 0) && bottom < back.height()))
            << section;
        if (QString(section) == "Navigator") {
            const QImage grip = Picture(section, "Splitter");
            ASSERT_FALSE(grip.isNull());
            EXPECT_LE(grip.width(), back.width() - right) << "the grip is wider than the edge";
        }
    }

    // Row pictures fit their rows; the header picture is as high as the header.
    for (const char* key : {"FixedIcon", "Icon"})
        EXPECT_LE(Picture("Tree", key).height(), Integer("Tree", "ItemHeight")) << key;
    EXPECT_LE(Picture("List", "Icon").height(), Integer("List", "ItemHeight"));
    EXPECT_EQ(Picture("List", "CaptionImage").height(), Integer("List", "CaptionHeight"));

    // Covers fit the 90 x 112 thumbnail box, and the cell holds the box, its margins and text.
    const QList<int> cell = Numbers(Ini->value("thumbnail").value("thumbnailsize"));
    ASSERT_EQ(cell.size(), 2);
    EXPECT_GE(cell[0], 90 + 8);
    EXPECT_GE(cell[1], 112 + 28 + 16 + 24);
    QStringList covers{"epub", "pdf", "txt", "mobi", "fb2", "cbz"};
    for (const QString& ext : covers) {
        const QImage cover = Picture("Images", ext);
        ASSERT_FALSE(cover.isNull()) << ext.toStdString();
        EXPECT_LE(cover.width(), 90) << ext.toStdString();
        EXPECT_LE(cover.height(), 112) << ext.toStdString();
    }
    const QImage invalid = Picture("Thumbnail", "InvalidImage");
    ASSERT_FALSE(invalid.isNull());
    EXPECT_LE(invalid.width(), 90);
    EXPECT_LE(invalid.height(), 112);
}

TEST_F(ThemeTest, KeyColourOnlyWhereItIsMeant)
{
    // The pictures use magenta as their key, and so must the skin.
    for (const char* section : {"System", "Tree", "List"})
        EXPECT_EQ(Numbers(Ini->value(QString(section).toLower()).value("transparentcolor")),
                  (QList<int>{255, 0, 255}))
            << section;

    // Pictures copied as they are must not hold the key: it would show as a pink pixel.
    const QStringList opaque[] = {
        {"Images", "ToolButtonBackground"}, {"Images", "BrowseButtonBackground"},
        {"Toolbar", "Background"},          {"Navigator", "Background"},
        {"Navigator", "Splitter"},          {"TreeContainer", "Background"},
        {"ClientContainer", "Background"},  {"List", "CaptionImage"},
    };
    for (const QStringList& at : opaque) {
        const QImage image = Picture(at[0], at[1]);
        ASSERT_FALSE(image.isNull()) << at.join(' ').toStdString();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ASSERT_NE(image.pixel(x, y) | 0xFF000000, Key)
                    << at.join(' ').toStdString() << " at " << x << "," << y;
    }

    // Icons leave the corners of every frame to the button face below.
    const QStringList icons[] = {
        {"Images", "OpenButton"}, {"Images", "BrowseHome"}, {"Tree", "FixedIcon"},
        {"Tree", "Icon"},         {"List", "Icon"},
    };
    for (const QStringList& at : icons) {
        const QImage image = Picture(at[0], at[1]);
        ASSERT_FALSE(image.isNull()) << at.join(' ').toStdString();
        const int frames = at[0] == "Images" ? 5 : 1;
        const int w = image.width() / frames;
        for (int f = 0; f < frames; ++f)
            for (const QPoint corner : {QPoint(0, 0), QPoint(w - 1, image.height() - 1)})
                EXPECT_EQ(image.pixel(corner + QPoint(f * w, 0)) | 0xFF000000, Key)
                    << at.join(' ').toStdString() << " frame " << f;
    }
}

TEST_F(ThemeTest, ColourValuesAreWellFormed)
{
    // Plain components 0..255 or a "$" number; the thumbnail's three integer colours must be
    // single numbers, as names and triples are not read there.
    for (auto s = Ini->cbegin(); s != Ini->cend(); ++s) {
        for (auto k = s->cbegin(); k != s->cend(); ++k) {
            if (!k.key().endsWith(QStringLiteral("color"))) continue;
            const QList<int> parts = Numbers(k.value());
            const std::string where = QStringLiteral("[%1] %2").arg(s.key(), k.key()).toStdString();
            const bool integerOnly =
                s.key() == "thumbnail" && (k.key() == "selectioncolor" || k.key() == "framecolor" ||
                                           k.key() == "shadowcolor");
            if (parts.size() == 1 || integerOnly) {
                ASSERT_EQ(parts.size(), 1) << where;
                EXPECT_GE(parts[0], 0) << where;
            } else {
                ASSERT_EQ(parts.size(), 3) << where;
                for (int c : parts)
                    EXPECT_TRUE(c >= 0 && c <= 255) << where;
            }
        }
    }
}

// Qt reports a style sheet it cannot parse only as a warning; catch it.
QStringList Warnings;
void Collect(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtWarningMsg) Warnings << text;
}

TEST_F(ThemeTest, StyleSheetParses)
{
    const QString name = Ini->value("system").value("datafile");
    ASSERT_TRUE(Entries->count(name));
    int argc = 1;
    char arg0[] = "ThemeTest";
    char* argv[] = {arg0, nullptr};
    QApplication app(argc, argv);
    const auto previous = qInstallMessageHandler(Collect);

    const auto apply = [](const QString& sheet) {
        Warnings.clear();
        QWidget w;
        w.setStyleSheet(sheet);
        w.ensurePolished();
        return Warnings.filter(QStringLiteral("parse")).isEmpty();
    };
    // The check itself notices a broken sheet.
    EXPECT_FALSE(apply(QStringLiteral("QMenu { color: #000; ")));
    EXPECT_TRUE(apply(QString::fromUtf8(Entries->at(name)))) << Warnings.join('\n').toStdString();
    qInstallMessageHandler(previous);
}
} // namespace
