#pragma once

#include <QLoggingCategory>

// One category per source name. Information lines of these go to "web.log" in the working folder,
// tagged with the source name; everything else goes to Qt's usual output.
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

// Restores the previous handler (tests).
void uninstall();

} // namespace weblog
