#pragma once

#include <QLoggingCategory>

// One category per source name. Information lines of these go to "web.log" in the working folder,
// tagged with the source name, in the order they were logged; a thread of the log's own writes
// them, so logging never waits for the file. Everything else goes to Qt's usual output.
Q_DECLARE_LOGGING_CATEGORY(lcDevicefilter)
Q_DECLARE_LOGGING_CATEGORY(lcCommonfiledownloader)
Q_DECLARE_LOGGING_CATEGORY(lcPspecificWnd)
Q_DECLARE_LOGGING_CATEGORY(lcPsynfiledownloader)
Q_DECLARE_LOGGING_CATEGORY(lcUpdatesystem)
Q_DECLARE_LOGGING_CATEGORY(lcSynchronizeConf)
Q_DECLARE_LOGGING_CATEGORY(lcUpdateDlg)
Q_DECLARE_LOGGING_CATEGORY(lcTavix)

namespace weblog {

// Installs the message handler. `path` defaults to "web.log" in the working folder.
void install(const QString& path = QStringLiteral("web.log"));

// While one lives, the lines its thread logs wake the writer only when it goes: a thread on a
// latency path (the capture loop, for each stroke) wakes it after the stroke, not within it.
class HoldWrites {
public:
    HoldWrites();
    ~HoldWrites();
    HoldWrites(const HoldWrites&) = delete;
    HoldWrites& operator=(const HoldWrites&) = delete;
};

// Returns once every line logged so far is in the file.
void flush();

// Restores the previous handler and writes what is left (at exit; tests).
void uninstall();

} // namespace weblog
