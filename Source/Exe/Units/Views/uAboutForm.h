#pragma once

#include <QString>

// Asks the version library for the version texts of a program file. The three results are
// emptied first; on failure they stay empty.
bool ReadVersionInfo(const QString& programPath, QString& text1, QString& text2, QString& text3);
