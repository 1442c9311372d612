#include "uUpdateMain.h"

#include "LongWork.h"

#include "Categories.h"
#include "DevID.h"
#include "Folders.h"
#include "Globals.h"
#include "Notify.h"
#include "Orvid.h"
#include "uAboutForm.h"
#include "uMsgDlg.h"
#include "uUpDateComm.h"
#include "uUpdateMainPrivate.h"
#include "uVerDesc.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <cmath>
#include <cstring>

namespace {

QPointer<TUpdateV2>& Instance()
{
    static QPointer<TUpdateV2> window;
    return window;
}

std::function<bool(const QString&)>& PackageLauncher()
{
    static std::function<bool(const QString&)> launcher;
    return launcher;
}

// A download never carries the executable mark, so a package that is a program (a script or
// an ELF binary) gets it here; anything else is left to the desktop's handler for its type.
bool MakeProgramExecutable(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray head = f.read(4);
    f.close();
    const bool program = head.startsWith("#!") || head.startsWith("\177ELF");
    if (program && !QFileInfo(file).isExecutable())
        return f.setPermissions(f.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    return QFileInfo(file).isExecutable();
}

const QString SDescriptorName = QStringLiteral("local_verdesc2.zip");
// The version list is a few kilobytes; anything near this is not one.
constexpr qint64 DescriptorMaxBytes = qint64(16) << 20;

bool SomethingAttached(const TDeviceIdentity& id)
{
    return id.IdentityHead[0] || id.IdentityHead[1] || id.IdentityHead[2] || id.IdentityHead[3];
}

QIcon Disc(const QColor& fill, const QString& glyph)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(fill.darker(140));
    p.setBrush(fill);
    p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
    QFont font = p.font();
    font.setPixelSize(11);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, glyph);
    return QIcon(pixmap);
}

void SetVersionText(TVersionQuery& query, const QString& text)
{
    query.SetVersion(text.left(32).toLatin1());
}

} // namespace

using namespace UpdateWindowDetail;

bool UpdateWindowDetail::TrayNoticesShown()
{
    return QSystemTrayIcon::isSystemTrayAvailable() && QSystemTrayIcon::supportsMessages();
}

int& UpdateWindowDetail::WaitScale()
{
    static int percent = 100;
    return percent;
}

std::function<bool(char)>& UpdateWindowDetail::ReaderEjector()
{
    static std::function<bool(char)> ejector;
    return ejector;
}

TUpdateV2* UpdateV2()
{
    return Instance().data();
}

int& EditionInstallType()
{
    static int type = 1;
    return type;
}

void TUpdateV2::SetWaitScale(int percent)
{
    WaitScale() = percent;
}
void TUpdateV2::SetPackageLauncher(std::function<bool(const QString&)> launcher)
{
    PackageLauncher() = std::move(launcher);
}
void TUpdateV2::SetReaderEjector(std::function<bool(char)> ejector)
{
    ReaderEjector() = std::move(ejector);
}

namespace {
QList<QIcon>& SkinTrayPictures()
{
    static QList<QIcon> pictures;
    return pictures;
}
} // namespace

void TUpdateV2::SetTrayPictures(const QList<QIcon>& pictures)
{
    SkinTrayPictures() = pictures;
}

QIcon TUpdateV2::TrayPicture(int index)
{
    if (index >= 0 && index < SkinTrayPictures().size() && !SkinTrayPictures()[index].isNull())
        return SkinTrayPictures()[index];
    switch (index) {
    case 1:
        return Disc(QColor(0, 150, 60), QStringLiteral("↻"));
    case 2:
        return Disc(QColor(30, 110, 210), QStringLiteral("↓"));
    case 3:
        return Disc(QColor(200, 40, 40), QStringLiteral("!"));
    default:
        return Disc(QColor(90, 120, 160), QStringLiteral("K"));
    }
}

