#include "ThumbnailPainter.h"
#include "rkView.h"

#include <QApplication>
#include <QPainter>
#include <QtTest>

#include <cstdlib>
#include <map>
#include <memory>

namespace {

const QColor White(255, 255, 255);
const QColor Black(0, 0, 0);
const QColor Green(0, 160, 0);
const QColor SelectionBlue(0, 0, 200);
const QColor FrameRed(255, 0, 0);
const QColor TextBlack(0, 0, 0);
const QColor ActiveYellow(255, 255, 0);
const QColor InactiveGrey(128, 128, 128);

// A book as the painter sees it, with a solid-colour cover when asked for one.
class TFakeBook : public TThumbnailBook
{
public:
    TFakeBook(QString name, QString author, QString path, QSize cover = QSize(),
              QColor coverColor = Green)
        : FName(std::move(name)), FAuthor(std::move(author)), FPath(std::move(path)), FCover(cover),
          FCoverColor(coverColor)
    {
    }
    void EnsureLoaded() override
    {
        ++Loads;
        if (Loaded) return;
        Loaded = true;
        if (FCover.isValid()) {
            FPicture = QImage(FCover, QImage::Format_ARGB32);
            FPicture.fill(FCoverColor);
        }
    }
    QString Name() const override { return FName; }
    QString Author() const override { return FAuthor; }
    QImage Cover() const override { return FPicture; }
    bool IsMissing() const override { return Missing; }
    QString FullPath() const override { return FPath; }

    int Loads = 0;
    bool Loaded = false;
    bool Missing = false;

private:
    QString FName, FAuthor, FPath;
    QSize FCover;
    QColor FCoverColor;
    QImage FPicture;
};

QImage Solid(QSize size, QColor color)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

TThumbnailSkin TestSkin()
{
    TThumbnailSkin skin = TThumbnailSkin::Defaults();
    skin.Color = White;
    skin.ShadowColor = Black;
    skin.SelectionColor = SelectionBlue;
    skin.FrameColor = FrameRed;
    skin.CaptionFontColor = TextBlack;
    skin.ActiveFontColor = ActiveYellow;
    skin.InactiveFontColor = InactiveGrey;
    // Unsmoothed glyphs keep the text's pixels in the exact text colour.
    QFont font = QApplication::font();
    font.setPixelSize(14);
    font.setBold(true);
    font.setStyleStrategy(QFont::NoAntialias);
    skin.CaptionFont = font;
    skin.ExtensionImages.insert("pdf", Solid(QSize(20, 30), QColor(0, 0, 255)));
    skin.InvalidImage = Solid(QSize(10, 10), QColor(255, 0, 255));
    return skin;
}

// The rows and columns holding pixels of one colour, inside an area.
QRect Extent(const QImage& image, const QRect& area, const QColor& color)
{
    QRect extent;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (QColor(image.pixel(x, y)) == color) extent |= QRect(x, y, 1, 1);
    return extent;
}

} // namespace

class ThumbnailPainterTest : public QObject
{
    Q_OBJECT

    TrkView FView;
    std::unique_ptr<TThumbnailPainter> FPainter;
    std::map<int64_t, std::unique_ptr<TFakeBook>> FBooks;

    // Paints one 150 x 200 cell at the origin of a fresh image.
    QImage Paint(int64_t value, TsvItemState state)
    {
        QImage image(150, 200, QImage::Format_RGB32);
        image.fill(QColor(1, 2, 3)); // anything the cell fails to cover stands out
        QPainter painter(&image);
        FPainter->PaintCell(&FView, painter, QRect(0, 0, 150, 200), 0, value, state);
        return image;
    }

    TFakeBook& AddBook(int64_t value, std::unique_ptr<TFakeBook> book)
    {
        return *(FBooks[value] = std::move(book));
    }

    void MakePainter(TThumbnailSkin skin)
    {
        FPainter = std::make_unique<TThumbnailPainter>(std::move(skin));
        FPainter->OnGetItem = [this](TrkView*, int64_t value) -> TThumbnailBook* {
            auto it = FBooks.find(value);
            return it == FBooks.end() ? nullptr : it->second.get();
        };
        FPainter->Attach(&FView);
    }

private slots:
    void init()
    {
        FBooks.clear();
        MakePainter(TestSkin());
    }

    void blend_data()
    {
        QTest::addColumn<QColor>("c1");
        QTest::addColumn<QColor>("c2");
        QTest::addColumn<int>("n");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("n=0 is the first colour") << Black << White << 0 << Black;
        QTest::newRow("n=1") << Black << White << 1 << QColor(51, 51, 51);
        QTest::newRow("n=5 is the second colour") << Black << White << 5 << White;
        QTest::newRow("rounding") << QColor(10, 0, 255) << QColor(13, 7, 0) << 2
                                  << QColor(11, 3, 153);
        QTest::newRow("beyond five is held in range") << Black << White << 7 << White;
    }

