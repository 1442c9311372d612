#include "DesktopApps.h"

#include "FileNames.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// The XDG folders, read from the environment at every call (tests and sandboxes change it).

QString EnvFolder(const char* name, const QString& fallback)
{
    const QString value = qEnvironmentVariable(name);
    return value.startsWith(u'/') ? value : fallback;
}

QStringList EnvFolders(const char* name, const QString& fallback)
{
    QString value = qEnvironmentVariable(name);
    if (value.isEmpty()) value = fallback;
    QStringList folders;
    for (const QString& folder : value.split(u':', Qt::SkipEmptyParts))
        if (folder.startsWith(u'/')) folders << folder;
    return folders;
}

QStringList ApplicationFolders()
{
    QStringList folders{EnvFolder("XDG_DATA_HOME", QDir::homePath() + "/.local/share")};
    folders += EnvFolders("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"));
    for (QString& folder : folders)
        folder += QStringLiteral("/applications");
    return folders;
}

// The mimeapps.list files, the one that counts most first: the user's settings, the system's
// settings, then the lists that come with installed applications; in each folder the current
// desktop's own list before the common one.
QStringList MimeAppsLists()
{
    QStringList folders{EnvFolder("XDG_CONFIG_HOME", QDir::homePath() + "/.config")};
    folders += EnvFolders("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg"));
    folders += ApplicationFolders();
    QStringList desktops;
    for (const QString& d :
         qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts))
        desktops << d.toLower();
    QStringList lists;
    for (const QString& folder : folders) {
        for (const QString& desktop : desktops)
            lists << folder + u'/' + desktop + QStringLiteral("-mimeapps.list");
        lists << folder + QStringLiteral("/mimeapps.list");
    }
    return lists;
}

// ---------------------------------------------------------------------------------------------
// Key files (mimeapps.list, desktop entries): groups of "key=value" lines.

using TGroup = QHash<QString, QString>;
using TKeyFile = QHash<QString, TGroup>;

TKeyFile ReadKeyFile(const QString& path)
{
    TKeyFile groups;
    QFile file(path);
    // Key files are small; anything this large is not one.
    if (file.size() > (1 << 20) || !file.open(QIODevice::ReadOnly)) return groups;
    TGroup* group = nullptr;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            const QString name = line.mid(1, line.size() - 2);
            group = groups.contains(name) ? nullptr : &groups[name];
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (!group || eq <= 0) continue;
        const QString key = line.left(eq).trimmed();
        if (!group->contains(key)) group->insert(key, line.mid(eq + 1).trimmed());
    }
    return groups;
}

QStringList ListValue(const QString& value)
{
    QStringList items;
    for (const QString& item : value.split(u';', Qt::SkipEmptyParts))
        if (!item.trimmed().isEmpty()) items << item.trimmed();
    return items;
}

// A program named by a desktop entry: an absolute path, or a name looked up in PATH.
QString FindProgram(const QString& program)
{
    if (program.isEmpty()) return QString();
    if (program.contains(u'/')) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable() ? program : QString();
    }
    return QStandardPaths::findExecutable(program);
}

// ---------------------------------------------------------------------------------------------
// The installed desktop entries of one look-up.