QIcon TUpdateV2::RowPicture(int index)
{
    static const struct
    {
        QColor Fill;
        const char* Glyph;
    } pictures[] = {
        {QColor(120, 120, 120), "?"}, // checking
        {QColor(30, 110, 210), "↓"},  // downloading the list
        {QColor(30, 110, 210), "↓"},  // downloading a package
        {QColor(0, 150, 60), "↓"},    // downloaded
        {QColor(230, 150, 0), "↻"},   // installing
        {QColor(0, 150, 60), "✓"},    // done
        {QColor(200, 40, 40), "✗"},   // failed
        {QColor(160, 160, 160), "–"}, // not wanted
    };
    if (index < 0 || index > 7) return QIcon();
    return Disc(pictures[index].Fill, QString::fromUtf8(pictures[index].Glyph));
}

// ---------------------------------------------------------------------------------------------
// Opening

TUpdateV2::TUpdateV2(TSystemCategory* systemCategory, TIdentityQuery identity)
    : QWidget(nullptr), FSystemCategory(systemCategory), FIdentity(std::move(identity))
{
    setObjectName(QStringLiteral("UpdateV2"));
    setWindowTitle(QStringLiteral("更新"));
    setAttribute(Qt::WA_QuitOnClose, false);
    Instance() = this;

    // Left: what is installed now.
    auto* left = new QGroupBox(QStringLiteral("当前版本"), this);
    auto* leftColumn = new QVBoxLayout(left);
    ProgramVersionLabel = new QLabel(QStringLiteral("KeltoVarnix软件版本："), left);
    ProgramVersionBox = new QLineEdit(left);
    ProgramVersionBox->setReadOnly(true);
    ReaderVersionBox = new QLineEdit(left);
    ReaderVersionBox->setReadOnly(true);
    EditionLabel = new QLabel(left);
    auto* help = new QLabel(QStringLiteral("点击“更新”按钮检查是否有新的软件和设备固件。找到更新后"
                                           "可以选择要下载的更新，下载完成后将自动安装。"),
                            left);
    help->setWordWrap(true);
    leftColumn->addWidget(ProgramVersionLabel);
    leftColumn->addWidget(ProgramVersionBox);
    leftColumn->addWidget(new QLabel(QStringLiteral("设备固件版本："), left));
    leftColumn->addWidget(ReaderVersionBox);
    leftColumn->addWidget(EditionLabel);
    leftColumn->addWidget(new QLabel(QStringLiteral("说明"), left));
    leftColumn->addWidget(help, 1);

    // Right: the list of steps and the progress.
    auto* right = new QWidget(this);
    auto* rightColumn = new QVBoxLayout(right);
    rightColumn->setContentsMargins(0, 0, 0, 0);
    ListView = new QTreeWidget(right);
    ListView->setRootIsDecorated(false);
    ListView->setHeaderLabels({QStringLiteral("更新"), QStringLiteral("文件"),
                               QStringLiteral("类型"), QStringLiteral("进度"),
                               QStringLiteral("状态")});
    ListView->setColumnWidth(0, 120);
    ListView->setColumnWidth(1, 200);
    ListView->setColumnWidth(2, 70);
    ListView->setColumnWidth(3, 1);
    ListView->setColumnHidden(3, true);
    ProgressBar = new QProgressBar(right);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressLabel = new QLabel(QStringLiteral("更新进度"), right);
    RemainTimeLabel = new QLabel(QStringLiteral("剩余时间："), right);
    RemainTimeLabel->setVisible(false);
    rightColumn->addWidget(ListView, 1);
    rightColumn->addWidget(ProgressBar);
    rightColumn->addWidget(ProgressLabel);
    rightColumn->addWidget(RemainTimeLabel);

    auto* panels = new QHBoxLayout;
    // A fixed left column keeps the list wide whatever the help and progress texts say.
    left->setFixedWidth(240);
    ProgressLabel->setWordWrap(true);
    panels->addWidget(left);
    panels->addWidget(right, 1);

    // Bottom: the information line and the buttons.
    InfoLabel = new QLabel(Shown(SInfoPrompt), this);
    UpdateButton = new QPushButton(QStringLiteral("更新"), this);
    ExitButton = new QPushButton(QStringLiteral("退出更新"), this);
    ExitButton->setToolTip(QStringLiteral("此按钮将退出更新"));
    connect(UpdateButton, &QPushButton::clicked, this,
            [this] { PostUpdateCommand(cmCheckUpdates); });
    connect(ExitButton, &QPushButton::clicked, this, [this] { ExitCommand(); });
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(InfoLabel, 1);
    bottom->addWidget(UpdateButton);
    bottom->addWidget(ExitButton);

    auto* column = new QVBoxLayout(this);
    column->addLayout(panels, 1);
    column->addLayout(bottom);
    resize(800, 400);

    // 1.-2. The tray icon with its menu.
    TrayText = SPrefix + QStringLiteral("更新正在运行...");
    CacheDir = Folders::UpdateCacheFolder();
    TrayIcon = new QSystemTrayIcon(TrayPicture(0), this);
    auto* menu = new QMenu(this);
    QAction* show = menu->addAction(QStringLiteral("显示更新界面"));
    menu->setDefaultAction(show);
    connect(show, &QAction::triggered, this, [this] { ShowWindow(); });
    connect(menu->addAction(QStringLiteral("退出")), &QAction::triggered, this,
            [this] { ExitCommand(); });
    TrayIcon->setContextMenu(menu);
    connect(TrayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick) ShowWindow();
            });
    RefreshTip();
    TrayIcon->show();

    // 3.-5.
    CanExit = true;
    ServerUrl = ProcessSettings().UpdateServer;
    if (!ServerUrl.endsWith(u'/')) ServerUrl += u'/';
    QString text2, text3;
    ReadVersionInfo(Folders::ProgramFile(), ProgramVersion, text2, text3);
    ProgramVersionBox->setText(ProgramVersion);
    ShowReader();
}

