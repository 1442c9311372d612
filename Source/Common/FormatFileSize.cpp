#include "FormatFileSize.h"

QString FormatFileSize(std::int64_t bytes)
{
    static const char* const units[] = {"B", "K", "M", "G", "T"};
    double value = static_cast<double>(bytes);
    int divisions = 0;
    while (value > 1024 && divisions < 4) {
        value /= 1024;
        ++divisions;
    }
    // "0.##": at most two decimals, no trailing zeros, no thousands separator.
    QString text = QString::number(value, 'f', 2);
    while (text.endsWith(u'0')) text.chop(1);
    if (text.endsWith(u'.')) text.chop(1);
    return text + u' ' + QLatin1String(units[divisions]);
}
