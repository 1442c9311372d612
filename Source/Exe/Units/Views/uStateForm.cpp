#include "uStateForm.h"

#include "DialogPlacement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QWindow>

TStateForm::TStateForm(QWidget* owner)
    // A window of its own rather than a child of the owner: disabling the owner must not
    // disable the dialog with it.
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), FOwner(owner)
{
    setWindowTitle(QStringLiteral("请稍候"));
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(16, 86, 305, 17);
    ProgressBar1->setTextVisible(false);
    CancelBtn = new QPushButton(QStringLiteral("取消"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(115, 117, 108, 25);
    CancelBtn->hide();
    connect(CancelBtn, &QPushButton::clicked, this, [this] { FCancelled = true; });
    UpdateBar();
    setFixedSize(ClientWidth, CancelBtn->y());
    if (owner) {
        // Keeps the dialog above its owner on window managers that honour transient parents.
        winId();
        owner->window()->winId();
        windowHandle()->setTransientParent(owner->window()->windowHandle());
    }
}

TStateForm::~TStateForm()
{
    EnableOtherWindows();
}

void TStateForm::SetCancelVisible(bool visible)
{
    if (visible == !CancelBtn->isHidden()) return;
    CancelBtn->setVisible(visible);
    const QRect b = CancelBtn->geometry();
    setFixedSize(ClientWidth, visible ? b.top() + b.height() + 11 : b.top());
}

void TStateForm::SetText(const QString& text)
{
    if (text == FText) return;
    FText = text;
    Refresh();
}

void TStateForm::SetStepText(const QString& text, int step)
{
    FText = text;
    FPosition = std::clamp(FPosition + step, 0, std::max(FMax, 0));
    UpdateBar();
    Refresh();
}

void TStateForm::SetPosition(int position)
{
    position = std::clamp(position, 0, std::max(FMax, 0));
    if (position == FPosition) return;
    FPosition = position;
    UpdateBar();
    Refresh();
}

void TStateForm::SetMax(int max)
{
    if (max == FMax) return;
    FMax = max;
    FPosition = std::clamp(FPosition, 0, std::max(FMax, 0));
    UpdateBar();
    Refresh();
}

void TStateForm::UpdateBar()
{
    // A range of 0..0 would turn the bar into a busy indicator; an empty bar is meant.
    ProgressBar1->setRange(0, std::max(FMax, 1));
    ProgressBar1->setValue(FPosition);
}

void TStateForm::Refresh()
{
    if (!isVisible()) return;
    update();
    QCoreApplication::processEvents();
}

QRect TStateForm::TextRect() const
{
    if (FMax > 0) return QRect(0, 0, width(), ProgressBar1->y());
    return rect();
}

void TStateForm::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect r = TextRect();
    painter.drawText(r, Qt::AlignCenter | Qt::TextSingleLine,
                     fontMetrics().elidedText(FText, Qt::ElideRight, r.width()));
}

void TStateForm::showEvent(QShowEvent* event)
{
    if (FDisabled.empty()) {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != this && w->isVisible() && w->isEnabled()) {
                w->setEnabled(false);
                FDisabled.emplace_back(w);
            }
    }
    CentreDialog(this, FOwner);
    QDialog::showEvent(event);
}

void TStateForm::hideEvent(QHideEvent* event)
{
    // A hidden progress dialog must not leave the program locked.
    EnableOtherWindows();
    QDialog::hideEvent(event);
}

void TStateForm::EnableOtherWindows()
{
    for (const QPointer<QWidget>& w : FDisabled)
        if (w) w->setEnabled(true);
    FDisabled.clear();
}

void TStateForm::closeEvent(QCloseEvent* event)
{
    // Only the caller ends the operation; the window manager cannot close the dialog.
    event->ignore();
}

void TStateForm::keyPressEvent(QKeyEvent* event)
{
    // Esc would hide the dialog while the caller still works; it means cancel when cancelling
    // is offered.
    if (event->key() == Qt::Key_Escape) {
        if (CancelBtn->isVisible()) CancelBtn->click();
        return;
    }
    QDialog::keyPressEvent(event);
}