TUpdateV2::~TUpdateV2()
{
    StopThread();
    if (Instance() == this) Instance() = nullptr;
}

void TUpdateV2::ShowWindow()
{
    show();
    raise();
    activateWindow();
}

void TUpdateV2::closeEvent(QCloseEvent* event)
{
    // Closing only hides: the cycle goes on in the tray.
    event->ignore();
    hide();
}

QString TUpdateV2::CacheFile(const QString& packagePath) const
{
    return SafeCacheFileName(CacheDir, packagePath);
}

// ---------------------------------------------------------------------------------------------
// Commands

void TUpdateV2::PostUpdateCommand(int code)
{
    QCoreApplication::postEvent(this, new TUpdateCommandEvent(code, 0));
}

void TUpdateV2::customEvent(QEvent* event)
{
    if (event->type() == TUpdateCommandEvent::EventType())
        UpdateCommand(static_cast<TUpdateCommandEvent*>(event)->Code);
}

void TUpdateV2::UpdateCommand(int code)
{
    // Commands still queued when the window is on its way out are dropped with it.
    if (FDestroying) return;
    // Each step may wait and ask; the window is not deleted while one runs (LongWork.h).
    TLongWork work;
    switch (code) {
    case cmCheckUpdates:
        CheckUpdates();
        break;
    case cmDownloadNext:
        DownloadNext();
        break;
    case cmExitUpdate:
        ExitCommand();
        break;
    case cmDownloaded:
        Downloaded();
        break;
    case cmDownloadFailed:
        DownloadFailed();
        break;
    case cmInstallAll:
        InstallAll();
        break;
    default:
        break;
    }
}

void TUpdateV2::SetTrayIcon(int index)
{
    TrayIconIndex = index;
    TrayIcon->setIcon(TrayPicture(index));
}

void TUpdateV2::RefreshTip()
{
    TrayIcon->setToolTip(Shown(TrayText));
}

void TUpdateV2::Notice(const QString& text)
{
    TrayIcon->setToolTip(Shown(text));
    if (TrayNoticesShown())
        TrayIcon->showMessage(QStringLiteral("KeltoVarnix"), Shown(text),
                              QSystemTrayIcon::Information, 10000);
    else
        // Without a tray host the notice would be lost: the window's information line says it.
        InfoLabel->setText(Shown(text));
}

void TUpdateV2::ShowOutcome(const QString& text)
{
    TrayText = SPrefix + text;
    RefreshTip();
    if (!TrayNoticesShown()) InfoLabel->setText(Shown(TrayText));
}

int TUpdateV2::Ask(const QString& text, const QString& caption, unsigned flags)
{
    QPointer<TUpdateV2> self(this);
    const int answer = ShowMessageBox(text, caption, flags);
    // Not when it is hidden (an unseen check goes on in the tray) or on its way out.
    if (self && !FDestroying && isVisible()) {
        raise();
        activateWindow();
    }
    return answer;
}

