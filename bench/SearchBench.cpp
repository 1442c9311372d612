// The main window's search over a shelf of 2,000 EPUBs with covers, as the user runs it: the
// wall time of one search in a fresh program, the memory it keeps, and what a second run of the
// program (same cache folder) gains from the first. Each run of the program is a child process,
// so nothing in memory is carried from one to the next; only what is on disk is.
//
//   SearchBench make <dir>    writes the books into <dir>/书架/
//   SearchBench search <dir>  one run of the program with the local library at <dir>: one
//                             line of key=value figures
//   SearchBench [run [<dir>]] makes the books (in a temporary folder, or in <dir> when it does
//                             not hold them yet), then runs `search` twice with one fresh
//                             XDG_CACHE_HOME: cold, then after a restart; prints a table.
//
// Run it offscreen with throwaway HOME and XDG folders; the books' files stay in the page cache
// between the two runs, so the comparison is between the program's own caches only.
#include "BookMaker.h"
#include "Categories.h"
#include "Folders.h"
#include "uMainForm.h"
#include "uMsgDlg.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFocusEvent>
#include <QImage>
#include <QLinearGradient>
#include <QLineEdit>
#include <QMap>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>
#include <thread>

#include <sys/resource.h>
#include <vector>

using namespace BookMaker;

namespace {

constexpr int BookCount = 2000;
constexpr int CoverWidth = 600;
constexpr int CoverHeight = 900;
// Every 50th book has the keyword in its title: 40 hits, found only in the books' information
// (the file names do not hold it), so a search that did not read the books finds none.
constexpr int HitEvery = 50;
constexpr int HitOffset = 17;
const QString Keyword = QStringLiteral("琥珀");
const QString ShelfName = QStringLiteral("书架");

// Word pools for the generated metadata; none of them holds the keyword.
const QStringList TitleHeads = {
    QStringLiteral("山河"), QStringLiteral("长夜"), QStringLiteral("青石"), QStringLiteral("远方"),
    QStringLiteral("白鹭"), QStringLiteral("春水"), QStringLiteral("北风"), QStringLiteral("孤城"),
    QStringLiteral("星海"), QStringLiteral("落叶"), QStringLiteral("海港"), QStringLiteral("旧梦")};
const QStringList TitleTails = {
    QStringLiteral("故事"), QStringLiteral("往事"), QStringLiteral("之歌"), QStringLiteral("札记"),
    QStringLiteral("传"),   QStringLiteral("纪行"), QStringLiteral("笔记"), QStringLiteral("岁月"),
    QStringLiteral("人间"), QStringLiteral("漫游")};
const QStringList Authors = {QStringLiteral("李明远"), QStringLiteral("王晓雨"),
                             QStringLiteral("陈子涵"), QStringLiteral("Anna Berg"),
                             QStringLiteral("张秋实"), QStringLiteral("Tomas Lind"),
                             QStringLiteral("刘清河"), QStringLiteral("赵一帆")};
const QStringList Publishers = {QStringLiteral("江南文艺出版社"), QStringLiteral("北方人民出版社"),
                                QStringLiteral("海岸书局"), QStringLiteral("Northgate Press"),
                                QStringLiteral("青山出版社")};
const QStringList Subjects = {QStringLiteral("小说"), QStringLiteral("散文"),
                              QStringLiteral("历史"), QStringLiteral("游记"),
                              QStringLiteral("Fiction")};
const QStringList Sentences = {
    QStringLiteral("小镇的清晨总是从码头的汽笛声开始，渔船一艘接一艘地驶出港湾。"),
    QStringLiteral("他在旧书店里找到一本泛黄的日记，扉页上写着一个陌生的名字。"),
    QStringLiteral("那年冬天雪下得特别大，整条街道都被埋在白色之下。"),
    QStringLiteral("祖母常说，做人要像河水一样，遇到石头就绕过去。"),
    QStringLiteral("The train left the valley at dawn, and nobody on board spoke for an hour."),
    QStringLiteral("她把信折好放进抽屉，决定等到春天再寄出去。"),
    QStringLiteral("多年以后，当他再次站在那座桥上，才明白当年离开的意义。"),
    QStringLiteral("雨停了，屋檐下的燕子又开始忙碌起来。"),
    QStringLiteral("A small lamp burned in the window long after the market had closed."),
    QStringLiteral("这是一部关于成长、离别与重逢的作品，文字朴素而温暖。")};

QString Pick(const QStringList& pool, std::mt19937& random)
{
    return pool[static_cast<int>(random() % static_cast<unsigned>(pool.size()))];
}

QString Prose(std::mt19937& random, int sentences)
{
    QString text;
    for (int i = 0; i < sentences; ++i)
        text += Pick(Sentences, random);
    return text;
}

// A cover that no other book shares: a gradient, translucent shapes and a fine grain, the
// grain keeping the encoded size near that of a real picture. 16-bit covers get their grain
// below the 8-bit step, as scans and renderings saved with 16 bits per channel have.
QImage Cover(int n, bool sixteenBit)
{
    std::mt19937 random(static_cast<unsigned>(n) * 2654435761u + 7);
    QImage image(CoverWidth, CoverHeight,
                 sixteenBit ? QImage::Format_RGBX64 : QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, CoverWidth / 3.0, CoverHeight);
    gradient.setColorAt(0, QColor::fromHsv(int(random() % 360), 90 + int(random() % 120),
                                           110 + int(random() % 120)));
    gradient.setColorAt(1, QColor::fromHsv(int(random() % 360), 90 + int(random() % 120),
                                           40 + int(random() % 120)));
    painter.fillRect(image.rect(), gradient);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int k = 0; k < 24; ++k) {
        painter.setBrush(QColor::fromHsv(int(random() % 360), int(random() % 256),
                                         int(random() % 256), 60 + int(random() % 160)));
        const QRectF box(int(random() % CoverWidth) - 100, int(random() % CoverHeight) - 100,
                         40 + int(random() % 320), 40 + int(random() % 320));
        if (k % 2)
            painter.drawEllipse(box);
        else
            painter.drawRect(box);
    }
    painter.end();
    quint32 state = static_cast<quint32>(n) * 747796405u + 1;
    auto grain = [&state](int amplitude) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<int>(state % static_cast<quint32>(2 * amplitude + 1)) - amplitude;
    };
    for (int y = 0; y < CoverHeight; ++y) {
        if (sixteenBit) {
            auto* line = reinterpret_cast<QRgba64*>(image.scanLine(y));
            for (int x = 0; x < CoverWidth; ++x) {
                auto c = [&](quint16 v) { return quint16(std::clamp(v + grain(200), 0, 65535)); };
                line[x] = QRgba64::fromRgba64(c(line[x].red()), c(line[x].green()),
                                              c(line[x].blue()), 65535);
            }
        } else {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < CoverWidth; ++x) {
                const int g = grain(6);
                line[x] = qRgb(std::clamp(qRed(line[x]) + g, 0, 255),
                               std::clamp(qGreen(line[x]) + g, 0, 255),
                               std::clamp(qBlue(line[x]) + g, 0, 255));
            }
        }
    }
    return image;
}

