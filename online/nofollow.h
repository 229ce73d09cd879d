#pragma once

#include <QString>

// True for a symbolic link or (on Windows) a junction: an entry that leads somewhere else.
bool isLinkEntry(const QString& path);

// Removes `path` and everything below it without ever following a link: a link (the path
// itself or anything below it) is removed as a link, and what it points to stays. True when
// nothing is left at `path`.
bool removeTreeNoFollow(const QString& path);

// True when a folder on the way from `root` down to `path` (both included but `root` itself) is
// a link: what the page names must not lead out of the program folder.
bool linkOnTheWay(const QString& root, const QString& path);