void TUpdateV2::SetStatus(int row, const QString& text, int image, bool moveBar)
{
    QTreeWidgetItem* item = ListView->topLevelItem(row);
    if (!item) return; // the row of an older offer: nothing to show
    item->setText(4, text);
    item->setIcon(0, RowPicture(image));
    item->setData(0, Qt::UserRole, image);
    ListView->setCurrentItem(item);
    ListView->scrollToItem(item);
    static const QStringList finished{QStringLiteral("检测完成"), QStringLiteral("已是最新"),
                                      QStringLiteral("检测失败"), QStringLiteral("下载完成"),
                                      QStringLiteral("下载失败"), QStringLiteral("取消下载"),
                                      QStringLiteral("更新完成"), QStringLiteral("更新失败")};
    static const QStringList succeeded{QStringLiteral("检测完成"), QStringLiteral("已是最新"),
                                       QStringLiteral("下载完成"), QStringLiteral("更新完成")};
    if (moveBar) ProgressBar->setValue(succeeded.contains(text) ? 100 : 0);
    if (finished.contains(text)) ProgressLabel->setText(text);
}

void TUpdateV2::AddCheckRow()
{
    auto* item = new QTreeWidgetItem({QStringLiteral("检查更新"), QStringLiteral("检查可用的更新"),
                                      QStringLiteral("检测"), QStringLiteral("0"),
                                      QStringLiteral("正在检测")});
    item->setIcon(0, RowPicture(0));
    item->setData(0, Qt::UserRole, 0);
    ListView->addTopLevelItem(item);
}

void TUpdateV2::AddUpdateRows()
{
    for (int i = 1; i <= Task.Count; ++i) {
        const TDownFiles& f = Task.At(i);
        QString name = f.File;
        name.replace(u'\\', u'/');
        auto* item = new QTreeWidgetItem(
            {f.ID, name.section(u'/', -1), DownKindName(f.Kind), QStringLiteral("0"), QString()});
        item->setIcon(0, RowPicture(2));
        item->setData(0, Qt::UserRole, 2);
        ListView->addTopLevelItem(item);
    }
}

void TUpdateV2::StartDownload(const QString& url, const QString& file, qint64 maxBytes)
{
    if (ThreadState == 2) {
        Notice(TrayText);
        return;
    }
    StopThread();
    FThread = new TUpdateThread(url, this, file);
    FThread->MaxBytes = maxBytes;
    FThread->OnProgress = [this](TUpdateThread*, quint32 received, quint32 total) {
        DownloadProgress(received, total);
    };
    // A new transfer starts its own rate: the bytes of the previous one say nothing about it.
    FRateTick = 0;
    FRateBytes = 0;
    FThread->start();
    ThreadState = 2;
}

void TUpdateV2::StopThread()
{
    if (!FThread) return;
    FThread->Terminate();
    FThread->WaitFor();
    delete FThread;
    FThread = nullptr;
}

void TUpdateV2::ReadIdentity(TDeviceIdentity& identity) const
{
    std::memset(&identity, 0, sizeof identity);
    if (FIdentity) FIdentity(&identity);
}

void TUpdateV2::ShowReader()
{
    TDeviceIdentity id;
    ReadIdentity(id);
    const int code = ReaderCode(id);
    if (code != 0) {
        ReaderVersionBox->setText(
            QString::asprintf("R%.4d_BUILD0.0.%d", FirmwareMajor(id), FirmwareBuild(id)));
        QString name;
        const QString descriptor = CacheDir + SDescriptorName;
        if (QFileInfo::exists(descriptor)) {
            try {
                TVerDesc desc(descriptor);
                TVersionQuery query;
                query.Model = id.ModelCode;
                query.Edition = id.EditionCode;
                query.Manufacturer = id.ManufacturerCode;
                name = desc.GetEditionName(query);
                EditionInstallType() = desc.Type;
            } catch (const std::exception&) {
                // A broken descriptor names no edition.
            }
        }
        EditionLabel->setText(name);
    } else {
        ReaderVersionBox->setText(SomethingAttached(id) ? QStringLiteral("设备未知")
                                                        : SNotConnected);
        EditionLabel->clear();
    }
}

