#include "uVerDesc.h"

#include "Codec936.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

namespace {

struct TCase
{
    const char* Name;
    const char* Body; // inside the root element
    const char* Version;
    uint8_t Model, Edition, Manufacturer;
    const char* WantId; // "" = nothing offered
    const char* WantFile;
};

QString WriteDescriptor(QTemporaryDir& dir, const QByteArray& bytes)
{
    const QString name = dir.filePath(QStringLiteral("local_verdesc2.zip"));
    QFile f(name);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
    return name;
}

TVersionQuery Query(const char* version, uint8_t model, uint8_t edition, uint8_t manufacturer)
{
    TVersionQuery q;
    q.SetVersion(version);
    q.Model = model;
    q.Edition = edition;
    q.Manufacturer = manufacturer;
    return q;
}

} // namespace

TEST(VerDesc, CompareVersionIsByteOrder)
{
    using O = TVerDesc::TVersionOrder;
    EXPECT_EQ(TVerDesc::CompareVersion("1.2.0.185", "1.2.0.19"), O::Older);
    EXPECT_EQ(TVerDesc::CompareVersion("0136", "0140"), O::Older);
    EXPECT_EQ(TVerDesc::CompareVersion("0140", "0136"), O::Newer);
    EXPECT_EQ(TVerDesc::CompareVersion("1.2", "1.2.0"), O::Older);
    EXPECT_EQ(TVerDesc::CompareVersion("1.2", "1.2"), O::Same);
    EXPECT_EQ(TVerDesc::CompareVersion("", ""), O::Same);
    EXPECT_EQ(TVerDesc::CompareVersion("\xB0", "A"), O::Newer); // unsigned bytes
}

