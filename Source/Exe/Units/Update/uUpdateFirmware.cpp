#include "uUpdateMain.h"

#include "Categories.h"
#include "DevID.h"
#include "Folders.h"
#include "Notify.h"
#include "Orvid.h"
#include "uMsgDlg.h"
#include "uUpdateMainPrivate.h"

#include <QCoreApplication>
#include <QDir>
#include "LongWork.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>
#include <cmath>

using namespace UpdateWindowDetail;

// The window's side of a firmware update: the checks before the image is written, the lock
// while it is, and the restart of the reader afterwards.

// ---------------------------------------------------------------------------------------------
// Firmware

void TUpdateV2::Lock(bool locked)
{
    ThreadState = locked ? 6 : 4;
    CanExit = !locked;
    ExitButton->setEnabled(!locked);
    UpdateButton->setEnabled(!locked);
}

void TUpdateV2::ShowInstallingIcon()
{
    SetTrayIcon(1);
}

void TUpdateV2::ShowProgress(double percent, int remainingSeconds)
{
    const int minutes = remainingSeconds / 60;
    const int seconds = remainingSeconds % 60;
    TrayIcon->setToolTip(Shown(QString::asprintf("正在更新设备固件...\r\n剩余时间：%d分%d秒\r\n"
                                                 "请保持数据线的连接，并耐心等候。",
                                                 minutes, seconds)));
    RemainTimeLabel->setText(QString::asprintf("剩余时间：%d分%d秒", minutes, seconds));
    ProgressBar->setValue(int(std::lround(std::clamp(percent, 0.0, 100.0))));
    TrayIcon->setIcon(FirmwareProgressIcon(percent, QSize(16, 16)));
    TLongWork work;
    QCoreApplication::processEvents();
}

void TUpdateV2::ShowRemainingTime(bool visible)
{
    RemainTimeLabel->setVisible(visible);
}

void TUpdateV2::Wait(int ms)
{
    const int scaled = int(qint64(ms) * WaitScale() / 100);
    TLongWork work; // whatever the user does meanwhile, the window stays until the wait is over
    QEventLoop loop;
    QTimer::singleShot(std::max(scaled, 0), &loop, &QEventLoop::quit);
    loop.exec();
}

bool TUpdateV2::InstallFirmware(TDownFiles& offer, int row)
{
    QPointer<TUpdateV2> self(this);
    const auto noReader = [&] {
        Notice(ReaderVersionBox->text() == SNotConnected ? SNotConnected : SNoMatchingReader);
        Wait(2000);
    };

    TDeviceIdentity id;
    ReadIdentity(id);
    if (ReaderCode(id) == 0 && id.ManufacturerCode == 0) ReaderVersionBox->setText(SNotConnected);
    if (offer.ReaderCode != ReaderCode(id) || offer.Manufacturer != id.ManufacturerCode) {
        noReader();
        return true;
    }

    // 2. The package, and the user's word for one that waited in the cache.
    const QString package = CacheFile(offer.File);
    if (package.isEmpty() || !QFileInfo::exists(package)) return true;
    if (!ConfirmInstall(offer, QStringLiteral("设备固件"),
                        QStringLiteral("升级时需要重启阅读器，请保存当前阅读器上的工作。")))
        return true;
    if (!self || FDestroying) return false;

    // 3. The reader may have gone or changed while the user read the question.
    ReadIdentity(id);
    if (offer.ReaderCode != ReaderCode(id) || offer.Manufacturer != id.ManufacturerCode) {
        noReader();
        return true;
    }

    // 4. Where the image goes.
    SetTrayIcon(0);
    if (!FSystemCategory) return false;
    if (EditionInstallType() == 2) {
        TReaderCategory* card = FSystemCategory->ReaderSlot(1);
        const QString cardRoot = card->Path();
        if (!card->DriveLetter() || cardRoot.isEmpty() || !QDir(cardRoot).exists()) {
            Ask(QStringLiteral("读取SD卡路径出错，请插入SD卡后重试。"), QStringLiteral("错误"),
                mbOK | mbIconStop);
            return false;
        }
    }
    TReaderCategory* reader = FSystemCategory->ReaderSlot(0);
    const QString root = Folders::IncludeTrailingSlash(reader->Path());
    const char drive = reader->DriveLetter();
    if (root.isEmpty() || !QDir(root).exists()) {
        Phase = 0;
        Notice(QStringLiteral("读取阅读器路径出错，请连接阅读器后重试"));
        return false;
    }

    // 5.-7.
    const int versionNumber = FirmwareMajor(id) * 100 + FirmwareBuild(id);
    const QString target = FirmwareTargetFile(root, quint16(ReaderCode(id)), versionNumber);
    QDir().mkpath(QFileInfo(target).absolutePath());
    Lock(true);
    TrayText = SPrefix + SWritingFirmware;
    ProgressLabel->setText(Shown(SWritingFirmware + QStringLiteral("\r\n")));
    RefreshTip();
    SetStatus(row, QStringLiteral("正在更新"), 4);
    const quint16 code = FirmwareReaderCode(package, quint16(ReaderCode(id)));

    // 8.
    bool written = false;
    try {
        written = WriteImage(*this, code, package, target);
    } catch (const std::exception&) {
        written = false;
    }
    if (!self) return false;
    if (FDestroying) {
        Lock(false);
        TLongWork::DeleteWhenIdle(this);
        return false;
    }
    if (written) {
        SetTrayIcon(0);
        offer.Done = true;
        SetStatus(row, QStringLiteral("更新完成"), 5);
        // Told on the desktop before the question below waits for a user who may be elsewhere.
        Notify::SendInBackground(Notify::UpdateSummary(false),
                                 QStringLiteral("阅读器固件已更新，重启阅读器后生效。"));
        if (Ask(QStringLiteral("    KeltoVarnix 需要重启您的阅读器以完成更新。\r\n"
                               "在重启过程中请始终保持阅读器与数据线的连接。\r\n"
                               "您想现在就断开阅读器与 PC 的连接吗？"),
                QStringLiteral("确认"), mbYesNo | mbIconQuestion) == mrYes &&
            self) {
            bool ejected = false;
            for (int attempt = 0; attempt < 3 && !ejected && self; ++attempt) {
                if (attempt > 0) Wait(2000);
                if (!self) break;
                ejected = ReaderEjector() ? ReaderEjector()(drive) : UnmountDrive(drive);
            }
            if (!self) return false;
            Ask(ejected ? QStringLiteral("KeltoVarnix 已成功断开您的阅读器。")
                        : QStringLiteral("KeltoVarnix 无法正常断开您的阅读器，"
                                         "请手工断开并重启阅读器。"),
                QStringLiteral("提示"), mbOK | (ejected ? mbIconInformation : mbIconExclamation));
            if (self) Wait(2000);
        }
    } else {
        SetStatus(row, QStringLiteral("更新失败"), 6);
        Notify::SendInBackground(Notify::UpdateSummary(true),
                                 QStringLiteral("阅读器固件更新失败。"));
    }
    if (!self) return false;

    // 9.
    Lock(false);
    ShowOutcome(written ? QStringLiteral("设备固件更新完成!")
                        : QStringLiteral("设备固件更新失败!"));
    return true;
}
