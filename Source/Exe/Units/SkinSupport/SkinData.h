#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <vector>

class QIODevice;
class QLineEdit;
class QWidget;

// Boxes that show their hint as text of their own (the search box, the binding dialog's boxes)
// carry this property while the hint shows. The hint is grey in the desktop's placeholder
// colour: through the box's palette in the plain look, and through a rule of the engine's
// sheet while a skin is on, since a sheet's text colour for edit boxes overrides any palette.
// A skin's own sheet may colour "QLineEdit[placeholderShown="true"]" differently.
inline constexpr char PlaceholderProperty[] = "placeholderShown";
void ShowAsPlaceholder(QLineEdit* edit, bool placeholder);

// The window-skinning engine: gives a window, its menus and its dialogs the standard controls'
// look from the skin's style sheet. It starts inactive and only ever holds the sheet it was
// given, so switching it off hands every window back its plain look. Windows that open without
// a parent (message boxes, the about box) are skinned as they appear, while the engine is on.
class TSkinData : public QObject
{
    Q_OBJECT
public:
    // The engine skins `window` and everything that opens while it is active.
    explicit TSkinData(QWidget* window);
    ~TSkinData() override;

    // Reads the style sheet from the stream's current position to its end. The sheet applied
    // (Sheet) is the skin's after the engine's own rule for hints shown as text.
    void LoadFromStream(QIODevice& stream);
    const QString& Sheet() const { return FSheet; }

    bool Active() const { return FActive; }
    void SetActive(bool active);
    // Applies the sheet again (after controls were added to the window).
    void Refresh();

    // Controls the engine leaves alone: windows for which this answers true are not skinned.
    // By default those whose "Tag" property is 99 (the browser pages).
    std::function<bool(const QWidget*)> IsExempt;

    static bool HasExemptTag(const QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Skin(QWidget* widget);
    bool Belongs(const QWidget* widget) const;

    QPointer<QWidget> FWindow;
    QString FSheet;
    bool FActive = false;
    // Top-level windows that got the sheet while the engine was on.
    std::vector<QPointer<QWidget>> FSkinned;
};
