#include "rkView.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <QtTest>
#include <QWheelEvent>

#include <memory>
#include <vector>

namespace {

struct TPaintCall
{
    int IdxA;
    int64_t Idx;
    TsvItemState State;
    QRect Cell;
};

std::vector<int64_t> Values(const TIntList& list)
{
    std::vector<int64_t> out;
    for (int i = 0; i < list.Count(); ++i)
        out.push_back(list.Get(i));
    return out;
}

// Item values are 100 + index, so values and indexes cannot be mixed up unnoticed.
std::vector<int64_t> ValuesOf(std::initializer_list<int> indexes)
{
    std::vector<int64_t> out;
    for (int i : indexes)
        out.push_back(100 + i);
    return out;
}

void SendMouse(TrkView& view, QEvent::Type type, QPoint pos, Qt::MouseButton button,
               Qt::MouseButtons buttons, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QMouseEvent event(type, QPointF(pos), QPointF(view.viewport()->mapToGlobal(pos)), button,
                      buttons, mods);
    QApplication::sendEvent(view.viewport(), &event);
}

void Press(TrkView& view, QPoint pos, Qt::KeyboardModifiers mods = Qt::NoModifier,
           Qt::MouseButton button = Qt::LeftButton)
{
    SendMouse(view, QEvent::MouseButtonPress, pos, button, button, mods);
}

void Release(TrkView& view, QPoint pos, Qt::MouseButton button = Qt::LeftButton)
{
    SendMouse(view, QEvent::MouseButtonRelease, pos, button, Qt::NoButton);
}

void Click(TrkView& view, QPoint pos, Qt::KeyboardModifiers mods = Qt::NoModifier,
           Qt::MouseButton button = Qt::LeftButton)
{
    Press(view, pos, mods, button);
    Release(view, pos, button);
}

void Drag(TrkView& view, QPoint pos, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    SendMouse(view, QEvent::MouseMove, pos, Qt::NoButton, Qt::LeftButton, mods);
}

void Wheel(TrkView& view, int delta)
{
    const QPoint pos(50, 50);
    QWheelEvent event(QPointF(pos), QPointF(view.viewport()->mapToGlobal(pos)), QPoint(),
                      QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &event);
}

// The centre of the cell of an index, in client coordinates.
QPoint CellCentre(const TrkView& view, int index)
{
    const QRect r = view.ItemRect(index);
    return QPoint(r.left() + 75, r.top() - view.ScrollPos() + 75);
}

} // namespace

class ThumbnailViewTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TrkView> FView;
    int FSelectingCount = -1;
    int FSelectingCalls = 0;
    int FDblClicks = 0;
    std::vector<int> FKeys;
    std::vector<QPoint> FMouseDowns;

    // A view whose client area is exactly width x height, with `count` items.
    TrkView& MakeView(int width, int height, int count, bool multiple = true)
    {
        FView = std::make_unique<TrkView>();
        TrkView& v = *FView;
        v.SetBorderStyle(bsNone);
        v.SetMultipleSelection(multiple);
        v.resize(width, height);
        for (int i = 0; i < count; ++i)
            v.Items().Add(100 + i);
        v.show();
        if (!QTest::qWaitForWindowExposed(&v)) qWarning("view not exposed");
        v.CalcView();
        FSelectingCount = -1;
        FSelectingCalls = 0;
        FDblClicks = 0;
        FKeys.clear();
        FMouseDowns.clear();
        v.OnSelecting = [this](TrkView*, int count) {
            FSelectingCount = count;
            ++FSelectingCalls;
        };
        v.OnDblClick = [this](TrkView*) { ++FDblClicks; };
        v.OnKeyDown = [this](TrkView*, QKeyEvent* e) { FKeys.push_back(e->key()); };
        v.OnMouseDown = [this](TrkView*, Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
            FMouseDowns.emplace_back(x, y);
        };
        return v;
    }

