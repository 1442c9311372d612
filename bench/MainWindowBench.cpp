// The main window with a bookshelf of 10,000 books: the time from focusing the shelf to the
// first painted rows (list and grid), and a search over all books, cold (no book read yet)
// and warm (every book read by the search before). And how long the window stands still while
// the search reads one very big book.
#include "Categories.h"
#include "Folders.h"
#include "ModelGuard.h"
#include "rkView.h"
#include "uMainForm.h"
#include "uMsgDlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFocusEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <chrono>
#include <mutex>

#include <benchmark/benchmark.h>

namespace {

QTemporaryDir& Library()
{
    static QTemporaryDir dir;
    static bool made = false;
    if (!made) {
        QDir().mkpath(dir.filePath("Storages/shelf"));
        for (int i = 0; i < 10000; ++i) {
            QFile f(dir.filePath(QStringLiteral("Storages/shelf/第%1本 book %1.txt").arg(i)));
            f.open(QIODevice::WriteOnly);
            f.write("text");
        }
        made = true;
        TSystemCategory::SetLocalLibraryPath(dir.filePath("Storages/"));
    }
    return dir;
}

std::unique_ptr<TXALVarnixForm> NewWindow()
{
    auto form = std::make_unique<TXALVarnixForm>(Library().filePath("Korvel.ini"));
    form->show();
    while (form->CurrentCategory() != form->SystemCategory()->Child(0))
        QCoreApplication::processEvents();
    return form;
}

void BM_FocusShelfToFirstPaint(benchmark::State& state)
{
    const bool grid = state.range(0) == 1;
    for (auto _ : state) {
        state.PauseTiming();
        auto form = NewWindow();
        (grid ? form->ActViewThumb : form->ActViewList)->setChecked(true);
        TCategory* library = form->SystemCategory()->LocalLibrary();
        library->EnsureLoaded();
        TCategory* shelf = library->Category(0);
        state.ResumeTiming();
        form->SelectCategory(shelf);
        while (form->ThumbnailView()->Items().Count() == 0)
            QCoreApplication::processEvents();
        QWidget* view = grid ? static_cast<QWidget*>(form->ThumbnailView()) : form->BookList();
        benchmark::DoNotOptimize(view->grab());
        state.PauseTiming();
        form.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FocusShelfToFirstPaint)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Building and first painting the main window, plain and with the default skin (the archive
// read, the tool buttons, the pane subclasses and the style sheet), to show what the skin
// adds to the start.
void BM_CreateWindow(benchmark::State& state)
{
    SetMessageBoxAnswer([](const QString&, const QString&, unsigned) { return int(mrOk); });
    const QString archive =
        state.range(0) == 1 ? QStringLiteral(KORVEL_BIN_DIR "/theme.zip") : QString();
    for (auto _ : state) {
        TXALVarnixForm form(Library().filePath("Korvel.ini"), nullptr, archive);
        form.show();
        benchmark::DoNotOptimize(form.grab());
    }
    SetMessageBoxAnswer(nullptr);
}
BENCHMARK(BM_CreateWindow)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Search10000Books(benchmark::State& state)
{
    SetMessageBoxAnswer([](const QString&, const QString&, unsigned) { return int(mrOk); });
    const bool warm = state.range(0) == 1;
    for (auto _ : state) {
        state.PauseTiming();
        auto form = NewWindow();
        // As when the user clicks into the box: the placeholder goes.
        QFocusEvent focusIn(QEvent::FocusIn, Qt::MouseFocusReason);
        QCoreApplication::sendEvent(form->SearchEdit(), &focusIn);
        form->SearchEdit()->setText(QStringLiteral("book 99"));
        if (warm) {
            form->StartSearch();
            while (form->SearchRunning())
                QCoreApplication::processEvents();
        }
        state.ResumeTiming();
        form->StartSearch();
        while (form->SearchRunning())
            QCoreApplication::processEvents();
        state.counters["hits"] = form->SearchHitCount();
        state.PauseTiming();
        form.reset();
        state.ResumeTiming();
    }
    SetMessageBoxAnswer(nullptr);
}
BENCHMARK(BM_Search10000Books)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A shelf with one text book of 200 MB among 200 small ones. While the search runs, a timer on the
// main thread ticks every millisecond and the main thread takes the model lock at every tick (as
// a row that is shown or a search hit does); the longest gap between ticks and the longest wait
// for the lock are what the user would feel as a frozen window.
void BM_WindowStallWhileSearchReadsABigBook(benchmark::State& state)
{
    static QTemporaryDir dir;
    static bool made = false;
    if (!made) {
        QDir().mkpath(dir.filePath("Storages/big"));
        QFile big(dir.filePath("Storages/big/big book.txt"));
        big.open(QIODevice::WriteOnly);
        const QByteArray line = QByteArray("a line of a very long book, read by the search\n");
        QByteArray block;
        while (block.size() < (1 << 20))
            block += line;
        for (int i = 0; i < 200; ++i)
            big.write(block);
        big.close();
        for (int i = 0; i < 200; ++i) {
            QFile f(dir.filePath(QStringLiteral("Storages/big/book %1.txt").arg(i)));
            f.open(QIODevice::WriteOnly);
            f.write("text");
        }
        made = true;
    }
    SetMessageBoxAnswer([](const QString&, const QString&, unsigned) { return int(mrOk); });
    using TClock = std::chrono::steady_clock;
    double longestGap = 0;
    double longestLockWait = 0;
    for (auto _ : state) {
        state.PauseTiming();
        TSystemCategory::SetLocalLibraryPath(dir.filePath("Storages/"));
        auto form = std::make_unique<TXALVarnixForm>(dir.filePath("Korvel.ini"));
        form->show();
        while (form->CurrentCategory() != form->SystemCategory()->Child(0))
            QCoreApplication::processEvents();
        QFocusEvent focusIn(QEvent::FocusIn, Qt::MouseFocusReason);
        QCoreApplication::sendEvent(form->SearchEdit(), &focusIn);
        form->SearchEdit()->setText(QStringLiteral("book 1"));
        auto last = TClock::now();
        QTimer ticker;
        ticker.setInterval(1);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const auto now = TClock::now();
            longestGap = std::max(longestGap,
                                  std::chrono::duration<double, std::milli>(now - last).count());
            const auto asked = TClock::now();
            { std::lock_guard<TModelGuard::TLock> lock(ModelGuard().Lock()); }
            longestLockWait = std::max(
                longestLockWait,
                std::chrono::duration<double, std::milli>(TClock::now() - asked).count());
            last = TClock::now();
        });
        state.ResumeTiming();
        form->StartSearch();
        last = TClock::now();
        ticker.start();
        while (form->SearchRunning())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        ticker.stop();
        state.PauseTiming();
        form.reset();
        TSystemCategory::SetLocalLibraryPath(Library().filePath("Storages/"));
        state.ResumeTiming();
    }
    state.counters["longest_gap_ms"] = longestGap;
    state.counters["longest_lock_wait_ms"] = longestLockWait;
    SetMessageBoxAnswer(nullptr);
}
BENCHMARK(BM_WindowStallWhileSearchReadsABigBook)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The books are read by the program's book-information libraries, as in the program: the
    // manager looks for them beside the executable.
    QFile::link(QStringLiteral(KORVEL_BIN_DIR "/ficomp"), Folders::ProgramFolder() + "ficomp");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
