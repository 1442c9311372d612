// Opening a shelf of 5,000 books with covers in the grid: the time from focusing the shelf to the
// first screen painted with every cover it shows, in a program that has never seen the books
// ("first open") and after a restart ("second open"), when what was read is remembered (book
// information in the program's cache, covers in the desktop's thumbnail cache). Each open is a
// process of its own, so nothing is carried over in memory.
//
//   CoverScreenBench            makes the shelf, runs both opens, prints the table
//   CoverScreenBench make DIR   makes the library in DIR
//   CoverScreenBench open DIR   one open of the library in DIR (prints "ms=...")
#include "BookReader.h"
#include "Categories.h"
#include "CoverCache.h"
#include "FileInfo.h"
#include "rkView.h"
#include "uMainForm.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <utime.h>

namespace {

constexpr int Books = 5000;

void MakeLibrary(const QString& root)
{
    const QString shelf = root + "/Storages/shelf/";
    QDir().mkpath(shelf + "pictures");
    // A few hundred different pictures, each used by several books, so the disk holds tens of
    // megabytes rather than hundreds; every book is still read and its cover made on its own.
    constexpr int Pictures = 250;
    for (int p = 0; p < Pictures; ++p) {
        QImage image(600, 900, QImage::Format_RGB32);
        QPainter painter(&image);
        QLinearGradient g(0, 0, 600, 900);
        g.setColorAt(0, QColor::fromHsv((p * 37) % 360, 200, 230));
        g.setColorAt(1, QColor::fromHsv((p * 71) % 360, 120, 60));
        painter.fillRect(image.rect(), g);
        painter.end();
        image.save(shelf + QStringLiteral("pictures/%1.jpg").arg(p), "JPEG", 85);
    }
    const qint64 old = QDateTime::currentSecsSinceEpoch() - 3600;
    for (int i = 0; i < Books; ++i) {
        const QString path = shelf + QStringLiteral("第%1本 book %1.html").arg(i, 4, 10, QChar('0'));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(QStringLiteral("<html><head><meta charset=\"utf-8\"><title>第%1本书</title>"
                               "<meta name=\"author\" content=\"作者%2\"></head><body>"
                               "<img src=\"pictures/%3.jpg\"><p>%4</p></body></html>")
                    .arg(i)
                    .arg(i % 97)
                    .arg(i % Pictures)
                    .arg(QString("Some text of the book. ").repeated(40))
                    .toUtf8());
        f.close();
        struct utimbuf times{time_t(old), time_t(old)};
        utime(QFile::encodeName(path).constData(), &times);
    }
}

// The books whose cells the grid shows now.
QList<TFileItem*> VisibleBooks(TXALVarnixForm& form)
{
    TrkView* grid = form.ThumbnailView();
    QList<TFileItem*> books;
    for (int y = 1; y < grid->ClientHeight(); y += std::max(1, grid->CellHeight() / 2))
        for (int x = 1; x < grid->ClientWidth(); x += std::max(1, grid->CellWidth() / 2)) {
            const int index = grid->ItemIndexAt(QPoint(x, y));
            if (index < 0) continue;
            auto* book =
                reinterpret_cast<TFileItem*>(static_cast<quintptr>(grid->Items().Get(index)));
            if (!books.contains(book)) books << book;
        }
    return books;
}

int Open(const QString& root)
{
    TSystemCategory::SetLocalLibraryPath(root + "/Storages/");
    TXALVarnixForm form(root + "/Korvel.ini");
    form.resize(1280, 900);
    form.show();
    // The window first shows the store page; the shelf is focused after that.
    while (form.CurrentCategory() != form.SystemCategory()->Child(0))
        QCoreApplication::processEvents();
    form.ActViewThumb->setChecked(true);
    TCategory* library = form.SystemCategory()->LocalLibrary();
    library->EnsureLoaded();
    TCategory* shelf = library->Category(0);

    QElapsedTimer clock;
    clock.start();
    form.SelectCategory(shelf);
    int shown = 0;
    for (;;) {
        form.ThumbnailView()->grab(); // a paint: asks for what it shows
        const QList<TFileItem*> visible = VisibleBooks(form);
        int done = 0;
        for (TFileItem* book : visible) {
            bool known = false;
            form.CoverCache()->Cover(book, &known);
            if (known) ++done;
        }
        if (!visible.isEmpty() && done == visible.size()) {
            form.ThumbnailView()->grab(); // the screen with every cover
            shown = int(visible.size());
            break;
        }
        if (clock.elapsed() > 30000) {
            std::printf("gave up: %d of %d cells have their cover, %d items, grid %dx%d\n", done,
                        int(visible.size()), form.ThumbnailView()->Items().Count(),
                        form.ThumbnailView()->ClientWidth(), form.ThumbnailView()->ClientHeight());
            break;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const qint64 ms = clock.elapsed();
    std::printf("ms=%lld covers=%d\n", static_cast<long long>(ms), shown);
    return 0;
}

double RunOpen(const QString& root, const QString& cache)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CACHE_HOME", cache);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"open", root});
    child.waitForFinished(300000);
    const QByteArray out = child.readAllStandardOutput();
    std::fputs(out.constData(), stdout);
    const int at = out.indexOf("ms=");
    return at < 0 ? -1 : out.mid(at + 3).split(' ').first().toDouble();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetFileInfoFolder(QStringLiteral(KORVEL_BIN_DIR "/ficomp/"));
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == "open") return Open(args[2]);
    if (args.size() >= 3 && args[1] == "make") {
        MakeLibrary(args[2]);
        return 0;
    }

    QTemporaryDir root, cache;
    MakeLibrary(root.path());
    std::printf("first open:  ");
    std::fflush(stdout);
    const double first = RunOpen(root.path(), cache.path());
    std::printf("second open: ");
    std::fflush(stdout);
    const double second = RunOpen(root.path(), cache.path());
    std::printf("\n| Open of a %d-book shelf, grid | First screen with every cover |\n", Books);
    std::printf("|---|---|\n| first (nothing remembered) | %.0f ms |\n", first);
    std::printf("| second (after a restart) | %.0f ms |\n", second);
    return 0;
}