TEST(VerDesc, FindUpdateTable)
{
    const TCase cases[] = {
        {"software byte order",
         R"(<Versions><v Model="varnix" Edition="KELTO" ID="1.2.0.19" File="a.exe"/></Versions>)",
         "1.2.0.185", 0, 0, 0x1F, "1.2.0.19", "a.exe"},
        {"software EXP edition refused",
         R"(<Versions><v Model="VARNIX" Edition="exp" ID="9" File="a.exe"/></Versions>)", "1", 0, 0,
         0x1F, "", ""},
        {"software absent edition accepted",
         R"(<Versions><v Model="VARNIX" ID="9" File="a.exe"/></Versions>)", "1", 0, 0, 0x1F, "9",
         "a.exe"},
        {"software not newer", R"(<Versions><v Model="VARNIX" ID="1" File="a.exe"/></Versions>)",
         "1", 0, 0, 0x1F, "", ""},
        {"software newest of several",
         R"(<Versions><v Model="VARNIX" ID="3" File="c"/><v Model="VARNIX" ID="5" File="e"/><v Model="VARNIX" ID="4" File="d"/></Versions>)",
         "1", 0, 0, 0x1F, "5", "e"},
        {"no manufacturer asks nothing",
         R"(<Versions><v Model="VARNIX" ID="9" File="a"/></Versions>)", "1", 0, 0, 0, "", ""},
        {"firmware offered",
         R"(<Supported><m ID="1F"/></Supported><Versions><v Model="05" Edition="02" ID="0140" File="f.zip"/></Versions>)",
         "0136", 5, 2, 0x1F, "0140", "f.zip"},
        {"unlisted manufacturer gets nothing",
         R"(<Supported><m ID="20"/></Supported><Versions><v Model="05" Edition="02" ID="0140" File="f.zip"/></Versions>)",
         "0136", 5, 2, 0x1F, "", ""},
        {"absent firmware edition never matches",
         R"(<Supported><m ID="1F"/></Supported><Versions><v Model="05" ID="0140" File="f.zip"/></Versions>)",
         "0136", 5, 2, 0x1F, "", ""},
        {"lower-case hex does not match",
         R"(<Supported><m ID="1F"/></Supported><Versions><v Model="0a" Edition="02" ID="0140" File="f.zip"/></Versions>)",
         "0136", 10, 2, 0x1F, "", ""},
        {"other manufacturer entry skipped",
         R"(<Supported><m ID="1F"/></Supported><Versions><v Manufacturer="20" Model="05" Edition="02" ID="0140" File="f"/></Versions>)",
         "0136", 5, 2, 0x1F, "", ""},
        {"required minimum not met",
         R"(<Supported><m ID="1F"/></Supported><Versions><v Model="05" Edition="02" ID="0140" File="f"><Required Ver="0138"/></v></Versions>)",
         "0136", 5, 2, 0x1F, "", ""},
        {"required minimum met",
         R"(<Supported><m ID="1F"/></Supported><Versions><v Model="05" Edition="02" ID="0140" File="f"><Required Ver="0136"/></v></Versions>)",
         "0136", 5, 2, 0x1F, "0140", "f"},
        {"delta on another base never offered",
         R"(<Supported><m ID="1F"/></Supported><Versions><v Model="05" Edition="02" ID="0140" File="full"/><v Model="05" Edition="02" ID="0150" File="delta"><Baseon Ver="0138"/></v></Versions>)",
         "0136", 5, 2, 0x1F, "0140", "full"},
        {"delta on this base offered",
         R"(<Supported><m ID="1F"/></Supported><Versions><v Model="05" Edition="02" ID="0150" File="delta"><Baseon Ver="0136"/></v></Versions>)",
         "0136", 5, 2, 0x1F, "0150", "delta"},
        {"mapping rewrites the reader first",
         R"(<Mappings><m ID="0502" Model="07" Edition="01"/></Mappings><Supported><m ID="1F"/></Supported><Versions><v Model="05" Edition="02" ID="0140" File="old"/><v Model="07" Edition="01" ID="0140" File="mapped"/></Versions>)",
         "0136", 5, 2, 0x1F, "0140", "mapped"},
        {"expire date not later than the query date",
         R"(<Supported><m ID="1F"><c Model="05" ExpireDate="1899-12-30"/></m></Supported><Versions><v Model="05" Edition="02" ID="0140" File="f"/></Versions>)",
         "0136", 5, 2, 0x1F, "", ""},
        {"absent supported edition matches every edition",
         R"(<Supported><m ID="1F"><c Model="05" ExpireVer="0130"/></m></Supported><Versions><v Model="05" Edition="02" ID="0140" File="f"/></Versions>)",
         "0136", 5, 2, 0x1F, "", ""},
        {"other edition's restriction does not apply",
         R"(<Supported><m ID="1F"><c Model="05" Edition="03" ExpireVer="0130"/></m></Supported><Versions><v Model="05" Edition="02" ID="0140" File="f"/></Versions>)",
         "0136", 5, 2, 0x1F, "0140", "f"},
        {"reader older than ExpireVer still offered",
         R"(<Supported><m ID="1F"><c Model="05" ExpireVer="0138"/></m></Supported><Versions><v Model="05" Edition="02" ID="0140" File="f"/></Versions>)",
         "0136", 5, 2, 0x1F, "0140", "f"},
        {"reader at ExpireVer gets nothing",
         R"(<Supported><m ID="1F"><c Model="05" ExpireVer="0136"/></m></Supported><Versions><v Model="05" Edition="02" ID="0140" File="f"/></Versions>)",
         "0136", 5, 2, 0x1F, "", ""},
        {"empty ExpireVer restricts nothing",
         R"(<Supported><m ID="1F"><c Model="05" ExpireVer="" ExpireDate="2999-01-01"/></m></Supported><Versions><v Model="05" Edition="02" ID="0140" File="f"/></Versions>)",
         "0136", 5, 2, 0x1F, "0140", "f"},
        {"same ID: later in document stays",
         R"(<Supported><m ID="1F"/></Supported><Versions><v Model="05" Edition="02" ID="0140" Date="2020-01-01" File="first"/><v Model="05" Edition="02" ID="0140" Date="2020-01-02" File="second"/></Versions>)",
         "0136", 5, 2, 0x1F, "0140", "second"},
        {"same ID: earlier entry with a later date wins",
         R"(<Supported><m ID="1F"/></Supported><Versions><v Model="05" Edition="02" ID="0140" Date="2020-03-01" File="first"/><v Model="05" Edition="02" ID="0140" Date="2020-01-02" File="second"/></Versions>)",
         "0136", 5, 2, 0x1F, "0140", "first"},
        {"missing sections offer nothing", R"(<Other/>)", "0136", 5, 2, 0x1F, "", ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        QTemporaryDir dir;
        const QString file = WriteDescriptor(dir, QByteArray("<?xml version=\"1.0\"?><VerDesc>") +
                                                      c.Body + "</VerDesc>");
        TVerDesc desc(file);
        TVersion result;
        result.ID = QStringLiteral("stale");
        result.File = QStringLiteral("stale");
        desc.FindUpdate(Query(c.Version, c.Model, c.Edition, c.Manufacturer), result);
        EXPECT_EQ(result.ID.toStdString(), c.WantId);
        EXPECT_EQ(result.File.toStdString(), c.WantFile);
    }
}

TEST(VerDesc, DescSurvivesAndFirmwareFieldsAreSet)
{
    QTemporaryDir dir;
    const QString file = WriteDescriptor(dir, R"(<r><Supported><m ID="1F"/></Supported><Versions>
        <v Model="05" Edition="02" ID="0140" Date="2020-01-01" File="a" FileSize="1 MB"/>
        <v Model="05" Edition="02" ID="0140" Date="2020-01-02" File="b" FileSize="2 MB"><Desc>line one</Desc></v>
      </Versions></r>)");
    TVerDesc desc(file);
    TVersion result;
    // The later entry is met first; the earlier one has an earlier date and is skipped.
    desc.FindUpdate(Query("0136", 5, 2, 0x1F), result);
    EXPECT_EQ(result.File, "b");
    EXPECT_EQ(result.FileSize, "2 MB");
    EXPECT_EQ(result.Desc, "line one");
    EXPECT_EQ(result.Model, "05");
    EXPECT_EQ(result.Edition, "02");
}

TEST(VerDesc, ChineseDescriptorsWithEditionNames)
{
    for (const char* encoding : {"GBK", "GB2312", "gb2312"}) {
        SCOPED_TRACE(encoding);
        QString xml = QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"ENC\"?><描述>"
            "<Mappings><m Manufacturer=\"20\" Model=\"07\" Edition=\"01\" Name=\"别家\" "
            "Type=\"5\"/>"
            "<m Manufacturer=\"1F\" Model=\"07\" Edition=\"01\" Name=\"墨阅 六寸版\" Type=\"2\"/>"
            "<m ID=\"0502\" Model=\"07\" Edition=\"01\"/></Mappings>"
            "<Supported><m ID=\"1F\"/></Supported>"
            "<Versions><v Model=\"07\" Edition=\"01\" ID=\"0140\" "
            "File=\"固件.zip\"><Desc>修正了翻页</Desc></v></Versions>"
            "</描述>");
        xml.replace(QStringLiteral("ENC"), QString::fromLatin1(encoding));
        QTemporaryDir dir;
        const QString file = WriteDescriptor(dir, Cp936::FromUnicode(xml));
        TVerDesc desc(file);
        EXPECT_EQ(desc.GetEditionName(Query("0136", 5, 2, 0x1F)), QStringLiteral("墨阅 六寸版"));
        EXPECT_EQ(desc.Type, 2);
        TVersion result;
        desc.FindUpdate(Query("0136", 5, 2, 0x1F), result);
        EXPECT_EQ(result.File, QStringLiteral("固件.zip"));
        EXPECT_EQ(result.Desc, QStringLiteral("修正了翻页"));
    }
}

