#include "Subclasses.h"
#include "rkView.h"
#include "SkinFixture.h"
#include "SkinItemDelegate.h"
#include "Skins.h"
#include "ZipSkinRes.h"

#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <cmath>

namespace {

// The colours of the nine pieces of a 30 x 20 background cut at (5, 4, 25, 16). The top and
// left edges have two halves each, so a stretched edge can be told from a repeated one.
const QRgb TopLeft = qRgb(200, 0, 0), TopA = qRgb(0, 200, 0), TopB = qRgb(0, 100, 0),
           TopRight = qRgb(0, 0, 200), LeftA = qRgb(200, 200, 0), LeftB = qRgb(100, 100, 0),
           Centre = qRgb(250, 250, 250), Right = qRgb(0, 200, 200), BottomLeft = qRgb(200, 0, 200),
           Bottom = qRgb(120, 60, 0), BottomRight = qRgb(60, 0, 120), Splitter = qRgb(1, 2, 3);

QByteArray NinePieces()
{
    QImage image(30, 20, QImage::Format_RGB32);
    QPainter p(&image);
    const auto fill = [&](int x, int y, int w, int h, QRgb c) {
        p.fillRect(x, y, w, h, QColor(c));
    };
    fill(0, 0, 5, 4, TopLeft);
    fill(5, 0, 10, 4, TopA);
    fill(15, 0, 10, 4, TopB);
    fill(25, 0, 5, 4, TopRight);
    fill(0, 4, 5, 6, LeftA);
    fill(0, 10, 5, 6, LeftB);
    fill(5, 4, 20, 12, Centre);
    fill(25, 4, 5, 12, Right);
    fill(0, 16, 5, 4, BottomLeft);
    fill(5, 16, 20, 4, Bottom);
    fill(25, 16, 5, 4, BottomRight);
    p.end();
    return EncodedImage(image);
}

// The contrast ratio of two colours (1 to 21), from their relative luminance.
double Contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

class SubclassesTest : public QObject
{
    Q_OBJECT

    QTemporaryDir FDir;
    std::unique_ptr<TSkinManager> FSkins;

