#include "ToolBtn.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QBoxLayout>
#include <QEnterEvent>
#include <QGridLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <cassert>
#include <stdexcept>

namespace {

const QString ImagesSection = QStringLiteral("Images");

constexpr int FrameCount = 5;

// What a screen reader sees of a tool button: the button it looks like (a toggle for a checkable
// action), named by its hint, which falls back to the action's caption, as the picture shows
// no text.
class TToolBtnAccessible : public QAccessibleWidget
{
public:
    explicit TToolBtnAccessible(TToolBtn* button) : QAccessibleWidget(button, QAccessible::Button)
    {
    }

    TToolBtn* Button() const { return qobject_cast<TToolBtn*>(object()); }

    QString text(QAccessible::Text t) const override
    {
        const TToolBtn* button = Button();
        if (button && t == QAccessible::Name && button->accessibleName().isEmpty() &&
            button->Action()) {
            QString caption = button->Action()->text();
            return caption.remove(QLatin1Char('&'));
        }
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        if (const TToolBtn* button = Button()) {
            s.pressed = button->MouseState() == TToolBtn::msPressed;
            if (button->Action() && button->Action()->isCheckable()) {
                s.checkable = true;
                s.checked = button->Down();
            }
        }
        return s;
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (const TToolBtn* button = Button(); button && button->isEnabled() && button->Action())
            names.prepend(pressAction());
        return names;
    }

    void doAction(const QString& name) override
    {
        TToolBtn* button = Button();
        if (!button || name != pressAction()) {
            QAccessibleWidget::doAction(name);
            return;
        }
        // The command may ask the user and wait: it runs from the event loop, so the screen
        // reader's request returns at once, and only if the button is still there and enabled.
        QTimer::singleShot(0, button, [button = QPointer<TToolBtn>(button)] {
            if (button && button->isEnabled() && button->Action()) button->Action()->trigger();
        });
    }
};

QAccessibleInterface* ToolBtnFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("TToolBtn"))
        if (auto* button = qobject_cast<TToolBtn*>(object)) return new TToolBtnAccessible(button);
    return nullptr;
}

} // namespace

TToolBtn::TToolBtn(TSkinManager* manager, const QString& offsetKey, const QString& iconKey,
                   const QString& backgroundKey, QWidget* parent)
    : QWidget(parent), FManager(manager)
{
    if (!manager) throw std::invalid_argument("a tool button needs a skin manager");
    manager->Own(this);
    static const bool accessible = [] {
        QAccessible::installFactory(ToolBtnFactory);
        return true;
    }();
    (void)accessible;
    setAttribute(Qt::WA_Hover, false);
    setFocusPolicy(Qt::NoFocus);

    const QImage* background = nullptr;
    if (manager->GetBitmap(ImagesSection, backgroundKey, background)) FBackground = *background;
    const QImage* icon = nullptr;
    manager->GetBitmap(ImagesSection, iconKey, icon);
    TSkinRect offset;
    if (manager->GetRect(ImagesSection, offsetKey, offset)) {
        FHotOffset = QPoint(offset.Left, offset.Top);
        FPressedOffset = QPoint(offset.Right, offset.Bottom);
    }
    // Read here rather than while painting, so that a bad colour is reported while the window
    // is set up instead of escaping from a paint.
    if (icon) {
        const TColor transparent = ColorToRGB(manager->GetColor(
            QStringLiteral("System"), QStringLiteral("TransparentColor"), clFuchsia));
        FMaskedIcon = KeyedOut(
            *icon, qRgb(transparent & 0xFF, (transparent >> 8) & 0xFF, (transparent >> 16) & 0xFF));
    }
    if (LogicalSize(FBackground).width() / FrameCount > 0)
        resize(LogicalSize(FBackground).width() / FrameCount, LogicalSize(FBackground).height());
}

void TToolBtn::SetDown(bool down)
{
    if (down == FDown) return;
    FDown = down;
    update();
}

int TToolBtn::DisplayedFrame() const
{
    if (!isEnabled()) return frDisabled;
    if (FDown && FMouseState != msPressed) return frDown;
    return FMouseState;
}

void TToolBtn::SetAction(QAction* action)
{
    if (FAction) disconnect(FAction, nullptr, this, nullptr);
    FAction = action;
    if (!action) return;
    connect(action, &QAction::changed, this, &TToolBtn::ActionChanged);
    ActionChanged();
}

