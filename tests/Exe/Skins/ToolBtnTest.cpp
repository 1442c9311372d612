#include "ToolBtn.h"
#include "SkinFixture.h"
#include "Skins.h"
#include "ZipSkinRes.h"

#include <QAction>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Frame k of the background strip is filled with BackgroundColor(k), frame k of the icon strip
// with IconColor(k), so the colour under a pixel names the frame that was drawn.
QRgb BackgroundColor(int k)
{
    return qRgb(10 + 40 * k, 20, 30);
}
QRgb IconColor(int k)
{
    return qRgb(40, 10 + 40 * k, 200);
}

// A strip of five frames of `frameWidth` x `height` (and `extra` unused columns at the end).
// The icon's corners are magenta, the skin's transparent colour.
QByteArray Strip(int frameWidth, int height, QRgb (*color)(int), bool magentaCorners, int extra = 0)
{
    QImage image(frameWidth * 5 + extra, height, QImage::Format_RGB32);
    image.fill(qRgb(0, 0, 0));
    QPainter painter(&image);
    for (int k = 0; k < 5; ++k) {
        painter.fillRect(QRect(k * frameWidth, 0, frameWidth, height), QColor(color(k)));
        if (magentaCorners) painter.fillRect(QRect(k * frameWidth, 0, 2, 2), QColor(255, 0, 255));
    }
    painter.end();
    return EncodedImage(image);
}

} // namespace

class ToolBtnTest : public QObject
{
    Q_OBJECT

    QTemporaryDir FDir;
    std::unique_ptr<TSkinManager> FSkins;

    void Enter(TToolBtn* b)
    {
        QEnterEvent e(QPointF(1, 1), QPointF(1, 1), b->mapToGlobal(QPointF(1, 1)));
        QCoreApplication::sendEvent(b, &e);
    }
    void Leave(TToolBtn* b)
    {
        QEvent e(QEvent::Leave);
        QCoreApplication::sendEvent(b, &e);
    }
    // What the button itself paints, over a transparent background.
    QImage Shot(QWidget* w)
    {
        QImage image(w->size(), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        w->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }

private slots:
    void initTestCase()
    {
        const QString path = FDir.filePath("theme.zip");
        QVERIFY(WriteZip(path, {{"skin.ini", "[Images]\n"
                                             "ToolButtonBackground=bg.bmp\n"
                                             "ToolButtonOffset=1,2,3,4\n"
                                             "WideBackground=wide.bmp\n"
                                             "OpenButton=icon.bmp\n"},
                                {"bg.bmp", Strip(30, 20, BackgroundColor, false)},
                                {"wide.bmp", Strip(30, 20, BackgroundColor, false, 2)},
                                {"icon.bmp", Strip(10, 10, IconColor, true)}}));
        FSkins = std::make_unique<TSkinManager>();
        FSkins->SetResource(std::make_shared<TZipSkinResource>(path, QString()));
    }

    void cleanupTestCase() { FSkins.reset(); }

    void frameWidthIsAFifthOfTheStrip()
    {
        TToolBtn exact(FSkins.get(), "ToolButtonOffset", "OpenButton", "ToolButtonBackground");
        QCOMPARE(exact.size(), QSize(30, 20));
        TToolBtn wide(FSkins.get(), "ToolButtonOffset", "OpenButton", "WideBackground");
        QCOMPARE(wide.size(), QSize(30, 20));
        // The two extra columns are never shown: the last frame is drawn, not its neighbour.
        wide.setEnabled(false);
        QCOMPARE(Shot(&wide).pixel(29, 0), BackgroundColor(3));
    }

    void frameRule_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("down");
        QTest::addColumn<QString>("mouse"); // what the pointer does, in order
        QTest::addColumn<int>("frame");
        QTest::newRow("normal") << true << false << "" << 0;
        QTest::newRow("hot") << true << false << "enter" << 1;
        QTest::newRow("pressed") << true << false << "enter press" << 2;
        QTest::newRow("released is hot") << true << false << "enter press release" << 1;
        QTest::newRow("left again") << true << false << "enter leave" << 0;
        QTest::newRow("right button does not press") << true << false << "enter rpress" << 1;
        QTest::newRow("down away") << true << true << "" << 4;
        QTest::newRow("down hot") << true << true << "enter" << 4;
        QTest::newRow("down pressed") << true << true << "enter press" << 2;
        QTest::newRow("disabled") << false << false << "" << 3;
        QTest::newRow("disabled down") << false << true << "" << 3;
        QTest::newRow("disabled hot") << false << false << "enter" << 3;
    }

