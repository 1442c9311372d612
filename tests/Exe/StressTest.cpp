// The real main window driven through thousands of seeded random steps while two pretend
// readers come and go: searches, drops, adds, deletes of books and shelves, refreshes, renames,
// questions answered with a reader change in the middle, the update window told to go during
// its wait. After every step: each row on screen is a book the model still lists, the views
// agree, and no file changed outside the folders the step was allowed to touch. A use after
// free ends the run through the sanitizer.
//
// The seed is printed; KORVEL_STRESS_SEED replays one, KORVEL_STRESS_STEPS and
// KORVEL_STRESS_SECONDS bound the run (at most 4000 steps and 100 s by default).
#include "../Support/FakeRoot.h"
#include "../Support/WindowTestUtil.h"
#include "BookListModel.h"
#include "Categories.h"
#include "LongWork.h"
#include "NavigatorModel.h"
#include "rkView.h"
#include "uInputDlg.h"
#include "uMainForm.h"
#include "uMsgDlg.h"
#include "uUpdateMain.h"

#include <QAction>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <functional>
#include <memory>
#include <random>

namespace fs = std::filesystem;

namespace {

QStringList PaintWarnings;

void RecordPaintWarnings(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtWarningMsg &&
        (text.contains(QLatin1String("Recursive repaint")) ||
         text.contains(QLatin1String("called with active painter"))))
        PaintWarnings << text;
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(path.left(path.lastIndexOf(u'/')));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(bytes);
}

void Collect(TCategory* category, QList<TCategory*>& out)
{
    out << category;
    for (int i = 0; i < category->CategoryCount(); ++i)
        Collect(category->Category(i), out);
}

struct TReader
{
    std::string Mount;
    std::pair<unsigned, unsigned> Disk;
    QString Folder;
    bool Plugged = true;
};

} // namespace

class StressTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<TFakeRoot> FRoot;
    std::unique_ptr<TXALVarnixForm> FForm;
    std::vector<TReader> FReaders;
    std::mt19937 FRandom;
    QStringList FLog;          // the steps so far, for the failure message
    QStringList FAllowed;      // folders the running step may change
    QList<int> FAnswers;       // answers to the next questions, in order
    std::function<void()> FInside; // runs inside the next question, where a box would pump
    int FBookCounter = 0;
    QString FSavedCwd;

    TSystemCategory* Root() const { return FForm->SystemCategory(); }
    QString Lib(const QString& rest = QString()) const { return FDir->filePath("Storages/" + rest); }

    int Pick(int count) { return count <= 0 ? 0 : int(FRandom() % unsigned(count)); }
    bool Chance(int percent) { return Pick(100) < percent; }

    void Note(const QString& text)
    {
        FLog << text;
        if (FLog.size() > 30) FLog.removeFirst();
    }

    // Every file of the world that the program could touch: library, reader volumes, the
    // folders outside, the working folder.
    QMap<QString, QByteArray> Files() const
    {
        return FileSnapshot({FDir->filePath("Storages"), FDir->filePath("root/media"),
                             FDir->filePath("outside"), FDir->filePath("cwd")});
    }

    bool AllowedPath(const QString& path) const
    {
        for (const QString& folder : FAllowed)
            if (path.startsWith(folder)) return true;
        return false;
    }

    void Allow(TCategory* category)
    {
        if (!category) return;
        QString path = category->GetFullPath();
        if (path.isEmpty() || path == QLatin1String("/")) return;
        if (!path.endsWith(u'/')) path += u'/';
        FAllowed << path;
    }

    void Plug(size_t k)
    {
        if (FReaders[k].Plugged) return;
        FRoot->Mount(FReaders[k].Mount, FReaders[k].Disk);
        FReaders[k].Plugged = true;
    }
    void Unplug(size_t k)
    {
        if (!FReaders[k].Plugged) return;
        FRoot->Unmount(FReaders[k].Mount);
        FReaders[k].Plugged = false;
    }
    // A reader change of some kind, as the user's hand would make it.
    void ReaderChange()
    {
        const size_t k = size_t(Pick(int(FReaders.size())));
        if (FReaders[k].Plugged) {
            Unplug(k);
            if (Chance(40)) {
                QTest::qWait(Pick(30));
                Plug(k);
            }
        } else {
            Plug(k);
        }
        Note(QStringLiteral("  reader %1 %2").arg(k).arg(FReaders[k].Plugged ? "in" : "out"));
    }

    QList<TCategory*> Categories() const
    {
        QList<TCategory*> all;
        for (int i = 0; i < Root()->CategoryCount(); ++i)
            Collect(Root()->Category(i), all);
        return all;
    }
    QList<TCategory*> Shelves() const
    {
        QList<TCategory*> shelves;
        for (TCategory* c : Categories())
            if (dynamic_cast<TFileSystemCategory*>(c)) shelves << c;
        return shelves;
    }

    void SelectRandomRows()
    {
        TBookListModel* model = FForm->BookListModel();
        const int rows = model->rowCount();
        if (rows == 0) return;
        FForm->SelectBookRow(Pick(rows));
        QItemSelectionModel* selection = FForm->BookList()->selectionModel();
        for (int r = 0; r < rows; ++r)
            if (Chance(30))
                selection->select(model->index(r, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    QStringList NewSourceFiles()
    {
        QStringList files;
        const int n = 1 + Pick(3);
        for (int i = 0; i < n; ++i) {
            const QString name = Chance(30) ? QStringLiteral("shared.txt")
                                            : QStringLiteral("new-%1.txt").arg(++FBookCounter);
            files << FDir->filePath("source/" + name);
            WriteFile(files.last(), "added book " + QByteArray::number(FBookCounter));
        }
        return files;
    }

    // The steps.
    void StepFocus()
    {
        const QList<TCategory*> all = Categories();
        TCategory* c = all.value(Pick(int(all.size())));
        Note(QStringLiteral("focus %1").arg(c ? c->Name() : QString()));
        if (c) FForm->SelectCategory(c);
    }
    void StepSearch()
    {
        static const char* const words[] = {"book", "1", "new", "x", "shelf", "", "2,3"};
        const QString word = QString::fromLatin1(words[Pick(7)]);
        Note(QStringLiteral("search '%1'").arg(word));
        if (FForm->SearchRunning()) {
            FAnswers = {mrYes};
            FForm->SearchCommand();
            return;
        }
        FForm->SearchEdit()->setFocus();
        FForm->SearchEdit()->setText(word.isEmpty() ? QStringLiteral("book") : word);
        FForm->StartSearch();
        if (Chance(50)) {
            QTest::qWait(Pick(20));
            if (Chance(50)) ReaderChange();
        }
    }
    void StepDrop()
    {
        SelectRandomRows();
        const QList<TCategory*> shelves = Shelves();
        TCategory* target = shelves.value(Pick(int(shelves.size())));
        const int effect = target ? FForm->DropEffect(target) : 0;
        Note(QStringLiteral("drop %1 rows on %2 effect %3")
                 .arg(FForm->SelectedRows().size())
                 .arg(target ? target->GetFullPath() : QString())
                 .arg(effect));
        if (!effect || FForm->SelectedRows().isEmpty()) return;
        Allow(target);
        if (effect == Qt::MoveAction)
            for (int row : FForm->SelectedRows())
                Allow(FForm->BookListModel()->Item(row)->Parent());
        FAnswers = {Chance(85) ? mrYes : mrNo};
        if (Chance(25)) FInside = [this] { ReaderChange(); QTest::qWait(Pick(40)); };
        FForm->DropBooks(target, effect);
    }
    void StepAdd()
    {
        TCategory* c = FForm->CurrentCategory();
        FForm->UpdateActions();
        Note(QStringLiteral("add to %1").arg(c ? c->GetFullPath() : QString()));
        if (!FForm->ActAddFile->isEnabled()) return;
        Allow(c);
        const QStringList files = NewSourceFiles();
        FAnswers = {Chance(50) ? mrYes : mrOverwriteAll};
        if (Chance(25)) QTimer::singleShot(0, this, [this] { ReaderChange(); });
        FForm->AddBooks(files);
    }
    void StepDeleteBooks()
    {
        SelectRandomRows();
        FForm->UpdateActions();
        Note(QStringLiteral("delete %1 books").arg(FForm->SelectedRows().size()));
        if (!FForm->ActDelFile->isEnabled()) return;
        for (int row : FForm->SelectedRows())
            Allow(FForm->BookListModel()->Item(row)->Parent());
        // For good: the trash would be a folder outside the test's own. On a reader "是" deletes
        // for good (it has no recycle bin); on the computer "否" does.
        const bool onReader = ReaderOf(FForm->CurrentCategory()) != nullptr;
        FAnswers = {Chance(85) ? (onReader ? mrYes : mrNo) : mrCancel};
        if (Chance(25)) FInside = [this] { ReaderChange(); QTest::qWait(Pick(40)); };
        else if (Chance(25)) QTimer::singleShot(0, this, [this] { ReaderChange(); });
        FForm->DeleteBooks();
    }
    void StepDeleteShelf()
    {
        FForm->UpdateActions();
        TCategory* c = FForm->CurrentCategory();
        Note(QStringLiteral("delete shelf %1").arg(c ? c->GetFullPath() : QString()));
        if (!FForm->ActDelFolder->isEnabled()) return;
        Allow(c);
        const bool onReader = ReaderOf(c) != nullptr;
        FAnswers = {Chance(85) ? (onReader ? mrYes : mrNo) : mrCancel};
        if (Chance(30)) FInside = [this] { ReaderChange(); QTest::qWait(Pick(60)); };
        FForm->DeleteFolder();
    }
    void StepNewShelf()
    {
        FForm->UpdateActions();
        TCategory* c = FForm->CurrentCategory();
        Note(QStringLiteral("new shelf in %1").arg(c ? c->GetFullPath() : QString()));
        if (!FForm->ActNewFolder->isEnabled()) return;
        Allow(c);
        const QString name = QStringLiteral("shelf %1").arg(++FBookCounter);
        SetInputQueryAnswer([this, name](const QString&, const QString&, QString& value) {
            if (Chance(20)) {
                ReaderChange();
                QTest::qWait(Pick(40));
            }
            value = name;
            return true;
        });
        FForm->NewFolder();
        SetInputQueryAnswer(nullptr);
    }
    void StepRename()
    {
        FForm->UpdateActions();
        TCategory* c = FForm->CurrentCategory();
        Note(QStringLiteral("rename %1").arg(c ? c->GetFullPath() : QString()));
        if (!FForm->ActRenameFolder->isEnabled() || !c->Parent()) return;
        Allow(c->Parent());
        FForm->RenameCategory(c, QStringLiteral("renamed %1").arg(++FBookCounter));
    }
    void StepRefresh()
    {
        Note(QStringLiteral("F5"));
        QKeyEvent key(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier);
        QCoreApplication::sendEvent(Chance(50) ? static_cast<QObject*>(FForm->Navigator())
                                               : static_cast<QObject*>(FForm->BookList()),
                                    &key);
    }
    void StepUpdateWindow()
    {
        Note(QStringLiteral("update window wait"));
        if (UpdateV2()) return;
        auto* window = new TUpdateV2(Root(), [this](TDeviceIdentity* b) {
            FForm->GetDeviceIdentity(b);
        });
        QPointer<TUpdateV2> alive(window);
        QTimer::singleShot(Pick(20), window, [this, window] {
            if (Chance(50)) ReaderChange();
            window->ExitButton->click();
        });
        window->Wait(30);
        QVERIFY(alive); // never freed under its own wait
        if (UpdateV2() == window) window->ExitCommand();
    }
    void StepPaint()
    {
        Note(QStringLiteral("paint"));
        FForm->ActViewList->setChecked(Chance(50));
        FForm->UpdateActions();
        FForm->BookList()->grab();
        FForm->ThumbnailView()->grab();
        FForm->Navigator()->grab();
    }

    void CheckViews()
    {
        TBookListModel* model = FForm->BookListModel();
        for (int r = 0; r < model->rowCount(); ++r)
            if (!Known(Root(), model->Item(r)))
                QFAIL(qPrintable(QStringLiteral("row %1 holds a freed book\n").arg(r) +
                                 FLog.join(u'\n')));
        if (FForm->ThumbnailView()->Items().Count() != model->rowCount())
            QFAIL(qPrintable(QStringLiteral("the grid and the list disagree\n") +
                             FLog.join(u'\n')));
    }

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        qInstallMessageHandler(RecordPaintWarnings);
    }

    void randomStepsKeepTheWindowSound()
    {
        const QByteArray seedText = qgetenv("KORVEL_STRESS_SEED");
        const unsigned seed =
            seedText.isEmpty() ? unsigned(QDateTime::currentMSecsSinceEpoch()) : seedText.toUInt();
        const int maxSteps = qEnvironmentVariableIsSet("KORVEL_STRESS_STEPS")
                                 ? qEnvironmentVariableIntValue("KORVEL_STRESS_STEPS")
                                 : 4000;
        const int seconds = qEnvironmentVariableIsSet("KORVEL_STRESS_SECONDS")
                                ? qEnvironmentVariableIntValue("KORVEL_STRESS_SECONDS")
                                : 100;
        fprintf(stderr, "stress seed %u (replay with KORVEL_STRESS_SEED=%u)\n", seed, seed);
        FRandom.seed(seed);

        FDir = std::make_unique<QTemporaryDir>();
        FRoot = std::make_unique<TFakeRoot>(fs::path(FDir->filePath("root").toStdString()));
        FRoot->Activate();
        for (int k = 0; k < 2; ++k) {
            TFakeRoot::TDisk disk;
            disk.Name = k == 0 ? "sdb" : "sdc";
            disk.Minor = k == 0 ? 16 : 32;
            const char payload[8] = {1, 2, 3, 4, 2, 'V', 0, static_cast<char>(k + 1)};
            disk.Product = std::string("MassSto\x01", 8) + std::string(payload, 8);
            TReader reader;
            reader.Mount = k == 0 ? "/media/user/READER" : "/media/user/CARD";
            reader.Disk = FRoot->AddDisk(disk);
            FRoot->Mount(reader.Mount, reader.Disk);
            reader.Folder = FDir->filePath(QStringLiteral("root") +
                                           QString::fromStdString(reader.Mount));
            FReaders.push_back(reader);
        }
        for (int s = 0; s < 3; ++s)
            for (int b = 0; b < 4; ++b) {
                WriteFile(Lib(QStringLiteral("shelf %1/book %1-%2.txt").arg(s).arg(b)), "local");
                WriteFile(FReaders[0].Folder + QStringLiteral("/r shelf %1/book r%1-%2.txt")
                                                  .arg(s)
                                                  .arg(b),
                         "reader");
            }
        WriteFile(Lib("shelf 0/sub/book deep.txt"), "deep");
        WriteFile(FReaders[1].Folder + "/card shelf/book c.txt", "card");
        WriteFile(FReaders[0].Folder + "/_sys_/system.bin", "reader's own");
        WriteFile(FDir->filePath("outside/keep.txt"), "never touched");
        TSystemCategory::SetLocalLibraryPath(Lib());
        TBrowserCategory::SetHomeFileName(FDir->filePath("home.dll"));
        QDir().mkpath(FDir->filePath("cwd"));
        FSavedCwd = QDir::currentPath();
        QDir::setCurrent(FDir->filePath("cwd"));
        TUpdateV2::SetWaitScale(100);

        SetMessageBoxAnswer([this](const QString&, const QString&, unsigned) {
            if (FInside) {
                auto inside = std::move(FInside);
                FInside = nullptr;
                inside();
            }
            return FAnswers.isEmpty() ? int(mrOk) : FAnswers.takeFirst();
        });

        FForm = std::make_unique<TXALVarnixForm>(FDir->filePath("Korvel.ini"));
        FForm->show();
        QTRY_VERIFY(FForm->CurrentCategory() == Root()->Child(0));

        using TStep = void (StressTest::*)();
        const struct
        {
            TStep Step;
            int Weight;
        } steps[] = {
            {&StressTest::StepFocus, 20},      {&StressTest::StepSearch, 8},
            {&StressTest::StepDrop, 8},        {&StressTest::StepAdd, 8},
            {&StressTest::StepDeleteBooks, 6}, {&StressTest::StepDeleteShelf, 3},
            {&StressTest::StepNewShelf, 4},    {&StressTest::StepRename, 3},
            {&StressTest::StepRefresh, 8},     {&StressTest::StepUpdateWindow, 2},
            {&StressTest::StepPaint, 10},
        };
        int total = 0;
        for (const auto& s : steps)
            total += s.Weight;

        QElapsedTimer clock;
        clock.start();
        int done = 0;
        QMap<QString, QByteArray> before = Files();
        for (; done < maxSteps && clock.elapsed() < seconds * 1000; ++done) {
            FAllowed.clear();
            FAnswers.clear();
            FInside = nullptr;
            if (Chance(12)) {
                ReaderChange();
            } else {
                int roll = Pick(total);
                for (const auto& s : steps) {
                    if (roll < s.Weight) {
                        (this->*s.Step)();
                        break;
                    }
                    roll -= s.Weight;
                }
            }
            if (QTest::currentTestFailed()) break;
            // Let queued reader changes, row reads and search hits arrive, sometimes later.
            QTest::qWait(Chance(20) ? 40 : 2);
            CheckViews();
            if (QTest::currentTestFailed()) break;

            const QMap<QString, QByteArray> after = Files();
            QStringList changed;
            for (auto it = after.begin(); it != after.end(); ++it)
                if (before.value(it.key()) != it.value() && !AllowedPath(it.key()))
                    changed << it.key();
            for (auto it = before.begin(); it != before.end(); ++it)
                if (!after.contains(it.key()) && !AllowedPath(it.key())) changed << it.key();
            if (!changed.isEmpty())
                QFAIL(qPrintable(QStringLiteral("seed %1 step %2 changed files it did not "
                                                "target:\n%3\nallowed: %4\n%5")
                                     .arg(seed)
                                     .arg(done)
                                     .arg(changed.join(u'\n'), FAllowed.join(u' '),
                                          FLog.join(u'\n'))));
            before = after;
            if (!PaintWarnings.isEmpty())
                QFAIL(qPrintable(QStringLiteral("seed %1: %2").arg(seed).arg(PaintWarnings[0])));
        }
        fprintf(stderr, "stress seed %u: %d steps in %lld ms\n", seed, done,
                static_cast<long long>(clock.elapsed()));
        if (QTest::currentTestFailed())
            fprintf(stderr, "stress seed %u failed at step %d:\n%s\n", seed, done,
                    qPrintable(FLog.join(u'\n')));

        if (FForm->SearchRunning()) FForm->StopSearch();
        FForm.reset();
        SetMessageBoxAnswer(nullptr);
        QTRY_COMPARE(TLongWork::PendingCount(), 0);
        QCOMPARE(QDir(FDir->filePath("cwd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());
        QDir::setCurrent(FSavedCwd);
        TFakeRoot::Deactivate();
        TSystemCategory::SetLocalLibraryPath(QString());
        TBrowserCategory::SetHomeFileName(QString());
        QVERIFY(done > 0);
    }
};

QTEST_MAIN(StressTest)
#include "StressTest.moc"
