#pragma once

#include "DevID.h"

#include <QString>

#include <functional>

// What the update window's two source files share and nobody else needs.
namespace UpdateWindowDetail {

inline const QString SPrefix = QStringLiteral("KeltoVarnix\r\n");
inline const QString SNotConnected = QStringLiteral("设备未连接");
inline const QString SNoMatchingReader =
    QStringLiteral("没有与下载更新匹配的阅读器，请连接设备后重新检测更新");
inline const QString SWritingFirmware = QStringLiteral("正在更新设备固件...\r\n请保持数据线的连接");
inline const QString SInfoPrompt =
    QStringLiteral("\r\n重新检查更新，请连接设备，点击右边更新按钮。");

// Whether notices can appear beside a tray icon; without a tray host the window's information
// line shows them instead.
bool TrayNoticesShown();

// Qt shows line breaks as "\n"; the texts keep the program's "\r\n".
inline QString Shown(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

int& WaitScale();
std::function<bool(char)>& ReaderEjector();

} // namespace UpdateWindowDetail
