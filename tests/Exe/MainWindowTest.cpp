// The main window on real folders: what the navigator's focus shows, sorting, dragging,
// shelf names, adding and deleting books, the enabling rules, the search and the close query.
// Dialogs are answered through the message box's and input dialog's test hooks.
#include "../Support/WindowTestUtil.h"
#include "BookListModel.h"
#include "Categories.h"
#include "ModelGuard.h"
#include "NavigatorModel.h"
#include "rkView.h"
#include "uInputDlg.h"
#include "uMainForm.h"
#include "uMsgDlg.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QProcess>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <deque>
#include <memory>

class MainWindowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<TXALVarnixForm> FForm;

    QString Lib(const QString& rest = QString()) const
    {
        return FDir->filePath("Storages/" + rest);
    }
    TSystemCategory* Root() const { return FForm->SystemCategory(); }
    TCategory* Shelf(TCategory* parent, const QString& name)
    {
        parent->EnsureLoaded();
        const int i = parent->IndexOfCategory(name);
        return i < 0 ? nullptr : parent->Category(i);
    }
    // Shows the window and waits for its start-up steps (which focus the store) to end.
    void Show()
    {
        FForm->show();
        QTRY_VERIFY(FForm->CurrentCategory() == Root()->Child(0));
        QCoreApplication::processEvents();
    }
    TCategory* LoadedShelf(TCategory* parent, const QString& name)
    {
        TCategory* c = Shelf(parent, name);
        c->EnsureLoaded();
        return c;
    }
    void Focus(TCategory* category)
    {
        FForm->SelectCategory(category);
        QCoreApplication::processEvents(); // the posted "show" step
    }