class TEntries
{
public:
    TEntries()
    {
        // An id found in a folder that counts more hides the same id further down.
        for (const QString& root : ApplicationFolders()) {
            QStringList found;
            QDirIterator it(root, {QStringLiteral("*.desktop")}, QDir::Files,
                            QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
            while (it.hasNext()) {
                const QString path = it.next();
                QString id = path.mid(root.size() + 1);
                id.replace(u'/', u'-');
                if (!FPaths.contains(id)) {
                    FPaths.insert(id, path);
                    found << id;
                }
            }
            found.sort();
            FOrder += found;
        }
    }

    // The usable entry of an id, or nothing.
    std::optional<TDesktopApp> App(const QString& id)
    {
        const auto cached = FApps.constFind(id);
        if (cached != FApps.constEnd()) return *cached;
        std::optional<TDesktopApp> app;
        const QString path = FPaths.value(id);
        const TGroup entry = path.isEmpty() ? TGroup() : Entry(id);
        const auto isTrue = [&](const char* key) {
            return entry.value(QLatin1String(key)).compare(u"true", Qt::CaseInsensitive) == 0;
        };
        const QString tryExec = entry.value(QStringLiteral("TryExec"));
        if (entry.value(QStringLiteral("Type")) == QLatin1String("Application") &&
            !isTrue("Hidden") && !entry.value(QStringLiteral("Exec")).isEmpty() &&
            (tryExec.isEmpty() || !FindProgram(tryExec).isEmpty())) {
            TDesktopApp found;
            found.Id = id;
            found.File = path;
            found.Exec = entry.value(QStringLiteral("Exec"));
            found.Terminal = isTrue("Terminal");
            for (const char* key : {"Name[zh_CN]", "Name[zh]", "Name"}) {
                found.Name = entry.value(QLatin1String(key));
                if (!found.Name.isEmpty()) break;
            }
            if (found.Name.isEmpty()) found.Name = id;
            app = found;
        }
        FApps.insert(id, app);
        return app;
    }

    // The ids of the entries that list one of `types` in their MimeType key, in folder order.
    QStringList Declaring(const QStringList& types)
    {
        QStringList ids;
        for (const QString& id : FOrder) {
            const QStringList declared = ListValue(Entry(id).value(QStringLiteral("MimeType")));
            for (const QString& type : types)
                if (declared.contains(type)) {
                    ids << id;
                    break;
                }
        }
        return ids;
    }

private:
    TGroup Entry(const QString& id)
    {
        const auto cached = FEntries.constFind(id);
        if (cached != FEntries.constEnd()) return *cached;
        const TGroup entry = ReadKeyFile(FPaths.value(id)).value(QStringLiteral("Desktop Entry"));
        FEntries.insert(id, entry);
        return entry;
    }

    QHash<QString, QString> FPaths; // id -> file
    QStringList FOrder;
    QHash<QString, TGroup> FEntries;
    QHash<QString, std::optional<TDesktopApp>> FApps;
};

// The application for one type (under any of its names): the first usable default of the
// lists, else the first usable associated application that no list has removed.
std::optional<TDesktopApp> ForNames(const QStringList& names, const QList<TKeyFile>& lists,
                                    TEntries& entries)
{
    for (const TKeyFile& list : lists) {
        const TGroup defaults = list.value(QStringLiteral("Default Applications"));
        for (const QString& name : names)
            for (const QString& id : ListValue(defaults.value(name)))
                if (auto app = entries.App(id)) return app;
    }
    // A removal counts for the list that makes it and those that count less.
    QSet<QString> removed;
    for (const TKeyFile& list : lists) {
        const TGroup removals = list.value(QStringLiteral("Removed Associations"));
        const TGroup additions = list.value(QStringLiteral("Added Associations"));
        for (const QString& name : names)
            for (const QString& id : ListValue(removals.value(name)))
                removed.insert(id);
        for (const QString& name : names)
            for (const QString& id : ListValue(additions.value(name)))
                if (!removed.contains(id))
                    if (auto app = entries.App(id)) return app;
    }
    for (const QString& id : entries.Declaring(names))
        if (!removed.contains(id))
            if (auto app = entries.App(id)) return app;
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// The Exec key: words, quoting and field codes, as the desktop entry format has them.

bool SplitExec(const QString& exec, QStringList& words)
{
    words.clear();
    const qsizetype n = exec.size();
    qsizetype i = 0;
    while (i < n) {
        while (i < n && exec.at(i) == u' ')
            ++i;
        if (i >= n) break;
        QString word;
        if (exec.at(i) == u'"') {
            ++i;
            bool closed = false;
            while (i < n) {
                const QChar c = exec.at(i++);
                if (c == u'"') {
                    closed = true;
                    break;
                }
                if (c == u'\\' && i < n) {
                    word += exec.at(i++);
                    continue;
                }
                word += c;
            }
            if (!closed) return false;
        } else {
            while (i < n && exec.at(i) != u' ')
                word += exec.at(i++);
        }
        words << word;
    }
    return !words.isEmpty();
}

// The general escapes of a key file's string value.
QString Unescape(const QString& value)
{
    QString text;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value.at(i) != u'\\' || i + 1 >= value.size()) {
            text += value.at(i);
            continue;
        }
        const QChar c = value.at(++i);
        switch (c.unicode()) {
        case u's':
            text += u' ';
            break;
        case u'n':
            text += u'\n';
            break;
        case u't':
            text += u'\t';
            break;
        case u'r':
            text += u'\r';
            break;
        case u'\\':
            text += u'\\';
            break;
        default:
            // Left for the quoting rules, which read \" and the like inside quotes.
            text += u'\\';
            text += c;
        }
    }
    return text;
}

