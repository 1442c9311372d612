// The real main window while readers come and go in the middle of its work: search hits of an
// unplugged reader, a drop that reloads shelves listed in the search results, deleting and adding
// books while the reader leaves, a question answered after the reader was replugged, the update
// window told to go during its own wait, and rows that are read outside of painting.
#include "../Support/FakeRoot.h"
#include "../Support/WindowTestUtil.h"
#include "BookListModel.h"
#include "BookReader.h"
#include "Categories.h"
#include "LongWork.h"
#include "NavigatorModel.h"
#include "rkView.h"
#include "uMainForm.h"
#include "uMsgDlg.h"
#include "uUpdateMain.h"

#include <QAction>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <deque>
#include <memory>

namespace fs = std::filesystem;

namespace {

const char* const ReaderMount = "/media/user/READER";

} // namespace

class LifetimeTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<TFakeRoot> FRoot;
    std::unique_ptr<TXALVarnixForm> FForm;
    std::pair<unsigned, unsigned> FDisk;
    QString FSavedCwd;

    TSystemCategory* Root() const { return FForm->SystemCategory(); }
    QString ReaderFolder(const QString& rest = QString()) const
    {
        return FDir->filePath(QStringLiteral("root/media/user/READER/") + rest);
    }
    QString Lib(const QString& rest = QString()) const
    {
        return FDir->filePath("Storages/" + rest);
    }
    TReaderCategory* Reader() const { return Root()->ReaderSlot(0); }

    TCategory* Shelf(TCategory* parent, const QString& name)
    {
        parent->EnsureLoaded();
        const int i = parent->IndexOfCategory(name);
        return i < 0 ? nullptr : parent->Category(i);
    }
    void Focus(TCategory* category)
    {
        FForm->SelectCategory(category);
        QCoreApplication::processEvents();
    }
    void Plug() { FRoot->Mount(ReaderMount, FDisk); }
    void Unplug() { FRoot->Unmount(ReaderMount); }
    // Waits until the watcher has seen the mount table and the change has been applied.
    void WaitAttached(bool attached)
    {
        QTRY_VERIFY_WITH_TIMEOUT((Reader()->DriveLetter() != 0) == attached, 5000);
        QTRY_COMPARE(TLongWork::PendingCount(), 0);
    }
    // Every row of the book list and the grid is a book the model still lists.
    void CheckRowsLive()
    {
        TBookListModel* model = FForm->BookListModel();
        for (int r = 0; r < model->rowCount(); ++r)
            QVERIFY2(Known(Root(), model->Item(r)), "a row holds a book the model has freed");
        QCOMPARE(FForm->ThumbnailView()->Items().Count(), model->rowCount());
    }
    void Search(const QString& text)
    {
        FForm->SearchEdit()->setFocus();
        QCoreApplication::processEvents();
        FForm->SearchEdit()->setText(text);
        FForm->StartSearch();
        QTRY_VERIFY(!FForm->SearchRunning());
        QCoreApplication::processEvents();
    }

