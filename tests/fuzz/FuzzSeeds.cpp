// Writes the seed corpora of the fuzz targets, one folder per target below the folder given:
// small well-formed inputs of each kind. The committed corpora in tests/fuzz/corpus came from
// here; run it again (FuzzSeeds <corpus folder> <source root>) after the input formats change.
#include "BookMaker.h"
#include "Codec936.h"
#include "FuzzCommon.h"
#include "vindra.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

#include <elf.h>
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

using namespace BookMaker;

namespace {

QString Root;

void Write(const QString& target, const QString& name, const QByteArray& bytes)
{
    QDir().mkpath(Root + "/" + target);
    QFile f(Root + "/" + target + "/" + name);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray Picture(const char* format, QSize size = QSize(30, 40), int quality = 50)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.fillRect(QRect(QPoint(0, 0), size / 2), Qt::red);
        painter.fillRect(QRect(QPoint(size.width() / 2, size.height() / 2), size / 2), Qt::blue);
    }
    if (qstrcmp(format, "BMP") == 0 || qstrcmp(format, "JPEG") == 0)
        image = image.convertToFormat(QImage::Format_RGB32);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

// A progressive JPEG whose EXIF block says it is stored turned (orientation 6, little-endian
// TIFF), so that the orientation reader and the progressive decoder get inputs of their own.
QByteArray TurnedProgressiveJpeg()
{
    QImage image(QSize(24, 16), QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    writer.write(image);
    const QByteArray tiff("II\x2A\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 26);
    const QByteArray exif = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray segment("\xFF\xE1", 2);
    segment += char((exif.size() + 2) >> 8);
    segment += char((exif.size() + 2) & 0xFF);
    return bytes.left(2) + segment + exif + bytes.mid(2);
}

// A GIF of 2 x 2 pixels, written out because Qt reads GIF but does not write it.
QByteArray TinyGif()
{
    static const unsigned char gif[] = {
        'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0x80, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF,
        ',', 0, 0, 0, 0, 2, 0, 2, 0, 0, 2, 3, 0x44, 0x34, 0x05, 0, ';'};
    return QByteArray(reinterpret_cast<const char*>(gif), sizeof gif);
}

void AppendPng(png_structp png, png_bytep data, size_t length)
{
    static_cast<QByteArray*>(png_get_io_ptr(png))
        ->append(reinterpret_cast<char*>(data), qsizetype(length));
}

// A small interlaced PNG, which Qt does not write: RGB with 16 bits a channel, or a palette
// with transparency.
QByteArray InterlacedPng(bool sixteenBits)
{
    constexpr int width = 13, height = 11;
    const int colourType = sixteenBits ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_PALETTE;
    const int rowBytes = sixteenBits ? width * 6 : width;
    QByteArray pixels(rowBytes * height, '\0');
    for (int i = 0; i < pixels.size(); ++i)
        pixels[i] = char(sixteenBits ? i * 37 : i % 5);
    std::vector<png_bytep> rows;
    for (int y = 0; y < height; ++y)
        rows.push_back(reinterpret_cast<png_bytep>(pixels.data() + y * rowBytes));
    const png_color palette[5] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}, {250, 250, 0}};
    const png_byte alphas[3] = {0, 128, 255};
    QByteArray bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &bytes, AppendPng, nullptr);
    png_set_IHDR(png, info, width, height, sixteenBits ? 16 : 8, colourType, PNG_INTERLACE_ADAM7,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!sixteenBits) {
        png_set_PLTE(png, info, palette, 5);
        png_set_tRNS(png, info, alphas, 3, nullptr);
    }
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return bytes;
}