QByteArray Encode(const QImage& image, const char* format, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

QString Xml(const QString& text)
{
    return text.toHtmlEscaped();
}

QString Chapter(const QString& title, const QString& body)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"zh-CN\">"
                          "<head><title>%1</title><link rel=\"stylesheet\" type=\"text/css\" "
                          "href=\"../style.css\"/></head>\n<body><h1>%1</h1>\n%2</body></html>\n")
        .arg(Xml(title), body);
}

// One book as the common authoring tools write an EPUB 3: metadata, a navigation document,
// a style sheet, two chapters of text and the cover named by the manifest; the pictures are
// stored, the text deflated. Even books get a JPEG cover, odd ones a 16-bit PNG.
QList<TZipEntry> Book(int n)
{
    std::mt19937 random(static_cast<unsigned>(n) + 1);
    const bool hit = n % HitEvery == HitOffset;
    const QString title = (hit ? Keyword : Pick(TitleHeads, random)) + Pick(TitleTails, random) +
                          QStringLiteral(" 第%1卷").arg(n % 7 + 1);
    const QString author = Pick(Authors, random);
    const QString publisher = Pick(Publishers, random);
    const QString subject = Pick(Subjects, random);
    const QString description = Prose(random, 5); // 300 to 400 bytes of UTF-8
    const bool png = n % 2 == 1;
    const QString coverName =
        png ? QStringLiteral("images/cover.png") : QStringLiteral("images/cover.jpg");
    const QByteArray cover =
        png ? Encode(Cover(n, true), "PNG", -1) : Encode(Cover(n, false), "JPEG", 85);

    const QString opf =
        QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" "
            "unique-identifier=\"uid\" xml:lang=\"zh-CN\">\n"
            "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
            "<dc:identifier id=\"uid\">urn:uuid:6f1c2a00-0000-4000-8000-%1</dc:identifier>\n"
            "<dc:title>%2</dc:title>\n"
            "<dc:creator id=\"c1\">%3</dc:creator>\n"
            "<meta refines=\"#c1\" property=\"role\" scheme=\"marc:relators\">aut</meta>\n"
            "<dc:publisher>%4</dc:publisher>\n"
            "<dc:subject>%5</dc:subject>\n"
            "<dc:description>%6</dc:description>\n"
            "<dc:language>zh-CN</dc:language>\n"
            "<dc:date>%7</dc:date>\n"
            "<meta property=\"dcterms:modified\">2023-05-01T08:00:00Z</meta>\n"
            "<meta name=\"cover\" content=\"cover-image\"/>\n"
            "</metadata>\n<manifest>\n"
            "<item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" "
            "properties=\"nav\"/>\n"
            "<item id=\"css\" href=\"style.css\" media-type=\"text/css\"/>\n"
            "<item id=\"cover-image\" href=\"%8\" media-type=\"%9\" properties=\"cover-image\"/>\n"
            "<item id=\"ch1\" href=\"text/ch1.xhtml\" media-type=\"application/xhtml+xml\"/>\n"
            "<item id=\"ch2\" href=\"text/ch2.xhtml\" media-type=\"application/xhtml+xml\"/>\n"
            "</manifest>\n<spine><itemref idref=\"ch1\"/><itemref idref=\"ch2\"/></spine>\n"
            "</package>\n")
            .arg(QStringLiteral("%1").arg(n, 12, 10, QLatin1Char('0')), Xml(title), Xml(author),
                 Xml(publisher), Xml(subject), Xml(description),
                 QStringLiteral("%1-%2-01")
                     .arg(1990 + n % 33)
                     .arg(n % 12 + 1, 2, 10, QLatin1Char('0')),
                 coverName, png ? QStringLiteral("image/png") : QStringLiteral("image/jpeg"));
    const QString nav = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\">"
        "<head><title>目录</title></head><body><nav epub:type=\"toc\"><ol>"
        "<li><a href=\"text/ch1.xhtml\">第一章</a></li>"
        "<li><a href=\"text/ch2.xhtml\">第二章</a></li></ol></nav></body></html>\n");
    auto chapterBody = [&random] {
        QString body;
        for (int p = 0; p < 30; ++p)
            body += "<p>" + Xml(Prose(random, 3 + int(random() % 4))) + "</p>\n";
        return body;
    };
    return {
        {QStringLiteral("mimetype"), "application/epub+zip", true},
        {QStringLiteral("META-INF/container.xml"),
         "<?xml version=\"1.0\"?>\n<container version=\"1.0\" "
         "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles>"
         "<rootfile full-path=\"OEBPS/content.opf\" "
         "media-type=\"application/oebps-package+xml\"/></rootfiles></container>\n"},
        {QStringLiteral("OEBPS/content.opf"), opf.toUtf8()},
        {QStringLiteral("OEBPS/nav.xhtml"), nav.toUtf8()},
        {QStringLiteral("OEBPS/style.css"),
         "body { margin: 0 5%; line-height: 1.6; }\nh1 { text-align: center; }\n"
         "p { text-indent: 2em; margin: 0.3em 0; }\n"},
        {QStringLiteral("OEBPS/") + coverName, cover, true},
        {QStringLiteral("OEBPS/text/ch1.xhtml"),
         Chapter(QStringLiteral("第一章"), chapterBody()).toUtf8()},
        {QStringLiteral("OEBPS/text/ch2.xhtml"),
         Chapter(QStringLiteral("第二章"), chapterBody()).toUtf8()},
    };
}

