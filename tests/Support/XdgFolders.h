#pragma once

#include <QDir>
#include <QFile>
#include <QString>

#include <map>

// Points the XDG configuration and data folders (and the current desktop) at folders below
// `root` while it lives, so that the desktop's applications and associations are only those a
// test writes there: config/, etc/, data/ and system/ (each with applications/ for entries).
// The types of files still come from the machine's MIME database, linked in as system/mime.
class TXdgFolders
{
public:
    explicit TXdgFolders(const QString& root) : FRoot(root)
    {
        const QString mime = MachineMimeFolder();
        const std::pair<const char*, QString> values[] = {{"XDG_CONFIG_HOME", Path("config")},
                                                          {"XDG_CONFIG_DIRS", Path("etc")},
                                                          {"XDG_DATA_HOME", Path("data")},
                                                          {"XDG_DATA_DIRS", Path("system")},
                                                          {"XDG_CURRENT_DESKTOP", "Test"}};
        for (const auto& [name, value] : values) {
            FSaved[name] = {qEnvironmentVariableIsSet(name), qgetenv(name)};
            qputenv(name, QFile::encodeName(value));
        }
        QDir().mkpath(Path("system"));
        QFile::link(mime, Path("system/mime"));
    }
    ~TXdgFolders()
    {
        for (const auto& [name, saved] : FSaved)
            if (saved.first)
                qputenv(name.constData(), saved.second);
            else
                qunsetenv(name.constData());
    }
    TXdgFolders(const TXdgFolders&) = delete;
    TXdgFolders& operator=(const TXdgFolders&) = delete;

    QString Path(const QString& rest) const { return FRoot + u'/' + rest; }

    // Writes a file below the root, making its folders.
    void Write(const QString& rest, const QByteArray& text) const
    {
        const QString path = Path(rest);
        QDir().mkpath(path.left(path.lastIndexOf(u'/')));
        QFile f(path);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(text);
    }

    // A desktop entry in `folder` ("data" or "system") under its id; an id "vendor-app.desktop"
    // lies in vendor/, as ids of entries in subfolders are made.
    void Entry(const QString& folder, const QString& id, const QString& name, const QString& exec,
               const QByteArray& more = {}) const
    {
        QString file = id;
        file.replace(u'-', u'/');
        Write(folder + "/applications/" + file,
              "[Desktop Entry]\nType=Application\nName=" + name.toUtf8() +
                  "\nExec=" + exec.toUtf8() + "\n" + more);
    }

    // A program below the root that writes its arguments, one a line, to "<program>.args".
    QString Recorder(const QString& rest) const
    {
        Write(rest, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\n");
        QFile::setPermissions(Path(rest), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return Path(rest);
    }

private:
    // The machine's shared MIME database, under the data folders as the process found them.
    static QString MachineMimeFolder()
    {
        static const QString folder = [] {
            QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
            if (dirs.isEmpty()) dirs = QStringLiteral("/usr/local/share:/usr/share");
            for (const QString& dir : dirs.split(u':', Qt::SkipEmptyParts))
                if (QFile::exists(dir + "/mime/mime.cache")) return dir + "/mime";
            return QStringLiteral("/usr/share/mime");
        }();
        return folder;
    }

    QString FRoot;
    std::map<QByteArray, std::pair<bool, QByteArray>> FSaved;
};