private slots:
    void cleanup() { FView.reset(); }

    void creationValues()
    {
        TrkView v;
        QCOMPARE(v.CellWidth(), 150);
        QCOMPARE(v.CellHeight(), 150);
        QCOMPARE(v.CellOffset(), 10);
        QCOMPARE(v.CellSpace(), 10);
        QCOMPARE(v.Color(), QApplication::palette().color(QPalette::Base));
        QCOMPARE(v.ColorSel(), QApplication::palette().color(QPalette::Highlight));
        QVERIFY(!v.MultipleSelection());
        QVERIFY(v.HotTracking());
        QVERIFY(v.CellSelect());
        QCOMPARE(v.BorderStyle(), bsSingle);
        QVERIFY(v.frameWidth() > 0);
        QVERIFY(v.ShowHint());
        QCOMPARE(v.FocusIndex(), -1);
        QCOMPARE(v.HotIndex(), -1);
    }

    void layoutArithmetic_data()
    {
        QTest::addColumn<QSize>("client");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("columns");
        QTest::addColumn<bool>("scrolling");
        QTest::addColumn<int>("content");
        QTest::addColumn<int>("maxScroll");
        // The worked example: the trial gives 3 columns and 7 rows, too tall, so the bar's 17
        // pixels are reserved and 2 columns remain.
        QTest::newRow("500x300, 20 items") << QSize(500, 300) << 20 << 2 << true << 1610 << 1310;
        QTest::newRow("tall enough for 3 columns")
            << QSize(500, 1200) << 20 << 3 << false << 1130 << 0;
        QTest::newRow("narrower than one pitch") << QSize(100, 300) << 3 << 1 << true << 490 << 190;
        QTest::newRow("exactly fits") << QSize(500, 330) << 6 << 3 << false << 330 << 0;
        QTest::newRow("one pixel short") << QSize(500, 329) << 6 << 2 << true << 490 << 161;
        QTest::newRow("no items") << QSize(500, 300) << 0 << 1 << false << 0 << 0;
    }

    void layoutArithmetic()
    {
        QFETCH(QSize, client);
        QFETCH(int, count);
        QFETCH(int, columns);
        QFETCH(bool, scrolling);
        QFETCH(int, content);
        QFETCH(int, maxScroll);
        const TrkViewLayout l =
            TrkViewLayout::Compute(client.width(), client.height(), count, 150, 150, 10, 10, 17);
        QCOMPARE(l.PitchX, 160);
        QCOMPARE(l.PitchY, 160);
        QCOMPARE(l.Columns, columns);
        QCOMPARE(l.ScrollActive, scrolling);
        if (count > 0) QCOMPARE(l.Content, content);
        QCOMPARE(l.MaxScroll, maxScroll);
        QCOMPARE(l.LeftMargin, 10);
    }

    void layoutOfTheWidget()
    {
        TrkView& v = MakeView(500, 300, 20);
        QCOMPARE(v.ClientWidth(), 500);
        QCOMPARE(v.Layout().Columns, 2);
        QCOMPARE(v.Layout().MaxScroll, 1310);
        QVERIFY(v.verticalScrollBar()->isVisible());
        QCOMPARE(v.verticalScrollBar()->maximum(), 1310);
        QCOMPARE(v.verticalScrollBar()->singleStep(), 160);
        QCOMPARE(v.viewport()->width(), 500 - v.ScrollBarWidth());
        QCOMPARE(v.ItemRect(3), QRect(170, 170, 150, 149));

        // Growing the window drops the bar once everything fits.
        v.resize(500, 1200);
        QTRY_COMPARE(v.Layout().Columns, 3);
        QVERIFY(!v.Layout().ScrollActive);
        QVERIFY(!v.verticalScrollBar()->isVisible());

        v.SetScrollPos(100);
        v.Clear();
        QCOMPARE(v.Items().Count(), 0);
        QCOMPARE(v.ScrollPos(), 0);
        QCOMPARE(v.FocusIndex(), -1);
        QVERIFY(!v.verticalScrollBar()->isVisible());
    }

    void hitTest_data()
    {
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<int>("scroll");
        QTest::addColumn<int>("index");
        QTest::newRow("first cell's corner") << QPoint(10, 10) << 0 << 0;
        QTest::newRow("right edge included") << QPoint(160, 20) << 0 << 0;
        QTest::newRow("one pixel into the gap") << QPoint(161, 20) << 0 << -1;
        QTest::newRow("next cell's left edge") << QPoint(170, 20) << 0 << 1;
        QTest::newRow("left margin") << QPoint(9, 20) << 0 << -1;
        QTest::newRow("top margin") << QPoint(20, 9) << 0 << -1;
        QTest::newRow("bottom edge included") << QPoint(20, 160) << 0 << 0;
        QTest::newRow("gap below") << QPoint(20, 161) << 0 << -1;
        QTest::newRow("second row") << QPoint(20, 170) << 0 << 2;
        QTest::newRow("right of the last column") << QPoint(331, 20) << 0 << -1;
        QTest::newRow("past the last item") << QPoint(200, 10 + 9 * 160) << 0 << -1;
        QTest::newRow("last item") << QPoint(20, 10 + 9 * 160) << 0 << 18;
        QTest::newRow("scrolled, bottom edge at top") << QPoint(20, 0) << 320 << 2;
        QTest::newRow("scrolled, gap") << QPoint(20, 5) << 320 << -1;
        QTest::newRow("scrolled, next row") << QPoint(20, 10) << 320 << 4;
    }

    void hitTest()
    {
        QFETCH(QPoint, point);
        QFETCH(int, scroll);
        QFETCH(int, index);
        TrkView& v = MakeView(500, 300, 19);
        v.SetScrollPos(scroll);
        QCOMPARE(v.ScrollPos(), scroll);
        QCOMPARE(v.ItemIndexAt(point), index);
        QCOMPARE(v.ItemAt(point), index < 0 ? int64_t(-1) : int64_t(100 + index));
    }

    void selectionByMouse()
    {
        TrkView& v = MakeView(500, 1200, 20);
        Click(v, CellCentre(v, 0));
        QCOMPARE(Values(v.Selection()), ValuesOf({0}));
        QCOMPARE(v.FocusIndex(), 0);
        QCOMPARE(FSelectingCount, 1);

        Click(v, CellCentre(v, 4), Qt::ShiftModifier);
        QCOMPARE(Values(v.Selection()), ValuesOf({0, 1, 2, 3, 4}));
        Click(v, CellCentre(v, 2), Qt::ShiftModifier); // from the focus (4) back to 2
        QCOMPARE(Values(v.Selection()), ValuesOf({4, 3, 2}));

        Click(v, CellCentre(v, 3), Qt::ControlModifier);
        QCOMPARE(Values(v.Selection()), ValuesOf({4, 2}));
        Click(v, CellCentre(v, 7), Qt::ControlModifier);
        QCOMPARE(Values(v.Selection()), ValuesOf({4, 2, 7}));
        Click(v, CellCentre(v, 0), Qt::ShiftModifier | Qt::ControlModifier);
        QCOMPARE(Values(v.Selection()), ValuesOf({4, 2, 7}));

        // A plain click on a selected item keeps the whole selection (for dragging).
        Click(v, CellCentre(v, 2));
        QCOMPARE(Values(v.Selection()), ValuesOf({4, 2, 7}));
        QCOMPARE(v.FocusIndex(), 2);
        Click(v, CellCentre(v, 5), Qt::NoModifier, Qt::RightButton);
        QCOMPARE(Values(v.Selection()), ValuesOf({5}));

        // The middle button changes nothing but still reports the press.
        const size_t downs = FMouseDowns.size();
        Click(v, CellCentre(v, 9), Qt::NoModifier, Qt::MiddleButton);
        QCOMPARE(Values(v.Selection()), ValuesOf({5}));
        QCOMPARE(FMouseDowns.size(), downs + 1);

        // A click in the gap clears the selection and the focus and starts a band.
        Press(v, QPoint(165, 50));
        QCOMPARE(v.Selection().Count(), 0);
        QCOMPARE(v.FocusIndex(), -1);
        QCOMPARE(FSelectingCount, 0);
        QVERIFY(v.BandActive());
        QVERIFY(v.AutoScrollRunning());
        Release(v, QPoint(165, 50));
        QVERIFY(!v.BandActive());
        QVERIFY(!v.AutoScrollRunning());

        // Without multiple selection a click selects one item and starts no band.
        TrkView& single = MakeView(500, 1200, 20, false);
        Click(single, CellCentre(single, 1));
        Click(single, CellCentre(single, 3), Qt::ShiftModifier);
        QCOMPARE(Values(single.Selection()), ValuesOf({3}));
        Press(single, QPoint(165, 50));
        QVERIFY(!single.BandActive());
    }

    void doubleClickAndScrolledMouseDown()
    {
        TrkView& v = MakeView(500, 300, 20);
        Click(v, CellCentre(v, 0));
        Click(v, CellCentre(v, 1), Qt::ControlModifier);
        SendMouse(v, QEvent::MouseButtonDblClick, CellCentre(v, 1), Qt::LeftButton, Qt::LeftButton,
                  Qt::ControlModifier);
        QCOMPARE(FDblClicks, 1);
        // The double click's press does not toggle the item again.
        QCOMPARE(Values(v.Selection()), ValuesOf({0, 1}));
        Release(v, CellCentre(v, 1));
        SendMouse(v, QEvent::MouseMove, CellCentre(v, 1), Qt::NoButton, Qt::NoButton);
        Click(v, CellCentre(v, 2));
        QCOMPARE(Values(v.Selection()), ValuesOf({2}));
        SendMouse(v, QEvent::MouseButtonDblClick, CellCentre(v, 3), Qt::RightButton,
                  Qt::RightButton);
        QCOMPARE(FDblClicks, 1);
        QCOMPARE(Values(v.Selection()), ValuesOf({3}));

        // A click on a half-visible cell scrolls it in; the reported y follows the item.
        v.SetScrollPos(0);
        const int downs = int(FMouseDowns.size());
        Click(v, QPoint(20, 290)); // item 2, whose lower part is cut by the bottom edge
        QCOMPARE(v.FocusIndex(), 2);
        const int scrolled = v.ScrollPos();
        QVERIFY(scrolled > 0);
        QCOMPARE(FMouseDowns[size_t(downs)], QPoint(20, 290 - scrolled));
        QCOMPARE(v.ItemIndexAt(FMouseDowns[size_t(downs)]), 2);
    }

    void selectionByKeys()
    {
        TrkView& v = MakeView(500, 1200, 20); // 3 columns
        // No focus and no selection: a key with a modifier is swallowed.
        QTest::keyClick(&v, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(v.FocusIndex(), -1);
        QVERIFY(FKeys.empty());
        QVERIFY(FSelectingCalls > 0);
        // Without modifiers the first key focuses item 0 and goes on to the handler.
        QTest::keyClick(&v, Qt::Key_Down);
        QCOMPARE(v.FocusIndex(), 0);
        QCOMPARE(v.Selection().Count(), 0);
        QCOMPARE(FKeys, std::vector<int>{Qt::Key_Down});

        QTest::keyClick(&v, Qt::Key_Down);
        QCOMPARE(v.FocusIndex(), 3);
        QCOMPARE(Values(v.Selection()), ValuesOf({3}));
        QTest::keyClick(&v, Qt::Key_Right);
        QTest::keyClick(&v, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(&v, Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(v.FocusIndex(), 8);
        QCOMPARE(Values(v.Selection()), ValuesOf({4, 5, 6, 7, 8}));
        QCOMPARE(v.AnchorIndex(), 4);
        QTest::keyClick(&v, Qt::Key_Up);
        QCOMPARE(Values(v.Selection()), ValuesOf({5}));
        QCOMPARE(v.AnchorIndex(), 5);

        // The arrows stop at the first and the last item.
        QTest::keyClick(&v, Qt::Key_Up);
        QTest::keyClick(&v, Qt::Key_Up);
        QCOMPARE(v.FocusIndex(), 2);
        for (int i = 0; i < 30; ++i)
            QTest::keyClick(&v, Qt::Key_Right);
        QCOMPARE(v.FocusIndex(), 19);
        QTest::keyClick(&v, Qt::Key_Down);
        QCOMPARE(v.FocusIndex(), 19);

        // Keys the grid handles never reach the handler; Enter opens like a double click.
        FKeys.clear();
        QTest::keyClick(&v, Qt::Key_Return);
        QCOMPARE(FDblClicks, 1);
        QTest::keyClick(&v, Qt::Key_Tab);
        QTest::keyClick(&v, Qt::Key_Delete);
        QCOMPARE(FKeys, (std::vector<int>{Qt::Key_Tab, Qt::Key_Delete}));
        QVERIFY(v.hasFocus() || !v.isActiveWindow());
        QCOMPARE(Values(v.Selection()), ValuesOf({19}));
    }

    void itemsRemovedBehindTheFocus()
    {
        TrkView& v = MakeView(500, 1200, 20);
        Click(v, CellCentre(v, 19));
        for (int i = 19; i >= 10; --i)
            v.Items().Delete(i);
        // No layout pass yet: keys and clicks must still stay within the items.
        QTest::keyClick(&v, Qt::Key_Left);
        QCOMPARE(v.FocusIndex(), -1);
        Click(v, CellCentre(v, 9), Qt::ShiftModifier);
        QCOMPARE(Values(v.Selection()), ValuesOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
        for (int i = 9; i >= 2; --i)
            v.Items().Delete(i);
        v.CalcView();
        QCOMPARE(v.FocusIndex(), -1);
        QCOMPARE(v.AnchorIndex(), -1);
        v.PaintOffscreen();
    }

    void pageKeysScroll()
    {
        TrkView& v = MakeView(500, 300, 20);
        Click(v, CellCentre(v, 0));
        QTest::keyClick(&v, Qt::Key_PageDown);
        QCOMPARE(v.ScrollPos(), 300);
        QTest::keyClick(&v, Qt::Key_End);
        QCOMPARE(v.ScrollPos(), 1310);
        QTest::keyClick(&v, Qt::Key_PageDown);
        QCOMPARE(v.ScrollPos(), 1310);
        QTest::keyClick(&v, Qt::Key_PageUp);
        QCOMPARE(v.ScrollPos(), 1010);
        QTest::keyClick(&v, Qt::Key_Home);
        QCOMPARE(v.ScrollPos(), 1010);
        QTest::keyClick(&v, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(v.ScrollPos(), 0);
        QCOMPARE(v.FocusIndex(), 0); // scrolling keys leave the focus alone
    }

    void rubberBand()
    {
        TrkView& v = MakeView(500, 1200, 20);
        v.SetColor(Qt::white);
        v.SetColorSel(QColor(0, 0, 255));
        Press(v, QPoint(5, 5));
        QCOMPARE(v.BandStart(), QPoint(5, -5));
        Drag(v, QPoint(330, 200));
        QCOMPARE(v.BandEnd(), QPoint(330, 190));
        // Touching the third column's left edge is not an intersection.
        QCOMPARE(Values(v.Selection()), ValuesOf({0, 1, 3, 4}));
        QCOMPARE(FSelectingCount, 4);

        const QImage& image = v.PaintOffscreen();
        QCOMPARE(QColor(image.pixel(50, 50)), QColor(223, 223, 255)); // 1/8 toward blue
        QCOMPARE(QColor(image.pixel(5, 100)), QColor(0, 0, 255));     // outline
        QCOMPARE(QColor(image.pixel(100, 200)), QColor(0, 0, 255));
        QCOMPARE(QColor(image.pixel(340, 100)), QColor(Qt::white));
        QCOMPARE(QColor(image.pixel(100, 205)), QColor(Qt::white));

        // Dragging back up shrinks the selection; no hint while banding.
        Drag(v, QPoint(150, 100));
        QCOMPARE(Values(v.Selection()), ValuesOf({0}));
        Release(v, QPoint(150, 100));
        QVERIFY(!v.BandActive());
        QCOMPARE(Values(v.Selection()), ValuesOf({0}));
        QCOMPARE(QColor(v.PaintOffscreen().pixel(50, 50)), QColor(Qt::white));
    }

    void bandAutoScroll()
    {
        TrkView& v = MakeView(500, 300, 20);
        v.SetScrollPos(500);
        Press(v, QPoint(165, 100));
        QVERIFY(v.AutoScrollRunning());
        Drag(v, QPoint(400, 320));
        QCOMPARE(v.AutoScrollSpeed(), 400);
        Drag(v, QPoint(400, 320), Qt::ShiftModifier);
        QCOMPARE(v.AutoScrollSpeed(), 800);
        Drag(v, QPoint(400, -10));
        QCOMPARE(v.AutoScrollSpeed(), -100);
        Drag(v, QPoint(400, -10), Qt::ShiftModifier);
        QCOMPARE(v.AutoScrollSpeed(), -200);

        v.AutoScrollTick();
        QCOMPARE(v.ScrollPos(), 300);
        QCOMPARE(v.BandEnd().y(), 500 - 10 - 200);
        v.AutoScrollTick();
        QCOMPARE(v.ScrollPos(), 100);
        v.AutoScrollTick();
        QCOMPARE(v.ScrollPos(), 0);
        // The band now reaches from content y 590 up past the top: rows 0 to 3 of the
        // second column.
        QCOMPARE(Values(v.Selection()), ValuesOf({1, 3, 5, 7}));

        Drag(v, QPoint(400, 150));
        QCOMPARE(v.AutoScrollSpeed(), 0);
        v.AutoScrollTick();
        QCOMPARE(v.ScrollPos(), 0);

        // A move without the button held ends the band.
        SendMouse(v, QEvent::MouseMove, QPoint(165, 150), Qt::NoButton, Qt::NoButton);
        QVERIFY(!v.BandActive());
        QVERIFY(!v.AutoScrollRunning());
    }

    void wheelScrollsOneRowPerNotch()
    {
        TrkView& v = MakeView(500, 300, 20);
        Wheel(v, -120);
        QCOMPARE(v.ScrollPos(), 160);
        Wheel(v, -1);
        QCOMPARE(v.ScrollPos(), 320);
        Wheel(v, -960);
        QCOMPARE(v.ScrollPos(), 480);
        Wheel(v, 480);
        QCOMPARE(v.ScrollPos(), 320);
        v.SetScrollPos(1300);
        Wheel(v, -120);
        QCOMPARE(v.ScrollPos(), 1310);
        Wheel(v, -120);
        QCOMPARE(v.ScrollPos(), 1310);

        TrkView& still = MakeView(500, 1200, 20);
        Wheel(still, -120);
        QCOMPARE(still.ScrollPos(), 0);
    }

    void paintsOnlyVisibleCellsWithTheirState()
    {
        TrkView& v = MakeView(500, 300, 20);
        std::vector<TPaintCall> calls;
        v.OnCellPaint = [&calls](TrkView*, QPainter&, const QRect& cell, int idxA, int64_t idx,
                                 TsvItemState state) {
            calls.push_back({idxA, idx, state, cell});
        };
        v.Selection().Add(103);
        v.Selection().Add(102);
        SendMouse(v, QEvent::MouseMove, CellCentre(v, 2), Qt::NoButton, Qt::NoButton);
        QCOMPARE(v.HotIndex(), 2);
        v.PaintOffscreen();
        QCOMPARE(calls.size(), size_t(4));
        QCOMPARE(calls[0].Cell, QRect(10, 10, 150, 150));
        QCOMPARE(calls[3].Cell, QRect(170, 170, 150, 150));
        QCOMPARE(calls[1].Idx, int64_t(101));
        QCOMPARE(calls[1].State, svNormal);
        QCOMPARE(calls[2].State, svHot); // hot wins over selected
        QCOMPARE(calls[3].State, svSelected);

        calls.clear();
        v.SetScrollPos(155);
        v.PaintOffscreen();
        QCOMPARE(calls.size(), size_t(6));
        QCOMPARE(calls[0].IdxA, 0);
        QCOMPARE(calls[0].Cell.top(), 10 - 155);
        QCOMPARE(calls[5].Cell.top(), 10 + 2 * 160 - 155);

        // Leaving the control clears the hot item.
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(v.viewport(), &leave);
        QCOMPARE(v.HotIndex(), -1);

        calls.clear();
        v.BeginUpdate();
        v.PaintOffscreen();
        QVERIFY(calls.empty());
        v.EndUpdate();
        v.PaintOffscreen();
        QVERIFY(!calls.empty());
    }

    void hintsOnlyWhenAskedFor()
    {
        TrkView& v = MakeView(500, 1200, 20);
        std::vector<int64_t> asked;
        v.OnHintShow = [&asked](TrkView*, int64_t idx, int column, QString& text, bool& show) {
            QCOMPARE(column, -1);
            asked.push_back(idx);
            text = QStringLiteral("书名 %1").arg(idx);
            show = idx == 101;
        };
        auto hint = [&v](QPoint pos) {
            QHelpEvent event(QEvent::ToolTip, pos, v.viewport()->mapToGlobal(pos));
            QApplication::sendEvent(v.viewport(), &event);
            return QToolTip::isVisible() ? QToolTip::text() : QString();
        };
        QCOMPARE(hint(CellCentre(v, 0)), QString());
        QCOMPARE(hint(QPoint(165, 50)), QString()); // gap: nobody is asked
        QCOMPARE(hint(CellCentre(v, 1)), QStringLiteral("书名 101"));
        hint(CellCentre(v, 0));
        QTRY_VERIFY(!QToolTip::isVisible());
        QCOMPARE(asked, (std::vector<int64_t>{100, 101, 100}));
    }
};

QTEST_MAIN(ThumbnailViewTest)
#include "ThumbnailViewTest.moc"