void TUpdateV2::CheckUpdates()
{
    if (!CanExit || Phase != 0) return;
    Phase = 1;
    TrayText = SPrefix + QStringLiteral("正在下载更新列表");
    ListView->clear();
    // What the last cycle ended with does not describe this one.
    if (!TrayNoticesShown()) InfoLabel->setText(Shown(SInfoPrompt));
    AddCheckRow();
    SetStatus(0, QStringLiteral("正在下载"), 1);
    UpdateButton->setEnabled(false);
    StartDownload(ServerUrl + QStringLiteral("valid_verdesc2.zip"), CacheDir + SDescriptorName,
                  DescriptorMaxBytes);
    RefreshTip();
}

void TUpdateV2::BuildOffer()
{
    TDeviceIdentity id;
    ReadIdentity(id);
    Task = TDownTask();
    const QString descriptor = CacheDir + SDescriptorName;
    const auto ask = [&](const TVersionQuery& query, int kind) {
        TVersion result;
        try {
            TVerDesc desc(descriptor);
            desc.FindUpdate(query, result);
        } catch (const std::exception&) {
            return; // a missing or broken descriptor offers nothing
        }
        if (result.ID.isEmpty() || result.File.isEmpty() || Task.Count >= 3) return;
        TDownFiles& f = Task.At(++Task.Count);
        f.Selected = true;
        f.Done = false;
        f.ID = result.ID;
        f.File = result.File;
        f.FileSize = result.FileSize;
        f.Desc = result.Desc;
        f.Kind = quint8(kind);
        if (kind == 3) {
            f.ReaderCode = quint16(ReaderCode(id));
            f.Manufacturer = id.ManufacturerCode;
        }
    };
    if (ReaderCode(id) != 0) {
        TVersionQuery query;
        SetVersionText(query, QString::asprintf("%.2d%.2d", FirmwareMajor(id), FirmwareBuild(id)));
        query.Model = id.ModelCode;
        query.Edition = id.EditionCode;
        query.Manufacturer = id.ManufacturerCode;
        ask(query, 3);
    }
    if (!ProgramVersion.isEmpty()) {
        TVersionQuery query;
        SetVersionText(query, ProgramVersion);
        query.Manufacturer = 31;
        ask(query, 2);
    }
}

void TUpdateV2::MarkCached()
{
    for (int i = 1; i <= Task.Count; ++i) {
        TDownFiles& f = Task.At(i);
        const QString file = CacheFile(f.File);
        if (!file.isEmpty() && QFileInfo::exists(file)) f.WasCached = f.Done = true;
    }
}

void TUpdateV2::Downloaded()
{
    ThreadState = 4;
    SetTrayIcon(0);
    if (Phase == 1) {
        UpdateButton->setEnabled(true);
        ShowReader();
        BuildOffer();
        SetStatus(0, Task.Count ? QStringLiteral("检测完成") : QStringLiteral("已是最新"), 5);
        if (Task.Count == 0) {
            ShowOutcome(QStringLiteral("没有可用的更新"));
            Phase = 0;
            if (ProcessSettings().AutoMode) {
                ExitCommand();
                return;
            }
        } else {
            MarkCached();
            bool allCached = true;
            for (int i = 1; i <= Task.Count; ++i)
                allCached = allCached && Task.At(i).WasCached;
            if (allCached) {
                AddUpdateRows();
                Phase = 5;
                Task.Current = 1;
                PostUpdateCommand(cmDownloaded);
            } else {
                QPointer<TUpdateV2> self(this);
                {
                    TDownAskForm chooser(Task, this);
                    chooser.setWindowFlag(Qt::Window);
                    FChooser = &chooser;
                    chooser.Execute();
                    if (!self) return;
                    FChooser = nullptr;
                }
                if (FDestroying) return;
                AddUpdateRows();
                Task.Current = 1;
                ShowWindow();
                PostUpdateCommand(cmDownloadNext);
            }
        }
    } else if (Phase == 5 && Task.Current >= 1 && Task.Current <= Task.Count) {
        TDownFiles& f = Task.At(Task.Current);
        const QString file = CacheFile(f.File);
        f.Done = !file.isEmpty() && QFileInfo::exists(file);
        if (f.Selected && f.Done) SetStatus(Task.Current, QStringLiteral("下载完成"), 3);
        if (Task.Current < Task.Count) {
            ++Task.Current;
            PostUpdateCommand(cmDownloadNext);
        } else {
            PostUpdateCommand(cmInstallAll);
        }
    }
    RefreshTip();
}

