#include "uAboutForm.h"

#include "Codec936.h"
#include "DialogPlacement.h"
#include "vindra.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QRadialGradient>

#include <cstring>
#include <memory>

bool ReadVersionInfo(const QString& programPath, QString& text1, QString& text2, QString& text3)
{
    text1.clear();
    text2.clear();
    text3.clear();
    auto buffer1 = std::make_unique<char[]>(VINDRA_TEXT1_SIZE);
    auto buffer2 = std::make_unique<char[]>(VINDRA_TEXT2_SIZE);
    auto buffer3 = std::make_unique<char[]>(VINDRA_TEXT3_SIZE);
    std::memset(buffer1.get(), 0, VINDRA_TEXT1_SIZE);
    std::memset(buffer2.get(), 0, VINDRA_TEXT2_SIZE);
    std::memset(buffer3.get(), 0, VINDRA_TEXT3_SIZE);
    const QByteArray path = QFile::encodeName(programPath);
    const bool ok =
        GetVersionInfo(path.constData(), buffer1.get(), buffer2.get(), buffer3.get()) != 0;
    if (ok) {
        // The library promises terminated texts; the last byte is forced anyway.
        buffer1[VINDRA_TEXT1_SIZE - 1] = buffer2[VINDRA_TEXT2_SIZE - 1] =
            buffer3[VINDRA_TEXT3_SIZE - 1] = 0;
        text1 = Cp936::ToUnicode(buffer1.get(), qsizetype(std::strlen(buffer1.get())));
        text2 = Cp936::ToUnicode(buffer2.get(), qsizetype(std::strlen(buffer2.get())));
        text3 = Cp936::ToUnicode(buffer3.get(), qsizetype(std::strlen(buffer3.get())));
    }
    return ok;
}

QImage TAboutForm::BackgroundPicture()
{
    QImage image(454, 291, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 291);
    sky.setColorAt(0, QColor(236, 243, 250));
    sky.setColorAt(0.6, QColor(206, 222, 240));
    sky.setColorAt(1, QColor(176, 198, 226));
    p.fillRect(image.rect(), sky);

    // A band of light across the upper part, behind the name.
    QRadialGradient glow(120, 100, 220);
    glow.setColorAt(0, QColor(255, 255, 255, 170));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(image.rect(), glow);

    // A reader seen at a slant on the right: body, screen and lines of text.
    p.save();
    p.translate(330, 150);
    p.rotate(-8);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 66, 78, 60));
    p.drawRoundedRect(QRectF(-52, -78, 112, 168), 12, 12);
    p.setBrush(QColor(72, 80, 96));
    p.drawRoundedRect(QRectF(-56, -84, 112, 168), 12, 12);
    p.setBrush(QColor(232, 232, 224));
    p.drawRect(QRectF(-44, -70, 88, 124));
    p.setPen(QPen(QColor(150, 150, 142), 2));
    for (int i = 0; i < 9; ++i) {
        const qreal y = -60 + i * 12;
        p.drawLine(QPointF(-36, y), QPointF(i % 4 == 3 ? 8 : 36, y));
    }
    p.restore();

    // Two thin rules framing the notice line.
    p.setPen(QPen(QColor(120, 144, 176), 1));
    p.drawLine(20, 246, 434, 246);
    p.drawLine(20, 274, 434, 274);
    return image;
}

TAboutForm::TAboutForm(QWidget* owner, bool aboutMode, const QString& programPath)
    : QDialog(owner ? owner : ProgramMainWindow(), Qt::Dialog | Qt::FramelessWindowHint),
      FAboutMode(aboutMode)
{
    const QImage picture = BackgroundPicture();
    setFixedSize(picture.size());
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(QPixmap::fromImage(picture));
    Image1->setGeometry(QRect(QPoint(0, 0), picture.size()));

    auto label = [this](const char* name, const QString& text) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QString::fromLatin1(name));
        l->setTextFormat(Qt::PlainText);
        l->setAutoFillBackground(false); // the picture shows through
        l->installEventFilter(this);
        return l;
    };
    NameLabel = label("NameLabel", QStringLiteral("KeltoVarnix"));
    QFont nameFont = NameLabel->font();
    nameFont.setBold(true);
    nameFont.setPixelSize(19);
    NameLabel->setFont(nameFont);
    NameLabel->adjustSize();
    NameLabel->move(20, 96);

    VerLabel = label("VerLabel", QStringLiteral("1.0.0"));
    QFont verFont = VerLabel->font();
    verFont.setBold(true);
    VerLabel->setFont(verFont);
    PVerLabel = label("PVerLabel", QString());
    CopyLabel = label("CopyLabel", QStringLiteral("Copyright (C) vAdaziv. 保留所有权利。"));
    CopyLabel->setGeometry(20, 253, 401, 17);
    Image1->installEventFilter(this);

    if (FAboutMode) {
        NameLabel->setText(QStringLiteral("KeltoVarnix"));
        NameLabel->adjustSize();
        CopyLabel->setVisible(true);
        QString text1, text2, text3;
        const QString path =
            programPath.isEmpty() ? QCoreApplication::applicationFilePath() : programPath;
        if (ReadVersionInfo(path, text1, text2, text3)) {
            VerLabel->setText(text1);
            PVerLabel->setText(text2);
        }
    }
    VerLabel->adjustSize();
    VerLabel->move(20, 121);
    PVerLabel->adjustSize();
    PVerLabel->move(VerLabel->x() + VerLabel->width() + 8, 123);
    CentreDialog(this);
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TAboutForm::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    accept();
}