QString BookPath(const QString& root, int n)
{
    return QStringLiteral("%1/%2/book %3.epub")
        .arg(root, ShelfName)
        .arg(n, 4, 10, QLatin1Char('0'));
}

int CountBooks(const QString& root)
{
    int count = 0;
    QDirIterator it(root, {QStringLiteral("*.epub")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
}

// Writes the books on every core; the covers' encoding is most of the work.
bool MakeBooks(const QString& root)
{
    if (!QDir().mkpath(root + "/" + ShelfName)) return false;
    QElapsedTimer timer;
    timer.start();
    std::atomic<int> next{0};
    std::atomic<int> failed{0};
    std::atomic<qint64> jpegBytes{0}, pngBytes{0};
    std::vector<std::thread> workers;
    const int threads = std::max(1, QThread::idealThreadCount());
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (int n = next++; n < BookCount; n = next++) {
                const QList<TZipEntry> entries = Book(n);
                for (const TZipEntry& e : entries)
                    if (e.Name.startsWith(QStringLiteral("OEBPS/images/")))
                        (n % 2 ? pngBytes : jpegBytes) += e.Bytes.size();
                if (!WriteZip(BookPath(root, n), entries)) ++failed;
            }
        });
    for (std::thread& w : workers)
        w.join();
    std::printf("made %d EPUBs in %s/%s in %.1f s; average cover: JPEG %lld KB, 16-bit PNG %lld "
                "KB\n",
                BookCount - failed.load(), qPrintable(root), qPrintable(ShelfName),
                timer.elapsed() / 1000.0, jpegBytes.load() / (BookCount / 2) / 1024,
                pngBytes.load() / (BookCount / 2) / 1024);
    std::fflush(stdout);
    return failed == 0;
}

