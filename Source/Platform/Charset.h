#pragma once

#include <QByteArray>
#include <QString>

// Pages from the store declare their own character set, and it is not always ours: a reply may
// come in GBK, UTF-8 or anything else a web server is set up with. This turns such bytes into
// text by the declared name.
namespace Charset {

// Decodes `bytes` in the character set called `name` (case and blanks ignored). Names of the
// GBK family and an empty or unknown name decode as code page 936, the system's own.
QString Decode(const QByteArray& bytes, const QByteArray& name);

// True when `name` is a character set this module can decode by name.
bool IsKnown(const QByteArray& name);

} // namespace Charset
