// Costs of the thumbnail grid on the paths a user feels: painting a full screen of cells with
// covers, and scrolling a grid of 10,000 books one wheel step at a time.
#include "GeneratedBooks.h"
#include "rkView.h"

#include <QApplication>
#include <QMouseEvent>

#include <benchmark/benchmark.h>

namespace {

struct TGrid
{
    TrkView View;
    TThumbnailPainter Painter{DemoSkin()};
    std::vector<std::unique_ptr<TGeneratedBook>> Books;
    int Painted = 0;

    TGrid(int count, QSize client)
    {
        for (int i = 0; i < count; ++i)
            Books.push_back(std::make_unique<TGeneratedBook>(i, i % 7 != 6, i % 11 == 10));
        Painter.OnGetItem = [this](TrkView*, int64_t value) -> TThumbnailBook* {
            return Books[size_t(value)].get();
        };
        Painter.Attach(&View);
        auto paint = View.OnCellPaint;
        View.OnCellPaint = [this, paint](TrkView* v, QPainter& c, const QRect& r, int a, int64_t i,
                                         TsvItemState s) {
            ++Painted;
            paint(v, c, r, a, i, s);
        };
        View.SetBorderStyle(bsNone);
        View.SetMultipleSelection(true);
        View.resize(client);
        View.BeginUpdate();
        for (int i = 0; i < count; ++i)
            View.Items().Add(i);
        View.EndUpdate();
        View.show();
        QApplication::processEvents();
        View.CalcView();
        for (int i = 0; i < count; i += 3)
            View.Selection().Add(i);
    }
};

// About 40 visible cells: 7 columns by 5 to 6 rows of 150 x 190 cells.
const QSize Screen(1280, 1080);

void BM_PaintFullScreen(benchmark::State& state)
{
    TGrid grid(200, Screen);
    grid.View.PaintOffscreen(); // covers are generated on first paint, as books load
    grid.Painted = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(grid.View.PaintOffscreen().constBits());
    state.counters["cells"] = double(grid.Painted) / double(state.iterations());
}
BENCHMARK(BM_PaintFullScreen)->Unit(benchmark::kMillisecond);

// The first paint of a screen: every visible book is loaded (its cover made) then painted.
void BM_PaintFirstScreen(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto grid = std::make_unique<TGrid>(200, Screen);
        // Showing the window may already have painted; fresh books are not loaded yet.
        for (size_t i = 0; i < grid->Books.size(); ++i)
            grid->Books[i] = std::make_unique<TGeneratedBook>(int(i), i % 7 != 6, i % 11 == 10);
        state.ResumeTiming();
        benchmark::DoNotOptimize(grid->View.PaintOffscreen().constBits());
        state.PauseTiming();
        grid.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_PaintFirstScreen)->Unit(benchmark::kMillisecond)->Iterations(20);

// One wheel step down and the repaint it causes, over 10,000 books, wrapping at the end.
void BM_ScrollStep10000(benchmark::State& state)
{
    TGrid grid(10000, Screen);
    for (int p = 0; p <= grid.View.Layout().MaxScroll; p += grid.View.Layout().PitchY) {
        grid.View.SetScrollPos(p); // load every book once, outside the timing
        grid.View.PaintOffscreen();
    }
    grid.View.SetScrollPos(0);
    for (auto _ : state) {
        int p = grid.View.ScrollPos() + grid.View.Layout().PitchY;
        if (p > grid.View.Layout().MaxScroll) p = 0;
        grid.View.SetScrollPos(p);
        benchmark::DoNotOptimize(grid.View.PaintOffscreen().constBits());
    }
}
BENCHMARK(BM_ScrollStep10000)->Unit(benchmark::kMillisecond);

// A rubber band from the first row to the last of 10,000 books: every pointer move
// recomputes the whole selection.
void BM_BandSelect10000(benchmark::State& state)
{
    TGrid grid(10000, Screen);
    auto send = [&grid](QEvent::Type type, QPoint pos, Qt::MouseButtons buttons) {
        QMouseEvent e(type, QPointF(pos), QPointF(grid.View.viewport()->mapToGlobal(pos)),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                      Qt::NoModifier);
        QApplication::sendEvent(grid.View.viewport(), &e);
    };
    send(QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton);
    grid.View.SetScrollPos(grid.View.Layout().MaxScroll);
    int x = 1000;
    for (auto _ : state) {
        x = x == 1000 ? 999 : 1000;
        send(QEvent::MouseMove, QPoint(x, 1000), Qt::LeftButton);
    }
    state.counters["selected"] = grid.View.Selection().Count();
    send(QEvent::MouseButtonRelease, QPoint(x, 1000), Qt::NoButton);
}
BENCHMARK(BM_BandSelect10000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
