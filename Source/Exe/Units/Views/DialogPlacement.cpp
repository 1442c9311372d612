#include "DialogPlacement.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QWidget>

QWidget* ProgramMainWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QMainWindow*>(w) && w->isVisible()) return w;
    return nullptr;
}

void CentreDialog(QWidget* dialog, QWidget* owner)
{
    if (!owner) owner = ProgramMainWindow();
    QRect area;
    if (owner && owner->isVisible())
        area = owner->window()->frameGeometry();
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    else
        return;
    const QSize size = dialog->frameGeometry().size().expandedTo(dialog->size());
    dialog->move(area.center() - QPoint(size.width() / 2, size.height() / 2));
}
