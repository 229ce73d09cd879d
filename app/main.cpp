// The program's entry point.

#include "browser/clientapp.h"
#include "browser/clienthandler.h"
#include "cefapplication.h"
#include "config/programfolders.h"
#include "crashhandler.h"
#include "online/updateinstall.h"
#include "platform/crash.h"
#include "quit.h"
#include "startup.h"
#include "weblog/startuptrace.h"
#include "weblog/weblog.h"

#include <QFileInfo>

#include <cstdio>
#include <cstdlib>

namespace {

// "--help" and "--version" print and end here, before any window, browser or second-instance
// hand-over.
bool answerCommandLine(int& argc, char** argv, const QStringList& arguments) {
    if (startup::commandLineReply(arguments, QString()).isEmpty())
        return false;
    QCoreApplication core(argc, argv);
    const ProgramFolders folders =
        ProgramFolders::forProgram(QCoreApplication::applicationDirPath());
    const QByteArray text = startup::commandLineReply(arguments, folders.data()).toLocal8Bit();
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    startuptrace::mark("main entered");
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (answerCommandLine(argc, argv, arguments))
        return 0;
#ifdef Q_OS_LINUX
    // The engine's sandbox cannot start for the superuser; without this the window stays empty.
    if (QFileInfo(QStringLiteral("/proc/self")).ownerId() == 0 &&
        qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
#endif
    ClientApp::prepareEnvironment();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    auto* handler = new ClientHandler(arguments);

    int exitCode = 0;
    QString binaries;
    {
        cefApplication app(argc, argv);
        const ProgramFolders& folders = app.folders();
        binaries = folders.binaries();
        if (folders.data().isEmpty()) {
            // An installed copy writes only into the user's data folder; without one it would
            // write elsewhere, so it does not start.
            std::fputs("tavix: neither XDG_DATA_HOME nor HOME names a folder for the settings\n",
                       stderr);
            quit::request();
            exitCode = 1;
        } else {
            // Before the single-instance check, so a crash in any later step is reported. Dumps
            // are the user's data; the reporter is one of the program's binaries.
            crashhandler::install(folders.data());
            crashhandler::setReporter(QStringLiteral("CrashReporter"), folders.binaries());
            // The pages the bridge serves: the program's own, wherever they were found.
            ClientApp::setProgramPages({folders.data() + QStringLiteral("/view"),
                                        folders.share() + QStringLiteral("/view")});
            // A hidden switch to try the crash handling end to end.
            if (arguments.contains(QStringLiteral("-crashtest")))
                platform::crash::crashNow();
            // A staged folder keeps its log in the working folder; an installed copy, started
            // from anywhere, in the data folder.
            if (folders.isInstalled())
                weblog::install(folders.data() + QStringLiteral("/web.log"));
            else
                weblog::install();
        }
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
    // files. Only a staged folder takes program updates, and there every folder is one.
    updateinstall::startUpdaterIfRequested(binaries);
    weblog::uninstall();
    if (quit::workLeftRunning()) {
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    return exitCode;
}
