#pragma once

#include <QColor>

namespace ThemePalette {

// The palette: warm paper and ink with one quiet teal for what is chosen. Every colour of the
// pictures comes from here and matches the values in skin.ini and the style sheet.
inline const QColor Paper{0xFD, 0xFC, 0xFA};   // lists, thumbnails, the client card
inline const QColor Panel{0xF1, 0xEE, 0xE8};   // navigator and tree
inline const QColor Bar{0xF7, 0xF5, 0xF1};     // toolbars
inline const QColor Line{0xDD, 0xD8, 0xCE};    // separators and frames
inline const QColor Hot{0xEC, 0xE8, 0xE0};     // a button under the pointer
inline const QColor Pressed{0xE2, 0xDD, 0xD3}; // a button held down
inline const QColor Chosen{0xDD, 0xEB, 0xEC};  // a latched button, a selection
inline const QColor ChosenLine{0xB4, 0xD2, 0xD6};
inline const QColor Ink{0x2B, 0x2A, 0x28};
inline const QColor Ink2{0x55, 0x52, 0x4B};
inline const QColor Muted{0x8C, 0x87, 0x7D};
inline const QColor Faint{0xC2, 0xBD, 0xB3};
inline const QColor Accent{0x2F, 0x6F, 0x78};
inline const QColor HeaderTop{0xF7, 0xF5, 0xF1};
inline const QColor HeaderBottom{0xEF, 0xEB, 0xE4};

} // namespace ThemePalette