    void frameRule()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, down);
        QFETCH(QString, mouse);
        QFETCH(int, frame);
        TToolBtn b(FSkins.get(), "ToolButtonOffset", "OpenButton", "ToolButtonBackground");
        b.SetDown(down);
        b.setEnabled(enabled);
        for (const QString& step : mouse.split(' ', Qt::SkipEmptyParts)) {
            if (step == "enter") Enter(&b);
            if (step == "leave") Leave(&b);
            if (step == "press") QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(5, 5));
            if (step == "rpress") QTest::mousePress(&b, Qt::RightButton, {}, QPoint(5, 5));
            if (step == "release") QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(5, 5));
        }
        QCOMPARE(b.DisplayedFrame(), frame);
        // What is painted is that frame of both strips; the icon's magenta corner lets the
        // background through.
        const QImage shot = Shot(&b);
        const QPoint offset = frame == 1 ? QPoint(1, 2) : frame == 2 ? QPoint(3, 4) : QPoint();
        const QPoint icon = QPoint(10, 5) + offset;
        QCOMPARE(shot.pixel(0, 0), BackgroundColor(frame));
        QCOMPARE(shot.pixel(icon + QPoint(5, 5)), IconColor(frame));
        QCOMPARE(shot.pixel(icon), BackgroundColor(frame));
        QCOMPARE(shot.pixel(icon + QPoint(2, 2)), IconColor(frame));
    }

    void withoutOffsetTheIconStays()
    {
        TToolBtn b(FSkins.get(), "NoSuchOffset", "OpenButton", "ToolButtonBackground");
        Enter(&b);
        QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(b.PressedOffset(), QPoint());
        QCOMPARE(Shot(&b).pixel(12, 7), IconColor(2));
    }

    void missingStripsDrawLess()
    {
        QWidget parent;
        parent.resize(100, 60);
        auto* placeholder = new QWidget(&parent);
        placeholder->setGeometry(7, 8, 40, 30);
        TToolBtn* iconOnly =
            PlaceToolButton(FSkins.get(), placeholder,
                            {"P", "NoBackground", "ToolButtonOffset", "OpenButton", "A"}, nullptr);
        QCOMPARE(iconOnly->geometry(), QRect(7, 8, 40, 30));
        const QImage shot = Shot(iconOnly);
        QCOMPARE(qAlpha(shot.pixel(0, 0)), 0);
        QCOMPARE(shot.pixel(20, 15), IconColor(0));

        TToolBtn nothing(FSkins.get(), "X", "NoIcon", "NoBackground");
        nothing.resize(20, 20);
        const QImage empty = Shot(&nothing);
        for (int y = 0; y < empty.height(); ++y)
            for (int x = 0; x < empty.width(); ++x)
                QCOMPARE(qAlpha(empty.pixel(x, y)), 0);
    }

    void placedButtonCarriesOutItsAction()
    {
        QWidget bar;
        auto* row = new QHBoxLayout(&bar);
        auto* left = new QWidget(&bar);
        auto* placeholder = new QWidget(&bar);
        placeholder->setObjectName("OpenButton");
        placeholder->setFixedSize(44, 33);
        row->addWidget(left);
        row->addWidget(placeholder);
        QAction action("阅读图书");
        int triggered = 0;
        connect(&action, &QAction::triggered, this, [&] { ++triggered; });

        TToolBtn* b = PlaceToolButton(FSkins.get(), placeholder, MainToolButtons[0], &action);
        QCOMPARE(row->indexOf(b), 1);
        QCOMPARE(row->indexOf(placeholder), -1);
        QVERIFY(placeholder->isHidden());
        QCOMPARE(b->objectName(), QString("OpenButton"));
        QCOMPARE(b->toolTip(), QString("阅读图书"));
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        QCOMPARE(b->size(), QSize(44, 33)); // the placeholder's size wins over the strip's

        QTest::mouseClick(b, Qt::LeftButton);
        QCOMPARE(triggered, 1);
        // Let go outside the button: no click.
        QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(200, 5));
        QCOMPARE(triggered, 1);
        QTest::mouseClick(b, Qt::RightButton);
        QCOMPARE(triggered, 1);

        action.setEnabled(false);
        QVERIFY(!b->isEnabled());
        QCOMPARE(b->DisplayedFrame(), int(TToolBtn::frDisabled));
        QTest::mouseClick(b, Qt::LeftButton);
        QCOMPARE(triggered, 1);
        action.setVisible(false);
        QVERIFY(b->isHidden());
    }

    void viewButtonsFollowTheViews()
    {
        QWidget window;
        auto* list = new QWidget(&window);
        auto* thumbs = new QWidget(&window);
        TToolBtn listButton(FSkins.get(), "ToolButtonOffset", "OpenButton", "ToolButtonBackground");
        TToolBtn thumbButton(FSkins.get(), "ToolButtonOffset", "OpenButton",
                             "ToolButtonBackground");
        list->hide();
        FollowViews(&listButton, list, &thumbButton, thumbs, &window);
        QVERIFY(!listButton.Down());
        QVERIFY(thumbButton.Down());
        list->show();
        thumbs->hide();
        FollowViews(&listButton, list, &thumbButton, thumbs, &window);
        QVERIFY(listButton.Down());
        QVERIFY(!thumbButton.Down());
    }

    void survivesAnUnloadedSkin()
    {
        QWidget parent;
        TSkinManager skins;
        skins.SetResource(FSkins->Resource());
        auto* b =
            new TToolBtn(&skins, "ToolButtonOffset", "OpenButton", "ToolButtonBackground", &parent);
        skins.SetResource(nullptr); // the cache and its pictures are gone
        const QImage shot = Shot(b);
        QCOMPARE(shot.pixel(0, 0), BackgroundColor(0));
        QCOMPARE(shot.pixel(15, 10), IconColor(0));
    }

    void managerTakesItsButtonsAlong()
    {
        QWidget parent;
        QPointer<TToolBtn> b;
        {
            TSkinManager skins;
            skins.SetResource(FSkins->Resource());
            b = new TToolBtn(&skins, "ToolButtonOffset", "OpenButton", "ToolButtonBackground",
                             &parent);
            QVERIFY(b);
        }
        QVERIFY(b.isNull());
    }
};

QTEST_MAIN(ToolBtnTest)
#include "ToolBtnTest.moc"
