#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

// Builds real folder trees in a temporary directory.
inline void MakeFile(const QString& path, const QByteArray& bytes = "book")
{
    QDir().mkpath(path.left(path.lastIndexOf(u'/')));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << qPrintable(path);
    f.write(bytes);
}

inline void MakeFolder(const QString& path)
{
    ASSERT_TRUE(QDir().mkpath(path)) << qPrintable(path);
}

// Points XDG_DATA_HOME, below which the trash lies, at `folder` while it lives: whoever runs a
// test that moves files to the trash, and from wherever, they land in the test's own folder.
class TOwnTrash
{
public:
    explicit TOwnTrash(const QString& folder)
        : FWasSet(qEnvironmentVariableIsSet("XDG_DATA_HOME")), FSaved(qgetenv("XDG_DATA_HOME"))
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(folder));
    }
    ~TOwnTrash()
    {
        if (FWasSet)
            qputenv("XDG_DATA_HOME", FSaved);
        else
            qunsetenv("XDG_DATA_HOME");
    }
    TOwnTrash(const TOwnTrash&) = delete;
    TOwnTrash& operator=(const TOwnTrash&) = delete;

private:
    bool FWasSet;
    QByteArray FSaved;
};

inline QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

template <typename TList> QStringList NamesOf(const TList& list)
{
    QStringList names;
    for (int i = 0; i < list.Count(); ++i)
        names << list[i]->Name();
    names.sort();
    return names;
}

// A file size limit for the life of the object, standing in for a full disk or an unplugged
// reader: writes past `bytes` fail (with EFBIG; the signal is ignored meanwhile).
class TFileSizeLimit
{
public:
    explicit TFileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &FSaved);
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = FSaved;
        small.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~TFileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &FSaved);
        signal(SIGXFSZ, SIG_DFL);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    struct rlimit FSaved;
};
