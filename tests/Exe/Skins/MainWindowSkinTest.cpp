// The skin in the running main window: the default theme's buttons, pane subclasses and style
// sheet, a missing archive, a bad value and damaged pictures, hints shown as grey text, the
// colour of missing shelves and books, the binding dialog's band, the skinning engine's
// windows, and a screenshot of the whole window compared with a stored picture.
//
// The stored picture is tests/fixtures/mainwindow-default.png. After a deliberate change of the
// look, regenerate it with
//     KORVEL_UPDATE_SCREENSHOT=1 ctest -R MainWindowSkinTest
// (the test then writes the picture into the source tree and passes), look at it, and commit it.
#include "BookListModel.h"
#include "BookReader.h"
#include "CoverCache.h"
#include "Categories.h"
#include "NavigatorModel.h"
#include "rkView.h"
#include "SkinData.h"
#include "SkinFixture.h"
#include "Skins.h"
#include "Subclasses.h"
#include "ToolBtn.h"
#include "uBase.h"
#include "uMainForm.h"
#include "uMsgDlg.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QHeaderView>
#include <QStackedWidget>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

const QString DefaultTheme = QStringLiteral(KORVEL_BIN_DIR "/theme.zip");

void MakeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(path.left(path.lastIndexOf(u'/')));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Records what the message boxes said.
struct TMessages
{
    QStringList Texts;
    TMessages()
    {
        SetMessageBoxAnswer([this](const QString& text, const QString&, unsigned) {
            Texts << text;
            return int(mrOk);
        });
    }
    ~TMessages() { SetMessageBoxAnswer(nullptr); }
};

template <class T> T* SubclassOf(const QWidget* control)
{
    return dynamic_cast<T*>(TComponentNexus::Instance().SubclassOf(control));
}

// A copy of the default theme at `path` whose named entries hold bytes that are no picture.
bool DamagedTheme(const QString& path, const QStringList& entries)
{
    QFile::remove(path);
    if (!QFile::copy(DefaultTheme, path)) return false;
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), 0, &error);
    if (!archive) return false;
    static const char garbage[] = "BM but not a picture at all";
    for (const QString& entry : entries) {
        const zip_int64_t index = zip_name_locate(archive, entry.toUtf8().constData(), 0);
        zip_source_t* source = zip_source_buffer(archive, garbage, sizeof garbage - 1, 0);
        if (index < 0 || !source ||
            zip_file_replace(archive, static_cast<zip_uint64_t>(index), source, 0) != 0) {
            if (source) zip_source_free(source);
            zip_discard(archive);
            return false;
        }
    }
    return zip_close(archive) == 0;
}

// The darkest grey level of the text inside an edit box (its frame left out): the shade its
// text is drawn in, whatever the font.
int TextShade(QLineEdit* edit)
{
    const QImage shot = edit->grab().toImage();
    int darkest = 255;
    const QRect inside = edit->rect().adjusted(4, 4, -4, -4);
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            darkest = std::min(darkest, qGray(shot.pixel(x, y)));
    return darkest;
}

// How many pixels of the widget are within a small distance of `color` (text drawn in it has
// at least the cores of its strokes in exactly that colour).
int PixelsNear(QWidget* widget, const QRect& area, const QColor& color)
{
    const QImage shot = widget->grab(area).toImage();
    int count = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const QRgb p = shot.pixel(x, y);
            if (std::abs(qRed(p) - color.red()) + std::abs(qGreen(p) - color.green()) +
                    std::abs(qBlue(p) - color.blue()) <
                24)
                ++count;
        }
    return count;
}

} // namespace

class MainWindowSkinTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> FDir;

    QString Lib(const QString& rest = QString()) const
    {
        return FDir->filePath("Storages/" + rest);
    }
    std::unique_ptr<TXALVarnixForm> NewForm(const QString& archive)
    {
        return std::make_unique<TXALVarnixForm>(FDir->filePath("Korvel.ini"), nullptr, archive);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(DefaultTheme), "the default theme is built with the program");
        // The look must not depend on the machine's fonts or its language settings.
        QFont font(QStringLiteral("Noto Sans CJK SC"));
        font.setPointSize(8);
        QApplication::setFont(font);
        QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    }

    void init()
    {
        FDir = std::make_unique<QTemporaryDir>();
        // A small fixed library: one shelf and books of the types the theme has covers for.
        for (const char* name : {"三国演义.txt", "红楼梦.pdf", "西游记.epub", "水浒传.mobi"})
            MakeFile(Lib(QString::fromUtf8(name)), "book");
        QDir().mkpath(Lib(QStringLiteral("小说")));
        TSystemCategory::SetLocalLibraryPath(Lib());
        TBrowserCategory::SetHomeFileName(FDir->filePath("home.dll"));
    }

    void cleanup()
    {
        TSystemCategory::SetLocalLibraryPath(QString());
        TBrowserCategory::SetHomeFileName(QString());
        FDir.reset();
    }

    void defaultThemeDressesEveryPane()
    {
        TMessages messages;
        auto form = NewForm(DefaultTheme);
        QVERIFY(messages.Texts.isEmpty());
        QVERIFY(form->Skinned());

        // Every placeholder gave way to a tool button that runs its action.
        for (const TToolButtonPlace& place : MainToolButtons) {
            const auto buttons = form->findChildren<TToolBtn*>(QLatin1String(place.Placeholder));
            QCOMPARE(buttons.size(), 1);
            QVERIFY2(buttons[0]->Action(), place.Placeholder);
            const auto plain = form->findChildren<QWidget*>(QLatin1String(place.Placeholder));
            for (QWidget* w : plain)
                if (w != buttons[0]) QVERIFY(w->isHidden());
        }
        auto* open = form->findChild<TToolBtn*>(QStringLiteral("OpenButton"));
        QCOMPARE(open->Action(), form->ActOpenFile);
        auto* list = form->findChild<TToolBtn*>(QStringLiteral("ViewListButton"));
        QCOMPARE(list->Action(), form->ActViewList);
        auto* thumb = form->findChild<TToolBtn*>(QStringLiteral("ViewThumbButton"));

        // Each pane carries the subclass of its section.
        QVERIFY(SubclassOf<TToolbarSubclass>(form->findChild<QFrame*>(QStringLiteral("ToolBar"))));
        QVERIFY(SubclassOf<TNavigatorSubclass>(
            form->findChild<QWidget*>(QStringLiteral("NavigatorPanel"))));
        QVERIFY(SubclassOf<TTreeContainerSubclass>(
            form->findChild<QWidget*>(QStringLiteral("TreeContainer"))));
        QVERIFY(SubclassOf<TClientContainerSubclass>(form->Notebook()));
        QVERIFY(SubclassOf<TTreeSubclass>(form->Navigator()));
        QVERIFY(SubclassOf<TListSubclass>(form->BookList()));
        QVERIFY(SubclassOf<TListSubclass>(form->findChild<QWidget*>(QStringLiteral("TaskList"))));
        auto* thumbnails = SubclassOf<TThumbnailSubclass>(form->ThumbnailView());
        QVERIFY(thumbnails);
        QVERIFY(thumbnails->OnGetItem);
        QCOMPARE(form->ThumbnailView()->CellHeight(), 200);

        // The standard controls follow the skin's style sheet.
        QVERIFY(form->SkinData()->Active());
        QVERIFY(!form->styleSheet().isEmpty());
        QCOMPARE(form->styleSheet(), form->SkinData()->Sheet());

        // The view buttons show which view is up.
        form->show();
        form->ActViewList->trigger();
        QCoreApplication::processEvents();
        QVERIFY(list->Down());
        QVERIFY(!thumb->Down());
        form->ActViewThumb->trigger();
        QCoreApplication::processEvents();
        QVERIFY(!list->Down());
        QVERIFY(thumb->Down());

        // Closing the window frees the subclasses before the panes go.
        QPointer<TSubclass> tree = TComponentNexus::Instance().SubclassOf(form->Navigator());
        QPointer<TToolBtn> button = list;
        form.reset();
        QVERIFY(!tree);
        QVERIFY(!button);
    }

    void missingOrBadSkinLeavesThePlainLook()
    {
        {
            TMessages messages;
            const QString missing = FDir->filePath("none/theme.zip");
            auto form = NewForm(missing);
            QCOMPARE(messages.Texts,
                     QStringList{QStringLiteral("Load archive \"%1\" failed").arg(missing)});
            QVERIFY(!form->Skinned());
            QVERIFY(form->findChildren<TToolBtn*>().isEmpty());
            QVERIFY(!TComponentNexus::Instance().IsSubclassed(form->Navigator()));
            QVERIFY(form->styleSheet().isEmpty());
            QVERIFY(
                form->findChild<QWidget*>(QStringLiteral("OpenButton"))->isVisibleTo(form.get()));
        }
        {
            // A bad value stops the set-up where it is found: the panes before it keep their
            // look, the tree and everything after it stay plain.
            const QString archive = FDir->filePath("bad.zip");
            QVERIFY(WriteZip(archive, {{"skin.ini", "[Tree]\nItemHeight = tall\n[System]\n"
                                                    "DataFile = style.qss\n"},
                                       {"style.qss", "QMenu { color: red; }"}}));
            TMessages messages;
            auto form = NewForm(archive);
            QCOMPARE(messages.Texts, QStringList{QStringLiteral("Invalid value \"tall\"")});
            QVERIFY(SubclassOf<TClientContainerSubclass>(form->Notebook()));
            QVERIFY(!TComponentNexus::Instance().IsSubclassed(form->Navigator()));
            QVERIFY(!TComponentNexus::Instance().IsSubclassed(form->BookList()));
            QVERIFY(!form->SkinData()->Active());
        }
    }

    void damagedPicturesAreLeftOutAndTheRestApplies()
    {
        const QString archive = FDir->filePath("damaged.zip");
        QVERIFY(DamagedTheme(archive, {"open.bmp", "cover-pdf.bmp"}));
        TMessages messages;
        auto form = NewForm(archive);
        QCOMPARE(messages.Texts, QStringList{QStringLiteral(
                                     "皮肤文件中的图片无法读取，已略过：open.bmp、cover-pdf.bmp")});
        QVERIFY(form->Skinned());
        // The button whose icon is damaged is there, only without its icon, and so is
        // everything after it: the other buttons, the panes, the covers of the other types, the
        // navigator's pictures and the style sheet.
        for (const TToolButtonPlace& place : MainToolButtons)
            QVERIFY2(form->findChild<TToolBtn*>(QLatin1String(place.Placeholder)),
                     place.Placeholder);
        auto* thumbnails = SubclassOf<TThumbnailSubclass>(form->ThumbnailView());
        QVERIFY(thumbnails);
        const auto& covers = thumbnails->Painter()->Skin().ExtensionImages;
        QVERIFY(covers.contains("epub"));
        QVERIFY(covers.contains("txt"));
        QVERIFY(!covers.contains("pdf"));
        QVERIFY(form->SkinData()->Active());
        QCOMPARE(form->styleSheet(), form->SkinData()->Sheet());
        auto intact = NewForm(DefaultTheme);
        const QSize side = form->Navigator()->iconSize();
        QCOMPARE(form->NavigatorModel()->FixedIcon.pixmap(side).toImage(),
                 intact->NavigatorModel()->FixedIcon.pixmap(side).toImage());
        QCOMPARE(form->NavigatorModel()->ShelfIcon.pixmap(side).toImage(),
                 intact->NavigatorModel()->ShelfIcon.pixmap(side).toImage());
    }

    // Boxes that show their hint as text show it grey though the skin's sheet gives edit boxes
    // a dark text colour, and dark again once the user's own text is in them.
    void hintsShownAsTextAreGrey()
    {
        TMessages messages;
        auto form = NewForm(DefaultTheme);
        form->show();
        QLineEdit* search = form->SearchEdit();
        QCOMPARE(search->text(), QStringLiteral("搜索图书"));
        QVERIFY2(TextShade(search) > 96, qPrintable(QString::number(TextShade(search))));
        search->setFocus();
        QTRY_VERIFY(search->text().isEmpty());
        search->setText(QStringLiteral("三国"));
        QVERIFY2(TextShade(search) < 64, qPrintable(QString::number(TextShade(search))));
        search->clear();
        form->Navigator()->setFocus();
        QTRY_COMPARE(search->text(), QStringLiteral("搜索图书"));
        QVERIFY(TextShade(search) > 96);

        // The skin may choose the hints' colour itself.
        const auto loadSheet = [&form](const QByteArray& text) {
            QBuffer sheet;
            sheet.setData(text);
            sheet.open(QIODevice::ReadOnly);
            form->SkinData()->LoadFromStream(sheet);
        };
        loadSheet("QLineEdit { color: #2B2A28; }\n"
                  "QLineEdit[placeholderShown=\"true\"] { color: #FF0000; }");
        QVERIFY(PixelsNear(search, search->rect(), QColor(255, 0, 0)) > 0);
        loadSheet("QLineEdit { color: #2B2A28; }");
        QVERIFY(PixelsNear(search, search->rect(), QColor(255, 0, 0)) == 0);
        QVERIFY(TextShade(search) > 96);

        // The binding dialog opens in the user box with its hint selected, to be typed over.
        TBaseForm dialog(
            form.get(), [](void*) {}, form->Skins());
        dialog.show();
        QCoreApplication::processEvents();
        QVERIFY(TextShade(dialog.edtPassword) > 96);
        QTest::mouseClick(dialog.edtPassword, Qt::LeftButton);
        QTest::keyClicks(dialog.edtPassword, "secret");
        QVERIFY(TextShade(dialog.edtPassword) < 64);
        QVERIFY(!dialog.edtUser->hasSelectedText());
        QVERIFY(TextShade(dialog.edtUser) > 96);
    }

    // Shelves and books whose folder or file is gone are drawn in the skin's inactive colours,
    // the navigator's from [Tree] and the book list's from [List].
    void missingShelvesAndBooksTakeTheInactiveColours()
    {
        const QString archive = FDir->filePath("colours.zip");
        QVERIFY(WriteZip(archive, {{"skin.ini", "[Tree]\nInactiveFontColor = 0,160,0\n"
                                                "[List]\nInactiveFontColor = 0,0,220\n"}}));
        TMessages messages;
        auto form = NewForm(archive);
        QVERIFY(messages.Texts.isEmpty());
        form->resize(831, 404);
        form->show();
        QTRY_VERIFY(form->CurrentCategory());

        // The reader slots hold no reader: missing.
        TNavigatorModel* navigator = form->NavigatorModel();
        TCategory* reader = form->SystemCategory()->Child(2);
        QVERIFY(reader->GetState() & isMissing);
        const QModelIndex readerIndex = navigator->IndexOf(reader);
        QCOMPARE(navigator->data(readerIndex, Qt::ForegroundRole).value<QColor>(),
                 QColor(0, 160, 0));
        QVERIFY(PixelsNear(form->Navigator()->viewport(),
                           form->Navigator()->visualRect(readerIndex), QColor(0, 160, 0)) > 0);

        form->ActViewList->trigger();
        form->SelectCategory(form->SystemCategory()->LocalLibrary());
        TBookListModel* books = form->BookListModel();
        QTRY_COMPARE(books->rowCount(), 4);
        QTRY_VERIFY(std::all_of(books->Rows().begin(), books->Rows().end(),
                                [](TFileItem* book) { return book->Loaded(); }));
        TFileItem* gone = books->Item(0);
        QVERIFY(QFile::remove(gone->GetFullPath()));
        QVERIFY(gone->GetState() & isMissing);
        books->RowChanged(gone);
        QCOMPARE(books->data(books->index(0, 0), Qt::ForegroundRole).value<QColor>(),
                 QColor(0, 0, 220));
        form->BookList()->clearSelection();
        form->BookList()->setCurrentIndex(books->index(1, 0));
        QVERIFY(PixelsNear(form->BookList()->viewport(),
                           form->BookList()->visualRect(books->index(0, 0)),
                           QColor(0, 0, 220)) > 0);
    }

    void bindingDialogBandTakesTheToolbarLook()
    {
        TSkinManager skins;
        QVERIFY(LoadSkinArchive(skins, DefaultTheme));
        TBaseForm skinned(
            nullptr, [](void*) {}, &skins);
        QVERIFY(SubclassOf<TToolbarSubclass>(skinned.pnlTop));
        TBaseForm plain(nullptr, [](void*) {});
        QVERIFY(!TComponentNexus::Instance().IsSubclassed(plain.pnlTop));
    }

    void engineSkinsLooseWindowsButNotExemptOnes()
    {
        QWidget window;
        TSkinData engine(&window);
        QBuffer sheet;
        sheet.setData("QDialog { background: #123456; }");
        sheet.open(QIODevice::ReadOnly);
        engine.LoadFromStream(sheet);
        QVERIFY(window.styleSheet().isEmpty()); // inactive until switched on

        engine.SetActive(true);
        QCOMPARE(window.styleSheet(), engine.Sheet());
        QDialog loose;
        loose.show();
        QCOMPARE(loose.styleSheet(), engine.Sheet());
        QDialog exempt;
        exempt.setProperty("Tag", 99);
        exempt.show();
        QVERIFY(exempt.styleSheet().isEmpty());

        engine.SetActive(false);
        QVERIFY(window.styleSheet().isEmpty());
        QVERIFY(loose.styleSheet().isEmpty());
        QDialog later;
        later.show();
        QVERIFY(later.styleSheet().isEmpty());
    }

    void screenshotMatchesTheStoredPicture()
    {
        // The thumbnail view of the local library: names and covers, nothing that changes
        // from run to run (no dates, no store page).
        MakeFile(FDir->filePath("Korvel.ini"),
                 "[Window]\nState=Normal\nLeft=0\nTop=0\nWidth=831\nHeight=404\n"
                 "[Controls]\nShowThumbnail=1\n");
        TMessages messages;
        auto form = NewForm(DefaultTheme);
        form->show();
        QTRY_VERIFY(form->CurrentCategory());
        form->SelectCategory(form->SystemCategory()->LocalLibrary());
        QTRY_COMPARE(form->ThumbnailView()->Items().Count(), 4);
        // By name, so the folder's listing order does not matter; names compare by their bytes
        // in code page 936, whatever the machine's language settings.
        emit form->BookList()->header()->sectionClicked(0);
        QStringList order;
        for (TFileItem* book : form->BookListModel()->Rows())
            order << book->Name();
        QCOMPARE(order,
                 QStringList({QStringLiteral("红楼梦.pdf"), QStringLiteral("三国演义.txt"),
                              QStringLiteral("水浒传.mobi"), QStringLiteral("西游记.epub")}));
        form->resize(831, 404);
        QCoreApplication::processEvents();
        // The books are read after they are first painted; the picture is of the settled window,
        // with the commands enabled for the focused shelf.
        QTRY_VERIFY(std::all_of(form->BookListModel()->Rows().begin(),
                                form->BookListModel()->Rows().end(),
                                [](TFileItem* book) { return book->Loaded(); }));
        QTRY_COMPARE(form->ListStateBar()->text(), QStringLiteral("就绪"));
        // Covers are made on the reading pool once their cells have asked for them.
        form->ThumbnailView()->grab();
        QTRY_VERIFY(form->CoverCache()->Pending() == 0 && form->BookReader()->Outstanding() == 0);
        form->UpdateActions();
        QTest::qWait(50);
        const QImage shot = form->grab().toImage().convertToFormat(QImage::Format_RGB32);

        const QString stored =
            QStringLiteral(KORVEL_SOURCE_DIR "/tests/fixtures/mainwindow-default.png");
        if (qEnvironmentVariableIsSet("KORVEL_UPDATE_SCREENSHOT")) {
            QVERIFY(shot.save(stored));
            return;
        }
        QImage expected(stored);
        QVERIFY2(!expected.isNull(), "no stored picture; see the comment at the top");
        expected = expected.convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shot.size(), expected.size());
        // Small differences of anti-aliasing are allowed; a moved or recoloured pane is not.
        int off = 0;
        for (int y = 0; y < shot.height(); ++y) {
            const auto* a = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
            const auto* b = reinterpret_cast<const QRgb*>(expected.constScanLine(y));
            for (int x = 0; x < shot.width(); ++x) {
                const int d = std::max({std::abs(qRed(a[x]) - qRed(b[x])),
                                        std::abs(qGreen(a[x]) - qGreen(b[x])),
                                        std::abs(qBlue(a[x]) - qBlue(b[x]))});
                if (d > 24) ++off;
            }
        }
        const int allowed = shot.width() * shot.height() / 500; // 0.2 %
        if (off > allowed)
            shot.save(QDir::temp().filePath(QStringLiteral("mainwindow-default-actual.png")));
        QVERIFY2(off <= allowed, qPrintable(QStringLiteral("%1 pixels differ (the picture taken "
                                                           "is in the temporary folder)")
                                                .arg(off)));
    }
};

QTEST_MAIN(MainWindowSkinTest)
#include "MainWindowSkinTest.moc"
