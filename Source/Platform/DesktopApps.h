#pragma once

#include <QByteArray>
#include <QList>
#include <QMimeType>
#include <QString>
#include <QStringList>

#include <optional>

// An application as its desktop entry describes it.
struct TDesktopApp
{
    QString Id;   // the desktop file id, "org.example.Reader.desktop"
    QString File; // where the entry lies
    QString Name; // its name, in Chinese when the entry has one
    QString Exec; // the command line template, with its field codes
    bool Terminal = false;
};

// Opening a file the way the desktop's file manager would: with the application that the
// desktop's MIME associations (mimeapps.list and the entries' MimeType keys, under the XDG
// folders of the environment as it is at the call) give for the file's type. The lookup is
// done here rather than by a launcher program, so that "no application for this type" and
// "the application would not start" can be told apart and named, which a launcher's exit code
// does not allow; and a file name that is not UTF-8 reaches the application byte for byte.
namespace DesktopApps {

// The application for files of `type`: the desktop's default for it, else the first
// application associated with it; failing both, the same for each of its ancestors (not
// application/octet-stream, which every type descends from). Entries that are hidden, lack a
// command, or whose TryExec program is missing do not count.
std::optional<TDesktopApp> ForType(const QMimeType& type);

// The program and its arguments that open `file` with `app` (its Exec with the field codes
// filled in, run in a terminal when the entry asks for one), as bytes for the system; empty
// when the command line is malformed.
QList<QByteArray> CommandLine(const TDesktopApp& app, const QString& file);

enum class TOpenOutcome
{
    Started,   // the application runs, on its own
    NoFile,    // the file is not there
    NoApp,     // no application is set for the file's type
    NoProgram, // the application's program cannot be found
    Failed     // the program was found but did not start; see Error
};

struct TOpenResult
{
    TOpenOutcome Outcome = TOpenOutcome::Failed;
    QMimeType Type;  // the file's type
    TDesktopApp App; // the application chosen (unless NoFile or NoApp)
    QString Program; // the program it runs (NoProgram, Failed)
    int Error = 0;   // errno of the failed start (Failed)
};

// Opens `file` with the application for its type, detached from this process.
TOpenResult Open(const QString& file);

} // namespace DesktopApps
