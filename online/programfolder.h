#pragma once

#include <QString>

// The program folder (the running executable's directory) with a trailing "/". Downloads and
// updates live under it. Tests point it elsewhere.
QString onlineProgramFolder();
void setOnlineProgramFolder(const QString& folder);