    // The control as it paints itself.
    static QImage Shot(QWidget* w)
    {
        QImage image(w->size(), QImage::Format_RGB32);
        image.fill(Qt::black);
        w->render(&image);
        return image;
    }

private slots:
    void initTestCase()
    {
        const QString path = FDir.filePath("theme.zip");
        QVERIFY(WriteZip(path,
                         {{"skin.ini", "[Navigator]\nBackground=frame.bmp\nOffset=5,4,25,16\n"
                                       "Splitter=grip.bmp\nColor=Black\n"
                                       "[NoRightNoTop]\nBackground=frame.bmp\n"
                                       "Offset=5,0,0,16\nColor=Lime\n"
                                       "[Bare]\nColor=Lime\n"
                                       "[Toolbar]\nBackground=frame.bmp\nOffset=5,4,25,16\n"
                                       "[Thumbnail]\nColor=Red\nThumbnailSize=120,160\n"
                                       "SelectionColor=$00C08040\nFrameColor=16777215\n"
                                       "CornerSize=6\nThumbnailBorderWhenInvalid=True\n"
                                       "Font=\"DejaVu Sans\",9,Navy,B\nInvalidImage=grip.bmp\n"
                                       "[NamedSelection]\nSelectionColor=Red\n"
                                       "[List]\nColor=Lime\nRowOddColor=255,255,255\n"
                                       "ItemHeight=30\nLineStyle=2\nLineColor=Blue\n"
                                       "CaptionHeight=$20\n"
                                       "[PlainList]\nColor=Lime\nCaptionColor=Red\n"
                                       "[PaleSelection]\nColor=253,252,250\n"
                                       "Font=\"DejaVu Sans\",10,$00282A2B,\n"
                                       "ActiveFontColor=43,42,40\n"
                                       "SelectionColor=221,235,236\n"
                                       "InactiveSelectionColor=229,225,217\n"
                                       "[DarkSelection]\nColor=White\n"
                                       "Font=\"DejaVu Sans\",10,$00282A2B,\n"
                                       "ActiveFontColor=43,42,40\nSelectionColor=Navy\n"
                                       "InactiveSelectionColor=Maroon\n"
                                       "[LinedTree]\nLineStyle=2\nLineColor=Blue\n"
                                       "[UnlinedTree]\nLineStyle=0\nLineColor=Blue\n"
                                       "[CaptionList]\nCaptionImage=grip.bmp\nLineStyle=2\n"
                                       "LineColor=Blue\n"
                                       "[Tree]\nColor=White\nActiveFontColor=Red\nShowButton=True\n"
                                       "[Images]\nPDF=dot.bmp\nToolButtonOffset=1,2,3,4\n"
                                       "[HugePane]\nBackground=frame.bmp\nColor=Lime\n"
                                       "Offset=2147483647,2147483647,2147483647,2147483647\n"
                                       "[NegativePane]\nBackground=frame.bmp\nColor=Lime\n"
                                       "Offset=-2147483648,-2147483648,-2147483648,-2147483648\n"
                                       "[HugeThumbnail]\nThumbnailSize=2147483647,2147483647\n"
                                       "CornerSize=2147483647\n"
                                       "Font=Tahoma,2147483647,Navy,\n"
                                       "[HugeList]\nItemHeight=2147483647\n"
                                       "Font=Tahoma,-2147483648,Navy,\n"},
                          {"dot.bmp",
                           [] {
                               // A dot on a magenta ground: the ground is the bottom-left
                               // colour and so becomes transparent.
                               QImage image(4, 4, QImage::Format_RGB32);
                               image.fill(qRgb(255, 0, 255));
                               image.setPixel(1, 1, qRgb(0, 0, 0));
                               QByteArray bytes;
                               QBuffer buffer(&bytes);
                               buffer.open(QIODevice::WriteOnly);
                               image.save(&buffer, "BMP");
                               return bytes;
                           }()},
                          {"frame.bmp", NinePieces()},
                          {"grip.bmp", ImageBytes(2, 6, Splitter)}}));
        FSkins = std::make_unique<TSkinManager>();
        FSkins->SetResource(std::make_shared<TZipSkinResource>(path, QString()));
    }

    void cleanupTestCase() { FSkins.reset(); }

    void ninePieceFrame()
    {
        QWidget pane;
        pane.resize(100, 60);
        auto* sub = FSkins->Subclass<TNavigatorSubclass>(&pane, "Navigator");
        // The contents lose 5 on the left and right and 4 at the top and bottom.
        QCOMPARE(pane.contentsRect(), QRect(5, 4, 90, 52));
        QCOMPARE(sub->AdjustClientRect(QRect(0, 0, 100, 60)), QRect(5, 4, 90, 52));

        const QImage shot = Shot(&pane);
        const struct
        {
            QPoint At;
            QRgb Color;
        } expected[] = {
            // corners, unscaled
            {{0, 0}, TopLeft},
            {{4, 3}, TopLeft},
            {{95, 0}, TopRight},
            {{99, 3}, TopRight},
            {{0, 56}, BottomLeft},
            {{4, 59}, BottomLeft},
            {{95, 56}, BottomRight},
            {{99, 59}, BottomRight},
            // edges, stretched along their length
            {{5, 0}, TopA},
            {{47, 3}, TopA},
            {{52, 0}, TopB},
            {{94, 3}, TopB},
            {{0, 4}, LeftA},
            {{4, 27}, LeftA},
            {{0, 32}, LeftB},
            {{4, 55}, LeftB},
            {{50, 56}, Bottom},
            {{50, 59}, Bottom},
            {{95, 10}, Right},
            // the centre piece over the whole fill
            {{5, 4}, Centre},
            {{50, 30}, Centre},
            {{94, 55}, Centre},
            // the grip, centred on the right edge
            {{98, 27}, Splitter},
            {{99, 32}, Splitter},
            {{97, 30}, Right},
        };
        for (const auto& e : expected)
            QVERIFY2(shot.pixel(e.At) == e.Color, qPrintable(QString("(%1,%2): %3")
                                                                 .arg(e.At.x())
                                                                 .arg(e.At.y())
                                                                 .arg(shot.pixel(e.At), 0, 16)));

        // The right edge can be dragged: the 5 pixels of the right border are on it.
        QVERIFY(sub->OnSizingEdge(95));
        QVERIFY(!sub->OnSizingEdge(94));

        // Unhooked, the pane gets its own margins back.
        TComponentNexus::Instance().ReleaseAll(FSkins.get());
        QCOMPARE(pane.contentsRect(), QRect(0, 0, 100, 60));
    }

