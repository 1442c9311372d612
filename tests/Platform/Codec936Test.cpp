#include "Codec936.h"

#include <gtest/gtest.h>

#include <thread>

TEST(Codec936, ChineseTextHasItsGbkBytesAndRoundTrips)
{
    const QString text = QStringLiteral("新建书架 KeltoVarnix 阅读器书库");
    const QByteArray bytes = Cp936::FromUnicode(text);
    // 新 D0C2, 建 BDA8, 书 CAE9, 架 BCDC: the GBK bytes, unchanged in GB18030.
    EXPECT_TRUE(bytes.startsWith(QByteArray("\xD0\xC2\xBD\xA8\xCA\xE9\xBC\xDC ")));
    EXPECT_EQ(Cp936::ToUnicode(bytes), text);
}

TEST(Codec936, CharactersOutsideGbkAreNotLost)
{
    // An extension-B ideograph, an emoji and a Korean syllable: none of them is in GBK.
    const QString text = QString::fromUtf8("\xF0\xA0\x80\x80 \xF0\x9F\x98\x80 \xED\x95\x9C");
    const QByteArray bytes = Cp936::FromUnicode(text);
    EXPECT_FALSE(bytes.contains('?'));
    EXPECT_EQ(Cp936::ToUnicode(bytes), text);
}

TEST(Codec936, BrokenInputIsReplacedAndDecodingGoesOn)
{
    // A lead byte without its trail byte in the middle, and one at the very end.
    const QByteArray bytes("A\xD0 B\xCA\xE9" "C\xD0", 8);
    EXPECT_EQ(Cp936::ToUnicode(bytes), QString::fromUtf8("A\xEF\xBF\xBD" " B书C\xEF\xBF\xBD"));
    // Windows' code page 936 has the euro sign at 0x80.
    EXPECT_EQ(Cp936::ToUnicode(QByteArray("\x80")), QString::fromUtf8("€"));
    EXPECT_TRUE(Cp936::ToUnicode(QByteArray()).isEmpty());
    EXPECT_TRUE(Cp936::FromUnicode(QString()).isEmpty());
}

TEST(Codec936, LongTextsAndOtherThreads)
{
    QString text;
    for (int i = 0; i < 5000; ++i) text += QStringLiteral("书库%1;").arg(i);
    const QByteArray bytes = Cp936::FromUnicode(text);
    QString fromThread;
    std::thread worker([&] { fromThread = Cp936::ToUnicode(bytes); });
    worker.join();
    EXPECT_EQ(fromThread, text);
}
