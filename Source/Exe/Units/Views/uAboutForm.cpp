#include "uAboutForm.h"

#include "Codec936.h"
#include "vindra.h"

#include <QFile>

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
    const bool ok = GetVersionInfo(path.constData(), buffer1.get(), buffer2.get(), buffer3.get()) != 0;
    if (ok) {
        // The library promises terminated texts; the last byte is forced anyway.
        buffer1[VINDRA_TEXT1_SIZE - 1] = buffer2[VINDRA_TEXT2_SIZE - 1] = buffer3[VINDRA_TEXT3_SIZE - 1] = 0;
        text1 = Cp936::ToUnicode(buffer1.get(), qsizetype(std::strlen(buffer1.get())));
        text2 = Cp936::ToUnicode(buffer2.get(), qsizetype(std::strlen(buffer2.get())));
        text3 = Cp936::ToUnicode(buffer3.get(), qsizetype(std::strlen(buffer3.get())));
    }
    return ok;
}
