// The skin on a screen with two device pixels per logical pixel (run with QT_SCALE_FACTOR=2):
// pictures come from their "@2x" twins, offsets stay in logical pixels and are doubled when the
// twin is cut, and a skin without twins keeps working.
#include "SkinFixture.h"
#include "Skins.h"
#include "Subclasses.h"
#include "ToolBtn.h"
#include "ZipSkinRes.h"

#include <QApplication>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A frame of 30 x 20 logical pixels cut at (5, 4, 25, 16), each of its nine pieces in its own
// colour, at `scale` device pixels per logical pixel.
QImage NinePieces(int scale)
{
    QImage image(30 * scale, 20 * scale, QImage::Format_RGB32);
    const int xs[] = {0, 5, 25, 30}, ys[] = {0, 4, 16, 20};
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col) {
            QPainter p(&image);
            // Twins are told apart by their blue channel.
            p.fillRect(xs[col] * scale, ys[row] * scale, (xs[col + 1] - xs[col]) * scale,
                       (ys[row + 1] - ys[row]) * scale,
                       QColor(40 + 60 * col, 40 + 60 * row, scale == 2 ? 200 : 0));
        }
    return image;
}

QByteArray Bmp(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes;
}

} // namespace

class DenseScreenTest : public QObject
{
    Q_OBJECT

    QTemporaryDir FDir;
    TSkinManager FSkins;

private slots:
    void initTestCase()
    {
        QCOMPARE(qApp->devicePixelRatio(), 2.0);
        const QString path = FDir.filePath("theme.zip");
        QImage strip(50, 8, QImage::Format_RGB32), strip2(100, 16, QImage::Format_RGB32);
        for (int f = 0; f < 5; ++f) {
            QPainter(&strip).fillRect(f * 10, 0, 10, 8, QColor(f * 50, 0, 0));
            QPainter(&strip2).fillRect(f * 20, 0, 20, 16, QColor(f * 50, 0, 200));
        }
        QVERIFY(WriteZip(path, {{"skin.ini", "[Frame]\nBackground=frame.bmp\nOffset=5,4,25,16\n"
                                             "[Images]\nStrip=strip.bmp\nLone=lone.bmp\n"
                                             "Odd=odd.bmp\n"},
                                {"frame.bmp", Bmp(NinePieces(1))},
                                {"frame@2x.bmp", Bmp(NinePieces(2))},
                                {"strip.bmp", Bmp(strip)},
                                {"strip@2x.bmp", Bmp(strip2)},
                                {"lone.bmp", ImageBytes(10, 10, qRgb(1, 2, 3))},
                                {"odd.bmp", ImageBytes(10, 10, qRgb(1, 2, 3))},
                                {"odd@2x.bmp", ImageBytes(21, 20, qRgb(9, 9, 9))}}));
        FSkins.SetResource(std::make_shared<TZipSkinResource>(path, QString()));
    }

    void twinsReplacePicturesOfTheirExactDoubleSize()
    {
        const QImage* picture = nullptr;
        QVERIFY(FSkins.GetBitmap("Frame", "Background", picture));
        QCOMPARE(picture->size(), QSize(60, 40));
        QCOMPARE(picture->devicePixelRatio(), 2.0);
        QCOMPARE(LogicalSize(*picture), QSize(30, 20));
        // Without a twin, or with one of the wrong size, the picture itself.
        for (const char* key : {"Lone", "Odd"}) {
            QVERIFY(FSkins.GetBitmap("Images", key, picture));
            QCOMPARE(picture->size(), QSize(10, 10));
            QCOMPARE(picture->devicePixelRatio(), 1.0);
            QCOMPARE(picture->pixel(0, 0), qRgb(1, 2, 3));
        }
        QCOMPARE(TwinPictureName("a/b.c/frame.bmp"), QStringLiteral("a/b.c/frame@2x.bmp"));
        QCOMPARE(TwinPictureName("a.b/frame"), QStringLiteral("a.b/frame@2x"));
    }

    void ninePiecesAreCutFromTheTwinAtDoubledOffsets()
    {
        QWidget panel;
        panel.resize(100, 60);
        auto* frame = FSkins.Subclass<TTreeContainerSubclass>(&panel, "Frame");
        // Logical geometry is that of the 100 % picture.
        QCOMPARE(frame->AdjustClientRect(QRect(0, 0, 100, 60)), QRect(5, 4, 90, 52));

        QImage canvas(200, 120, QImage::Format_RGB32);
        canvas.setDevicePixelRatio(2);
        canvas.fill(Qt::black);
        {
            QPainter p(&canvas);
            frame->PaintBorder(p, QRect(0, 0, 100, 60));
        }
        const auto colour = [](int col, int row) {
            return QColor(40 + 60 * col, 40 + 60 * row, 200).rgb();
        };
        // Corners: 10 x 8 device pixels, one to one from the twin.
        QCOMPARE(canvas.pixel(9, 7), colour(0, 0));
        QCOMPARE(canvas.pixel(190, 112), colour(2, 2));
        // Edges stretched along their length; the inside is left alone.
        QCOMPARE(canvas.pixel(10, 7), colour(1, 0));
        QCOMPARE(canvas.pixel(100, 118), colour(1, 2));
        QCOMPARE(canvas.pixel(195, 60), colour(2, 1));
        QCOMPARE(canvas.pixel(100, 60), qRgb(0, 0, 0));
    }

    void toolButtonsShowTwinFramesAtLogicalSize()
    {
        TToolBtn button(&FSkins, "None", "None", "Strip");
        QCOMPARE(button.size(), QSize(10, 8));
        button.setEnabled(false); // frame 3
        const QImage shot = button.grab().toImage();
        QCOMPARE(shot.size(), QSize(20, 16));
        QCOMPARE(shot.pixel(0, 0), QColor(150, 0, 200).rgb());
        QCOMPARE(shot.pixel(19, 15), QColor(150, 0, 200).rgb());
    }
};

QTEST_MAIN(DenseScreenTest)
#include "DenseScreenTest.moc"