    void switchedOffSides()
    {
        QWidget panel;
        panel.resize(100, 60);
        auto* sub = FSkins->Subclass<TTreeContainerSubclass>(&panel, "NoRightNoTop");
        QCOMPARE(panel.contentsRect(), QRect(5, 0, 95, 56));
        const QImage shot = Shot(&panel);
        // No top edge, no right edge: the panel's own colour shows there.
        QCOMPARE(shot.pixel(50, 0), qRgb(0, 255, 0));
        QCOMPARE(shot.pixel(99, 30), qRgb(0, 255, 0));
        // The frame's left and bottom are still drawn, and the inside is the panel's.
        QCOMPARE(shot.pixel(2, 58), BottomLeft);
        QCOMPARE(shot.pixel(50, 58), Bottom);
        QCOMPARE(shot.pixel(50, 30), qRgb(0, 255, 0));
        QVERIFY(!FSkins->Subclass<TNavigatorSubclass>(new QWidget(&panel), "NoRightNoTop")
                     ->OnSizingEdge(99));
        Q_UNUSED(sub);
        TComponentNexus::Instance().ReleaseAll(FSkins.get());
    }

    void emptyBackgroundDrawsNothing()
    {
        QWidget pane;
        pane.resize(40, 30);
        auto* sub = FSkins->Subclass<TNavigatorSubclass>(&pane, "Bare");
        QCOMPARE(pane.contentsRect(), QRect(0, 0, 40, 30));
        QVERIFY(!sub->OnSizingEdge(39));
        QCOMPARE(Shot(&pane).pixel(20, 15), qRgb(0, 255, 0));
        TComponentNexus::Instance().ReleaseAll(FSkins.get());
    }

    void toolbarSlices()
    {
        QWidget bar;
        bar.resize(200, 50);
        FSkins->Subclass<TToolbarSubclass>(&bar, "Toolbar");
        const auto slices = bar.findChildren<QLabel*>("SkinSlice");
        QCOMPARE(slices.size(), 3);
        QList<QRect> geometries;
        for (QLabel* l : slices)
            geometries << l->geometry();
        std::sort(geometries.begin(), geometries.end(),
                  [](const QRect& a, const QRect& b) { return a.x() < b.x(); });
        QCOMPARE(geometries, (QList<QRect>{{0, 0, 5, 50}, {5, 0, 190, 50}, {195, 0, 5, 50}}));
        bar.resize(300, 40);
        QCOMPARE(Shot(&bar).pixel(299, 0), TopRight);
        QCOMPARE(Shot(&bar).pixel(0, 39), BottomLeft);
        TComponentNexus::Instance().ReleaseAll(FSkins.get());
    }

