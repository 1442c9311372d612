#pragma once

class QWidget;

// The program's dialogs open over its main window, wherever the user has moved it; before the
// main window exists they open in the middle of the screen.
QWidget* ProgramMainWindow();

// Moves a top-level dialog so that its centre lies on the centre of `owner` (the main window
// when null, the screen when there is none).
void CentreDialog(QWidget* dialog, QWidget* owner = nullptr);

// The grey of the dialogs' texts.
inline constexpr unsigned DialogTextColor = 6711400; // 0x00BBGGRR
