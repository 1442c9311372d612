#pragma once

#include <QByteArray>
#include <QFile>
#include <QFont>
#include <QIcon>
#include <QSize>
#include <QString>

// Receives the ".pkg" entry of a firmware package as the archive reader streams it and keeps
// only the reader image: the leading and header bytes are dropped, the payload is clipped to
// its declared length. Every write is reported as complete so the archive reader never stops.
class TDeviceStream
{
public:
    // Creates (truncates) the file; IsOpen() tells whether that worked.
    explicit TDeviceStream(const QString& fileName);
    ~TDeviceStream();

    bool IsOpen() const;
    // Chooses the leading bytes to skip by reader code; codes not named leave Skip alone.
    void SetReaderCode(quint16 readerCode);
    // Returns count, always. Failed file writes are remembered in Failed().
    qint64 Write(const char* data, qint64 count);
    bool Failed() const { return FFailed; }
    // The header has been read and PayloadSize holds the declared length.
    bool HeaderDone() const { return FHeaderDone; }
    // The whole declared payload is in the file: nothing after it is wanted.
    bool PayloadDone() const { return FHeaderDone && PayloadSize > 0 && Written >= PayloadSize; }
    // Flushes and closes; false when the data did not all reach the file.
    bool Close();

    qint64 Written = 0;
    qint64 PayloadSize = 0;
    quint16 Skip = 16;

private:
    QFile FFile;
    bool FFailed = false;
    // The leading and header bytes seen so far, until the payload length is known; kept apart
    // from Written so a header that fills a buffer exactly is not read twice.
    QByteArray FHeader;
    bool FHeaderDone = false;
};

// The reader code a package is written with: code 1 when its file name contains "zt330" in any
// case, otherwise the attached reader's code.
quint16 FirmwareReaderCode(const QString& packageFile, quint16 readerCode);

// "xal" or "_sys_": the reader's update folder by reader code and version number
// (major * 100 + build).
QString FirmwareFolderName(quint16 readerCode, int versionNumber);

// readerRoot/F/update/updatepackage.bin (readerRoot ends with "/").
QString FirmwareTargetFile(const QString& readerRoot, quint16 readerCode, int versionNumber);

// What the update window offers the image writer: a view of its progress and a wait that keeps
// the window's events flowing.
class TFirmwareHost
{
public:
    virtual ~TFirmwareHost() = default;
    // The tray icon that says firmware is being written.
    virtual void ShowInstallingIcon() = 0;
    // Progress of the whole write, 0 to 100, with the current remaining-time estimate. Called
    // after every extracted chunk and every copied block, so the window can handle its events
    // here while the image is written.
    virtual void ShowProgress(double percent, int remainingSeconds) = 0;
    virtual void ShowRemainingTime(bool visible) = 0;
    // Waits ms milliseconds while handling the window's events.
    virtual void Wait(int ms) = 0;
};

// Extracts the ".pkg" entry of packageFile into the temporary folder's working file and copies
// it to targetFile, with the retries and waits of a firmware update. True only when the target
// holds exactly the payload, verified on the device.
bool WriteImage(TFirmwareHost& host, quint16 readerCode, const QString& packageFile,
                const QString& targetFile);

// The pause between two extraction or copy attempts (3000 ms unless changed; tests shorten it).
void SetFirmwareRetryWait(int ms);

// The private folder for the working file below the system's temporary folder, created when
// missing and readable by the user only ("/" at the end); empty when it cannot be made safe.
QString FirmwareWorkFolder();

// The tray picture while firmware is written: the percent in the upper half, a bar below.
QIcon FirmwareProgressIcon(double percent, const QSize& size = QSize(16, 16));
// The font of the tray picture's percent text: as large as it can be with the text's ink
// inside `box`, whichever face the desktop gives for the one asked for.
QFont FirmwareProgressFont(const QString& text, const QSize& box);
