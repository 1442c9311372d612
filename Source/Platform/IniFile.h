#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// An INI file read and written with the Windows profile rules: section and key names ignore
// case, names and values are trimmed, the first matching section and key win, and a value in
// matching quotes is unquoted. The whole file is held as its lines, so writing a key keeps
// every comment, unknown line and the order of the file. UpdateFile replaces the file
// atomically: a crash or a full disk never leaves a truncated file behind.
//
// Text on disk is code page 936 (GB18030); a file that starts with a UTF-8 byte order mark is
// read as UTF-8 and written back the same way.
class TIniFile
{
public:
    // Reads the file now; a file that does not exist or cannot be read is an empty file.
    explicit TIniFile(const QString& fileName);

    const QString& FileName() const { return FFileName; }

    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;
    QStringList ReadSections() const;
    // Key names of the first matching section, in file order, each once.
    QStringList ReadSection(const QString& section) const;

    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    // Decimal, or hexadecimal with "$" or "0x"; anything else (or out of range) gives def.
    int ReadInteger(const QString& section, const QString& key, int def) const;
    // True for a non-zero integer; a value that is no integer gives def.
    bool ReadBool(const QString& section, const QString& key, bool def) const;

    // Writes change the lines in memory; UpdateFile puts them on disk.
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);
    void WriteBool(const QString& section, const QString& key, bool value);
    void DeleteKey(const QString& section, const QString& key);
    void EraseSection(const QString& section);

    bool Modified() const { return FModified; }
    // Writes a temporary file beside the target, flushes it and renames it over the target.
    // On failure the old file is untouched and false is returned.
    bool UpdateFile();

    // Parses text that is already in memory (tests, files shipped in other containers).
    void SetText(const QString& text);
    QString Text() const;

private:
    struct TLine
    {
        QString Raw;     // the line as it stands in the file, without its line break
        QString Section; // for a section header: its name
        QString Key;     // for a key line: its trimmed name
        bool IsSection = false;
        bool IsKey = false;
    };

    static TLine ParseLine(const QString& raw);
    // Index of the header of the first section named `section`, -1 when absent.
    qsizetype FindSection(const QString& section) const;
    // End of the section whose header is at `header`: the index of the next header or the
    // line count.
    qsizetype SectionEnd(qsizetype header) const;
    qsizetype FindKey(const QString& section, const QString& key) const;
    bool ReadValue(const QString& section, const QString& key, QString& value) const;

    // Where the first section of each name and the first key of each name in it stand, so
    // that look-ups cost the same in a file of a hundred thousand keys as in a small one.
    // Built on the first look-up after a change.
    void BuildIndex() const;
    void Changed() { FIndexValid = false; }

    QString FFileName;
    QList<TLine> FLines;
    mutable bool FIndexValid = false;
    mutable QHash<QString, qsizetype> FSectionIndex; // folded section name -> header line
    mutable QHash<QString, qsizetype> FKeyIndex;     // folded section "\n" folded key -> line
    QString FLineBreak = QStringLiteral("\n");
    bool FUtf8Bom = false;
    bool FModified = false;
};
