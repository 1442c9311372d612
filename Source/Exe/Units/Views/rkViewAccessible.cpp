#include "rkViewAccessible.h"

#include "rkView.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>
#include <QTimer>
#include <QWindow>

#include <iterator>
#include <unordered_set>
#include <utility>

namespace {

// One cell. It names the item by index and value, so it can tell when the grid no longer shows
// that item there and never reaches for an item that may be gone.
class TCellAccessible : public QAccessibleInterface,
                        public QAccessibleTableCellInterface,
                        public QAccessibleActionInterface
{
public:
    TCellAccessible(TrkView* view, int index, int64_t value)
        : FView(view), FIndex(index), FValue(value)
    {
    }

    // The grid, while this cell still shows the item it was made for; else null.
    TrkView* View() const
    {
        TrkView* view = FView.data();
        if (!view || FIndex >= view->Items().Count() || view->Items().Get(FIndex) != FValue)
            return nullptr;
        return view;
    }
    int Index() const { return FIndex; }

    bool isValid() const override { return View() != nullptr; }
    // No object of its own: the cache must not tie this interface to the grid's.
    QObject* object() const override { return nullptr; }
    QWindow* window() const override
    {
        const TrkView* view = FView.data();
        return view ? view->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override
    {
        return FView ? QAccessible::queryAccessibleInterface(FView.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }

    QString text(QAccessible::Text t) const override
    {
        const TrkView* view = View();
        return view && t == QAccessible::Name ? view->CellText(FIndex) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}

    // The cell in client coordinates; it may lie outside the visible part.
    QRect ClientRect(const TrkView* view) const
    {
        const QRect content = view->ItemRect(FIndex);
        return QRect(content.left(), content.top() - view->ScrollPos(), view->CellWidth(),
                     view->CellHeight());
    }

    QRect rect() const override
    {
        const TrkView* view = View();
        if (!view) return {};
        const QRect cell = ClientRect(view);
        return QRect(view->viewport()->mapToGlobal(cell.topLeft()), cell.size());
    }

    QAccessible::Role role() const override { return QAccessible::ListItem; }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        const TrkView* view = View();
        if (!view) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.focusable = true;
        s.selected = view->IsItemSelected(FIndex);
        s.focused = view->hasFocus() && view->FocusIndex() == FIndex;
        if (!view->isVisible()) {
            s.invisible = true;
            s.offscreen = true;
        } else if (!view->viewport()->rect().intersects(ClientRect(view))) {
            s.offscreen = true;
        }
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TableCellInterface)
            return static_cast<QAccessibleTableCellInterface*>(this);
        if (t == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    // A cell of a one-column list.
    bool isSelected() const override
    {
        const TrkView* view = View();
        return view && view->IsItemSelected(FIndex);
    }
    QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return 0; }
    int rowIndex() const override { return FIndex; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

    QStringList actionNames() const override
    {
        if (!View()) return {};
        return {pressAction(), toggleAction(), setFocusAction()};
    }
    QString localizedActionName(const QString& name) const override
    {
        if (name == pressAction()) return QStringLiteral("打开");
        if (name == toggleAction()) return QStringLiteral("选择");
        if (name == setFocusAction()) return QStringLiteral("设为焦点");
        return QAccessibleActionInterface::localizedActionName(name);
    }
    QString localizedActionDescription(const QString& name) const override
    {
        if (name == pressAction()) return QStringLiteral("像双击一样打开此项");
        if (name == toggleAction()) return QStringLiteral("选中此项或取消选中");
        if (name == setFocusAction()) return QStringLiteral("只选中此项并将焦点移到此项");
        return QAccessibleActionInterface::localizedActionDescription(name);
    }
    QStringList keyBindingsForAction(const QString& name) const override
    {
        if (name == pressAction()) return {QStringLiteral("Return")};
        return {};
    }

    void doAction(const QString& name) override
    {
        TrkView* view = View();
        if (!view) return;
        // Copies: what the grid does next may replace this interface.
        const int index = FIndex;
        const int64_t value = FValue;
        if (name == toggleAction()) {
            view->SelectItem(index, !view->IsItemSelected(index));
        } else if (name == setFocusAction()) {
            view->setFocus(Qt::OtherFocusReason);
            view->FocusItem(index);
        } else if (name == pressAction()) {
            // Opening may ask the user and wait: it runs from the event loop, so the screen
            // reader's request returns at once, and only if the cell still shows the same item.
            QTimer::singleShot(0, view, [view = QPointer<TrkView>(view), index, value] {
                if (view && index < view->Items().Count() && view->Items().Get(index) == value)
                    view->OpenItem(index);
            });
        }
    }

private:
    QPointer<TrkView> FView;
    int FIndex;
    int64_t FValue;
};

// The grid: a list whose rows are the cells.
class TViewAccessible : public QAccessibleWidget, public QAccessibleTableInterface
{
public:
    explicit TViewAccessible(TrkView* view)
        : QAccessibleWidget(view, QAccessible::List), FSeen(view->Items().ChangeCount())
    {
        Registry().insert(view, this);
    }
    ~TViewAccessible() override
    {
        for (auto it = Registry().begin(); it != Registry().end();)
            it = it.value() == this ? Registry().erase(it) : std::next(it);
        DropCells();
    }

    // The interface of each grid that has one, so the grid can reach it without making one.
    static QHash<const TrkView*, TViewAccessible*>& Registry()
    {
        static QHash<const TrkView*, TViewAccessible*> registry;
        return registry;
    }

    TrkView* View() const { return qobject_cast<TrkView*>(object()); }

    void* interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        if (const TrkView* view = View(); view && view->MultipleSelection()) {
            s.multiSelectable = true;
            s.extSelectable = true;
        }
        return s;
    }

    int childCount() const override
    {
        const TrkView* view = View();
        return view ? view->Items().Count() : 0;
    }

    QAccessibleInterface* child(int index) const override
    {
        TrkView* view = View();
        if (!view || index < 0 || index >= view->Items().Count()) return nullptr;
        Sync();
        if (const auto found = FCells.constFind(index); found != FCells.constEnd()) {
            QAccessibleInterface* cell = QAccessible::accessibleInterface(found.value());
            if (cell && cell->isValid()) return cell;
            QAccessible::deleteAccessibleInterface(found.value());
            FCells.erase(found);
        }
        auto* cell = new TCellAccessible(view, index, view->Items().Get(index));
        FCells.insert(index, QAccessible::registerAccessibleInterface(cell));
        return cell;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const auto* cell = dynamic_cast<const TCellAccessible*>(child);
        const TrkView* view = View();
        return cell && view && cell->View() == view ? cell->Index() : -1;
    }

    QAccessibleInterface* childAt(int x, int y) const override
    {
        const TrkView* view = View();
        if (!view) return nullptr;
        const QPoint point = view->viewport()->mapFromGlobal(QPoint(x, y));
        if (!view->viewport()->rect().contains(point)) return nullptr;
        const int index = view->ItemIndexAt(point);
        return index >= 0 ? child(index) : nullptr;
    }

    QAccessibleInterface* focusChild() const override
    {
        const TrkView* view = View();
        if (view && view->hasFocus()) {
            const int focus = view->FocusIndex();
            if (focus >= 0 && focus < view->Items().Count()) return child(focus);
        }
        return QAccessibleWidget::focusChild();
    }

    // The table of a one-column list: rows are cells, the selection is of rows.
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override
    {
        return column == 0 ? child(row) : nullptr;
    }
    int selectedCellCount() const override { return int(SelectedIndexes().size()); }
    QList<QAccessibleInterface*> selectedCells() const override
    {
        QList<QAccessibleInterface*> cells;
        for (int index : SelectedIndexes())
            if (QAccessibleInterface* cell = child(index)) cells << cell;
        return cells;
    }
    QString columnDescription(int) const override { return {}; }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return selectedCellCount(); }
    int columnCount() const override { return 1; }
    int rowCount() const override { return childCount(); }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override { return SelectedIndexes(); }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override
    {
        const TrkView* view = View();
        return view && view->IsItemSelected(row);
    }
    bool selectRow(int row) override { return SetRowSelected(row, true); }
    bool unselectRow(int row) override { return SetRowSelected(row, false); }
    bool selectColumn(int) override { return false; }
    bool unselectColumn(int) override { return false; }

    void modelChange(QAccessibleTableModelChangeEvent*) override { ItemsChanged(); }

    void ItemsChanged()
    {
        DropCells();
        if (const TrkView* view = View()) FSeen = view->Items().ChangeCount();
    }

private:
    // The items changed while no change was told (nothing listened): the cells made before
    // name other items now.
    void Sync() const
    {
        const TrkView* view = View();
        if (view && view->Items().ChangeCount() != FSeen) {
            DropCells();
            FSeen = view->Items().ChangeCount();
        }
    }

    void DropCells() const
    {
        const QHash<int, QAccessible::Id> cells = std::exchange(FCells, {});
        for (QAccessible::Id id : cells)
            QAccessible::deleteAccessibleInterface(id);
    }

    QList<int> SelectedIndexes() const
    {
        QList<int> indexes;
        const TrkView* view = View();
        if (!view) return indexes;
        const TIntList& selection = view->Selection();
        const TIntList& items = view->Items();
        if (selection.Count() == 0) return indexes;
        std::unordered_set<int64_t> selected;
        for (int i = 0; i < selection.Count(); ++i)
            selected.insert(selection.Get(i));
        for (int i = 0; i < items.Count(); ++i)
            if (selected.count(items.Get(i))) indexes << i;
        return indexes;
    }

    bool SetRowSelected(int row, bool selected)
    {
        TrkView* view = View();
        if (!view || row < 0 || row >= view->Items().Count()) return false;
        view->SelectItem(row, selected);
        return true;
    }

    mutable QHash<int, QAccessible::Id> FCells; // made cells by index
    mutable uint64_t FSeen;                     // the items' change count they were made at
};

std::function<void(QAccessibleEvent*)>& EventObserver()
{
    static std::function<void(QAccessibleEvent*)> observer;
    return observer;
}

QAccessibleInterface* ViewFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("TrkView"))
        if (auto* view = qobject_cast<TrkView*>(object)) return new TViewAccessible(view);
    return nullptr;
}

} // namespace

void InstallViewAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(ViewFactory);
        return true;
    }();
    (void)installed;
}

void ViewItemsChanged(const TrkView* view)
{
    if (TViewAccessible* iface = TViewAccessible::Registry().value(view)) iface->ItemsChanged();
}

bool ViewEventsWanted()
{
    return QAccessible::isActive() || EventObserver();
}

void SendViewEvent(QAccessibleEvent* event)
{
    QAccessible::updateAccessibility(event);
    if (EventObserver()) EventObserver()(event);
}

void SetViewEventObserverForTests(std::function<void(QAccessibleEvent*)> observer)
{
    EventObserver() = std::move(observer);
}