    void thumbnailSection()
    {
        auto* view = new TrkView;
        auto* sub = FSkins->Subclass<TThumbnailSubclass>(view, "Thumbnail");
        QCOMPARE(QSize(view->CellWidth(), view->CellHeight()), QSize(120, 160));
        QCOMPARE(view->Color(), QColor(255, 0, 0));
        const TThumbnailSkin& skin = sub->Painter()->Skin();
        // $00C08040 is blue C0, green 80, red 40; the numbers are not colour names.
        QCOMPARE(skin.SelectionColor, QColor(0x40, 0x80, 0xC0));
        QCOMPARE(skin.FrameColor, QColor(255, 255, 255));
        QCOMPARE(skin.ShadowColor, QColor(255, 255, 255));
        QCOMPARE(skin.CornerSize, 6);
        QVERIFY(skin.BorderWhenInvalid);
        QCOMPARE(skin.CaptionFont.family(), QString("DejaVu Sans"));
        QVERIFY(skin.CaptionFont.bold());
        QCOMPARE(skin.CaptionFontColor, QColor(0, 0, 128));
        QCOMPARE(skin.InvalidImage.size(), QSize(2, 6));
        // The placeholder by extension, its ground made transparent.
        QVERIFY(skin.ExtensionImages.contains("pdf"));
        const QImage pdf = skin.ExtensionImages.value("pdf");
        QCOMPARE(qAlpha(pdf.pixel(0, 0)), 0);
        QCOMPARE(pdf.pixel(1, 1), qRgb(0, 0, 0));
        QVERIFY(view->OnCellPaint);

        // The view's end frees the subclass; a new view can be subclassed again.
        delete view;
        QCOMPARE(TComponentNexus::Instance().SubclassOf(view), nullptr);

        TrkView other;
        try {
            FSkins->Subclass<TThumbnailSubclass>(&other, "NamedSelection");
            QFAIL("a colour name was taken for a number");
        } catch (const ESkinException& e) {
            QCOMPARE(e.Message(), QString("Invalid value \"Red\""));
        }
        QVERIFY(!other.OnCellPaint);
        QVERIFY(!TComponentNexus::Instance().IsSubclassed(&other));
    }

    // Numbers at the ends of the 32-bit range are brought into what a screen holds before any
    // arithmetic (the sanitised build aborts on an overflow); panes, views and rows still paint.
    void hostileNumbersAreBounded()
    {
        for (const char* section : {"HugePane", "NegativePane"}) {
            QWidget pane;
            pane.resize(100, 60);
            auto* sub = FSkins->Subclass<TNavigatorSubclass>(&pane, section);
            const QRect client = sub->AdjustClientRect(QRect(0, 0, 100, 60));
            QVERIFY(client.width() <= 100 && client.height() <= 60);
            Shot(&pane);
        }
        TrkView view;
        auto* sub = FSkins->Subclass<TThumbnailSubclass>(&view, "HugeThumbnail");
        QVERIFY(view.CellWidth() <= MaxSkinCellSize && view.CellHeight() <= MaxSkinCellSize);
        QVERIFY(sub->Painter()->Skin().CornerSize <= MaxSkinCellSize);
        QVERIFY(sub->Painter()->Skin().CaptionFont.pointSize() <= MaxSkinFontSize);
        view.resize(300, 200);
        Shot(&view);

        QStandardItemModel model(2, 1);
        model.setItem(0, 0, new QStandardItem("x"));
        QTreeView list;
        list.setModel(&model);
        list.resize(300, 200);
        FSkins->Subclass<TListSubclass>(&list, "HugeList");
        QVERIFY(list.visualRect(model.index(0, 0)).height() <= MaxSkinCellSize);
        Shot(&list);
    }

