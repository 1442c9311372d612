// What a screen reader gets from the thumbnail grid and the skinned tool buttons, through Qt's
// accessibility interfaces: the cells with their names and states, the selection, the focus,
// the actions, the events, and no interface left pointing at an item that went.
#include "rkView.h"
#include "rkViewAccessible.h"
#include "Skins.h"
#include "ToolBtn.h"

#include <QAccessible>
#include <QAction>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

struct TEventRecord
{
    QAccessible::Event Type;
    int Child;
};

// The events sent about the grid under test. The offscreen platform has no accessibility bridge,
// so the grid's test observer hears them.
QObject* Watched = nullptr;
std::vector<TEventRecord> Events;

void RecordEvent(QAccessibleEvent* event)
{
    if (event->object() == Watched) Events.push_back({event->type(), event->child()});
}

bool HasEvent(QAccessible::Event type, int child)
{
    for (const TEventRecord& e : Events)
        if (e.Type == type && e.Child == child) return true;
    return false;
}

int CountOf(QAccessible::Event type)
{
    int n = 0;
    for (const TEventRecord& e : Events)
        if (e.Type == type) ++n;
    return n;
}

// Item values are 100 + index; a cell's text names its value, so a cell that answers for the
// wrong item shows.
QString TextOf(int64_t value)
{
    return QStringLiteral("书 %1, 作者 %1").arg(value);
}

// The centre of the cell of an index, in client coordinates.
QPoint CellCentre(const TrkView& view, int index)
{
    const QRect r = view.ItemRect(index);
    return QPoint(r.left() + view.CellWidth() / 2,
                  r.top() - view.ScrollPos() + view.CellHeight() / 2);
}

void Click(TrkView& view, int index, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    const QPoint pos = CellCentre(view, index);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(pos),
                      QPointF(view.viewport()->mapToGlobal(pos)), Qt::LeftButton, Qt::LeftButton,
                      mods);
    QApplication::sendEvent(view.viewport(), &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(pos),
                        QPointF(view.viewport()->mapToGlobal(pos)), Qt::LeftButton, Qt::NoButton,
                        mods);
    QApplication::sendEvent(view.viewport(), &release);
}

QAccessibleActionInterface* Actions(QAccessibleInterface* iface)
{
    return iface ? iface->actionInterface() : nullptr;
}

} // namespace

class GridAccessibilityTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TrkView> FView;
    int FOpened = 0;

    // A 500 x 400 view of the default 150-pixel cells, 160 pixels apart: two or three columns,
    // as the scroll bar takes its place or not; tests ask the layout which.
    TrkView& MakeView(int count)
    {
        FView = std::make_unique<TrkView>();
        TrkView& v = *FView;
        v.SetBorderStyle(bsNone);
        v.SetMultipleSelection(true);
        v.resize(500, 400);
        v.OnCellText = [](TrkView*, int64_t idx, QString& text) { text = TextOf(idx); };
        v.OnDblClick = [this](TrkView*) { ++FOpened; };
        for (int i = 0; i < count; ++i)
            v.Items().Add(100 + i);
        v.CalcView();
        v.show();
        if (!QTest::qWaitForWindowExposed(&v)) qWarning("view not exposed");
        Watched = &v;
        Events.clear();
        FOpened = 0;
        return v;
    }

    QAccessibleInterface* Grid() { return QAccessible::queryAccessibleInterface(FView.get()); }

