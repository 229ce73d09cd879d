#pragma once

#include <QString>

namespace textfile {

// Reads a text file as UTF-8 with line ends folded to "\n". Empty when it cannot be opened.
QString read(const QString& path, bool* ok = nullptr);

// Writes UTF-8 text with CR LF line ends through a temporary file that replaces the target only
// once everything is written, so a crash or a full disk leaves the old file whole.
bool writeAtomically(const QString& path, const QString& text);

} // namespace textfile
