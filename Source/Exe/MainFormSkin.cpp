// The main window's look: the skin archive, the tool buttons, the drawing subclasses and the
// window-skinning engine, attached in the order the panes depend on each other.

#include "uMainForm.h"

#include "BookListModel.h"
#include "NavigatorModel.h"
#include "rkView.h"
#include "SkinData.h"
#include "Skins.h"
#include "Subclasses.h"
#include "ThumbnailPainter.h"
#include "ToolBtn.h"
#include "uBrowserFrame.h"
#include "uMsgDlg.h"
#include "uUpdateMain.h"

#include <QAction>
#include <QIODevice>
#include <QPixmap>
#include <QStackedWidget>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

namespace {

// A picture of the skin with its transparent colour cleared, as an icon.
QIcon SkinIcon(TSkinManager& skins, const QString& section, const QString& key, TColor mask)
{
    const QImage* bitmap = nullptr;
    if (!skins.GetBitmap(section, key, bitmap)) return QIcon();
    return QIcon(QPixmap::fromImage(MaskedPicture(*bitmap, mask)));
}

} // namespace

void TXALVarnixForm::SetUpSkin(const QString& archive)
{
    FSkins = new TSkinManager(this);
    FSkinData = new TSkinData(this);
    // The store's pages draw themselves; the engine leaves them (and their tabs) alone.
    FSkinData->IsExempt = [](const QWidget* w) {
        for (const QWidget* p = w; p; p = p->parentWidget())
            if (qobject_cast<const TBrowserControl*>(p)) return true;
        return TSkinData::HasExemptTag(w);
    };
    if (archive.isEmpty() || !LoadSkinArchive(*FSkins, archive)) return;
    FSkinned = true;

    try {
        // The tool buttons take the places of the plain ones.
        const std::pair<const char*, QAction*> actions[] = {
            {"ActOpenFile", ActOpenFile},
            {"ActViewList", ActViewList},
            {"ActViewThumb", ActViewThumb},
            {"ActBrowsNew", FBrowser->ActBrowsNew},
            {"ActBrowsBack", FBrowser->ActBrowsBack},
            {"ActBrowsNext", FBrowser->ActBrowsNext},
            {"ActBrowsStop", FBrowser->ActBrowsStop},
            {"ActBrowsRefresh", FBrowser->ActBrowsRefresh},
            {"ActBrowsHome", FBrowser->ActBrowsHome},
        };
        for (const TToolButtonPlace& place : MainToolButtons) {
            QAction* action = nullptr;
            for (const auto& [name, a] : actions)
                if (qstrcmp(name, place.Action) == 0) action = a;
            auto* placeholder = findChild<QToolButton*>(QLatin1String(place.Placeholder));
            if (!placeholder || !action) continue;
            TToolBtn* button = PlaceToolButton(FSkins, placeholder, place, action);
            if (qstrcmp(place.Placeholder, "ViewListButton") == 0) FViewListBtn = button;
            if (qstrcmp(place.Placeholder, "ViewThumbButton") == 0) FViewThumbBtn = button;
        }

        // The panes, outermost first.
        FSkins->Subclass<TToolbarSubclass>(FToolBar, QStringLiteral("Toolbar"));
        FSkins->Subclass<TNavigatorSubclass>(FNavigatorPanel, QStringLiteral("Navigator"));
        FSkins->Subclass<TTreeContainerSubclass>(FTreeContainer, QStringLiteral("TreeContainer"));
        FSkins->Subclass<TClientContainerSubclass>(FNotebook, QStringLiteral("ClientContainer"));
        // Missing shelves and books are drawn by the models, in the colours of the skin.
        FNavigatorModel->DisabledColor =
            FSkins->Subclass<TTreeSubclass>(FNavigator, QStringLiteral("Tree"))
                ->InactiveFontColor();
        FBookListModel->MissingColor =
            FSkins->Subclass<TListSubclass>(FBookList, QStringLiteral("List"))->InactiveFontColor();
        FSkins->Subclass<TListSubclass>(FTaskList, QStringLiteral("List"));
        auto* thumbnails =
            FSkins->Subclass<TThumbnailSubclass>(FThumbnailView, QStringLiteral("Thumbnail"));
        thumbnails->OnGetItem = FThumbnailPainter->OnGetItem;

        // The navigator's node pictures: places that cannot change, then the user's shelves.
        const QString tree = QStringLiteral("Tree");
        const TColor mask = FSkins->GetColor(tree, QStringLiteral("TransparentColor"), clFuchsia);
        const QList<QImage> images = SkinImageList(
            *FSkins, tree, mask, qRound(FNavigator->iconSize().height() * devicePixelRatioF()));
        if (images.size() > 0) FNavigatorModel->FixedIcon = QIcon(QPixmap::fromImage(images[0]));
        if (images.size() > 1) FNavigatorModel->ShelfIcon = QIcon(QPixmap::fromImage(images[1]));
        // The rows fit the pictures as the skin draws them, in logical pixels.
        if (!images.isEmpty()) FNavigator->setIconSize(LogicalSize(images[0]));

        // The update window's tray pictures (they carry their own alpha channel).
        QList<QIcon> tray;
        for (const char* key : {"Idle", "Writing", "Downloading", "Failed"})
            tray.append(SkinIcon(*FSkins, QStringLiteral("Tray"), QLatin1String(key), clNone));
        TUpdateV2::SetTrayPictures(tray);

        // The standard controls, menus and dialogs.
        QIODevice* data = nullptr;
        if (FSkins->GetStream(QStringLiteral("System"), QStringLiteral("DataFile"), data) && data) {
            data->seek(0);
            FSkinData->LoadFromStream(*data);
            FSkinData->SetActive(true);
        }
    } catch (const ESkinException& e) {
        // A bad value ends the skin's set-up where it was found; the window goes on with what
        // is attached so far.
        ShowMessageBox(e.Message(), QStringLiteral("错误"), mbIconStop);
    }
    // Damaged pictures were left out one by one; whoever made the skin learns which.
    if (!FSkins->SkippedPictures().isEmpty())
        ShowMessageBox(QStringLiteral("皮肤文件中的图片无法读取，已略过：%1")
                           .arg(FSkins->SkippedPictures().join(QStringLiteral("、"))),
                       QStringLiteral("错误"), mbIconExclamation);
    FollowViews(FViewListBtn, FBookList, FViewThumbBtn, FThumbnailView, this);
}
