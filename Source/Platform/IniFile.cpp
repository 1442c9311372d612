#include "IniFile.h"

#include "AtomicFile.h"
#include "Codec936.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <climits>

namespace {

// Names compare without regard to case: folded, they can serve as hash keys.
QString Folded(const QString& name)
{
    return name.toCaseFolded();
}

QString KeyOf(const QString& foldedSection, const QString& key)
{
    return foldedSection + u'\n' + Folded(key);
}

// A line break or a NUL inside a name or value would split the line and let the value forge
// other keys; they become blanks.
QString OneLine(QString text)
{
    for (QChar& c : text)
        if (c == u'\r' || c == u'\n' || c == QChar(0)) c = u' ';
    return text;
}

QString Unquote(const QString& value)
{
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == u'"' || first == u'\'') && value.back() == first)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

// Quotes a value whose blanks at either end would otherwise be trimmed away on reading, or
// that would itself be mistaken for a quoted value.
QString QuoteIfNeeded(const QString& value)
{
    if (value.isEmpty()) return value;
    const bool padded = value.front().isSpace() || value.back().isSpace();
    const bool looksQuoted = value.size() >= 2 &&
                             (value.front() == u'"' || value.front() == u'\'') &&
                             value.back() == value.front();
    return padded || looksQuoted ? u'"' + value + u'"' : value;
}

bool ParseInteger(QString text, int& result)
{
    text = text.trimmed();
    bool negative = false;
    if (text.startsWith(u'-') || text.startsWith(u'+')) {
        negative = text.front() == u'-';
        text.remove(0, 1);
    }
    int base = 10;
    if (text.startsWith(u'$')) {
        base = 16;
        text.remove(0, 1);
    } else if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        text.remove(0, 2);
    }
    if (text.isEmpty() || text.front() == u'-' || text.front() == u'+') return false;
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok, base);
    if (!ok) return false;
    const qlonglong signedValue = negative ? -v : v;
    if (signedValue < INT_MIN || signedValue > INT_MAX) return false;
    result = static_cast<int>(signedValue);
    return true;
}

} // namespace

TIniFile::TIniFile(const QString& fileName) : FFileName(fileName)
{
    // Only a regular file is read: a folder holds no settings, and a pipe or a device would
    // block the start or never end.
    if (fileName.isEmpty() || !QFileInfo(fileName).isFile()) return;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) return;
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        FUtf8Bom = true;
        SetText(QString::fromUtf8(bytes.mid(3)));
    } else {
        SetText(Cp936::ToUnicode(bytes));
    }
    FModified = false;
}

TIniFile::TLine TIniFile::ParseLine(const QString& raw)
{
    TLine line;
    line.Raw = raw;
    const QString t = raw.trimmed();
    if (t.isEmpty() || t.startsWith(u';')) return line;
    if (t.startsWith(u'[')) {
        const qsizetype close = t.indexOf(u']');
        if (close > 0) {
            line.IsSection = true;
            line.Section = t.mid(1, close - 1).trimmed();
        }
        return line;
    }
    const qsizetype eq = t.indexOf(u'=');
    if (eq > 0) {
        const QString key = t.left(eq).trimmed();
        if (!key.isEmpty()) {
            line.IsKey = true;
            line.Key = key;
        }
    }
    return line;
}

void TIniFile::SetText(const QString& text)
{
    FLines.clear();
    Changed();
    FLineBreak =
        text.contains(QLatin1String("\r\n")) ? QStringLiteral("\r\n") : QStringLiteral("\n");
    QStringList rows = text.split(u'\n');
    if (!rows.isEmpty() && rows.back().isEmpty()) rows.removeLast(); // the final line break
    for (QString& row : rows) {
        if (row.endsWith(u'\r')) row.chop(1);
        FLines.append(ParseLine(row));
    }
    FModified = true;
}

QString TIniFile::Text() const
{
    QString text;
    for (const TLine& line : FLines)
        text += line.Raw + FLineBreak;
    return text;
}

void TIniFile::BuildIndex() const
{
    if (FIndexValid) return;
    FSectionIndex.clear();
    FKeyIndex.clear();
    QString section;
    bool first = false; // inside the first section of its name
    for (qsizetype i = 0; i < FLines.size(); ++i) {
        const TLine& line = FLines[i];
        if (line.IsSection) {
            section = Folded(line.Section);
            first = !FSectionIndex.contains(section);
            if (first) FSectionIndex.insert(section, i);
        } else if (line.IsKey && first) {
            const QString key = KeyOf(section, line.Key);
            if (!FKeyIndex.contains(key)) FKeyIndex.insert(key, i);
        }
    }
    FIndexValid = true;
}