    void blend()
    {
        QFETCH(QColor, c1);
        QFETCH(QColor, c2);
        QFETCH(int, n);
        QFETCH(QColor, expected);
        QCOMPARE(TThumbnailPainter::Blend(c1, c2, n), expected);
    }

    void coverWithShadowRings()
    {
        AddBook(1, std::make_unique<TFakeBook>("书", "作者", "/b/x.epub", QSize(90, 112)));
        const QImage image = Paint(1, svNormal);
        // The box: centred in the cell shrunk by 4, 12 below its top: x 30, y 16.
        QCOMPARE(QColor(image.pixel(30, 16)), Green);
        QCOMPARE(QColor(image.pixel(119, 127)), Green);
        // Rings from the picture outward: 1/5 .. 5/5 of the way from shadow to background.
        for (int n = 1; n <= 5; ++n) {
            const QColor ring = TThumbnailPainter::Blend(Black, White, n);
            QCOMPARE(QColor(image.pixel(30 - n, 60)), ring);  // left
            QCOMPARE(QColor(image.pixel(119 + n, 60)), ring); // right
            QCOMPARE(QColor(image.pixel(70, 16 - n)), ring);  // top
            QCOMPARE(QColor(image.pixel(70, 127 + n)), ring); // bottom
            QCOMPARE(QColor(image.pixel(30 - n, 16 - n)), ring);
        }
        QCOMPARE(QColor(image.pixel(51, 51)), Green);
        QCOMPARE(QColor(image.pixel(24, 60)), White);
        QCOMPARE(QColor(image.pixel(0, 0)), White);
        QCOMPARE(QColor(image.pixel(149, 199)), White);
        QCOMPARE(FBooks[1]->Loads, 1);
    }

    void selectedAndHotCells()
    {
        AddBook(1, std::make_unique<TFakeBook>("书", "作者", "/b/x.epub", QSize(90, 112)));
        const QImage image = Paint(1, svSelected);
        QCOMPARE(QColor(image.pixel(2, 2)), White);      // outside the rounded rectangle
        QCOMPARE(QColor(image.pixel(4, 100)), FrameRed); // its outline
        QCOMPARE(QColor(image.pixel(145, 100)), FrameRed);
        QCOMPARE(QColor(image.pixel(70, 4)), FrameRed);
        QCOMPARE(QColor(image.pixel(70, 195)), FrameRed);
        QCOMPARE(QColor(image.pixel(10, 100)), SelectionBlue);
        QCOMPARE(QColor(image.pixel(29, 60)), TThumbnailPainter::Blend(Black, SelectionBlue, 1));
        QCOMPARE(QColor(image.pixel(25, 60)), SelectionBlue);
        QCOMPARE(image, Paint(1, svHot));
    }

    void placeholderPictures()
    {
        AddBook(1, std::make_unique<TFakeBook>("书", "", "/b/x.PDF"));
        AddBook(2, std::make_unique<TFakeBook>("书", "", "/b.d/noext"));
        AddBook(3, std::make_unique<TFakeBook>("书", "", "/b/x.txt"));

        // The extension's picture, keys ignoring case, centred in the 90 x 112 box, no rings.
        QImage image = Paint(1, svNormal);
        QCOMPARE(Extent(image, image.rect(), QColor(0, 0, 255)), QRect(65, 57, 20, 30));
        QCOMPARE(QColor(image.pixel(29, 60)), White);
        // No extension, or one without a picture: the invalid-item picture.
        for (int64_t v : {2, 3}) {
            image = Paint(v, svNormal);
            QCOMPARE(Extent(image, image.rect(), QColor(255, 0, 255)), QRect(70, 67, 10, 10));
        }

        TThumbnailSkin skin = TestSkin();
        skin.BorderWhenInvalid = true;
        skin.InvalidImage = QImage();
        MakePainter(skin);
        image = Paint(3, svNormal);
        QCOMPARE(QColor(image.pixel(29, 60)), TThumbnailPainter::Blend(Black, White, 1));
        QCOMPARE(QColor(image.pixel(70, 60)), White); // an empty box
    }

