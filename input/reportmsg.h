#pragma once

#include <QString>

// Types `text` into the window under the mouse cursor, one character message per UTF-16 unit;
// nothing when no window is there.
void reportMsg(const QString& text);
