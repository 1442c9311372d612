#pragma once

#include "DeviceStream.h"
#include "uDownAskDlg.h"
#include "uUpDateComm.h"

#include <QIcon>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSystemTrayIcon;
class QTreeWidget;
class TDownAskForm;
class TSystemCategory;
class TUpdateThread;
struct TDeviceIdentity;

// The update window: one place that checks the server for a newer program and newer reader
// firmware, lets the user choose, downloads, and installs. It lives beside the main window
// (not inside it) and keeps a tray icon, so an automatic check can run unseen and the cycle
// goes on after the user closes the window. Each step posts the next as a command to itself,
// so the window stays responsive while a download thread runs.
class TUpdateV2 : public QWidget, public TFirmwareHost
{
    Q_OBJECT
public:
    // Codes of UpdateCommand.
    enum : int
    {
        cmCheckUpdates = 2,
        cmDownloadNext = 7,
        cmExitUpdate = 99,
        cmDownloaded = 100,
        cmDownloadFailed = 101,
        cmInstallAll = 102,
    };

    using TIdentityQuery = std::function<void(TDeviceIdentity* buffer)>;

    // identity answers GetDeviceIdentity; systemCategory gives the reader slots.
    TUpdateV2(TSystemCategory* systemCategory, TIdentityQuery identity);
    ~TUpdateV2() override;

    // Runs a command now, as a sent message does.
    void UpdateCommand(int code);
    // Queues a command behind the events already waiting.
    void PostUpdateCommand(int code);

    void CheckUpdates();
    void DownloadNext();
    void Downloaded();
    void DownloadFailed();
    void InstallAll();
    // The exit command: may ask; destroys the window unless the user or the state says no.
    void ExitCommand();
    // Ends the window whatever runs (the main window is going away).
    void ForceClose();
    void ShowReader();

    // The image writer's view of the window.
    void ShowInstallingIcon() override;
    void ShowProgress(double percent, int remainingSeconds) override;
    void ShowRemainingTime(bool visible) override;
    void Wait(int ms) override;

    // The download thread's progress, on the main thread.
    void DownloadProgress(quint32 received, quint32 total);

    QString TrayText;
    QString ServerUrl;
    QString CacheDir;
    quint8 ThreadState = 0; // 2 downloading, 4 finished, 5 failed, 6 writing firmware
    int Phase = 0;          // 0 idle, 1 checking, 5 downloading packages, 8 installing
    QString ProgramVersion;
    TDownTask Task;
    bool CanExit = true;

    // Controls.
    QLineEdit* ProgramVersionBox = nullptr;
    QLabel* ProgramVersionLabel = nullptr;
    QLineEdit* ReaderVersionBox = nullptr;
    QLabel* EditionLabel = nullptr;
    QTreeWidget* ListView = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QLabel* ProgressLabel = nullptr;
    QLabel* RemainTimeLabel = nullptr;
    QLabel* InfoLabel = nullptr;
    QPushButton* UpdateButton = nullptr;
    QPushButton* ExitButton = nullptr;
    QSystemTrayIcon* TrayIcon = nullptr;
    int TrayIconIndex = 0;
    // The chooser while it is open.
    TDownAskForm* Chooser() const { return FChooser; }
    TUpdateThread* Thread() const { return FThread; }

    // The cache file of a package path; empty when the name is refused.
    QString CacheFile(const QString& packagePath) const;

    // Tests: waits last this percentage of their time; packages are started through the hook;
    // the reader is ejected through the hook. The program never sets them.
    static void SetWaitScale(int percent);
    static void SetPackageLauncher(std::function<bool(const QString& file)> launcher);
    static void SetReaderEjector(std::function<bool(char drive)> ejector);

    // The tray pictures: 0 idle, 1 writing firmware, 2 downloading, 3 failed. The skin's
    // pictures replace the drawn ones; a null icon keeps the drawn one of its index.
    static QIcon TrayPicture(int index);
    static void SetTrayPictures(const QList<QIcon>& pictures);
    // The list's row pictures, 0 to 7.
    static QIcon RowPicture(int index);

protected:
    void customEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void SetTrayIcon(int index);
    void RefreshTip();
    void Notice(const QString& text);
    // How a step ended (`text` without the program's prefix): the tray's text, and without a
    // tray host the information line, which would otherwise still show an earlier notice.
    void ShowOutcome(const QString& text);
    // The program's message box, asked by the window. The box belongs to the main window,
    // which comes up when it closes; a visible update window is brought back in front of it.
    int Ask(const QString& text, const QString& caption, unsigned flags);
    void SetStatus(int row, const QString& text, int image, bool moveBar = true);
    void AddCheckRow();
    void AddUpdateRows();
    void StartDownload(const QString& url, const QString& file,
                       qint64 maxBytes = TUpdateThread::DefaultMaxBytes);
    void StopThread();
    void ReadIdentity(TDeviceIdentity& identity) const;
    void BuildOffer();
    void MarkCached();
    void Install();
    // A package that waited in the cache is installed only on the user's word (`kindName` and
    // `warning` complete the question); a fresh one is announced. True to go on.
    bool ConfirmInstall(const TDownFiles& offer, const QString& kindName, const QString& warning);
    void InstallProgram(TDownFiles& offer, int row);
    // False when the remaining offers are not to be installed either.
    bool InstallFirmware(TDownFiles& offer, int row);
    void Lock(bool locked);
    void ShowWindow();

    TSystemCategory* FSystemCategory;
    TIdentityQuery FIdentity;
    TUpdateThread* FThread = nullptr;
    TDownAskForm* FChooser = nullptr;
    bool FDestroying = false;
    qint64 FRateTick = 0;
    quint32 FRateBytes = 0;
};

// The one update window, while it exists.
TUpdateV2* UpdateV2();
// The edition install type of the attached reader, as the descriptor last said (1 or 2).
int& EditionInstallType();
