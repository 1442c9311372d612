// The main window on real folders: what the navigator's focus shows, sorting, dragging,
// shelf names, adding and deleting books, the enabling rules, the search and the close query.
// Dialogs are answered through the message box's and input dialog's test hooks.
#include "../Support/WindowTestUtil.h"
#include "../Support/XdgFolders.h"
#include "BookListModel.h"
#include "Categories.h"
#include "ModelGuard.h"
#include "NavigatorModel.h"
#include "rkView.h"
#include "uInputDlg.h"
#include "uMainForm.h"
#include "uMsgDlg.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
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

    // A reader in the first slot with one shelf holding one book.
    TReaderCategory* ReaderWithAShelf()
    {
        MakeFile(FDir->filePath("reader/shelf/r.txt"));
        TReaderCategory* reader = Root()->ReaderSlot(0);
        reader->SetPath(FDir->filePath("reader"));
        reader->SetDriveLetter('E');
        return reader;
    }
    // Shows the window with a shelf of the local library focused.
    TCategory* ShowShelf(const char* name)
    {
        Show();
        TCategory* shelf = Shelf(Root()->LocalLibrary(), name);
        Focus(shelf);
        return shelf;
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
        TReaderCategory* reader = ReaderWithAShelf();
        TCategory* a = ShowShelf("a-shelf");
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

    // While books are dragged over the navigator, a node that would refuse them says so: the
    // move is ignored (the "not allowed" pointer) and the drop there does nothing; a node that
    // takes them shows what the drop will do.
    void dragFeedbackFollowsTheDrop()
    {
        TReaderCategory* reader = ReaderWithAShelf();
        TCategory* a = ShowShelf("a-shelf");
        FForm->SelectBookRow(0);
        FForm->Navigator()->expand(FForm->NavigatorModel()->IndexOf(reader));
        QCoreApplication::processEvents();
        QWidget* viewport = FForm->Navigator()->viewport();
        std::unique_ptr<QMimeData> books(FForm->BookListModel()->mimeData({}));
        const auto centre = [&](TCategory* c) {
            return FForm->Navigator()->visualRect(FForm->NavigatorModel()->IndexOf(c)).center();
        };
        // A drag comes in before it moves or drops (the application delivers moves and the
        // drop to the widget that took the drag in).
        const auto enter = [&] {
            QDragEnterEvent event(QPoint(1, 1), Qt::CopyAction | Qt::MoveAction, books.get(),
                                  Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(viewport, &event);
            QVERIFY(event.isAccepted());
        };
        enter();
        struct TCase
        {
            TCategory* Node;
            int Effect;
        };
        const TCase cases[] = {
            {Shelf(Root()->LocalLibrary(), "b-shelf"), Qt::MoveAction},
            {a, 0},                     // its own shelf
            {Root()->Child(0), 0},      // the store
            {Root()->ReaderSlot(1), 0}, // an empty slot
            {Shelf(reader, "shelf"), Qt::CopyAction},
        };
        for (const TCase& c : cases) {
            const QModelIndex index = FForm->NavigatorModel()->IndexOf(c.Node);
            QVERIFY(index.isValid());
            QDragMoveEvent move(centre(c.Node), Qt::CopyAction | Qt::MoveAction, books.get(),
                                Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(viewport, &move);
            QCOMPARE(move.isAccepted(), c.Effect != 0);
            if (c.Effect) QCOMPARE(int(move.dropAction()), c.Effect);
        }
        // Data that is not this window's books is refused everywhere.
        QMimeData foreign;
        foreign.setData(QString::fromLatin1(TNavigatorModel::BooksMimeType), "12345");
        enter();
        QDragMoveEvent stranger(centre(Shelf(Root()->LocalLibrary(), "b-shelf")),
                                Qt::CopyAction | Qt::MoveAction, &foreign, Qt::LeftButton,
                                Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &stranger);
        QVERIFY(!stranger.isAccepted());

        // The drop asks the same: nothing on a refusing node, the question on a taking one.
        TAnswers answers;
        answers.Queue = {mrNo};
        enter();
        QDropEvent refused(centre(Root()->Child(0)), Qt::CopyAction | Qt::MoveAction, books.get(),
                           Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &refused);
        QTest::qWait(50);
        QVERIFY(answers.Texts.isEmpty());
        enter();
        QDropEvent taken(centre(Shelf(Root()->LocalLibrary(), "b-shelf")),
                         Qt::CopyAction | Qt::MoveAction, books.get(), Qt::LeftButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &taken);
        QTRY_COMPARE(answers.Texts.size(), 1);
        QVERIFY(answers.Texts[0].startsWith(QStringLiteral("准备移动选中的项")));
    }

    // The grid is the default view: its menu must come on an empty shelf and on empty space,
    // with what needs no book enabled.
    void gridMenuWithoutABook()
    {
        QDir().mkpath(Lib("empty-shelf"));
        Show();
        TrkView* grid = FForm->ThumbnailView();
        const auto menuAt = [&](const QPoint& at) {
            QContextMenuEvent event(QContextMenuEvent::Mouse, at,
                                    grid->viewport()->mapToGlobal(at));
            QCoreApplication::sendEvent(grid->viewport(), &event);
            QTRY_VERIFY(FForm->BookMenu->isVisible());
        };
        Focus(Shelf(Root()->LocalLibrary(), "empty-shelf"));
        QVERIFY(grid->isVisible());
        QCOMPARE(grid->Items().Count(), 0);
        QTest::mousePress(grid->viewport(), Qt::RightButton, {}, QPoint(40, 40));
        menuAt(QPoint(40, 40));
        QVERIFY(FForm->ActAddFile->isEnabled());
        QVERIFY(FForm->ActFileRefresh->isEnabled());
        QVERIFY(!FForm->ActOpenFile->isEnabled());
        QVERIFY(!FForm->ActDelFile->isEnabled());
        QVERIFY(!FForm->ActFileInfo->isEnabled());
        QVERIFY(!FForm->ActSelectAllFiles->isEnabled());
        FForm->BookMenu->close();

        // Books, one selected; a press on empty space clears the selection, and the menu comes.
        Focus(Shelf(Root()->LocalLibrary(), "a-shelf"));
        QCOMPARE(grid->Items().Count(), 3);
        FForm->SelectBookRow(0);
        const QPoint empty(grid->viewport()->width() - 2, grid->viewport()->height() - 2);
        QCOMPARE(grid->ItemIndexAt(empty), -1);
        QTest::mousePress(grid->viewport(), Qt::RightButton, {}, empty);
        menuAt(empty);
        QVERIFY(FForm->ActAddFile->isEnabled());
        QVERIFY(FForm->ActSelectAllFiles->isEnabled());
        QVERIFY(!FForm->ActDelFile->isEnabled());
        // No cover is focused any more, so no book is there to open or inspect.
        QVERIFY(!FForm->CurrentBook());
        QVERIFY(!FForm->ActOpenFile->isEnabled());
        QVERIFY(!FForm->ActFileInfo->isEnabled());
        FForm->BookMenu->close();
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

    // A refused name or a failed rename says why in words, never in the system's text, and
    // the shelf keeps its name. A reader's file system refuses more than the computer's.
    void renameFailuresSayWhy()
    {
        TAnswers answers;
        Show();
        MakeFile(FDir->filePath("reader/r-shelf/book.txt"));
        TReaderCategory reader(QStringLiteral("阅读器书库 E:"), QString());
        reader.Attach(QStringLiteral("阅读器书库 E:"), FDir->filePath("reader/"), 'E', nullptr);
        TCategory* onReader = LoadedShelf(&reader, "r-shelf");
        TCategory* local = Shelf(Root()->LocalLibrary(), "a-shelf");
        const QString refused =
            QStringLiteral("，阅读器上的名称不能包含 \\ / : * ? \" < > | 这些字符。");
        const QString atTheEnd =
            QStringLiteral("重命名书架失败，阅读器上的名称不能以“.”或空格结尾。");
        const struct
        {
            TCategory* Shelf;
            QString Name;
            QString Text;
        } cases[] = {
            {local, "b-shelf", "重命名书架失败，已经有名为“b-shelf”的书架或文件，请换一个名称。"},
            {local, ".hidden", "重命名书架失败，名称不能以“.”开头，这样的书架会被隐藏。"},
            {local, "a/b", "重命名书架失败，名称中不能有“/”。"},
            {onReader, "r-shelf:2", "重命名书架失败，名称中不能有“:”" + refused},
            {onReader, "what?", "重命名书架失败，名称中不能有“?”" + refused},
            {onReader, "a\\b", "重命名书架失败，名称中不能有“\\”" + refused},
            {onReader, "书架.", atTheEnd},
            {onReader, "书架 ", atTheEnd},
            {onReader, "a\tb", "重命名书架失败，名称中不能有换行符、制表符之类的控制字符。"},
        };
        for (const auto& c : cases) {
            answers.Texts.clear();
            const QString name = c.Shelf->Name();
            QVERIFY2(!FForm->RenameCategory(c.Shelf, c.Name), qPrintable(c.Name));
            QCOMPARE(answers.Texts, QStringList{c.Text});
            QCOMPARE(c.Shelf->Name(), name);
        }
        // What the computer's disk takes is not held back by the readers' rules.
        QVERIFY(FForm->RenameCategory(local, QStringLiteral("a:shelf.")));
        QVERIFY(QFileInfo(Lib("a:shelf.")).isDir());

        // The folder went away meanwhile.
        TCategory* gone = Shelf(Root()->LocalLibrary(), "b-shelf");
        QVERIFY(QDir(Lib("b-shelf")).removeRecursively());
        answers.Texts.clear();
        QVERIFY(!FForm->RenameCategory(gone, QStringLiteral("c-shelf")));
        QCOMPARE(answers.Texts, QStringList{QStringLiteral("重命名书架失败，书架已不存在。")});
    }

    // Opening a book: without an application for its kind the message names the kind; with one
    // the application gets the book; one whose program is missing is named.
    void openingABookSaysWhatIsMissing()
    {
        TXdgFolders xdg(FDir->filePath("xdg"));
        TAnswers answers;
        Show();
        Focus(Shelf(Root()->LocalLibrary(), "a-shelf"));
        TBookListModel* model = FForm->BookListModel();
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->Item(row)->Name() == QLatin1String("small.txt")) FForm->SelectBookRow(row);
        QCOMPARE(FForm->CurrentBook()->Name(), QStringLiteral("small.txt"));
        FForm->OpenBook();
        QCOMPARE(answers.Texts,
                 QStringList{QStringLiteral(
                     "打开文件失败, 系统中没有设置用来打开“.txt”文件的程序。\r\n"
                     "请安装一个能打开这种文件的程序，或在系统设置中为它选择默认程序。")});

        const QString reader = xdg.Recorder("bin/reader");
        xdg.Entry("data", "reader.desktop", "阅读器", reader + " %f", "MimeType=text/plain;\n");
        answers.Texts.clear();
        FForm->OpenBook();
        QVERIFY(answers.Texts.isEmpty());
        QTRY_VERIFY(QFileInfo(reader + ".args").size() > 0);
        QFile args(reader + ".args");
        QVERIFY(args.open(QIODevice::ReadOnly));
        QCOMPARE(args.readAll(), QFile::encodeName(Lib("a-shelf/small.txt")) + "\n");

        xdg.Entry("data", "reader.desktop", "阅读器", "/nonexistent/korvel-reader %f",
                  "MimeType=text/plain;\n");
        FForm->OpenBook();
        QCOMPARE(answers.Texts,
                 QStringList{QStringLiteral("打开文件失败, 找不到打开它的程序“阅读器”"
                                            "（/nonexistent/korvel-reader）。")});
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
