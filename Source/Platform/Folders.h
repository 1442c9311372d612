#pragma once

#include <QString>

// The folders the program works with. Each folder text ends with "/". A special folder that
// cannot be looked up yields an empty prefix, so the derived folder becomes relative to the
// current directory, as the program has always behaved.
namespace Folders {

// The program file itself and its folder (the executable's, not the current directory).
QString ProgramFile();
QString ProgramFolder();

// The program file's path with its extension replaced by ".ini". When the program folder
// cannot be written (an installed copy), the same file name in the user's configuration folder
// "$XDG_CONFIG_HOME/vAdaziv/" is used instead. Decided once per process.
QString SettingsFileName();

// The user's documents folder followed by "vAdaziv/"; computed once, created with missing
// parents on first use.
QString DataFolder();

// The user's cache folder followed by "vAdaziv/UpdateCache/"; computed once, created with
// missing parents on first use.
QString UpdateCacheFolder();

// The user's cache folder followed by "vAdaziv/BookInfo/", where what was read from books is
// remembered; computed once, created with missing parents on first use.
QString BookCacheFolder();

// The store browser's own storage: "$XDG_DATA_HOME/vAdaziv/Browser/" for cookies and local
// storage, "$XDG_CACHE_HOME/vAdaziv/Browser/" for its cache. Computed once, created on first use.
QString BrowserDataFolder();
QString BrowserCacheFolder();

// Trims blanks and appends "/" unless the text is empty or already ends in one.
QString IncludeTrailingSlash(const QString& folder);

// Replaces the extension of the last path component (or appends one when there is none).
QString ChangeFileExt(const QString& path, const QString& ext);

} // namespace Folders