    void textLines()
    {
        auto& book =
            AddBook(1, std::make_unique<TFakeBook>("短名", "某作者", "/b/x.epub", QSize(90, 112)));
        const QFont font = TestSkin().CaptionFont;
        const int h = QFontMetrics(font).height();
        // The text area: (16, 28 + 112) to (134, 184); the lines sit a third of the spare
        // height apart.
        const QRect area(16, 140, 118, 44);
        const int gap = (44 - 2 * h) / 3;
        const int line1 = 140 + gap;
        const int line2 = line1 + h + gap;

        QImage image = Paint(1, svNormal);
        const QRect all = Extent(image, image.rect(), TextBlack);
        QVERIFY(!all.isEmpty());
        QVERIFY(area.contains(all));
        const QRect name = Extent(image, QRect(0, line1, 150, h), TextBlack);
        const QRect author = Extent(image, QRect(0, line2, 150, 200 - line2), TextBlack);
        QVERIFY(!name.isEmpty());
        QVERIFY(!author.isEmpty());
        QCOMPARE(name | author, all);
        // Centred: the ink's middle within a pixel or two of the area's middle.
        QVERIFY(std::abs((name.left() + name.right()) / 2 - 75) <= 2);
        QVERIFY(std::abs((author.left() + author.right()) / 2 - 75) <= 2);
        // The author is not bold: narrower ink than the same text in bold.
        QFont plain = font;
        plain.setBold(false);
        QVERIFY(author.width() <= QFontMetrics(plain).horizontalAdvance("某作者"));

        // Selected cells use the active colour, missing books the inactive one.
        image = Paint(1, svSelected);
        QVERIFY(area.contains(Extent(image, image.rect(), ActiveYellow)));
        QVERIFY(Extent(image, area, TextBlack).isEmpty());
        book.Missing = true;
        image = Paint(1, svSelected);
        QVERIFY(!Extent(image, area, InactiveGrey).isEmpty());
        QVERIFY(Extent(image, area, ActiveYellow).isEmpty());

        // A long name is cut with an ellipsis and starts at the left edge.
        AddBook(2, std::make_unique<TFakeBook>("一个非常非常非常长的书名", "", "/b/y.epub",
                                               QSize(90, 112)));
        image = Paint(2, svNormal);
        const QRect cut = Extent(image, QRect(0, line1, 150, h), TextBlack);
        QVERIFY(cut.left() <= 18);
        QVERIFY(cut.right() <= 133);
        QVERIFY(cut.right() > 110);
    }

    void cellsWithoutBook()
    {
        const QImage image = Paint(42, svSelected);
        QCOMPARE(QColor(image.pixel(0, 0)), White);
        QCOMPARE(QColor(image.pixel(10, 100)), SelectionBlue);
        QCOMPARE(Extent(image, image.rect(), TextBlack), QRect());
    }

    void onlyVisibleBooksAreLoaded()
    {
        TrkView view;
        view.SetBorderStyle(bsNone);
        view.resize(500, 300);
        FPainter->Attach(&view);
        QCOMPARE(view.Color(), White);
        for (int i = 0; i < 200; ++i) {
            AddBook(i, std::make_unique<TFakeBook>(QString::number(i), "", "/b/x.epub"));
            view.Items().Add(i);
        }
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.CalcView();
        view.PaintOffscreen();
        int loaded = 0;
        for (auto& [value, book] : FBooks)
            loaded += book->Loaded ? 1 : 0;
        QCOMPARE(loaded, 4); // two rows of two columns
        QVERIFY(FBooks[3]->Loaded);
        QVERIFY(!FBooks[4]->Loaded);

        FPainter->Release(&view);
        QVERIFY(!view.OnCellPaint);
        QVERIFY(!view.OnHintShow);
    }

    void hintOnlyForCutNames()
    {
        const QString name = QStringLiteral("书名的宽度正好");
        AddBook(1, std::make_unique<TFakeBook>(name, "", "/b/x.epub"));
        const int width = QFontMetrics(TestSkin().CaptionFont).horizontalAdvance(name);
        QString text;
        bool show = false;

        FView.SetCellWidth(width + 8); // exactly as wide as the cell minus 8
        FPainter->HintShow(&FView, 1, -1, text, show);
        QCOMPARE(text, name);
        QVERIFY(!show);
        FView.SetCellWidth(width + 7); // one pixel wider than the room
        FPainter->HintShow(&FView, 1, -1, text, show);
        QVERIFY(show);
        QVERIFY(FBooks[1]->Loaded);

        text.clear();
        show = false;
        FPainter->HintShow(&FView, 99, -1, text, show);
        QVERIFY(!show);
        QVERIFY(text.isEmpty());
    }

    void attachAppliesTheSkin()
    {
        TThumbnailSkin skin = TestSkin();
        skin.ThumbnailSize = QSize(160, 210);
        skin.Color = QColor(240, 240, 230);
        TThumbnailPainter painter(skin);
        TrkView view;
        painter.Attach(&view);
        QCOMPARE(view.CellWidth(), 160);
        QCOMPARE(view.CellHeight(), 210);
        QCOMPARE(view.Color(), QColor(240, 240, 230));
        QVERIFY(view.OnCellPaint);

        const TThumbnailSkin d = TThumbnailSkin::Defaults();
        QCOMPARE(d.CornerSize, 0);
        QCOMPARE(d.FrameColor, White);
        QCOMPARE(d.ShadowColor, White);
        QVERIFY(!d.BorderWhenInvalid);
        QCOMPARE(d.SelectionColor, QApplication::palette().color(QPalette::Highlight));
        QVERIFY(!d.ThumbnailSize);
    }
};

QTEST_MAIN(ThumbnailPainterTest)
#include "ThumbnailPainterTest.moc"
