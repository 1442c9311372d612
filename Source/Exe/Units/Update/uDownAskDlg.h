#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QTabWidget;

// One package offered by a check, as the update window keeps it.
struct TDownFiles
{
    bool Selected = false;  // to be downloaded
    bool WasCached = false; // already in the cache when the check finished
    QString ID;
    QString File;
    QString FileSize;
    QString Desc;
    quint8 Kind = 0; // 2 program package, 3 reader firmware
    bool Done = false;
    quint16 ReaderCode = 0;
    quint8 Manufacturer = 0;
};

// The offer of one check: at most a program package and a firmware image (a third place is
// kept free). Current is 1-based.
struct TDownTask
{
    qint32 Count = 0;
    qint32 Current = 0;
    std::array<TDownFiles, 3> Files;

    TDownFiles& At(int index) { return Files[index - 1]; }
};

// The names of the kinds, as the update list shows them.
QString DownKindName(int kind);

// Splits a description into lines: commas and blanks outside double quotes separate items, a
// doubled quote inside quotes is one quote.
QStringList SplitDescription(const QString& text);

// The chooser that lets the user pick which found packages to download. It edits the offer
// in place: packages that are not yet cached are unselected while it is open and selected
// again only by their "下载此更新" box, so closing it any other way downloads nothing new.
class TDownAskForm : public QDialog
{
    Q_OBJECT
public:
    explicit TDownAskForm(TDownTask& task, QWidget* parent = nullptr);

    // Shows the dialog modally (or hands it to the test hook) and returns the modal result.
    int Execute();

    // "确定": copies the boxes into the offer, or asks when nothing is ticked.
    void OkClick();
    void CancelClick();

    // One page per kind: 0 the program, 1 the reader firmware.
    QTabWidget* Pages = nullptr;
    std::array<QPlainTextEdit*, 2> DescBoxes{};
    std::array<QCheckBox*, 2> DownloadBoxes{};
    bool PageVisible(int page) const;

private:
    void Fill();

    TDownTask& FTask;
    std::array<bool, 2> FPageVisible{};
};

// Tests answer the chooser here instead of a person: the hook gets the filled dialog and
// presses its buttons (OkClick, CancelClick); the program itself never sets it.
void SetDownAskAnswer(std::function<void(TDownAskForm&)> answer);
