#pragma once

#include "Categories.h"
#include "uMsgDlg.h"

#include <QDir>
#include <QFile>
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
