#pragma once

#include <cstdint>
#include <QDomDocument>
#include <QString>
#include <stdexcept>

// What the caller asks the descriptor: the program's own version text (software) or the
// attached reader's version and codes (firmware). A plain record passed by value.
struct TVersionQuery
{
    char Version[32] = {}; // byte string, padded with zero bytes
    double QueryDate = 0;  // days since 1899-12-30; 0 = no date restriction checked
    uint8_t Edition = 0;
    uint8_t Model = 0;
    uint8_t Manufacturer = 0;

    // The 16-bit reader code; 0 selects the software rules.
    int ReaderCode() const { return Model * 256 + Edition; }
    void SetVersion(const QByteArray& text);
    QByteArray VersionText() const;
};

// One package offered by the descriptor.
struct TVersion
{
    QString ID;
    QString Date;
    QString Model;
    QString Edition;
    QString File;
    QString FileSize;
    QString Desc;
};

// Raised when a descriptor cannot be read or parsed.
class EVerDescError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The version descriptor published by the update server: which editions the readers are,
// which readers get firmware, and the newest package for the program or a reader. One object
// answers one question and is then dropped.
class TVerDesc
{
public:
    enum class TVersionOrder
    {
        Older,
        Same,
        Newer
    };

    // Raises EVerDescError("无法打开XML文件") when the file cannot be read or parsed.
    explicit TVerDesc(const QString& fileName);

    // The edition's display name (empty when unknown); also sets Type.
    QString GetEditionName(const TVersionQuery& query);
    // Fills result with the best package, or leaves ID and File empty. Never raises.
    void FindUpdate(const TVersionQuery& query, TVersion& result);
    static TVersionOrder CompareVersion(const QByteArray& a, const QByteArray& b);

    int Type = 1;

    // Exposed for tests and for the update flow.
    void ApplyMappings(TVersionQuery& query) const;
    bool IsSupported(const TVersionQuery& query) const;
    void PickVersion(const TVersionQuery& query, TVersion& result) const;

private:
    QDomElement Section(const QString& name) const;
    bool HasRootChildren() const;

    QDomDocument FDocument;
};
