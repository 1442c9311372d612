// Shows the thumbnail grid with a dozen generated books, for looking at it on a real display:
// covers, shadows, names, authors, a selection, a hot cell, a missing book and one without a
// cover. Closes after the number of seconds given as its argument (default: stays open).
#include "GeneratedBooks.h"
#include "rkView.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TrkView view;
    TThumbnailPainter painter(DemoSkin());
    std::vector<std::unique_ptr<TGeneratedBook>> books;
    for (int i = 0; i < 12; ++i)
        books.push_back(std::make_unique<TGeneratedBook>(i, i != 6, i == 10));
    painter.OnGetItem = [&books](TrkView*, int64_t value) -> TThumbnailBook* {
        return value >= 0 && value < int64_t(books.size()) ? books[size_t(value)].get() : nullptr;
    };
    painter.Attach(&view);
    view.SetBorderStyle(bsNone);
    view.SetMultipleSelection(true);
    view.setWindowTitle(QStringLiteral("缩略图"));
    for (int i = 0; i < 12; ++i)
        view.Items().Add(i);
    view.Selection().Add(1);
    view.Selection().Add(2);
    view.resize(850, 560);
    view.move(0, 0);
    view.show();
    view.CalcView();
    // With a second argument "band", a rubber band is dragged from the gap left of the second
    // row across two columns, to show its tint.
    if (argc > 2 && QByteArray(argv[2]) == "band") {
        QTimer::singleShot(500, &view, [&view] {
            auto send = [&view](QEvent::Type type, QPoint pos, Qt::MouseButtons buttons) {
                QMouseEvent e(type, QPointF(pos), QPointF(view.viewport()->mapToGlobal(pos)),
                              type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                              Qt::NoModifier);
                QApplication::sendEvent(view.viewport(), &e);
            };
            send(QEvent::MouseMove, QPoint(700, 100), Qt::NoButton); // a hot cell
            send(QEvent::MouseButtonPress, QPoint(165, 195), Qt::LeftButton);
            send(QEvent::MouseMove, QPoint(470, 330), Qt::LeftButton);
        });
    }
    if (argc > 1)
        QTimer::singleShot(QString::fromLocal8Bit(argv[1]).toInt() * 1000, &app,
                           &QApplication::quit);
    return app.exec();
}
