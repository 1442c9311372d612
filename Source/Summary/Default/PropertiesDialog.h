#pragma once

#include <QString>

class QWidget;

namespace Summary {

// Shows every field of a book and its file in a modal dialog. The fields come from the
// library the map names for the book, so the dialog shows what the book list shows.
int ShowPropertiesDialog(QWidget* parent, const QString& fileName);

} // namespace Summary