void TUpdateV2::DownloadNext()
{
    if (Task.Current < 1 || Task.Current > Task.Count) return;
    Phase = 5;
    TrayText = SPrefix + QStringLiteral("正在下载升级包");
    TDownFiles& f = Task.At(Task.Current);
    const QString file = CacheFile(f.File);
    if (!f.Selected) {
        SetStatus(Task.Current, QStringLiteral("取消下载"), 7);
        PostUpdateCommand(cmDownloaded);
    } else if (!file.isEmpty() && QFileInfo::exists(file)) {
        PostUpdateCommand(cmDownloaded);
    } else if (file.isEmpty()) {
        // A package name that would land outside the cache is never fetched.
        PostUpdateCommand(cmDownloadFailed);
    } else {
        SetStatus(Task.Current, QStringLiteral("正在下载"), 2);
        SetTrayIcon(2);
        StartDownload(PackageUrl(ServerUrl, f.File), file);
    }
    RefreshTip();
}

void TUpdateV2::DownloadFailed()
{
    UpdateButton->setEnabled(true);
    ThreadState = 5;
    SetTrayIcon(3);
    if (Phase == 1)
        SetStatus(0, QStringLiteral("检测失败"), 6);
    else if (Phase == 8)
        SetStatus(Task.Current, QStringLiteral("更新失败"), 6);
    else
        SetStatus(Task.Current, QStringLiteral("下载失败"), 6);
    ShowOutcome(QStringLiteral("下载升级包失败"));
    if (Task.Current < Task.Count) {
        ++Task.Current;
        PostUpdateCommand(cmDownloadNext);
    } else {
        MarkCached();
        bool anyCached = false;
        for (int i = 1; i <= Task.Count; ++i)
            anyCached = anyCached || Task.At(i).WasCached;
        if (anyCached) {
            PostUpdateCommand(cmInstallAll);
        } else {
            const bool checkFailed = Phase == 1;
            Phase = 0;
            // An unseen check that could not even read the list has nothing to show; a hidden
            // window left behind would also keep every later automatic check from running.
            if (checkFailed && ProcessSettings().AutoMode) {
                ExitCommand();
                return;
            }
        }
    }
    RefreshTip();
}

void TUpdateV2::InstallAll()
{
    Phase = 8;
    TrayText = SPrefix + QStringLiteral("下载升级包完成");
    RefreshTip();
    Install();
    if (!FDestroying) RefreshTip();
}

void TUpdateV2::Install()
{
    Phase = 8;
    if (Task.Count == 0) {
        Phase = 0;
        return;
    }
    QPointer<TUpdateV2> self(this);
    ShowReader();
    for (Task.Current = 1; Task.Current <= Task.Count; ++Task.Current) {
        TDownFiles& f = Task.At(Task.Current);
        f.Done = false;
        bool goOn = true;
        if (f.Kind == 2)
            InstallProgram(f, Task.Current);
        else if (f.Kind == 3)
            goOn = InstallFirmware(f, Task.Current);
        if (!self || FDestroying) return;
        if (!goOn) break;
    }
    Task.Current = Task.Count;
    bool allDone = true;
    for (int i = 1; i <= Task.Count; ++i)
        allDone = allDone && Task.At(i).Done;
    Phase = 0;
    if (allDone && ProcessSettings().AutoMode) ExitCommand();
}

bool TUpdateV2::ConfirmInstall(const TDownFiles& offer, const QString& kindName,
                               const QString& warning)
{
    if (!offer.WasCached) {
        Notice(QStringLiteral("下载完成，正在升级..."));
        return true;
    }
    return Ask(QStringLiteral("已下载 <%1> 升级包\r\n\r\n点击 是[Y] 开始升级，或者点击 "
                              "否[N] 以后升级。\r\n\r\n注意：%2")
                   .arg(kindName, warning),
               QStringLiteral("确认"), mbYesNo | mbIconQuestion) == mrYes;
}

