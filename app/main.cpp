// The program's entry point.

#include "browser/clientapp.h"
#include "browser/clienthandler.h"
#include "cefapplication.h"
#include "quit.h"
#include "weblog/weblog.h"

#include <QFileInfo>

int main(int argc, char* argv[]) {
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
    {
        cefApplication app(argc, argv);
        weblog::install();
        if (!quit::requested()) {
            app.start();
            // The hand-over may already have decided to end before the loop runs.
            if (!quit::requested())
                exitCode = app.exec();
        }
        weblog::uninstall();
    }
    delete handler;
    return exitCode;
}
