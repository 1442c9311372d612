#pragma once

// Books as a large library holds them, for the tests and the benchmark of the cache of what was
// read: long Chinese paths in fifty folders, and the fields a plug-in typically fills in.
#include "FileInfo.h"

#include <QByteArray>
#include <QString>

#include <cstring>

inline QByteArray TypicalBookPath(int i)
{
    return QStringLiteral("/home/读者/书库/分类 %1/第%2本 一本书的名字.epub")
        .arg(i % 50)
        .arg(i)
        .toUtf8();
}

// A title, an author, a publisher, an identifier, a language.
inline TBookInfo TypicalBookInfo(int i)
{
    TBookInfo info;
    std::memset(&info, 0, sizeof info);
    SetBookInfoText(info, biTitle, QStringLiteral("一本相当长的书的名字 第%1卷").arg(i));
    SetBookInfoText(info, biAuthor, QStringLiteral("作者%1").arg(i % 300));
    SetBookInfoText(info, biPublisher, QStringLiteral("人民文学出版社"));
    SetBookInfoText(info, biIdentifier,
                    QStringLiteral("978-7-02-%1").arg(i, 6, 10, QLatin1Char('0')));
    SetBookInfoText(info, biLanguage, QStringLiteral("zh"));
    return info;
}
