#include "CursorControl.h"

#include <QCursor>
#include <QGuiApplication>

// The application's override cursor is a stack: pushing remembers the cursor that was active,
// popping sets it again.
TCursorControl::TCursorControl()
{
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

TCursorControl::~TCursorControl()
{
    QGuiApplication::restoreOverrideCursor();
}
