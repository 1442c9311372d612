#pragma once

#include <functional>

class QAccessibleEvent;
class TrkView;

// What a screen reader sees of the thumbnail grid: a list (with the table interface of a
// one-column list, which carries the selection) whose children are the cells, named by the
// texts the cells show, with open, select and focus actions.
//
// A screen reader asks at any time, also between the owner's changes of the items, so nothing
// here keeps a pointer to an item or to the grid beyond a QPointer: a cell's interface holds
// its index and the item value it was made for, and is valid only while the grid still holds
// that value at that index. Cell interfaces are made when asked for, kept by index, and deleted
// when the grid's items change (or the grid goes).
//
// Installs the factory that gives TrkView this interface; the grid calls it when it is created,
// and later calls do nothing.
void InstallViewAccessibility();

// The grid's items changed: the cells made so far are deleted at once, whether or not a screen
// reader listens.
void ViewItemsChanged(const TrkView* view);

// Whether anyone hears the grid's events: a screen reader, or a test's observer. Working out an
// event is skipped when no one does.
bool ViewEventsWanted();
void SendViewEvent(QAccessibleEvent* event);

// Tests: sees every event the grid sends, also where the platform has no accessibility bridge.
void SetViewEventObserverForTests(std::function<void(QAccessibleEvent*)> observer);
