#pragma once

#include <QString>
#include <cstdint>

// A byte count as the book list shows it: "1024 B", "1.5 K", "3.25 M", up to "T".
QString FormatFileSize(std::int64_t bytes);