void TUpdateV2::InstallProgram(TDownFiles& offer, int row)
{
    const QString file = CacheFile(offer.File);
    if (file.isEmpty() || !QFileInfo::exists(file)) return;
    if (!ConfirmInstall(offer, QStringLiteral("阅读软件"),
                        QStringLiteral("升级时需要关闭Varnix软件，请保存您现在的工作。")))
        return;
    SetTrayIcon(0);
    SetStatus(row, QStringLiteral("正在更新"), 4);
    bool started;
    if (PackageLauncher())
        started = PackageLauncher()(file);
    else if (MakeProgramExecutable(file))
        started = QProcess::startDetached(file, {}, QFileInfo(file).absolutePath());
    else
        started = QDesktopServices::openUrl(QUrl::fromLocalFile(file));
    if (!started) {
        // The installer never ran: saying "done" would hide that the program is still old.
        SetStatus(row, QStringLiteral("更新失败"), 6);
        TrayText = SPrefix + QStringLiteral("更新失败!");
        Notice(TrayText);
        Notify::SendInBackground(Notify::UpdateSummary(true),
                                 QStringLiteral("阅读软件的升级程序无法启动。"));
        return;
    }
    offer.Done = true;
    SetStatus(row, QStringLiteral("更新完成"), 5);
    ShowOutcome(QStringLiteral("更新完成!"));
    Notify::SendInBackground(Notify::UpdateSummary(false),
                             QStringLiteral("阅读软件的升级程序已启动。"));
}

// ---------------------------------------------------------------------------------------------
// Leaving

void TUpdateV2::ExitCommand()
{
    ProcessSettings().AutoMode = false;
    if (!CanExit || FDestroying) return;
    QPointer<TUpdateV2> self(this);
    if (ThreadState == 2 && Ask(QStringLiteral("正在进行更新，确认退出？"), QStringLiteral("确认"),
                                mbYesNo | mbIconQuestion) != mrYes)
        return;
    if (!self || FDestroying) return;
    if (FChooser) {
        Ask(QStringLiteral("已找到可用的更新，确认要退出请先关闭更新选择窗口。"),
            QStringLiteral("确认"), mbOK | mbIconExclamation);
        return;
    }
    ForceClose();
}

void TUpdateV2::ForceClose()
{
    if (FDestroying) return;
    FDestroying = true;
    StopThread();
    TrayIcon->hide();
    hide();
    FSystemCategory = nullptr;
    FIdentity = nullptr;
    if (Instance() == this) Instance() = nullptr;
    // The image writer is still using the window as its host: it goes when the writer is done.
    if (ThreadState == 6) return;
    // The exit may come from one of the window's own buttons, from inside one of its steps or
    // from a wait of a step: the window goes once none of its code is on the stack.
    TLongWork::DeleteWhenIdle(this);
}

// ---------------------------------------------------------------------------------------------
// Progress

void TUpdateV2::DownloadProgress(quint32 received, quint32 total)
{
    if (received == 0 || FDestroying) return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (FRateTick == 0) {
        FRateTick = now;
        FRateBytes = received;
        return;
    }
    if (now - FRateTick <= 1000) return;
    const quint32 d = received >= FRateBytes ? received - FRateBytes : 0;
    FRateTick = now;
    FRateBytes = received;
    const int row = Phase == 1 ? 0 : Task.Current;
    if (total != 0) {
        quint32 remaining = 0;
        if (d >= 1024 && total > received) remaining = ((total - received) / 1024) / (d / 1024);
        ProgressLabel->setText(QString::asprintf("下载进度：%uKb/%uKb  剩余时间：%u分%u秒",
                                                 received / 1024, total / 1024, remaining / 60,
                                                 remaining % 60));
        // Packages under 1 KiB would divide by zero in whole kilobytes.
        const quint64 percent = total / 1024 ? quint64(received / 1024) * 100 / (total / 1024)
                                             : quint64(received) * 100 / total;
        ProgressBar->setValue(int(std::min<quint64>(percent, 100)));
        TrayText = SPrefix + QStringLiteral("正在下载升级包") +
                   QString::asprintf("(%d%%)", int(std::min<quint64>(percent, 100)));
        RefreshTip();
    } else {
        SetStatus(row, QStringLiteral("正在下载"), Phase == 1 ? 1 : 2, false);
    }
}