    void listRows()
    {
        QStandardItemModel model(4, 2);
        for (int r = 0; r < 4; ++r)
            model.setItem(r, 0, new QStandardItem("x"));
        QTreeView view;
        view.setModel(&model);
        view.resize(300, 200);
        QAbstractItemDelegate* own = view.itemDelegate();
        auto* sub = FSkins->Subclass<TListSubclass>(&view, "List");
        QCOMPARE(view.itemDelegate(), static_cast<const QAbstractItemDelegate*>(sub->Delegate()));
        QCOMPARE(view.visualRect(model.index(0, 0)).height(), 30);
        QCOMPARE(view.header()->height(), 32);
        const auto rowPixel = [&](const QImage& shot, int row) {
            const QRect r = view.visualRect(model.index(row, 1));
            return shot.pixel(view.viewport()->mapTo(&view, r.center()));
        };
        QImage shot = Shot(&view);
        // The second and fourth rows are white; the others keep the list's own background.
        QCOMPARE(rowPixel(shot, 0), qRgb(0, 255, 0));
        QCOMPARE(rowPixel(shot, 1), qRgb(255, 255, 255));
        QCOMPARE(rowPixel(shot, 2), qRgb(0, 255, 0));
        QCOMPARE(rowPixel(shot, 3), qRgb(255, 255, 255));
        // Solid grid lines in the line colour under each row.
        const QRect r0 = view.visualRect(model.index(0, 1));
        QCOMPARE(shot.pixel(view.viewport()->mapTo(&view, QPoint(r0.center().x(), r0.bottom()))),
                 qRgb(0, 0, 255));

        // Released, the list paints as it did before, with its own delegate.
        TComponentNexus::Instance().ReleaseAll(FSkins.get());
        QCOMPARE(view.itemDelegate(), own);

        // Without row colours nothing is laid under the rows.
        FSkins->Subclass<TListSubclass>(&view, "PlainList");
        shot = Shot(&view);
        QCOMPARE(rowPixel(shot, 1), qRgb(0, 255, 0));
        TComponentNexus::Instance().ReleaseAll(FSkins.get());

        // A list that goes while subclassed takes its subclass and delegate along.
        auto* doomed = new QTreeView;
        doomed->setModel(&model);
        FSkins->Subclass<TListSubclass>(doomed, "List");
        delete doomed;
        QVERIFY(!TComponentNexus::Instance().IsSubclassed(doomed));
    }

    // Every selected row must read on the skin's selection colour: the focused one and the
    // others, in an active and in an inactive window, on a pale and on a dark selection.
    void selectedRowsReadOnTheSelection_data()
    {
        QTest::addColumn<QString>("section");
        QTest::newRow("pale selection, dark text") << "PaleSelection";
        QTest::newRow("dark selection, dark text") << "DarkSelection";
    }
    void selectedRowsReadOnTheSelection()
    {
        QFETCH(QString, section);
        QStandardItemModel model(4, 2);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 2; ++c)
                model.setItem(r, c, new QStandardItem("MMMMMM"));
        QTreeView view;
        view.setModel(&model);
        view.setSelectionMode(QAbstractItemView::ExtendedSelection);
        view.setSelectionBehavior(QAbstractItemView::SelectRows);
        view.resize(400, 200);
        FSkins->Subclass<TListSubclass>(&view, section);
        // Rows 0 and 2 selected, row 2 the focused one; row 1 not selected.
        view.setCurrentIndex(model.index(2, 1));
        view.selectionModel()->select(model.index(0, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            const QColor selection = view.palette().color(group, QPalette::Highlight);
            QVERIFY(Contrast(view.palette().color(group, QPalette::HighlightedText), selection) >=
                    4.5);
        }
        // As painted: each selected cell holds text that stands out from the selection.
        const auto check = [&](QPalette::ColorGroup group) {
            const QImage shot = Shot(&view);
            const QColor selection = view.palette().color(group, QPalette::Highlight);
            for (int row : {0, 2})
                for (int column : {0, 1}) {
                    const QRect r = view.visualRect(model.index(row, column))
                                        .translated(view.viewport()->pos());
                    double best = 0;
                    for (int y = r.top(); y <= r.bottom(); ++y)
                        for (int x = r.left(); x < r.right(); ++x)
                            best = std::max(best, Contrast(QColor(shot.pixel(x, y)), selection));
                    QVERIFY2(
                        best >= 3,
                        qPrintable(QString("row %1 column %2: %3").arg(row).arg(column).arg(best)));
                }
        };
        check(QPalette::Inactive);
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        view.setFocus();
        check(QPalette::Active);
        TComponentNexus::Instance().ReleaseAll(FSkins.get());
    }

