#include "SkinData.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QIODevice>
#include <QLineEdit>
#include <QMenu>
#include <QStyle>
#include <QWidget>

void ShowAsPlaceholder(QLineEdit* edit, bool placeholder)
{
    if (!edit) return;
    const QPalette desktop = QApplication::palette(edit);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Text,
                     desktop.color(placeholder ? QPalette::PlaceholderText : QPalette::Text));
    edit->setPalette(palette);
    if (edit->property(PlaceholderProperty).toBool() == placeholder &&
        edit->property(PlaceholderProperty).isValid())
        return;
    edit->setProperty(PlaceholderProperty, placeholder);
    // A sheet's rules that test the property follow it only when the box is polished again.
    edit->style()->unpolish(edit);
    edit->style()->polish(edit);
    edit->update();
}

TSkinData::TSkinData(QWidget* window) : QObject(window), FWindow(window)
{
    IsExempt = &TSkinData::HasExemptTag;
}

TSkinData::~TSkinData()
{
    SetActive(false);
}

bool TSkinData::HasExemptTag(const QWidget* widget)
{
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        const QVariant tag = w->property("Tag");
        if (tag.isValid() && tag.toInt() == 99) return true;
    }
    return false;
}

void TSkinData::LoadFromStream(QIODevice& stream)
{
    // First, so that a rule of the skin for the same selector comes later and wins.
    const QColor hint = QApplication::palette().color(QPalette::PlaceholderText);
    FSheet = QStringLiteral("QLineEdit[%1=\"true\"] { color: rgba(%2, %3, %4, %5); }\n")
                 .arg(QLatin1String(PlaceholderProperty))
                 .arg(hint.red())
                 .arg(hint.green())
                 .arg(hint.blue())
                 .arg(hint.alpha()) +
             QString::fromUtf8(stream.readAll());
    if (FActive) Refresh();
}

void TSkinData::SetActive(bool active)
{
    if (active == FActive) return;
    FActive = active;
    if (active) {
        // The panes' own palettes and fonts (set by the drawing subclasses) must survive the
        // sheet: without this, polishing a control with a sheet resets its palette to the
        // application's.
        QCoreApplication::setAttribute(Qt::AA_UseStyleSheetPropagationInWidgetStyles, true);
        qApp->installEventFilter(this);
        Refresh();
        return;
    }
    qApp->removeEventFilter(this);
    if (FWindow) FWindow->setStyleSheet(QString());
    for (const QPointer<QWidget>& w : FSkinned)
        if (w) w->setStyleSheet(QString());
    FSkinned.clear();
}

void TSkinData::Refresh()
{
    if (!FActive) return;
    if (FWindow) {
        // Setting the same text again would not re-polish children added since.
        FWindow->setStyleSheet(QString());
        FWindow->setStyleSheet(FSheet);
    }
    for (const QPointer<QWidget>& w : FSkinned)
        if (w) {
            w->setStyleSheet(QString());
            w->setStyleSheet(FSheet);
        }
}

bool TSkinData::Belongs(const QWidget* widget) const
{
    for (const QWidget* w = widget; w; w = w->parentWidget())
        if (w == FWindow) return true;
    return false;
}

void TSkinData::Skin(QWidget* widget)
{
    if (IsExempt && IsExempt(widget)) return;
    // Windows of the main window inherit its sheet already.
    if (Belongs(widget)) return;
    for (const QPointer<QWidget>& w : FSkinned)
        if (w == widget) return;
    FSkinned.emplace_back(widget);
    widget->setStyleSheet(FSheet);
}

bool TSkinData::eventFilter(QObject* watched, QEvent* event)
{
    // Polish comes before the first show, so the window is never seen unskinned.
    if (FActive && event->type() == QEvent::Polish && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        // Dialogs, menus and the program's other top-level windows (the update window is
        // parented to the desktop) share the main window's look.
        if (widget->isWindow() && (qobject_cast<QDialog*>(widget) || qobject_cast<QMenu*>(widget) ||
                                   widget->windowType() == Qt::Window))
            Skin(widget);
    }
    return QObject::eventFilter(watched, event);
}