// Kilobytes of one /proc/self/status line ("VmRSS", "VmHWM").
qint64 ProcStatusKb(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ')[0].toLongLong();
    return -1;
}

// Processor time of the whole process (every thread, user and system) in milliseconds: on a
// busy machine it moves far less than the wall time.
qint64 ProcessCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval& t) { return qint64(t.tv_sec) * 1000 + t.tv_usec / 1000; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

void Pump(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// One run of the program: a fresh main window over the library, one search, the figures.
int Search(const QString& root)
{
    const int books = CountBooks(root);
    QTemporaryDir settings;
    TSystemCategory::SetLocalLibraryPath(QDir(root).absolutePath() + "/");
    SetMessageBoxAnswer([](const QString&, const QString&, unsigned) { return int(mrOk); });
    auto form = std::make_unique<TXALVarnixForm>(settings.filePath("Korvel.ini"));
    form->show();
    while (form->CurrentCategory() != form->SystemCategory()->Child(0))
        QCoreApplication::processEvents();
    Pump(1000); // the start's own work settles before the first figure
    const qint64 before = ProcStatusKb("VmRSS");

    // As when the user clicks into the box: the placeholder goes.
    QFocusEvent focusIn(QEvent::FocusIn, Qt::MouseFocusReason);
    QCoreApplication::sendEvent(form->SearchEdit(), &focusIn);
    form->SearchEdit()->setText(Keyword);
    QElapsedTimer timer;
    timer.start();
    const qint64 cpuBefore = ProcessCpuMs();
    form->StartSearch();
    // Sleeping between events, as the program's main thread does, so the search is not
    // slowed by a spinning loop on the other core.
    while (form->SearchRunning())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const qint64 elapsed = timer.elapsed();
    const qint64 cpu = ProcessCpuMs() - cpuBefore;
    const qint64 after = ProcStatusKb("VmRSS");
    const qint64 peak = ProcStatusKb("VmHWM");
    std::printf("search_ms=%lld cpu_ms=%lld hits=%d books=%d rss_before_kb=%lld "
                "rss_after_kb=%lld peak_kb=%lld\n",
                elapsed, cpu, form->SearchHitCount(), books, before, after, peak);
    std::fflush(stdout);
    form.reset();
    SetMessageBoxAnswer(nullptr);
    return 0;
}

QMap<QString, double> ParseFigures(const QByteArray& output)
{
    QMap<QString, double> figures;
    for (const QByteArray& line : output.split('\n')) {
        if (!line.startsWith("search_ms=")) continue;
        for (const QByteArray& pair : line.split(' ')) {
            const int eq = pair.indexOf('=');
            if (eq > 0) figures[QString::fromLatin1(pair.left(eq))] = pair.mid(eq + 1).toDouble();
        }
    }
    return figures;
}

// The figures mean little on a busy machine: each run says how busy it was.
QByteArray LoadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').mid(0, 3).join(' ')
                                          : QByteArray("?");
}

QMap<QString, double> RunSearchProcess(const QString& root, const QString& cache)
{
    std::printf("load average before: %s\n", LoadAverage().constData());
    std::fflush(stdout);
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), cache);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("search"), root});
    process.waitForFinished(-1);
    const QByteArray output = process.readAllStandardOutput();
    std::fputs(output.constData(), stdout);
    std::printf("load average after: %s\n", LoadAverage().constData());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "the search run failed (exit %d)\n", process.exitCode());
        return {};
    }
    return ParseFigures(output);
}

