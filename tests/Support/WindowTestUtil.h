#pragma once

#include "Categories.h"
#include "uMsgDlg.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QStringList>
#include <QtTest>

#include <deque>
#include <functional>

// Helpers of the tests that drive the real main window.

inline void MakeFile(const QString& path, const QByteArray& bytes = "book")
{
    QDir().mkpath(path.left(path.lastIndexOf(u'/')));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Answers message boxes in order and records what they said; a step can run inside the answer,
// where the box would pump events.
struct TAnswers
{
    std::deque<int> Queue;
    QStringList Texts;
    std::function<void(const QString&)> OnAsk;
    TAnswers()
    {
        SetMessageBoxAnswer([this](const QString& text, const QString&, unsigned) {
            Texts << text;
            if (OnAsk) OnAsk(text);
            if (Queue.empty()) return int(mrOk);
            const int answer = Queue.front();
            Queue.pop_front();
            return answer;
        });
    }
    ~TAnswers() { SetMessageBoxAnswer(nullptr); }
};

// Whether `item` is listed anywhere in the loaded model; compares addresses only, so it can be
// asked of a pointer that may be stale.
inline bool Known(TCategory* category, const TFileItem* item)
{
    for (int i = 0; i < category->ItemCount(); ++i)
        if (category->Items()[i] == item) return true;
    for (int i = 0; i < category->CategoryCount(); ++i)
        if (Known(category->Category(i), item)) return true;
    return false;
}

// Every file below the folders, each with a hash of its contents: two snapshots that differ show
// which files a step changed, added or removed.
inline QMap<QString, QByteArray> FileSnapshot(const QStringList& folders)
{
    QMap<QString, QByteArray> files;
    for (const QString& folder : folders) {
        QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile f(path);
            files.insert(path, f.open(QIODevice::ReadOnly)
                                   ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Md5)
                                   : QByteArray("?"));
        }
    }
    return files;
}