void TToolBtn::ActionChanged()
{
    if (!FAction) return;
    setEnabled(FAction->isEnabled());
    setVisible(FAction->isVisible());
    QString hint = FAction->toolTip();
    hint.remove(QLatin1Char('&'));
    setToolTip(hint);
    setAccessibleName(hint);
}

QSize TToolBtn::sizeHint() const
{
    const QSize background = LogicalSize(FBackground);
    const QSize icon = LogicalSize(FMaskedIcon);
    if (background.width() / FrameCount > 0)
        return QSize(background.width() / FrameCount, background.height());
    if (icon.width() / FrameCount > 0) return QSize(icon.width() / FrameCount, icon.height());
    return QWidget::sizeHint();
}

void TToolBtn::paintEvent(QPaintEvent*)
{
    if (!FManager) return;
    QPainter painter(this);
    const int frame = DisplayedFrame();
    if (!FBackground.isNull()) {
        const int frameWidth = LogicalSize(FBackground).width() / FrameCount;
        const int stripHeight = LogicalSize(FBackground).height();
        const QRect source(frame * frameWidth, 0, frameWidth, stripHeight);
        painter.drawImage(QRectF(QPointF((width() - frameWidth) / 2, (height() - stripHeight) / 2),
                                 source.size()),
                          FBackground, DeviceRect(FBackground, source));
    }
    if (!FMaskedIcon.isNull()) {
        const int iconWidth = LogicalSize(FMaskedIcon).width() / FrameCount;
        const int iconHeight = LogicalSize(FMaskedIcon).height();
        QPoint at((width() - iconWidth) / 2, (height() - iconHeight) / 2);
        if (frame == frHot) at += FHotOffset;
        if (frame == frPressed) at += FPressedOffset;
        const QRect source(frame * iconWidth, 0, iconWidth, iconHeight);
        painter.drawImage(QRectF(at, source.size()), FMaskedIcon, DeviceRect(FMaskedIcon, source));
    }
}

void TToolBtn::SetMouseState(int state)
{
    FMouseState = state;
    update();
}

void TToolBtn::enterEvent(QEnterEvent* event)
{
    SetMouseState(msHot);
    QWidget::enterEvent(event);
}

void TToolBtn::leaveEvent(QEvent* event)
{
    SetMouseState(msNormal);
    QWidget::leaveEvent(event);
}

void TToolBtn::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        SetMouseState(msPressed);
        FLeftPressed = true;
    }
    event->accept();
}

void TToolBtn::mouseReleaseEvent(QMouseEvent* event)
{
    SetMouseState(msHot);
    event->accept();
    // A click is a left press and release on the button; letting go elsewhere cancels it.
    const bool click = event->button() == Qt::LeftButton && FLeftPressed &&
                       rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton) FLeftPressed = false;
    if (click && FAction && isEnabled()) FAction->trigger();
}

void TToolBtn::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange) update();
    QWidget::changeEvent(event);
}

TToolBtn* PlaceToolButton(TSkinManager* manager, QWidget* placeholder,
                          const TToolButtonPlace& place, QAction* action)
{
    assert(placeholder);
    auto* button =
        new TToolBtn(manager, QLatin1String(place.OffsetKey), QLatin1String(place.IconKey),
                     QLatin1String(place.BackgroundKey), placeholder->parentWidget());
    button->setObjectName(placeholder->objectName());
    placeholder->hide();
    button->setSizePolicy(placeholder->sizePolicy());
    button->setMinimumSize(placeholder->minimumSize());
    button->setMaximumSize(placeholder->maximumSize());
    button->setGeometry(placeholder->geometry());
    if (QWidget* parent = placeholder->parentWidget(); parent && parent->layout()) {
        if (QLayoutItem* old = parent->layout()->replaceWidget(placeholder, button)) delete old;
    }
    button->show();
    button->SetAction(action);
    return button;
}

void FollowViews(TToolBtn* listButton, const QWidget* listView, TToolBtn* thumbButton,
                 const QWidget* thumbView, const QWidget* window)
{
    // The view's own flag, not whether it is on screen: the chosen view stays latched while
    // another page (the store, the tasks) covers both views.
    const auto chosen = [window](const QWidget* view) {
        return view->parentWidget() ? view->isVisibleTo(view->parentWidget())
                                    : view->isVisibleTo(window);
    };
    if (thumbButton && thumbView) thumbButton->SetDown(chosen(thumbView));
    if (listButton && listView) listButton->SetDown(chosen(listView));
}
