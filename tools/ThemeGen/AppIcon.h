#pragma once

#include <QByteArray>
#include <QImage>

// The program's icon: a reader with an open book on its screen, in the skin's palette. One
// description on a 64-unit grid gives both the pictures at every size and the vector file,
// so the sizes in the icon theme can never drift apart.
namespace AppIcon {

QImage Render(int size);
QByteArray Svg();

} // namespace AppIcon