int Run(const QString& given)
{
    QTemporaryDir temporary;
    const QString root = given.isEmpty() ? temporary.path() : given;
    if (CountBooks(root) != BookCount && !MakeBooks(root)) {
        std::fprintf(stderr, "could not write the books\n");
        return 1;
    }
    QTemporaryDir cache; // one cache folder for both runs: the second run sees what the first left
    std::printf("cold run (XDG_CACHE_HOME=%s, empty):\n", qPrintable(cache.path()));
    std::fflush(stdout);
    const auto cold = RunSearchProcess(root, cache.path());
    std::printf("after a restart (same cache folder):\n");
    std::fflush(stdout);
    const auto warm = RunSearchProcess(root, cache.path());
    if (cold.isEmpty() || warm.isEmpty()) return 1;

    auto growthPer1000 = [](const QMap<QString, double>& f) {
        return (f["rss_after_kb"] - f["rss_before_kb"]) / 1024.0 * 1000.0 /
               std::max(1.0, f["books"]);
    };
    const int expectedHits = BookCount / HitEvery;
    std::printf("\n%-34s %12s %14s\n", "", "cold", "after restart");
    std::printf("%-34s %12.2f %14.2f\n", "search time (s)", cold["search_ms"] / 1000.0,
                warm["search_ms"] / 1000.0);
    std::printf("%-34s %12.2f %14.2f\n", "processor time, all threads (s)", cold["cpu_ms"] / 1000.0,
                warm["cpu_ms"] / 1000.0);
    std::printf("%-34s %12.0f %14.0f\n", "hits", cold["hits"], warm["hits"]);
    std::printf("%-34s %12.1f %14.1f\n", "resident before search (MB)",
                cold["rss_before_kb"] / 1024.0, warm["rss_before_kb"] / 1024.0);
    std::printf("%-34s %12.1f %14.1f\n", "resident after search (MB)",
                cold["rss_after_kb"] / 1024.0, warm["rss_after_kb"] / 1024.0);
    std::printf("%-34s %12.1f %14.1f\n", "peak resident (MB)", cold["peak_kb"] / 1024.0,
                warm["peak_kb"] / 1024.0);
    std::printf("%-34s %12.1f %14.1f\n", "growth per 1,000 books (MB)", growthPer1000(cold),
                growthPer1000(warm));
    std::printf("restart/cold time: %.0f%%  (books: %.0f, keyword hits expected: %d)\n",
                100.0 * warm["search_ms"] / std::max(1.0, cold["search_ms"]), cold["books"],
                expectedHits);
    if (cold["hits"] != expectedHits || warm["hits"] != expectedHits) {
        std::fprintf(stderr, "unexpected number of hits\n");
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The books are read by the program's book-information libraries, as in the program: the
    // manager looks for them beside the executable.
    QFile::link(QStringLiteral(KORVEL_BIN_DIR "/ficomp"), Folders::ProgramFolder() + "ficomp");
    const QStringList args = app.arguments().mid(1);
    const QString command = args.value(0, QStringLiteral("run"));
    if (command == QLatin1String("make") && args.size() == 2) return MakeBooks(args[1]) ? 0 : 1;
    if (command == QLatin1String("search") && args.size() == 2) return Search(args[1]);
    if (command == QLatin1String("run") && args.size() <= 2) return Run(args.value(1));
    std::fprintf(stderr, "usage: SearchBench [run [<dir>]] | make <dir> | search <dir>\n");
    return 2;
}
