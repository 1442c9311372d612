#include "PropertiesDialog.h"

#include "FileNames.h"

#include <sys/stat.h>

#include "FormatFileSize.h"
#include "SummaryCommon.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLibrary>
#include <QPixmap>
#include <QStringDecoder>
#include <QVBoxLayout>

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

extern "C" unsigned char GetFileInfo(const char*, TBookInfo*, TAbortQuery);
extern "C" unsigned char GetThumbnail(const char*, TThumbnailInfo*, TAbortQuery);

namespace Summary {

namespace {

// The folder this library was loaded from: the map and the plug-ins sit beside it.
QString OwnFolder()
{
    Dl_info where{};
    if (!dladdr(reinterpret_cast<void*>(&ShowPropertiesDialog), &where) || !where.dli_fname)
        return {};
    return QFileInfo(QFile::decodeName(where.dli_fname)).absolutePath() + QLatin1Char('/');
}

// The library file the map names for a book: the first line naming its extension, else "*".
QString MappedLibrary(const QString& folder, const QString& fileName)
{
    QFile map(folder + QStringLiteral("fimap.ini"));
    if (!map.open(QIODevice::ReadOnly)) return {};
    QStringDecoder decoder("GB18030");
    const QString text = decoder(map.read(1024 * 1024));
    QString extension = LowerExtension(FileNames::Encode(fileName).constData());
    if (extension.isEmpty()) extension = QStringLiteral("*");
    QString star;
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (line.startsWith(QLatin1Char(';')) || equals <= 0) continue;
        const QString value = line.mid(equals + 1).trimmed();
        if (value.isEmpty() || !QFile::exists(folder + value)) continue;
        for (const QString& piece : line.left(equals).split(QLatin1Char(','))) {
            const QString name = piece.trimmed();
            if (name.compare(extension, Qt::CaseInsensitive) == 0) return value;
            if (name == QLatin1String("*") && star.isEmpty()) star = value;
        }
    }
    return star;
}

// The book's record and picture as the program gets them: the default where the plug-in asks
// for it, then the plug-in's values over it.
void ReadBook(const QString& fileName, TBookInfo& info, TThumbnailInfo& thumbnail)
{
    const QByteArray name = FileNames::Encode(fileName);
    const QString folder = OwnFolder();
    const QString mapped = MappedLibrary(folder, fileName);
    QLibrary plugin;
    TGetFileInfoProc pluginInfo = nullptr;
    TGetThumbnailProc pluginThumbnail = nullptr;
    bool needDefault = true;
    if (!mapped.isEmpty() && mapped != QLatin1String("libsummary.so")) {
        plugin.setFileName(folder + mapped);
        if (plugin.load()) {
            pluginInfo = reinterpret_cast<TGetFileInfoProc>(plugin.resolve("GetFileInfo"));
            pluginThumbnail = reinterpret_cast<TGetThumbnailProc>(plugin.resolve("GetThumbnail"));
            auto need = reinterpret_cast<TNeedDefaultSummaryInfoProc>(
                plugin.resolve("NeedDefaultSummaryInfo"));
            needDefault = need && need(name.constData());
        }
    }
    // The file's own dates always come from the default.
    GetFileInfo(name.constData(), &info, nullptr);
    if (pluginInfo) pluginInfo(name.constData(), &info, nullptr);
    if (pluginThumbnail && pluginThumbnail(name.constData(), &thumbnail, nullptr) && !needDefault)
        return;
    TThumbnailInfo own{90, 112, nullptr};
    if (GetThumbnail(name.constData(), &own, nullptr)) {
        std::free(thumbnail.Pixels);
        thumbnail = own;
    }
}

QLabel* ValueLabel(const QString& text, const char* key)
{
    auto* label = new QLabel(text);
    label->setObjectName(QLatin1String(key));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    return label;
}

} // namespace

int ShowPropertiesDialog(QWidget* parent, const QString& fileName)
{
    TBookInfo info{};
    TThumbnailInfo thumbnail{90, 112, nullptr};
    ReadBook(fileName, info, thumbnail);
    // Shown readable, asked by the real bytes: the name need not be UTF-8.
    const auto readable = [](const QString& path) {
        QStringList parts = path.split(u'/');
        for (QString& part : parts)
            if (FileNames::HasForeignBytes(part))
                part = QStringDecoder("GB18030")(FileNames::Encode(part));
        return parts.join(u'/');
    };
    struct TShownFile
    {
        QString Name, Folder;
        qint64 Bytes = 0;
        QString fileName() const { return Name; }
        QString absolutePath() const { return Folder; }
        qint64 size() const { return Bytes; }
    } file;
    file.Name = readable(fileName.mid(fileName.lastIndexOf(u'/') + 1));
    file.Folder = readable(fileName.left(std::max<qsizetype>(fileName.lastIndexOf(u'/'), 0)));
    struct stat st;
    if (stat(FileNames::Encode(fileName).constData(), &st) == 0) file.Bytes = st.st_size;

    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("PropertiesDialog"));
    dialog.setWindowTitle(QStringLiteral("文件信息 - ") + file.fileName());
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("文件名："), ValueLabel(file.fileName(), "fileName"));
    form->addRow(QStringLiteral("位置："), ValueLabel(file.absolutePath(), "folder"));
    form->addRow(
        QStringLiteral("大小："),
        ValueLabel(QStringLiteral("%1 (%2 字节)").arg(FormatFileSize(file.size())).arg(file.size()),
                   "size"));
    const struct
    {
        TBookInfoOffset Offset;
        const char* Caption;
        const char* Key;
    } fields[] = {
        {biTitle, "标题", "title"},
        {biSubject, "主题", "subject"},
        {biAuthor, "作者", "author"},
        {biCategory, "类别", "category"},
        {biPublisher, "出版商", "publisher"},
        {biIdentifier, "标识符", "identifier"},
        {biLanguage, "语言", "language"},
        {biKeywords, "关键字", "keywords"},
        {biComment, "注释", "comment"},
        {biPageCount, "页数", "pages"},
        {biWordCount, "词数", "words"},
        {biCharCount, "字数", "characters"},
        {biCreationDate, "创建日期", "created"},
        {biModificationDate, "修改日期", "modified"},
        {biRevision, "修订版本号", "revision"},
    };
    for (const auto& field : fields)
        form->addRow(QString::fromUtf8(field.Caption) + QStringLiteral("："),
                     ValueLabel(GetText(&info, field.Offset), field.Key));
    form->addRow(QStringLiteral("加密："),
                 ValueLabel(info.Data[biEncrypted] ? QStringLiteral("是") : QStringLiteral("否"),
                            "encrypted"));

    auto* cover = new QLabel;
    cover->setObjectName(QStringLiteral("cover"));
    cover->setFixedSize(90, 112);
    cover->setAlignment(Qt::AlignCenter);
    if (thumbnail.Pixels) {
        const QImage image(reinterpret_cast<const uchar*>(thumbnail.Pixels), thumbnail.Width,
                           thumbnail.Height, thumbnail.Width * 4, QImage::Format_ARGB32);
        cover->setPixmap(QPixmap::fromImage(image.copy()));
    }
    std::free(thumbnail.Pixels);

    auto* top = new QHBoxLayout;
    top->addWidget(cover, 0, Qt::AlignTop);
    top->addLayout(form, 1);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(top);
    layout->addWidget(buttons);
    dialog.resize(520, dialog.sizeHint().height());
    return dialog.exec();
}

} // namespace Summary
