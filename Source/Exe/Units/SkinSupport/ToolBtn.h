#pragma once

#include "Skins.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

class QAction;

// A toolbar button drawn entirely from the skin: one of five frames of a background strip and
// one of five frames of an icon strip, chosen by its state. It has no look of its own, so the
// skin decides everything a user sees of the toolbar, and it carries out a window action so
// that enabling and hints follow the window's own rules.
class TToolBtn : public QWidget
{
    Q_OBJECT
public:
    // Frames of both strips, left to right.
    enum TFrame
    {
        frNormal,
        frHot,
        frPressed,
        frDisabled,
        frDown
    };
    // Mouse states.
    enum TMouseState
    {
        msNormal,
        msHot,
        msPressed
    };

    // Reads the background, icon and offset keys of section "Images". The manager owns the
    // button from now on: the button goes at the latest when the manager goes.
    TToolBtn(TSkinManager* manager, const QString& offsetKey, const QString& iconKey,
             const QString& backgroundKey, QWidget* parent = nullptr);

    TSkinManager* Manager() const { return FManager; }
    int MouseState() const { return FMouseState; }
    bool Down() const { return FDown; }
    void SetDown(bool down);
    // The frame the button shows now.
    int DisplayedFrame() const;
    QPoint HotOffset() const { return FHotOffset; }
    QPoint PressedOffset() const { return FPressedOffset; }

    // The action a click carries out; the button follows its enabled and visible states and
    // shows its text as the hint.
    void SetAction(QAction* action);
    QAction* Action() const { return FAction; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void SetMouseState(int state);
    void ActionChanged();

    TSkinManager* FManager;
    int FMouseState = msNormal;
    bool FDown = false;
    // Shallow copies of the manager's pictures: they share its pixels, and stay valid even if
    // the manager's skin is unloaded while the button lives.
    QImage FBackground;
    QImage FMaskedIcon; // the icon with its transparent colour cleared
    QPoint FHotOffset;
    QPoint FPressedOffset;
    bool FLeftPressed = false;
    QPointer<QAction> FAction;
};

// Where the main window's buttons go: the placeholder's object name, the keys of section
// "Images" and the object name of the action.
struct TToolButtonPlace
{
    const char* Placeholder;
    const char* BackgroundKey;
    const char* OffsetKey;
    const char* IconKey;
    const char* Action;
};

inline constexpr TToolButtonPlace MainToolButtons[] = {
    {"OpenButton", "ToolButtonBackground", "ToolButtonOffset", "OpenButton", "ActOpenFile"},
    {"WBNewButton", "BrowseButtonBackground", "BrowseButtonOffset", "BrowseNew", "ActBrowsNew"},
    {"WBBackButton", "BrowseButtonBackground", "BrowseButtonOffset", "BrowseBack", "ActBrowsBack"},
    {"WBNextButton", "BrowseButtonBackground", "BrowseButtonOffset", "BrowseNext", "ActBrowsNext"},
    {"WBStopButton", "BrowseButtonBackground", "BrowseButtonOffset", "BrowseStop", "ActBrowsStop"},
    {"WBRefreshButton", "BrowseButtonBackground", "BrowseButtonOffset", "BrowseRefresh",
     "ActBrowsRefresh"},
    {"WBHomeButton", "BrowseButtonBackground", "BrowseButtonOffset", "BrowseHome", "ActBrowsHome"},
    {"ViewListButton", "ToolButtonBackground", "ToolButtonOffset", "ViewListButton", "ActViewList"},
    {"ViewThumbButton", "ToolButtonBackground", "ToolButtonOffset", "ViewThumbButton",
     "ActViewThumb"},
};

// Puts a tool button where `placeholder` is: same parent, same place in its layout, same
// bounds and size limits (so the placeholder's size wins over the strip's), and hides the
// placeholder. The button then carries out `action`.
TToolBtn* PlaceToolButton(TSkinManager* manager, QWidget* placeholder,
                          const TToolButtonPlace& place, QAction* action);

// The view buttons show which view is chosen: each is down while its view is shown within its
// page, even when another page covers it.
void FollowViews(TToolBtn* listButton, const QWidget* listView, TToolBtn* thumbButton,
                 const QWidget* thumbView, const QWidget* window);
