// Books made up in memory for the thumbnail view's benchmark and demo: generated covers,
// names and authors, behind the painter's book interface.
#pragma once

#include "ThumbnailPainter.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

class TGeneratedBook : public TThumbnailBook
{
public:
    TGeneratedBook(int number, bool withCover, bool missing = false)
        : FNumber(number), FWithCover(withCover), FMissing(missing)
    {
    }
    void EnsureLoaded() override
    {
        if (FLoaded) return;
        FLoaded = true;
        if (!FWithCover) return;
        QImage cover(90, 112, QImage::Format_ARGB32);
        QPainter p(&cover);
        const QColor base = QColor::fromHsv((FNumber * 47) % 360, 140, 200);
        QLinearGradient g(0, 0, 90, 112);
        g.setColorAt(0, base.lighter(130));
        g.setColorAt(1, base.darker(140));
        p.fillRect(cover.rect(), g);
        p.fillRect(QRect(0, 30, 90, 34), QColor(255, 255, 255, 200));
        p.setPen(base.darker(250));
        QFont f = p.font();
        f.setPixelSize(13);
        f.setBold(true);
        p.setFont(f);
        p.drawText(QRect(0, 30, 90, 34), Qt::AlignCenter, Title());
        p.end();
        FCover = cover;
    }
    QString Name() const override
    {
        return FNumber % 5 == 3 ? Title() + QStringLiteral("（插图珍藏版·上下册合订本）.epub")
                                : Title() + QStringLiteral(".epub");
    }
    QString Author() const override
    {
        static const char* authors[] = {"林语堂", "张爱玲", "老舍", "沈从文", "钱锺书", "巴金"};
        return QString::fromUtf8(authors[FNumber % 6]);
    }
    QImage Cover() const override { return FCover; }
    bool IsMissing() const override { return FMissing; }
    QString FullPath() const override { return QStringLiteral("/books/") + Name(); }

private:
    QString Title() const
    {
        static const char* titles[] = {"城南旧事", "边城",     "围城", "骆驼祥子", "家", "呼兰河传",
                                       "茶馆",     "倾城之恋", "子夜", "雷雨",     "春", "秋"};
        return QString::fromUtf8(titles[FNumber % 12]) +
               (FNumber >= 12 ? QString::number(FNumber / 12) : QString());
    }

    int FNumber;
    bool FWithCover;
    bool FMissing;
    bool FLoaded = false;
    QImage FCover;
};

// The skin values the program's default skin is expected to give: a grey shadow and cells tall
// enough for the two text lines under a 90 x 112 cover.
inline TThumbnailSkin DemoSkin()
{
    TThumbnailSkin skin = TThumbnailSkin::Defaults();
    skin.Color = QColor(255, 255, 255);
    skin.ThumbnailSize = QSize(150, 190);
    skin.ShadowColor = QColor(96, 96, 96);
    skin.SelectionColor = QColor(204, 228, 247);
    skin.FrameColor = QColor(153, 201, 239);
    skin.CornerSize = 8;
    skin.ActiveFontColor = QColor(0, 0, 0);
    skin.InactiveFontColor = QColor(160, 160, 160);
    QImage invalid(48, 60, QImage::Format_ARGB32);
    invalid.fill(Qt::transparent);
    QPainter p(&invalid);
    p.setPen(QPen(QColor(150, 150, 150), 2));
    p.setBrush(QColor(235, 235, 235));
    p.drawRect(QRect(2, 2, 43, 55));
    p.drawLine(10, 18, 38, 18);
    p.drawLine(10, 28, 38, 28);
    p.drawLine(10, 38, 30, 38);
    p.end();
    skin.InvalidImage = invalid;
    return skin;
}
