#pragma once

#include "BookInfo.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace Summary {

// The package document ("metadata.opf") of a zipped web page: its Dublin Core metadata and
// what it says about the cover. Entry names are resolved against the document's own place.
struct THtmlzPackage
{
    QString Title;
    QStringList Authors; // creators with the author's role, or every creator when none has it
    QString Publisher;
    QStringList Subjects;
    QString Description; // plain text
    QString Created;
    QString Modified;
    QString Language;
    QString Identifier;
    QStringList CoverEntries; // the cover as the document names it, best first
    QString GuideCoverPage;   // a page the guide calls the cover (it shows the picture)
};

// Reads the package document in `bytes` found at entry `path`. What came before damage stays.
THtmlzPackage ReadHtmlzPackage(const QByteArray& bytes, const QString& path, TAbortQuery abort);

} // namespace Summary