qsizetype TIniFile::FindSection(const QString& section) const
{
    BuildIndex();
    return FSectionIndex.value(Folded(section.trimmed()), -1);
}

qsizetype TIniFile::SectionEnd(qsizetype header) const
{
    qsizetype i = header + 1;
    while (i < FLines.size() && !FLines[i].IsSection)
        ++i;
    return i;
}

qsizetype TIniFile::FindKey(const QString& section, const QString& key) const
{
    BuildIndex();
    return FKeyIndex.value(KeyOf(Folded(section.trimmed()), key.trimmed()), -1);
}

bool TIniFile::ReadValue(const QString& section, const QString& key, QString& value) const
{
    const qsizetype i = FindKey(section, key);
    if (i < 0) return false;
    const QString t = FLines[i].Raw.trimmed();
    value = Unquote(t.mid(t.indexOf(u'=') + 1).trimmed());
    return true;
}

bool TIniFile::SectionExists(const QString& section) const
{
    return FindSection(section) >= 0;
}

bool TIniFile::ValueExists(const QString& section, const QString& key) const
{
    return FindKey(section, key) >= 0;
}

QStringList TIniFile::ReadSections() const
{
    QStringList names;
    QSet<QString> seen;
    for (const TLine& line : FLines)
        if (line.IsSection && !seen.contains(Folded(line.Section))) {
            seen.insert(Folded(line.Section));
            names.append(line.Section);
        }
    return names;
}

QStringList TIniFile::ReadSection(const QString& section) const
{
    QStringList keys;
    const qsizetype header = FindSection(section);
    if (header < 0) return keys;
    const qsizetype end = SectionEnd(header);
    QSet<QString> seen;
    for (qsizetype i = header + 1; i < end; ++i)
        if (FLines[i].IsKey && !seen.contains(Folded(FLines[i].Key))) {
            seen.insert(Folded(FLines[i].Key));
            keys.append(FLines[i].Key);
        }
    return keys;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& def) const
{
    QString value;
    return ReadValue(section, key, value) ? value : def;
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int def) const
{
    QString text;
    int value = 0;
    if (ReadValue(section, key, text) && ParseInteger(text, value)) return value;
    return def;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    const QString sectionName = OneLine(section).trimmed();
    const QString keyName = OneLine(key).trimmed();
    const QString raw = keyName + u'=' + QuoteIfNeeded(OneLine(value));
    FModified = true;

    const qsizetype at = FindKey(sectionName, keyName);
    if (at >= 0) {
        FLines[at] = ParseLine(raw); // same key, same place: the index still holds
        return;
    }
    qsizetype header = FindSection(sectionName);
    // Lines are added below: the index no longer holds.
    Changed();
    if (header < 0) {
        FLines.append(ParseLine(u'[' + sectionName + u']'));
        FLines.append(ParseLine(raw));
        return;
    }
    // After the section's last key, so blank lines that separate sections stay where they are.
    qsizetype insertAt = header + 1;
    const qsizetype end = SectionEnd(header);
    for (qsizetype i = header + 1; i < end; ++i)
        if (!FLines[i].Raw.trimmed().isEmpty()) insertAt = i + 1;
    FLines.insert(insertAt, ParseLine(raw));
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int value)
{
    WriteString(section, key, QString::number(value));
}

void TIniFile::WriteBool(const QString& section, const QString& key, bool value)
{
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TIniFile::DeleteKey(const QString& section, const QString& key)
{
    const qsizetype at = FindKey(section, key);
    if (at < 0) return;
    FLines.removeAt(at);
    Changed();
    FModified = true;
}

void TIniFile::EraseSection(const QString& section)
{
    const qsizetype header = FindSection(section);
    if (header < 0) return;
    FLines.remove(header, SectionEnd(header) - header);
    Changed();
    FModified = true;
}

bool TIniFile::UpdateFile()
{
    const QString text = Text();
    const QByteArray bytes =
        FUtf8Bom ? QByteArray("\xEF\xBB\xBF") + text.toUtf8() : Cp936::FromUnicode(text);
    if (!WriteFileAtomically(FFileName, bytes)) return false;
    FModified = false;
    return true;
}
