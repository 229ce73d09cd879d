// The program's entry point.

#include "browser/clientapp.h"
#include "browser/clienthandler.h"
#include "cefapplication.h"
#include "crashhandler.h"
#include "online/updateinstall.h"
#include "platform/crash.h"
#include "quit.h"
#include "weblog/startuptrace.h"
#include "weblog/weblog.h"

#include <QFileInfo>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    startuptrace::mark("main entered");
#ifdef Q_OS_LINUX
    // The engine's sandbox cannot start for the superuser; without this the window stays empty.
    if (QFileInfo(QStringLiteral("/proc/self")).ownerId() == 0 &&
        qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
#endif
    ClientApp::prepareEnvironment();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    auto* handler = new ClientHandler(arguments);

    int exitCode = 0;
    QString programFolder;
    {
        cefApplication app(argc, argv);
        programFolder = QCoreApplication::applicationDirPath();
        // Before the single-instance check, so a crash in any later step is reported.
        crashhandler::install(QCoreApplication::applicationDirPath());
        crashhandler::setReporter(QStringLiteral("CrashReporter"),
                                  QCoreApplication::applicationDirPath());
        // A hidden switch to try the crash handling end to end.
        if (arguments.contains(QStringLiteral("-crashtest")))
            platform::crash::crashNow();
        weblog::install();
        if (!quit::requested()) {
            startuptrace::mark("application ready");
            app.start();
            // The hand-over may already have decided to end before the loop runs.
            if (!quit::requested())
                exitCode = app.exec();
        }
    }
    delete handler;
    // A program update confirmed while the program ran is applied now that nothing holds its
    // files.
    updateinstall::startUpdaterIfRequested(programFolder);
    weblog::uninstall();
    if (quit::workLeftRunning()) {
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    return exitCode;
}