// A PNG with 16 bits a channel and alpha, as Qt writes 64-bit pictures.
QByteArray DeepPng()
{
    QImage image(30, 40, QImage::Format_RGBA64);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixelColor(x, y,
                                QColor::fromRgba64(x * 2000, y * 1500, 40000, 1000 + x * y * 50));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray Entries(const QList<TZipEntry>& entries)
{
    Fuzz::TEntries list;
    for (const TZipEntry& e : entries)
        list.emplace_back(e.Name.toStdString(), e.Bytes.toStdString());
    return QByteArray::fromStdString(Fuzz::JoinEntries(list));
}

// A 64-bit ELF file with a section table and the version record section, nothing else.
QByteArray Elf(const QByteArray& record)
{
    const QByteArray names = QByteArray("\0.shstrtab\0" VINDRA_SECTION "\0", 28);
    Elf64_Ehdr header{};
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = ELFCLASS64;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_ident[EI_VERSION] = EV_CURRENT;
    header.e_type = ET_EXEC;
    header.e_machine = EM_X86_64;
    header.e_version = EV_CURRENT;
    header.e_ehsize = sizeof(Elf64_Ehdr);
    header.e_shentsize = sizeof(Elf64_Shdr);
    header.e_shnum = 3;
    header.e_shstrndx = 1;
    const qsizetype namesAt = sizeof header;
    const qsizetype recordAt = namesAt + names.size();
    qsizetype tableAt = recordAt + record.size();
    tableAt = (tableAt + 7) & ~qsizetype(7);
    header.e_shoff = static_cast<Elf64_Off>(tableAt);
    Elf64_Shdr sections[3]{};
    sections[1].sh_name = 1;
    sections[1].sh_type = SHT_STRTAB;
    sections[1].sh_offset = static_cast<Elf64_Off>(namesAt);
    sections[1].sh_size = static_cast<Elf64_Xword>(names.size());
    sections[2].sh_name = 11;
    sections[2].sh_type = SHT_PROGBITS;
    sections[2].sh_offset = static_cast<Elf64_Off>(recordAt);
    sections[2].sh_size = static_cast<Elf64_Xword>(record.size());
    QByteArray out(reinterpret_cast<const char*>(&header), sizeof header);
    out += names + record;
    out.resize(tableAt, '\0');
    out += QByteArray(reinterpret_cast<const char*>(sections), sizeof sections);
    return out;
}

// A ".pkg" entry: `skip` leading bytes, 20 header bytes, the declared length, then the image.
QByteArray PkgEntry(int skip, qint32 declared, const QByteArray& image)
{
    QByteArray out(skip, 'L');
    out += QByteArray(20, 'H');
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((static_cast<quint32>(declared) >> (8 * i)) & 0xFF);
    return out + image;
}

void Books()
{
    const QByteArray cover = Picture("JPEG");
    TEpub epub;
    epub.Title = QStringLiteral("标题");
    epub.Creators = {{"A", "aut"}, {"B", "edt"}};
    epub.Description = "<p>x &amp; y</p>";
    epub.Date = "2020-05-17";
    epub.Identifier = "urn:isbn:9780000000000";
    epub.Language = "zh";
    epub.Cover = TCoverStyle::GuidePage;
    epub.CoverBytes = cover;
    const QString tmp = QDir::tempPath() + "/korvel-seed-" + QString::number(getpid());
    const auto viaFile = [&](auto write) {
        write(tmp);
        const QByteArray bytes = ReadFile(tmp);
        QFile::remove(tmp);
        return bytes;
    };
    Write("FuzzEpub", "1.epub", viaFile([&](const QString& p) { WriteEpub(p, epub); }));
    Write("FuzzEpubZip", "guide-page", Entries(EpubEntries(epub)));
    epub.Version = 2;
    epub.Cover = TCoverStyle::MetaCover;
    Write("FuzzEpub", "2.epub", viaFile([&](const QString& p) { WriteEpub(p, epub); }));
    Write("FuzzEpubZip", "meta-cover", Entries(EpubEntries(epub)));
    epub.Version = 3;
    epub.Cover = TCoverStyle::FirstPage;
    epub.EncryptionXml = "<encryption><EncryptedData><EncryptionMethod "
                         "Algorithm=\"http://www.idpf.org/2008/embedding\"/></EncryptedData>"
                         "</encryption>";
    Write("FuzzEpubZip", "first-page", Entries(EpubEntries(epub)));
    epub.Cover = TCoverStyle::Properties;
    epub.EncryptionXml.clear();
    Write("FuzzEpubZip", "properties", Entries(EpubEntries(epub)));

    const QByteArray fb2 =
        Fb2("T", {"A B", "C"}, cover,
            "<genre>g</genre><annotation><p>x</p></annotation><date value=\"2001-02-03\">2001</date>",
            "P");
    Write("FuzzFb2", "1.fb2", fb2);
    Write("FuzzFb2", "2.fb2", Fb2("无封面", {"某"}, {}, "<lang>zh</lang>"));
    Write("FuzzFb2Zip", "1", Entries({{"book.fb2", fb2}}));
    Write("FuzzFb2Zip", "2", Entries({{"readme.txt", "x"}, {"dir/Book.FB2", Fb2("T", {}, {})}}));

    TMobi mobi;
    mobi.Author = "A";
    mobi.Description = "d";
    mobi.Cover = cover;
    Write("FuzzMobi", "1.mobi", Mobi(mobi));
    mobi.Utf8 = false;
    mobi.Cover.clear();
    mobi.UpdatedTitle = "U";
    Write("FuzzMobi", "2.mobi", Mobi(mobi));

    const QList<TZipEntry> cbz = {
        {"ComicInfo.xml", "<ComicInfo><Title>T</Title><Writer>A, B</Writer><Year>2020</Year>"
                          "<Month>5</Month></ComicInfo>"},
        {"page10.jpg", cover},
        {"page2.png", Picture("PNG")}};
    Write("FuzzCbz", "1.cbz", viaFile([&](const QString& p) { WriteZip(p, cbz); }));
    Write("FuzzCbzZip", "1", Entries(cbz));
    Write("FuzzCbzZip", "2", Entries({{"__MACOSX/a.jpg", "x"}, {"b/01.gif", TinyGif()}}));

    Write("FuzzPdf", "1.pdf", viaFile([&](const QString& p) { WritePdf(p, 1, "T", "A"); }));
    Write("FuzzText", "1.txt", QStringLiteral("《书》\n作者：某\n正文 text").toUtf8());
    Write("FuzzText", "2.txt", Cp936::FromUnicode(QStringLiteral("书名：书\r\n作者：某\r\n正文")));

    Write("FuzzPicture", "1.png", Picture("PNG"));
    Write("FuzzPicture", "2.jpg", Picture("JPEG", QSize(300, 200)));
    Write("FuzzPicture", "3.bmp", Picture("BMP", QSize(8, 8)));
    Write("FuzzPicture", "4.gif", TinyGif());
    Write("FuzzPicture", "5.ico", Picture("ICO", QSize(16, 16)));
    Write("FuzzPicture", "6-16bit-alpha.png", DeepPng());
    Write("FuzzPicture", "7-interlaced-16bit.png", InterlacedPng(true));
    Write("FuzzPicture", "8-interlaced-palette.png", InterlacedPng(false));
    // Larger than twice a cover, so it is averaged down while it is read.
    Write("FuzzPicture", "9-shrunk.png", Picture("PNG", QSize(400, 260)));
    Write("FuzzPicture", "10-turned-progressive.jpg", TurnedProgressiveJpeg());
}

void Others(const QString& source)
{
    // The skin: the shipped skin.ini with the style sheet and two pictures it names.
    const QByteArray skin = ReadFile(source + "/Theme/skin.ini");
    Write("FuzzSkin", "theme", Entries({{"skin.ini", skin},
                                        {"style.qss", "QMenu { background: white; }"},
                                        {"toolbar.bmp", Picture("BMP", QSize(48, 10))},
                                        {"splitter.bmp", Picture("PNG", QSize(6, 12))}}));
    Write("FuzzSkin", "values",
          Entries({{"skin.ini",
                    Cp936::FromUnicode(QStringLiteral(
                        "[Tree]\nColor = clBtnFace\nFont = \"宋体\", 9, $00FF0000, BI\n"
                        "Rect=1 2 3 4\nPoint=$10,-2\nFlag=True\nIcon=icons.bmp\nFixedIcon=fix.bmp\n"
                        "Items=\"a, b\" c\n[tree]\nColor=1,2,3\n"))},
                   {"icons.bmp", Picture("BMP", QSize(32, 16))},
                   {"fix.bmp", Picture("BMP", QSize(16, 16))}}));

    // INI files: settings in code page 936, the store's page list, a UTF-8 file with its byte
    // order mark, and the book-library map.
    Write("FuzzIni", "settings",
          Cp936::FromUnicode(QStringLiteral("[Main]\r\nLeft=10\r\nTop=$20\r\nMax=0x1\r\n"
                                            "Folder=\" /书/ \"\r\n; note\r\n[main]\r\nLeft=1\r\n")));
    Write("FuzzIni", "home", Cp936::FromUnicode(QString::fromUtf8(
                                 ReadFile(source + "/Source/Exe/Data/home.txt"))));
    Write("FuzzIni", "bom", "\xEF\xBB\xBF[Section]\nKey = '值'\n[Empty]\n\n[Other]\nA=-2147483648\n");
    Write("FuzzIni", "fimap",
          "; map\ntxt,jpg=libz.so\nepub=libz.so\n*=libz.so\nfb2,zip=missing.so\n");

    // Version descriptors: mappings, supported readers and versions for both kinds of query.
    Write("FuzzVerDesc", "1.xml",
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Root>"
          "<Mappings><m ID=\"0502\" Model=\"05\" Edition=\"02\" Manufacturer=\"1F\" Name=\"阅读器\" "
          "Type=\"2\"/><m ID=\"5602\" Model=\"56\" Edition=\"02\" Name=\"R\"/></Mappings>"
          "<Supported><m ID=\"1F\"><r Model=\"05\" Edition=\"02\" ExpireDate=\"2030-01-01\" "
          "ExpireVer=\"0200\"/></m><m ID=\"20\"/></Supported>"
          "<Versions><v Model=\"VARNIX\" Edition=\"KELTO\" ID=\"1.2.0.19\" Date=\"2020/5/1\" "
          "File=\"a.exe\" FileSize=\"10\"><Desc>新版本</Desc></v>"
          "<v Model=\"05\" Edition=\"02\" Manufacturer=\"1F\" ID=\"0140\" File=\"f.zip\">"
          "<Required Ver=\"0100\"/><Baseon Ver=\"0136\"/></v>"
          "<v Model=\"05\" Edition=\"02\" ID=\"0140\" Date=\"2021-01-01\" File=\"g.zip\"/>"
          "</Versions></Root>\n");
    Write("FuzzVerDesc", "2.xml",
          Cp936::FromUnicode(QStringLiteral(
              "<?xml version=\"1.0\" encoding=\"GBK\"?><R><Supported><m ID=\"1F\"/></Supported>"
              "<Versions><v Model=\"varnix\" ID=\"9\" File=\"程序.exe\"/><v Model=\"VARNIX\" "
              "Edition=\"exp\" ID=\"10\"/></Versions></R>")));

    // Mount tables: the root, a removable volume with an escaped blank, one covered by a
    // later mount at the same place, and a line of the wrong shape.
    Write("FuzzMountTable", "1",
          "21 1 0:31 / / rw,relatime shared:1 - overlay overlay rw\n"
          "100 21 8:17 / /media/user/MY\\040READER rw,nosuid shared:9 - vfat /dev/sdb1 rw\n"
          "101 21 8:33 / /run/media/user/B rw master:3 shared:4 - exfat /dev/sdc1 rw\n"
          "102 21 8:49 / /run/media/user/B rw - ntfs3 /dev/sdd1 rw\n"
          "103 21 8:65 / /mnt/x rw - vfat \\134dev\\134sde rw\n"
          "bad line\n");

    // SCSI inquiry and USB serial: a full descriptor of a reader, a short one.
    QByteArray inquiry(36, '\0');
    inquiry.replace(8, 8, "TAVO\x01\x02\x03\x04");
    inquiry.replace(16, 16, QByteArray("mAsSsTo\x01\x11\x22\x33\x44\x02\x56\x00\x07", 16));
    inquiry.replace(32, 4, "0100");
    Write("FuzzDiskInfo", "reader", char(36) + inquiry + "0123456789AB\n");
    Write("FuzzDiskInfo", "short", char(20) + inquiry.left(20) + QByteArray("SER\0\n", 5));

    Write("FuzzVersionRecord", "full", Elf(QByteArray("1.0.0.1\0Build 2024-01-01\0x86_64", 32)));
    Write("FuzzVersionRecord", "one", Elf("2.0"));

    // Firmware: a ".pkg" entry per reader code kind, one declaring more than it holds, and
    // a whole package as a file.
    const QByteArray image(300, 'I');
    Write("FuzzFirmware", "code1", char(0) + PkgEntry(0, 300, image));
    Write("FuzzFirmware", "code2", char(1) + PkgEntry(16, 200, image));
    Write("FuzzFirmware", "short", char(2) + PkgEntry(0, 1000, image));
    Write("FuzzFirmware", "package",
          char(8 | 1) + QByteArray::fromStdString(Fuzz::MakeZip(
                            {{"fw0140.pkg", PkgEntry(16, 100, image).toStdString()}})));
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    if (argc < 3) return 2;
    Root = QString::fromLocal8Bit(argv[1]);
    Books();
    Others(QString::fromLocal8Bit(argv[2]));
    return 0;
}