TEST(VerDesc, EditionNameDefaults)
{
    QTemporaryDir dir;
    const QString file = WriteDescriptor(
        dir, R"(<r><Mappings><m Model="05" Edition="02" Name="A" Type="x"/></Mappings></r>)");
    TVerDesc desc(file);
    EXPECT_EQ(desc.GetEditionName(Query("0136", 0, 0, 0x1F)), QString()); // no reader
    EXPECT_EQ(desc.GetEditionName(Query("0136", 5, 3, 0x1F)), QString());
    EXPECT_EQ(desc.GetEditionName(Query("0136", 5, 2, 0x1F)), "A");
    EXPECT_EQ(desc.Type, 1); // unreadable type
}

TEST(VerDesc, UnreadableFilesRaise)
{
    QTemporaryDir dir;
    for (const QByteArray& bytes :
         {QByteArray("not xml"), QByteArray("<r><unclosed></r>"), QByteArray()}) {
        const QString file = WriteDescriptor(dir, bytes);
        try {
            TVerDesc desc(file);
            ADD_FAILURE() << bytes.constData();
        } catch (const EVerDescError& e) {
            EXPECT_STREQ(e.what(), "无法打开XML文件");
        }
    }
    EXPECT_THROW(TVerDesc(dir.filePath("missing.xml")), EVerDescError);
}