// Waits for nothing: the program runs in a grandchild that this process never sees again. The
// child reports through a pipe that closes on a successful exec, so a failed start comes back
// with its errno. Only calls that are safe between fork and exec run in the children.
int SpawnDetached(const QByteArray& program, const QList<QByteArray>& arguments,
                  const QByteArray& folder)
{
    std::vector<char*> argv;
    for (const QByteArray& argument : arguments)
        argv.push_back(const_cast<char*>(argument.constData()));
    argv.push_back(nullptr);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return errno;
    const pid_t child = fork();
    if (child < 0) {
        const int error = errno;
        close(report[0]);
        close(report[1]);
        return error;
    }
    if (child == 0) {
        close(report[0]);
        setsid();
        const pid_t grandchild = fork();
        if (grandchild != 0) {
            if (grandchild < 0) {
                const int error = errno;
                (void)!write(report[1], &error, sizeof error);
            }
            _exit(0);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        if (!folder.isEmpty()) (void)!chdir(folder.constData());
        execv(program.constData(), argv.data());
        const int error = errno;
        (void)!write(report[1], &error, sizeof error);
        _exit(127);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    while ((got = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

} // namespace

namespace DesktopApps {

std::optional<TDesktopApp> ForType(const QMimeType& type)
{
    if (!type.isValid()) return std::nullopt;
    QList<TKeyFile> lists;
    for (const QString& path : MimeAppsLists())
        if (QFileInfo::exists(path)) lists << ReadKeyFile(path);
    TEntries entries;
    const QMimeDatabase database;
    QStringList order{type.name()};
    for (const QString& ancestor : type.allAncestors())
        if (ancestor != QLatin1String("application/octet-stream") && !order.contains(ancestor))
            order << ancestor;
    for (const QString& name : order) {
        const QMimeType t = database.mimeTypeForName(name);
        QStringList names{name};
        if (t.isValid()) names += t.aliases();
        if (auto app = ForNames(names, lists, entries)) return app;
    }
    return std::nullopt;
}

QList<QByteArray> CommandLine(const TDesktopApp& app, const QString& file)
{
    QStringList words;
    if (!SplitExec(Unescape(app.Exec), words)) return {};
    const QByteArray path = FileNames::Encode(file);
    const QByteArray url = "file://" + QUrl::toPercentEncoding(path, "/");
    QList<QByteArray> arguments;
    bool fileGiven = false;
    for (const QString& word : words) {
        // Codes that stand for whole arguments.
        if (word == QLatin1String("%f") || word == QLatin1String("%F")) {
            arguments << path;
            fileGiven = true;
            continue;
        }
        if (word == QLatin1String("%u") || word == QLatin1String("%U")) {
            arguments << url;
            fileGiven = true;
            continue;
        }
        // The entry's icon is not passed on; the deprecated codes are dropped.
        static const QStringList dropped{"%i", "%d", "%D", "%n", "%N", "%v", "%m"};
        if (dropped.contains(word)) continue;
        // Codes inside a word; the deprecated ones and unknown ones are dropped.
        QByteArray argument;
        for (qsizetype i = 0; i < word.size(); ++i) {
            if (word.at(i) != u'%' || i + 1 >= word.size()) {
                argument += QString(word.at(i)).toUtf8();
                continue;
            }
            switch (word.at(++i).unicode()) {
            case u'%':
                argument += '%';
                break;
            case u'f':
            case u'F':
                argument += path;
                fileGiven = true;
                break;
            case u'u':
            case u'U':
                argument += url;
                fileGiven = true;
                break;
            case u'c':
                argument += app.Name.toUtf8();
                break;
            case u'k':
                argument += FileNames::Encode(app.File);
                break;
            default:
                break;
            }
        }
        arguments << argument;
    }
    if (arguments.isEmpty() || arguments.front().isEmpty()) return {};
    // An entry without a file code still gets the file, as the desktops do it.
    if (!fileGiven) arguments << path;
    if (app.Terminal) {
        const QString terminal = FindProgram(QStringLiteral("x-terminal-emulator"));
        if (!terminal.isEmpty())
            arguments = QList<QByteArray>{QFile::encodeName(terminal), "-e"} + arguments;
    }
    return arguments;
}

TOpenResult Open(const QString& file)
{
    TOpenResult result;
    if (!FileNames::Exists(file)) {
        result.Outcome = TOpenOutcome::NoFile;
        return result;
    }
    result.Type = QMimeDatabase().mimeTypeForFile(file);
    const std::optional<TDesktopApp> app = ForType(result.Type);
    if (!app) {
        result.Outcome = TOpenOutcome::NoApp;
        return result;
    }
    result.App = *app;
    const QList<QByteArray> arguments = CommandLine(*app, file);
    result.Program = arguments.isEmpty() ? app->Exec : QFile::decodeName(arguments.front());
    const QString program = FindProgram(result.Program);
    if (arguments.isEmpty() || program.isEmpty()) {
        result.Outcome = TOpenOutcome::NoProgram;
        return result;
    }
    // The application starts in the home folder, never in wherever this program was started.
    result.Error =
        SpawnDetached(QFile::encodeName(program), arguments, QFile::encodeName(QDir::homePath()));
    result.Outcome = result.Error == 0 ? TOpenOutcome::Started : TOpenOutcome::Failed;
    return result;
}

} // namespace DesktopApps