    void listHeader()
    {
        QStandardItemModel model(1, 2);
        model.setHorizontalHeaderLabels({"a", "b"});
        QTreeView view;
        view.setModel(&model);
        view.resize(300, 200);
        view.header()->resizeSection(0, 100);
        view.header()->resizeSection(1, 100);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        // Points of the header, in the shot of the whole list.
        const auto at = [&](int x, int y) {
            return view.header()->viewport()->mapTo(&view, QPoint(x, y));
        };
        const int bottom = view.header()->viewport()->height() - 1;
        struct
        {
            const char* Section;
            QRgb Fill;
            QRgb Line;
        } cases[] = {
            // The caption picture stretched under every column, grid lines in the line colour.
            {"CaptionList", Splitter, qRgb(0, 0, 255)},
            // Without a picture the caption colour.
            {"PlainList", qRgb(255, 0, 0), 0},
        };
        for (const auto& c : cases) {
            FSkins->Subclass<TListSubclass>(&view, c.Section);
            const QImage shot = Shot(&view);
            QCOMPARE(shot.pixel(at(50, 5)), c.Fill);
            QCOMPARE(shot.pixel(at(150, 5)), c.Fill);
            QCOMPARE(shot.pixel(at(250, 5)), c.Fill); // right of the last column
            if (c.Line) {
                QCOMPARE(shot.pixel(at(50, bottom)), c.Line);
                QCOMPARE(shot.pixel(at(99, 5)), c.Line);
            }
            TComponentNexus::Instance().ReleaseAll(FSkins.get());
        }
        // Released, the header paints itself again.
        QVERIFY(Shot(&view).pixel(at(50, 5)) != Splitter);
    }

    void treeLines()
    {
        QStandardItemModel model;
        auto* top = new QStandardItem("top");
        top->appendRow(new QStandardItem("first"));
        top->appendRow(new QStandardItem("second"));
        model.appendRow(top);
        model.appendRow(new QStandardItem("next"));
        QTreeView view;
        view.setHeaderHidden(true);
        view.setModel(&model);
        view.expandAll();
        view.resize(200, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const int indent = view.indentation();
        const auto pixel = [&](const QImage& shot, const QModelIndex& index, int x, int dy) {
            const QRect r = view.visualRect(index);
            return shot.pixel(view.viewport()->mapTo(&view, QPoint(x, r.center().y() + dy)));
        };
        const QModelIndex first = model.index(0, 0, model.index(0, 0));
        const QModelIndex second = model.index(1, 0, model.index(0, 0));
        const QRgb blue = qRgb(0, 0, 255);

        auto* sub = FSkins->Subclass<TTreeSubclass>(&view, "LinedTree");
        QVERIFY(sub->TreeLines());
        QImage shot = Shot(&view);
        // Children hang off their parent's column: the stub to the node, the line down past
        // the first child, and no line below the last one.
        QCOMPARE(pixel(shot, first, indent / 2, 0), blue);
        QCOMPARE(pixel(shot, first, indent - 2, 0), blue);
        QCOMPARE(pixel(shot, first, indent / 2, 6), blue);
        QCOMPARE(pixel(shot, second, indent / 2, -3), blue);
        QVERIFY(pixel(shot, second, indent / 2, 6) != blue);
        // Top-level nodes without buttons have no lines.
        QVERIFY(pixel(shot, model.index(1, 0), indent / 2, 0) != blue);
        TComponentNexus::Instance().ReleaseAll(FSkins.get());
        QVERIFY(pixel(Shot(&view), first, indent / 2, 0) != blue);

        FSkins->Subclass<TTreeSubclass>(&view, "UnlinedTree");
        QVERIFY(pixel(Shot(&view), first, indent / 2, 0) != blue);
        TComponentNexus::Instance().ReleaseAll(FSkins.get());
    }

    void navigatorSizingEdge()
    {
        QSplitter splitter;
        auto* pane = new QWidget;
        auto* other = new QWidget;
        splitter.addWidget(pane);
        splitter.addWidget(other);
        splitter.resize(400, 100);
        splitter.setSizes({100, 300});
        splitter.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splitter));
        const int w = pane->width();
        const QList<int> before = splitter.sizes();
        auto* sub = FSkins->Subclass<TNavigatorSubclass>(pane, "Navigator");
        // The right border is 5 wide: its pixels are the edge, the one left of it is not.
        QVERIFY(sub->OnSizingEdge(w - 5));
        QVERIFY(!sub->OnSizingEdge(w - 6));