// Lists no server sends: nested thousands of levels deep, an entity repeated until it would
// fill gigabytes, a file larger than any list. Each is refused, quickly and in little memory
// (the bounds catch a hang or an explosion; the real figures are milliseconds and kilobytes).
TEST(VerDesc, HostileListsAreRefusedCheaply)
{
    QTemporaryDir dir;
    const QByteArray deep = "<r>" + QByteArray("<v>").repeated(100000) +
                            QByteArray("</v>").repeated(100000) + "</r>";
    const QByteArray entity = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e \"" +
                              QByteArray(4000, 'x') + "\">]><r><Versions>" +
                              QByteArray("<v>&e;</v>").repeated(100000) + "</Versions></r>";
    const QByteArray large = "<r>" + QByteArray(17 << 20, ' ') + "</r>";
    for (const QByteArray& bytes : {deep, entity, large}) {
        const QString file = WriteDescriptor(dir, bytes);
        struct rusage before;
        getrusage(RUSAGE_SELF, &before);
        QElapsedTimer clock;
        clock.start();
        EXPECT_THROW(TVerDesc desc(file), EVerDescError) << bytes.left(40).constData();
        EXPECT_LT(clock.elapsed(), 20000);
        struct rusage after;
        getrusage(RUSAGE_SELF, &after);
        EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 300 * 1024) << "KiB more at peak";
    }
    // Twenty levels and a declaration without entities are still read.
    const QByteArray nested = "<?xml version=\"1.0\"?><!DOCTYPE r><r><Versions>" +
                              QByteArray("<x>").repeated(20) + QByteArray("</x>").repeated(20) +
                              "</Versions></r>";
    EXPECT_NO_THROW(TVerDesc desc(WriteDescriptor(dir, nested)));
}

TEST(VerDesc, ExternalEntityIsNotLoaded)
{
    QTemporaryDir dir;
    const QString secret = dir.filePath("secret.txt");
    {
        QFile f(secret);
        f.open(QIODevice::WriteOnly);
        f.write("TOPSECRET");
    }
    const QByteArray xml = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file://" +
                           secret.toUtf8() +
                           "\">]><r><Versions><v Model=\"VARNIX\" ID=\"9\" "
                           "File=\"a\"><Desc>[&x;]</Desc></v></Versions></r>";
    const QString file = WriteDescriptor(dir, xml);
    try {
        TVerDesc desc(file);
        TVersion result;
        desc.FindUpdate(Query("1", 0, 0, 0x1F), result);
        EXPECT_FALSE(result.Desc.contains("TOPSECRET"));
    } catch (const EVerDescError&) {
        // Refusing the document is as safe as ignoring the entity.
    }
}

TEST(VerDesc, ExpireDateComparedWithQueryDate)
{
    QTemporaryDir dir;
    const QString file = WriteDescriptor(
        dir,
        R"(<r><Supported><m ID="1F"><c Model="05" ExpireDate="2001-01-01"/></m></Supported></r>)");
    TVerDesc desc(file);
    TVersionQuery q = Query("0136", 5, 2, 0x1F);
    EXPECT_TRUE(desc.IsSupported(q)); // the flow leaves the date zero
    q.QueryDate = 36892;              // 2001-01-01
    EXPECT_FALSE(desc.IsSupported(q));
    q.QueryDate = 36891;
    EXPECT_TRUE(desc.IsSupported(q));
}
