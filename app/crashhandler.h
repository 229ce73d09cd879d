#pragma once

#include <QString>

// The program's crash handling around the platform crash handler: which reporter runs, and where
// dumps go.
namespace crashhandler {

// Resolves the reporter: an absolute path stays as it is; otherwise, when nothing of that name
// exists in the working folder, the program folder's "<name>" plus the system's program suffix.
// Stores the result for the crash handler and returns it (empty when it does not fit).
QString setReporter(const QString& name, const QString& programFolder);

// Installs the crash handler with the program folder as dump folder; once per process.
bool install(const QString& programFolder);

} // namespace crashhandler