private slots:
    void initTestCase()
    {
        // Closing the main window in a test must not end the test program's event loop.
        QApplication::setQuitOnLastWindowClosed(false);
    }

    void init()
    {
        FDir = std::make_unique<QTemporaryDir>();
        FRoot = std::make_unique<TFakeRoot>(fs::path(FDir->filePath("root").toStdString()));
        FRoot->Activate();
        TFakeRoot::TDisk disk;
        const char payload[8] = {1, 2, 3, 4, 2, 'V', 0, 1};
        disk.Product = std::string("MassSto\x01", 8) + std::string(payload, 8);
        FDisk = FRoot->AddDisk(disk);
        Plug();
        for (const char* name : {"alpha-1.txt", "alpha-2.txt", "alpha-3.txt"})
            MakeFile(ReaderFolder(QStringLiteral("r-shelf/") + name));
        MakeFile(ReaderFolder("keep/alpha-kept.txt"));
        MakeFile(Lib("l-shelf/alpha-local.txt"));
        MakeFile(Lib("l-shelf/beta-local.txt"));
        MakeFile(Lib("m-shelf/gamma.txt"));
        TSystemCategory::SetLocalLibraryPath(Lib());
        TBrowserCategory::SetHomeFileName(FDir->filePath("home.dll"));
        // Nothing may ever be written to the working folder.
        QDir().mkpath(FDir->filePath("cwd"));
        FSavedCwd = QDir::currentPath();
        QDir::setCurrent(FDir->filePath("cwd"));
        FForm = std::make_unique<TXALVarnixForm>(FDir->filePath("Korvel.ini"));
        FForm->show();
        QTRY_VERIFY(FForm->CurrentCategory() == Root()->Child(0));
        QVERIFY(Reader()->DriveLetter() != 0);
        FForm->AutoUpdateTimer()->stop();
    }

    void cleanup()
    {
        FForm.reset();
        QCOMPARE(QDir(FDir->filePath("cwd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());
        QDir::setCurrent(FSavedCwd);
        TFakeRoot::Deactivate();
        FRoot.reset();
        TSystemCategory::SetLocalLibraryPath(QString());
        TBrowserCategory::SetHomeFileName(QString());
        QCOMPARE(TLongWork::Depth(), 0);
    }

    // The search lists books of the reader; unplugging it takes their rows away at once.
    void searchHitsOfAnUnpluggedReaderLeaveTheViews()
    {
        TAnswers answers;
        Search("alpha");
        QCOMPARE(answers.Texts.last(), QStringLiteral("搜索已完成，共搜索到 5 个文件"));
        QCOMPARE(FForm->BookListModel()->rowCount(), 5);
        FForm->ActViewList->setChecked(true);
        FForm->BookList()->grab(); // the rows are painted and so known to the views
        Unplug();
        WaitAttached(false);
        CheckRowsLive();
        QCOMPARE(FForm->BookListModel()->rowCount(), 1); // the local book stays
        QCOMPARE(Root()->FindSearchResults()->ItemCount(), 1);
        FForm->BookList()->grab();
        FForm->ThumbnailView()->grab();
    }

    // Copying books onto a shelf reloads its books; those listed in the search results leave.
    void dropOntoAShelfWhoseBooksAreSearchHits()
    {
        TAnswers answers;
        Search("alpha");
        QCOMPARE(FForm->BookListModel()->rowCount(), 5);
        TCategory* shelf = Shelf(Reader(), "r-shelf");
        // Select the local hit and copy it onto the reader shelf whose books are hits too.
        TBookListModel* model = FForm->BookListModel();
        int local = -1;
        for (int r = 0; r < model->rowCount(); ++r)
            if (model->Item(r)->Name() == QLatin1String("alpha-local.txt")) local = r;
        QVERIFY(local >= 0);
        FForm->SelectBookRow(local);
        answers.Queue = {mrYes};
        QVERIFY(FForm->DropBooks(shelf, Qt::CopyAction));
        QVERIFY(QFile::exists(ReaderFolder("r-shelf/alpha-local.txt")));
        CheckRowsLive();
        QCOMPARE(model->rowCount(), 2); // the three hits of the reloaded shelf have gone
        FForm->BookList()->grab();
    }

    // The reader leaves while its books are being deleted: the loop stops with one message and
    // deletes nothing more; the slot empties once the command has ended.
    void deletingBooksStopsWhenTheReaderLeaves()
    {
        TAnswers answers;
        TCategory* shelf = Shelf(Reader(), "r-shelf");
        Focus(shelf);
        QCOMPARE(FForm->BookListModel()->rowCount(), 3);
        FForm->SelectAllBooks();
        // Pulled out during the first progress step's pump.
        QTimer::singleShot(0, this, [this] { Unplug(); });
        answers.Queue = {mrYes};
        FForm->DeleteBooks();
        QCOMPARE(answers.Texts.size(), 2);
        QCOMPARE(answers.Texts[1], QStringLiteral("操作失败，阅读器已断开连接。"));
        for (const char* name : {"alpha-1.txt", "alpha-2.txt", "alpha-3.txt"})
            QVERIFY(QFile::exists(ReaderFolder(QStringLiteral("r-shelf/") + name)));
        WaitAttached(false);
        CheckRowsLive();
        QCOMPARE(FForm->BookListModel()->rowCount(), 0);
    }

    // The reader is unplugged and plugged in again while "delete shelf" asks: the answer was
    // given for a state that has gone, so nothing is deleted, and never the reader's root.
    void aShelfQuestionAnsweredAfterAReplugDeletesNothing()
    {
        TAnswers answers;
        Focus(Shelf(Reader(), "r-shelf"));
        const auto before = FileSnapshot({ReaderFolder()});
        bool asked = false;
        answers.OnAsk = [this, &asked](const QString&) {
            if (std::exchange(asked, true)) return;
            Unplug();
            QTest::qWait(300);
            Plug();
            QTest::qWait(300);
            // Nothing changed under the open question.
            QCOMPARE(Reader()->Name(), QStringLiteral("阅读器书库 D:"));
        };
        answers.Queue = {mrYes};
        FForm->DeleteFolder();
        QCOMPARE(answers.Texts.size(), 2);
        QCOMPARE(answers.Texts[1], QStringLiteral("阅读器在您确认时已连接或断开，操作已取消。"));
        QCOMPARE(FileSnapshot({ReaderFolder()}), before);
        WaitAttached(true);
        QVERIFY(QDir(ReaderFolder("r-shelf")).exists());

        // Asked again with nothing happening meanwhile, the shelf goes, and only it.
        Focus(Shelf(Reader(), "r-shelf"));
        answers.Queue = {mrYes};
        FForm->DeleteFolder();
        QVERIFY(!QDir(ReaderFolder("r-shelf")).exists());
        QVERIFY(QFile::exists(ReaderFolder("keep/alpha-kept.txt")));
    }

    // The reader leaves while books are added to one of its shelves: nothing is written
    // anywhere after that (the working folder is checked by cleanup), with one message.
    void addingBooksStopsWhenTheReaderLeaves()
    {
        TAnswers answers;
        Focus(Shelf(Reader(), "r-shelf"));
        QStringList files;
        for (int i = 0; i < 4; ++i) {
            files << FDir->filePath(QStringLiteral("in/new-%1.txt").arg(i));
            MakeFile(files.last());
        }
        QTimer::singleShot(0, this, [this] { Unplug(); });
        FForm->AddBooks(files);
        QCOMPARE(answers.Texts, QStringList{QStringLiteral("操作失败，阅读器已断开连接。")});
        for (int i = 0; i < 4; ++i)
            QVERIFY(!QFile::exists(ReaderFolder(QStringLiteral("r-shelf/new-%1.txt").arg(i))));
        WaitAttached(false);
        CheckRowsLive();
        // An empty slot is refused outright.
        Focus(Reader());
        QCOMPARE(FForm->DropEffect(Reader()), 0);
        FForm->AddBooks(files);
    }

    // "退出更新" and closing the main window during the update window's own wait: the window
    // stays until its code has left the stack, then goes.
    void theUpdateWindowOutlivesItsOwnWait()
    {
        TAnswers answers;
        auto* window = new TUpdateV2(Root(), [this](TDeviceIdentity* b) {
            FForm->GetDeviceIdentity(b);
        });
        QPointer<TUpdateV2> alive(window);
        TUpdateV2::SetWaitScale(100);
        QTimer::singleShot(20, window, [window] { window->ExitButton->click(); });
        window->Wait(200);
        QVERIFY(alive);         // asked to go, but its wait was still running
        QVERIFY(!UpdateV2());   // no longer the update window
        QTRY_VERIFY(!alive);    // gone once the wait is over

        window = new TUpdateV2(Root(), [this](TDeviceIdentity* b) { FForm->GetDeviceIdentity(b); });
        alive = window;
        QTimer::singleShot(20, FForm.get(), [this] { FForm->close(); });
        window->Wait(200);
        QVERIFY(alive);
        QTRY_VERIFY(!alive);
        TUpdateV2::SetWaitScale(1);
    }

    // A reader that leaves while long work runs takes its identifier away at once; the slot
    // and its shelves change once the work has ended.
    void theIdentifierGoesAtOnceAndTheSlotAfterTheWork()
    {
        unsigned char identity[88];
        FForm->GetDeviceIdentity(identity);
        QVERIFY(std::any_of(identity, identity + 88, [](unsigned char b) { return b != 0; }));
        {
            TLongWork work;
            Unplug();
            QTRY_VERIFY_WITH_TIMEOUT(TLongWork::PendingCount() > 0, 5000);
            FForm->GetDeviceIdentity(identity);
            QVERIFY(std::all_of(identity, identity + 88, [](unsigned char b) { return b == 0; }));
            QVERIFY(Reader()->DriveLetter() != 0); // the slot waits for the work
        }
        WaitAttached(false);
    }

    // Painting rows never reads a book; the reads run on the reading pool and their results
    // arrive from the event loop.
    void rowsAreReadAfterThePaintNotInIt()
    {
        // Hidden, so that nothing paints the rows before the grab below does.
        FForm->ActViewList->setChecked(true);
        FForm->hide();
        TCategory* shelf = Shelf(Root()->LocalLibrary(), "l-shelf");
        Focus(shelf);
        TBookListModel* model = FForm->BookListModel();
        QCOMPARE(model->rowCount(), 2);
        QVERIFY(!model->Item(0)->Loaded());
        QCOMPARE(model->PendingLoads(), 0);
        FForm->BookList()->grab();
        QVERIFY(!model->Item(0)->Loaded() && !model->Item(1)->Loaded());
        QCOMPARE(model->PendingLoads(), 2);
        QTRY_VERIFY(model->Item(0)->Loaded() && model->Item(1)->Loaded());
        QCOMPARE(model->data(model->index(0, 9)).toString(), QStringLiteral("4 B"));
        QCOMPARE(FForm->ListStateBar()->text(), QStringLiteral("就绪"));

        // Books freed while the pool reads them (their shelf refreshed under the view) get
        // nothing published, and their rows are gone.
        FForm->ReloadBooks(shelf);
        QCOMPARE(model->rowCount(), 2);
        FForm->BookList()->grab();
        QCOMPARE(model->PendingLoads(), 2);
        const TItemRef<TFileItem> first(model->Item(0));
        shelf->SetLoadMode(lmItemsOnly); // frees every book of the shelf
        QVERIFY(!first);
        QCOMPARE(model->rowCount(), 0);
        QTRY_COMPARE(FForm->BookReader()->Outstanding(), 0);
        QCOMPARE(model->PendingLoads(), 0);
    }
};

QTEST_MAIN(LifetimeTest)
#include "LifetimeTest.moc"