private slots:
    void init() { SetViewEventObserverForTests(RecordEvent); }

    void cleanup()
    {
        SetViewEventObserverForTests(nullptr);
        Watched = nullptr;
        FView.reset();
        Events.clear();
    }

    void listOfCellsNamedByTheirTexts()
    {
        TrkView& v = MakeView(12);
        QAccessibleInterface* grid = Grid();
        QVERIFY(grid);
        QCOMPARE(grid->role(), QAccessible::List);
        QVERIFY(grid->state().multiSelectable);
        QCOMPARE(grid->childCount(), 12);
        QAccessibleTableInterface* table = grid->tableInterface();
        QVERIFY(table);
        QCOMPARE(table->rowCount(), 12);
        QCOMPARE(table->columnCount(), 1);

        for (int i : {0, 4, 11}) {
            QAccessibleInterface* cell = grid->child(i);
            QVERIFY(cell);
            QCOMPARE(cell->role(), QAccessible::ListItem);
            QCOMPARE(cell->text(QAccessible::Name), TextOf(100 + i));
            QCOMPARE(cell->parent(), grid);
            QCOMPARE(grid->indexOfChild(cell), i);
            QCOMPARE(table->cellAt(i, 0), cell);
            QCOMPARE(cell->tableCellInterface()->rowIndex(), i);
            QVERIFY(cell->state().selectable && cell->state().focusable);
        }
        // Made once and kept; nothing outside the items.
        QCOMPARE(grid->child(4), grid->child(4));
        QVERIFY(!grid->child(12));
        QVERIFY(!grid->child(-1));
        QVERIFY(!table->cellAt(0, 1));

        // Where the cells are: a point inside cell 3 finds it, a gap finds none.
        const QPoint inside = v.viewport()->mapToGlobal(CellCentre(v, 3));
        QCOMPARE(grid->childAt(inside.x(), inside.y()), grid->child(3));
        QVERIFY(grid->child(3)->rect().contains(inside));
        const QPoint gap = v.viewport()->mapToGlobal(QPoint(5, 5));
        QVERIFY(!grid->childAt(gap.x(), gap.y()));
        // Cells out of sight say so: rows 160 pixels apart in a 400-pixel view show rows 0 to 2.
        const int columns = v.Layout().Columns;
        QVERIFY(!grid->child(3 * columns - 1)->state().offscreen);
        QVERIFY(grid->child(3 * columns)->state().offscreen);
        v.SetScrollPos(v.Layout().MaxScroll);
        QVERIFY(grid->child(0)->state().offscreen);
        QVERIFY(!grid->child(11)->state().offscreen);
    }

    void selectionReadAndChangedBothWays()
    {
        TrkView& v = MakeView(30);
        QAccessibleInterface* grid = Grid();
        QAccessibleTableInterface* table = grid->tableInterface();

        Click(v, 1);
        QVERIFY(grid->child(1)->state().selected);
        QVERIFY(grid->child(1)->tableCellInterface()->isSelected());
        QVERIFY(!grid->child(2)->state().selected);
        QVERIFY(HasEvent(QAccessible::Selection, 1)); // the selection is this cell alone
        Click(v, 3, Qt::ControlModifier);
        QVERIFY(HasEvent(QAccessible::SelectionAdd, 3));
        QCOMPARE(table->selectedRows(), QList<int>({1, 3}));
        QCOMPARE(table->selectedCellCount(), 2);
        QCOMPARE(table->selectedCells(),
                 QList<QAccessibleInterface*>({grid->child(1), grid->child(3)}));

        // From the screen reader: rows selected and unselected change the grid's selection,
        // and the owner hears of it as from the mouse.
        int selecting = 0;
        v.OnSelecting = [&](TrkView*, int) { ++selecting; };
        Events.clear();
        QVERIFY(table->selectRow(5));
        QVERIFY(table->unselectRow(1));
        QCOMPARE(table->selectedRows(), QList<int>({3, 5}));
        QCOMPARE(v.Selection().Count(), 2);
        QCOMPARE(selecting, 2);
        QVERIFY(HasEvent(QAccessible::SelectionAdd, 5));
        QVERIFY(HasEvent(QAccessible::SelectionRemove, 1));
        QVERIFY(!table->selectRow(30));
        QVERIFY(!table->selectColumn(0));

        // A change the owner makes to the selection itself, too large to tell cell by cell.
        Events.clear();
        v.Selection().Clear();
        for (int i = 0; i < v.Items().Count(); ++i)
            v.Selection().Add(v.Items().Get(i));
        v.SelectionChanged();
        QCOMPARE(CountOf(QAccessible::SelectionWithin), 1);
        QCOMPARE(CountOf(QAccessible::SelectionAdd), 0);
        QCOMPARE(table->selectedCellCount(), 30);
    }

    void focusFollowsTheKeyboard()
    {
        TrkView& v = MakeView(7);
        v.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&v));
        v.setFocus();
        QTRY_VERIFY(v.hasFocus());
        QAccessibleInterface* grid = Grid();
        Events.clear();

        QTest::keyClick(&v, Qt::Key_Down); // the first key focuses cell 0
        QVERIFY(HasEvent(QAccessible::Focus, 0));
        QTest::keyClick(&v, Qt::Key_Right);
        QVERIFY(HasEvent(QAccessible::Focus, 1));
        QCOMPARE(grid->focusChild(), grid->child(1));
        QVERIFY(grid->child(1)->state().focused);
        QVERIFY(!grid->child(0)->state().focused);
        const int below = 1 + v.Layout().Columns;
        QTest::keyClick(&v, Qt::Key_Down);
        QVERIFY(HasEvent(QAccessible::Focus, below));
        QCOMPARE(grid->focusChild()->text(QAccessible::Name), TextOf(100 + below));
        // A key that does not move the focus tells nothing new.
        QTest::keyClick(&v, Qt::Key_Up);
        const int focusEvents = CountOf(QAccessible::Focus);
        QTest::keyClick(&v, Qt::Key_Up);
        QCOMPARE(v.FocusIndex(), 1);
        QCOMPARE(CountOf(QAccessible::Focus), focusEvents);
    }

    void actionsOpenSelectAndFocus()
    {
        TrkView& v = MakeView(7);
        QAccessibleInterface* grid = Grid();
        QAccessibleActionInterface* cell2 = Actions(grid->child(2));
        QVERIFY(cell2);
        const QStringList names = cell2->actionNames();
        QVERIFY(names.contains(QAccessibleActionInterface::pressAction()));
        QVERIFY(names.contains(QAccessibleActionInterface::toggleAction()));
        QVERIFY(names.contains(QAccessibleActionInterface::setFocusAction()));

        cell2->doAction(QAccessibleActionInterface::toggleAction());
        QCOMPARE(v.Selection().Count(), 1);
        QVERIFY(v.IsItemSelected(2));
        Actions(grid->child(4))->doAction(QAccessibleActionInterface::toggleAction());
        QVERIFY(v.IsItemSelected(2) && v.IsItemSelected(4));
        cell2->doAction(QAccessibleActionInterface::toggleAction());
        QVERIFY(!v.IsItemSelected(2) && v.IsItemSelected(4));

        Actions(grid->child(3))->doAction(QAccessibleActionInterface::setFocusAction());
        QCOMPARE(v.FocusIndex(), 3);
        QCOMPARE(v.Selection().Count(), 1);
        QVERIFY(v.IsItemSelected(3));

        // Opening is what a double click does, run from the event loop: the request returns
        // first. A cell of the selection opens with the rest of it.
        Actions(grid->child(5))->doAction(QAccessibleActionInterface::toggleAction());
        Actions(grid->child(5))->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(FOpened, 0);
        QTRY_COMPARE(FOpened, 1);
        QCOMPARE(v.Selection().Count(), 2);
        QCOMPARE(v.FocusIndex(), 5);
        // Outside the selection, the cell becomes the selection.
        Actions(grid->child(0))->doAction(QAccessibleActionInterface::pressAction());
        QTRY_COMPARE(FOpened, 2);
        QCOMPARE(v.Selection().Count(), 1);
        QVERIFY(v.IsItemSelected(0));

        // The item goes before the open runs: nothing opens.
        Actions(grid->child(6))->doAction(QAccessibleActionInterface::pressAction());
        v.Items().Delete(6);
        v.CalcView();
        QTest::qWait(50);
        QCOMPARE(FOpened, 2);
    }

    void cellsGoWithTheirItems()
    {
        TrkView& v = MakeView(7);
        QAccessibleInterface* grid = Grid();
        QAccessibleInterface* cell5 = grid->child(5);
        const QAccessible::Id id5 = QAccessible::uniqueId(cell5);
        const QAccessible::Id id6 = QAccessible::uniqueId(grid->child(6));
        QVERIFY(cell5->isValid());

        // The owner edits the items and has not told the grid yet: the cell already refuses to
        // answer for another item.
        v.Items().Delete(5);
        QVERIFY(!cell5->isValid());
        QVERIFY(cell5->text(QAccessible::Name).isEmpty());
        QVERIFY(cell5->state().invalid);
        QVERIFY(Actions(cell5)->actionNames().isEmpty());

        // Told: the cells made before are deleted, and asking again gives the new items.
        v.CalcView();
        QVERIFY(HasEvent(QAccessible::TableModelChanged, -1));
        QVERIFY(!QAccessible::accessibleInterface(id5));
        QVERIFY(!QAccessible::accessibleInterface(id6));
        QCOMPARE(grid->childCount(), 6);
        QCOMPARE(grid->child(5)->text(QAccessible::Name), TextOf(106));
        QVERIFY(!grid->child(6));

        // A reordering without a change of count counts as well.
        const QAccessible::Id id0 = QAccessible::uniqueId(grid->child(0));
        v.Items().Exchange(0, 1);
        v.CalcView();
        QVERIFY(!QAccessible::accessibleInterface(id0));
        QCOMPARE(grid->child(0)->text(QAccessible::Name), TextOf(101));

        // Emptied, and then gone with its cells.
        const QAccessible::Id id1 = QAccessible::uniqueId(grid->child(1));
        v.Clear();
        QCOMPARE(grid->childCount(), 0);
        QVERIFY(!QAccessible::accessibleInterface(id1));
        v.Items().Add(200);
        v.CalcView();
        const QAccessible::Id cellId = QAccessible::uniqueId(grid->child(0));
        const QAccessible::Id gridId = QAccessible::uniqueId(grid);
        Watched = nullptr;
        FView.reset();
        QVERIFY(!QAccessible::accessibleInterface(cellId));
        QVERIFY(!QAccessible::accessibleInterface(gridId));
    }

    void withoutListenersTheCellsStillNeverDangle()
    {
        SetViewEventObserverForTests(nullptr);
        TrkView& v = MakeView(4);
        QAccessibleInterface* grid = Grid();
        // Told of a change with no one listening: the cells go all the same.
        QAccessible::Id id = QAccessible::uniqueId(grid->child(3));
        v.Items().Delete(3);
        v.CalcView();
        QVERIFY(!QAccessible::accessibleInterface(id));
        QVERIFY(Events.empty());
        // Not told at all: the interface sees the change when it is asked next.
        id = QAccessible::uniqueId(grid->child(2));
        v.Items().Delete(2);
        v.Items().Add(300);
        QCOMPARE(grid->child(2)->text(QAccessible::Name), TextOf(300));
        QVERIFY(!QAccessible::accessibleInterface(id));
    }

    void toolButtonsAreNamedButtons()
    {
        TSkinManager skins; // no skin: buttons without pictures, like a skin that lacks them
        QAction open("阅读图书(&O)");
        int triggered = 0;
        connect(&open, &QAction::triggered, this, [&] { ++triggered; });
        auto* button = new TToolBtn(&skins, "Offset", "Icon", "Background");
        button->SetAction(&open);

        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(button);
        QVERIFY(iface);
        QCOMPARE(iface->role(), QAccessible::Button);
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("阅读图书(O)"));
        open.setToolTip(QStringLiteral("打开选中的图书"));
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("打开选中的图书"));
        QVERIFY(!iface->state().checkable);

        // Pressing runs the action from the event loop, and only while it is enabled.
        QAccessibleActionInterface* actions = iface->actionInterface();
        QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
        actions->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(triggered, 0);
        QTRY_COMPARE(triggered, 1);
        open.setEnabled(false);
        QVERIFY(!actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
        actions->doAction(QAccessibleActionInterface::pressAction());
        QTest::qWait(20);
        QCOMPARE(triggered, 1);

        // A view button is a toggle that is checked while its view is shown.
        QAction thumbs("显示缩略图");
        thumbs.setCheckable(true);
        auto* viewButton = new TToolBtn(&skins, "Offset", "Icon", "Background");
        viewButton->SetAction(&thumbs);
        QAccessibleInterface* toggle = QAccessible::queryAccessibleInterface(viewButton);
        QVERIFY(toggle->state().checkable);
        QVERIFY(!toggle->state().checked);
        viewButton->SetDown(true);
        QVERIFY(toggle->state().checked);
    }
};

QTEST_MAIN(GridAccessibilityTest)
#include "GridAccessibilityTest.moc"