        // Dragging elsewhere does nothing; dragging the edge moves it, the neighbour follows.
        QTest::mousePress(pane, Qt::LeftButton, {}, QPoint(50, 50));
        QTest::mouseMove(pane, QPoint(80, 50));
        QTest::mouseRelease(pane, Qt::LeftButton, {}, QPoint(80, 50));
        QCOMPARE(splitter.sizes(), before);
        const auto send = [&](QEvent::Type type, int x, Qt::MouseButtons buttons) {
            const QPoint at(x, 50);
            QMouseEvent e(type, at, pane->mapToGlobal(at),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, {});
            QCoreApplication::sendEvent(pane, &e);
        };
        send(QEvent::MouseButtonPress, w - 3, Qt::LeftButton);
        send(QEvent::MouseMove, w + 27, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, w + 27, Qt::NoButton);
        QCOMPARE(splitter.sizes(), (QList<int>{before[0] + 30, before[1] - 30}));
        TComponentNexus::Instance().ReleaseAll(FSkins.get());
    }

    void treeText()
    {
        QStandardItemModel model;
        auto* top = new QStandardItem("MMMMMM");
        top->appendRow(new QStandardItem("MMMMMM"));
        model.appendRow(top);
        model.appendRow(new QStandardItem("MMMMMM"));
        QTreeView view;
        view.setModel(&model);
        view.setHeaderHidden(true);
        view.setRootIsDecorated(false);
        view.resize(300, 200);
        view.expandAll();
        FSkins->Subclass<TTreeSubclass>(&view, "Tree");
        QVERIFY(view.rootIsDecorated());
        const QModelIndex child = model.index(0, 0, model.index(0, 0));
        const QModelIndex second = model.index(1, 0);
        view.setCurrentIndex(second);
        view.selectionModel()->clearSelection();
        const QImage shot = Shot(&view);
        const auto count = [&](const QModelIndex& index, auto&& test) {
            const QRect r = view.visualRect(index).translated(view.viewport()->pos());
            int n = 0;
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x)
                    n += test(QColor(shot.pixel(x, y)));
            return n;
        };
        const auto red = [](const QColor& c) {
            return c.red() > 180 && c.green() < 90 && c.blue() < 90;
        };
        const auto ink = [](const QColor& c) { return c.lightness() < 160; };
        // The focused row's text is in the skin's colour, the others not.
        QVERIFY(count(second, red) > 0);
        QCOMPARE(count(child, red), 0);
        // The top-level node is bold: the same text takes more ink than in the child row.
        QVERIFY2(
            count(model.index(0, 0), ink) > count(child, ink) * 6 / 5,
            qPrintable(
                QString("%1 vs %2").arg(count(model.index(0, 0), ink)).arg(count(child, ink))));
        TComponentNexus::Instance().ReleaseAll(FSkins.get());
    }
};

QTEST_MAIN(SubclassesTest)
#include "SubclassesTest.moc"