private slots:
    void init()
    {
        FDir = std::make_unique<QTemporaryDir>();
        MakeFile(Lib("a-shelf/small.txt"), QByteArray(900, 'x'));
        MakeFile(Lib("a-shelf/big.txt"), QByteArray(1536, 'x'));
        MakeFile(Lib("a-shelf/Zeta.txt"), "z");
        MakeFile(Lib("b-shelf/other.txt"));
        TSystemCategory::SetLocalLibraryPath(Lib());
        TBrowserCategory::SetHomeFileName(FDir->filePath("home.dll"));
        FForm = std::make_unique<TXALVarnixForm>(FDir->filePath("Korvel.ini"));
    }

    void cleanup()
    {
        FForm.reset();
        TSystemCategory::SetLocalLibraryPath(QString());
        TBrowserCategory::SetHomeFileName(QString());
    }

    void showingExpandsAndFocusesTheStore()
    {
        FForm->show();
        QTRY_VERIFY(FForm->CurrentCategory() == Root()->Child(0));
        QTRY_VERIFY(FForm->Navigator()->isExpanded(
            FForm->NavigatorModel()->IndexOf(Root()->LocalLibrary())));
        QCOMPARE(FForm->Notebook()->currentIndex(), 0);
        // Counts show for loaded folder categories only.
        QCOMPARE(FForm->NavigatorModel()
                     ->data(FForm->NavigatorModel()->IndexOf(Root()->LocalLibrary()))
                     .toString(),
                 QStringLiteral("本地书库 (0)"));
        QCOMPARE(FForm->NavigatorModel()
                     ->data(FForm->NavigatorModel()->IndexOf(Root()->Child(0)))
                     .toString(),
                 QStringLiteral("网上书城"));
    }

    void focusShowsBooksAndEmptiesSearchResultsOnlyWhenLeaving()
    {
        TAnswers answers;
        Show();
        TCategory* shelf = Shelf(Root()->LocalLibrary(), "a-shelf");
        Focus(shelf);
        QCOMPARE(FForm->Notebook()->currentIndex(), 1);
        QCOMPARE(FForm->BookListModel()->rowCount(), 3);
        QCOMPARE(FForm->ThumbnailView()->Items().Count(), 3);

        FForm->SearchEdit()->setFocus();
        QCoreApplication::processEvents();
        FForm->SearchEdit()->setText("txt");
        FForm->StartSearch();
        QTRY_VERIFY(!FForm->SearchRunning());
        QTRY_COMPARE(answers.Texts.size(), 1);
        QCOMPARE(answers.Texts[0], QStringLiteral("搜索已完成，共搜索到 4 个文件"));
        TSearchResultCategory* results = Root()->FindSearchResults();
        QCOMPARE(FForm->CurrentCategory(), results);
        QCOMPARE(results->ItemCount(), 4);
        QCOMPARE(FForm->BookListModel()->rowCount(), 4);

        Focus(Root()->LocalLibrary());
        QCOMPARE(results->ItemCount(), 0);
        QCOMPARE(Root()->CategoryCount(), 5); // the node stays, emptied
    }

    void searchWithOnlyCommasFindsNothing()
    {
        TAnswers answers;
        Show();
        FForm->SearchEdit()->setFocus();
        QCoreApplication::processEvents();
        FForm->SearchEdit()->setText(", ,");
        FForm->StartSearch();
        QTRY_COMPARE(answers.Texts.size(), 1);
        QCOMPARE(answers.Texts[0], QStringLiteral("搜索已完成，没有搜索到符合要求的文件"));
        QVERIFY(FForm->SearchEdit()->isEnabled());
    }

    void closingDuringASearchAsks()
    {
        TAnswers answers;
        Show();
        FForm->SearchEdit()->setFocus();
        QCoreApplication::processEvents();
        FForm->SearchEdit()->setText("txt");
        {
            // Holding the model keeps the worker waiting, so the search is still running.
            std::lock_guard<TModelGuard::TLock> hold(ModelGuard().Lock());
            FForm->StartSearch();
            QVERIFY(FForm->SearchRunning());
            answers.Queue = {mrNo};
            QVERIFY(!FForm->close());
            QVERIFY(FForm->isVisible());
            QVERIFY(FForm->SearchRunning());
            answers.Queue = {mrYes};
            QVERIFY(FForm->close());
            QVERIFY(!FForm->SearchRunning());
        }
        QCOMPARE(answers.Texts.mid(0, 2),
                 QStringList(2, QStringLiteral("正在搜索文件，确定要停止搜索吗？")));
    }

    void sortCycle()
    {
        Show();
        Focus(Shelf(Root()->LocalLibrary(), "a-shelf"));
        FForm->ActViewList->setChecked(true);
        TBookListModel* model = FForm->BookListModel();
        const auto names = [model] {
            QStringList n;
            for (TFileItem* i : model->Rows())
                n << i->Name();
            return n;
        };
        QHeaderView* header = FForm->BookList()->header();
        emit header->sectionClicked(0);
        QCOMPARE(names(), QStringList({"big.txt", "small.txt", "Zeta.txt"})); // case ignored
        emit header->sectionClicked(0);
        QCOMPARE(names(), QStringList({"Zeta.txt", "small.txt", "big.txt"}));
        emit header->sectionClicked(0);
        QCOMPARE(names(),
                 QStringList({"Zeta.txt", "small.txt", "big.txt"})); // unsorted: present order kept
        emit header->sectionClicked(TBookListModel::SizeColumn);     // ascending by bytes
        QCOMPARE(names(), QStringList({"Zeta.txt", "small.txt", "big.txt"}));
        QCOMPARE(model->Item(1)->SizeText(), QStringLiteral("900 B"));
        QCOMPARE(model->Item(2)->SizeText(), QStringLiteral("1.5 K"));
        emit header->sectionClicked(0); // one counter: the next click sorts descending
        QCOMPARE(names(), QStringList({"Zeta.txt", "small.txt", "big.txt"}));
        // The grid holds the same rows in the same order.
        QCOMPARE(FForm->ThumbnailView()->Items().Get(0),
                 qint64(reinterpret_cast<quintptr>(model->Item(0))));
    }

    void dropAcceptanceAndCopyOrMove()
    {
        MakeFile(FDir->filePath("reader/shelf/r.txt"));
        TReaderCategory* reader = Root()->ReaderSlot(0);
        reader->SetPath(FDir->filePath("reader"));
        reader->SetDriveLetter('E');
        Show();
        TCategory* a = Shelf(Root()->LocalLibrary(), "a-shelf");
        Focus(a);
        QCOMPARE(FForm->DropEffect(Shelf(Root()->LocalLibrary(), "b-shelf")), int(Qt::MoveAction));
        QCOMPARE(FForm->DropEffect(Root()->LocalLibrary()), int(Qt::MoveAction));
        QCOMPARE(FForm->DropEffect(Shelf(reader, "shelf")), int(Qt::CopyAction));
        QCOMPARE(FForm->DropEffect(reader), int(Qt::CopyAction));
        QCOMPARE(FForm->DropEffect(a), 0);                     // its own shelf
        QCOMPARE(FForm->DropEffect(Root()->Child(0)), 0);      // the store
        QCOMPARE(FForm->DropEffect(Root()->ReaderSlot(1)), 0); // an empty slot

        // Moving the only selected book, the last row, focuses the new last row.
        TAnswers answers;
        answers.Queue = {mrYes};
        FForm->SelectBookRow(2);
        TCategory* b = Shelf(Root()->LocalLibrary(), "b-shelf");
        const QString moved = FForm->BookListModel()->Item(2)->Name();
        QVERIFY(FForm->DropBooks(b, Qt::MoveAction));
        QCOMPARE(answers.Texts[0],
                 QStringLiteral("准备移动选中的项，目标书架下同名文件将被覆盖。确定要继续吗？"));
        QVERIFY(QFile::exists(Lib("b-shelf/" + moved)));
        QCOMPARE(FForm->BookListModel()->rowCount(), 2);
        QCOMPARE(a->ItemCount(), 2);
        QCOMPARE(FForm->BookList()->currentIndex().row(), 1);
        QCOMPARE(b->ItemCount(), 2); // reloaded

        answers.Queue = {mrNo};
        QVERIFY(!FForm->DropBooks(LoadedShelf(reader, "shelf"), Qt::CopyAction));
        QCOMPARE(LoadedShelf(reader, "shelf")->ItemCount(), 1);
    }

    void shelfNamesOf64Characters()
    {
        TAnswers answers;
        Show();
        Focus(Root()->LocalLibrary());
        QString offered;
        QString answer = QString(65, QChar(0x4E66)); // 65 × 书
        SetInputQueryAnswer([&](const QString&, const QString&, QString& value) {
            offered = value;
            value = answer;
            return true;
        });
        FForm->NewFolder();
        QCOMPARE(offered, QStringLiteral("新建书架"));
        QCOMPARE(answers.Texts.value(0), QStringLiteral("新书架名称最多只能包含64个字符。"));
        answer = "  " + QString(64, QChar(0x4E66)) + " ";
        FForm->NewFolder();
        SetInputQueryAnswer(nullptr);
        QCOMPARE(answers.Texts.size(), 1);
        TCategory* created = FForm->CurrentCategory();
        QCOMPARE(created->Name(), QString(64, QChar(0x4E66)));
        QVERIFY(QFileInfo(Lib(created->Name())).isDir());

        // The same rule for renaming in place; a refused rename keeps the old name.
        QVERIFY(!FForm->RenameCategory(created, QString(65, u'x')));
        QCOMPARE(answers.Texts.value(1), QStringLiteral("新书架名称最多只能包含64个字符。"));
        QVERIFY(FForm->RenameCategory(created, QString(64, u'y')));
        QVERIFY(QFileInfo(Lib(QString(64, u'y'))).isDir());
        QVERIFY(!FForm->RenameCategory(created, QStringLiteral("a-shelf"))); // exists
        QCOMPARE(answers.Texts.size(), 3);
    }

    void addingBooksWithTheOverwriteAnswers_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<int>("questions");
        QTest::newRow("overwrite all")
            << int(mrOverwriteAll) << QByteArray("new") << QByteArray("new") << 1;
        QTest::newRow("ignore all")
            << int(mrIgnoreAll) << QByteArray("old") << QByteArray("old") << 1;
        QTest::newRow("cancel") << int(mrCancel) << QByteArray("old") << QByteArray("old") << 1;
    }
    void addingBooksWithTheOverwriteAnswers()
    {
        QFETCH(int, answer);
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(int, questions);
        MakeFile(Lib("b-shelf/one.txt"), "old");
        MakeFile(Lib("b-shelf/two.txt"), "old");
        MakeFile(FDir->filePath("in/one.txt"), "new");
        MakeFile(FDir->filePath("in/new.txt"), "new");
        MakeFile(FDir->filePath("in/two.txt"), "new");
        TAnswers answers;
        answers.Queue = {answer};
        Show();
        TCategory* b = Shelf(Root()->LocalLibrary(), "b-shelf");
        Focus(b);
        FForm->AddBooks({FDir->filePath("in/one.txt"), FDir->filePath("in/new.txt"),
                         FDir->filePath("in/two.txt")});
        QCOMPARE(answers.Texts.size(), questions);
        QCOMPARE(answers.Texts[0], QStringLiteral("one.txt\r\n文件已存在，是否要删除原文件？"));
        QFile f1(Lib("b-shelf/one.txt")), f2(Lib("b-shelf/two.txt"));
        QVERIFY(f1.open(QIODevice::ReadOnly) && f2.open(QIODevice::ReadOnly));
        QCOMPARE(f1.readAll(), first);
        QCOMPARE(f2.readAll(), second);
        // Cancel ends before the second file: the new book is not added either.
        QCOMPARE(QFile::exists(Lib("b-shelf/new.txt")), answer != mrCancel);
        QCOMPARE(FForm->BookListModel()->rowCount(), b->ItemCount());
    }

    void deletingGoesOnAfterAFailure()
    {
        QProcess chattr;
        chattr.start("chattr", {"+i", Lib("a-shelf/big.txt")});
        if (!chattr.waitForFinished() || chattr.exitCode() != 0)
            QSKIP("cannot make a file undeletable here");
        TAnswers answers;
        answers.Queue = {mrNo}; // for good
        Show();
        TCategory* a = Shelf(Root()->LocalLibrary(), "a-shelf");
        Focus(a);
        FForm->SelectAllBooks();
        FForm->DeleteBooks();
        QProcess::execute("chattr", {"-i", Lib("a-shelf/big.txt")});
        QCOMPARE(answers.Texts.value(1),
                 QStringLiteral("删除文件失败，可能文件正在使用中。请稍后再试。"));
        QCOMPARE(a->ItemCount(), 1);
        QCOMPARE(a->Item(0)->Name(), QStringLiteral("big.txt"));
        QCOMPARE(FForm->BookListModel()->rowCount(), 1);
        QVERIFY(!QFile::exists(Lib("a-shelf/small.txt")));
        QVERIFY(!QFile::exists(Lib("a-shelf/Zeta.txt")));
    }

    void enablingRules()
    {
        Show();
        FForm->UpdateActions();
        QVERIFY(!FForm->ActNewFolder->isEnabled());
        QVERIFY(!FForm->ActDelFolder->isEnabled());
        QVERIFY(FForm->ActRefresh->isEnabled());
        Focus(Root()->LocalLibrary());
        FForm->UpdateActions();
        QVERIFY(FForm->ActNewFolder->isEnabled());
        QVERIFY(!FForm->ActDelFolder->isEnabled()); // the root cannot be deleted
        QVERIFY(FForm->ActAddFileEx->isEnabled());
        Focus(Shelf(Root()->LocalLibrary(), "a-shelf"));
        FForm->UpdateActions();
        QVERIFY(FForm->ActDelFolder->isEnabled());
        QVERIFY(!FForm->ActDelFile->isEnabled());
        FForm->SelectBookRow(0);
        FForm->UpdateActions();
        QVERIFY(FForm->ActDelFile->isEnabled());
        QVERIFY(FForm->ActOpenFile->isEnabled());
        QVERIFY(FForm->ActSelectAllFiles->isEnabled());
        TSearchResultCategory* results = Root()->FindSearchResults();
        FForm->NavigatorModel()->SyncTopLevel();
        Focus(results);
        FForm->UpdateActions();
        QVERIFY(!FForm->ActAddFileEx->isEnabled());
        QVERIFY(!FForm->ActFileRefresh->isEnabled());
        Focus(Root()->ReaderSlot(0)); // an empty slot is missing
        FForm->UpdateActions();
        QVERIFY(!FForm->ActNewFolder->isEnabled());
        // Unchecking every search option checks "all" again.
        FForm->ActFindAll->setChecked(false);
        FForm->UpdateActions();
        QVERIFY(FForm->ActFindAll->isChecked());
    }

    void deviceIdentity()
    {
        unsigned char buffer[88];
        memset(buffer, 0xAB, sizeof buffer);
        FForm->GetDeviceIdentity(nullptr); // ignored
        FForm->GetDeviceIdentity(buffer);
        QVERIFY(std::all_of(std::begin(buffer), std::end(buffer),
                            [](unsigned char b) { return b == 0; }));
        unsigned char identity[88];
        for (int i = 0; i < 88; ++i)
            identity[i] = static_cast<unsigned char>(i + 1);
        Root()->ReaderSlot(0)->SetIdentity(identity);
        FForm->GetDeviceIdentity(buffer);
        QCOMPARE(memcmp(buffer, identity, 88), 0);
    }

    void helpWithoutManual()
    {
        TAnswers answers;
        FForm->Help();
        QCOMPARE(answers.Texts, QStringList({"没有可用的帮助。"}));
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
