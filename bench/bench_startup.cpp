// Start to the first answered page request: the staged program against a bare Qt WebEngine
// window whose web channel page asks one request and gets it answered (the floor). Both run as
// fresh processes, alternated, and report through a probe in their page that calls back to this
// harness when the device list request is answered and when its answer is shown (one moment for
// the bare page; two for the program's, which builds its screens in between).
//
//   bench_startup [starts of each] [stage folder...]
//
// Needs an X display. Each stage folder (default: the build's stage) is copied, so the program's
// files and settings of the run are its own; several folders (say, main's and a change's) take
// turns after each start of the bare window, so they are compared against one floor; each of the
// two has a home and a temporary folder of its own too. With
// QT_LOGGING_RULES="tavix.startup.debug=true" and `--bare <folder>` the bare window prints the
// program's start-up trace steps it shares.

#include "buildpaths.h"
#include "weblog/startuptrace.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrl>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Calls the harness twice per start, each on a port of its own: when the page has the answer to
// its device list request, and when it shows it. The program's page holds that request in
// Boot.devices and puts the state "ok" or "error" on the device list's status line only from the
// answer; the bare page's echo line changes its text on the answer, which is both moments.
QString probeScript(quint16 answeredPort, quint16 shownPort) {
    return QStringLiteral(
               "(function () {\n"
               "  var told = {};\n"
               "  function tell(port) { if (told[port]) return; told[port] = true;\n"
               "    new Image().src = 'http://127.0.0.1:' + port + '/?' + Date.now(); }\n"
               "  if (window.Boot) Boot.devices.then(function () { tell(%1); },\n"
               "                                    function () { tell(%1); });\n"
               "  function watch() {\n"
               "    var echo = document.getElementById('echo');\n"
               "    var first = echo ? echo.textContent : null;\n"
               "    function check() {\n"
               "      var status = document.getElementById('dev-status');\n"
               "      if (status && /\\b(ok|error)\\b/.test(status.className)) tell(%2);\n"
               "      if (echo && echo.textContent !== first) { tell(%1); tell(%2); }\n"
               "    }\n"
               "    new MutationObserver(check).observe(document.body, {subtree: true,"
               " childList: true, characterData: true, attributes: true});\n"
               "    check();\n"
               "  }\n"
               "  if (document.readyState === 'loading')\n"
               "    document.addEventListener('DOMContentLoaded', watch);\n"
               "  else watch();\n"
               "})();\n")
        .arg(answeredPort)
        .arg(shownPort);
}

const char kBarePage[] =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>bare</title>"
    "<script src=\"probe.js\"></script></head><body><p id=\"echo\">asking...</p><script>\n"
    "new QWebChannel(qt.webChannelTransport, function (channel) {\n"
    "  var echo = channel.objects.echo;\n"
    "  echo.answered.connect(function (id, text) {"
    " document.getElementById('echo').textContent = text; });\n"
    "  echo.query(1, JSON.stringify({funcname: 'getDevicesList'}));\n"
    "});\n"
    "</script></body></html>\n";

class Echo : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
public slots:
    void query(int id, const QString& request) { emit answered(id, request); }
signals:
    void answered(int id, const QString& text);
};

// The floor: what any program pays to show a web channel page and answer it once.
int runBare(const QString& folder) {
    startuptrace::mark("main entered");
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains("--disable-web-security"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags + " --disable-web-security");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    int argc = 1;
    char name[] = "bench_startup";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    startuptrace::mark("application object created");
    QWebEngineProfile* profile = QWebEngineProfile::defaultProfile();
    QFile channelScript(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    channelScript.open(QIODevice::ReadOnly);
    QWebEngineScript script;
    script.setName(QStringLiteral("channel"));
    script.setSourceCode(QString::fromUtf8(channelScript.readAll()));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    profile->scripts()->insert(script);
    QWebEngineView view;
    auto* page = new QWebEnginePage(profile, &view);
    QWebChannel channel;
    Echo echo;
    channel.registerObject(QStringLiteral("echo"), &echo);
    page->setWebChannel(&channel);
    view.setPage(page);
    view.resize(800, 600);
    view.show();
    page->load(QUrl::fromLocalFile(folder + QStringLiteral("/bare.html")));
    startuptrace::mark("page requested");
    QObject::connect(page, &QWebEnginePage::loadStarted,
                     [] { startuptrace::markOnce("first page load started"); });
    QObject::connect(page, &QWebEnginePage::loadFinished,
                     [] { startuptrace::markOnce("first page loaded"); });
    QObject::connect(&echo, &Echo::answered,
                     [] { startuptrace::markOnce("first page request answered"); });
    return app.exec();
}

bool copyFolder(const QString& from, const QString& to) {
    QDirIterator it(from, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = to + source.mid(from.size());
        QDir().mkpath(QFileInfo(target).path());
        if (!QFile::copy(source, target))
            return false;
        QFile(target).setPermissions(QFileInfo(source).permissions());
    }
    return true;
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

struct Moments {
    double answered = -1; // milliseconds from the start, -1: never
    double shown = -1;
};

// Takes the connections waiting on `server`; true when there was one.
bool called(QTcpServer& server) {
    bool any = false;
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        socket->deleteLater();
        any = true;
    }
    return any;
}

// Starts `program` and returns when its page called the harness on each server.
Moments timeToAnswer(QTcpServer& answered, QTcpServer& shown, const QString& program,
                     const QStringList& arguments, const QString& workingFolder) {
    QProcess process;
    process.setWorkingDirectory(workingFolder);
    // The single-instance name lives in the temporary folder: a copy of the program that runs
    // elsewhere on the machine must not take the start over. The engine's profile (cache,
    // cookies) lives under the home: two engines that share one wait on each other for seconds.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString temporary = workingFolder + QStringLiteral("/tmp");
    const QString home = workingFolder + QStringLiteral("/home");
    QDir().mkpath(temporary);
    QDir().mkpath(home);
    environment.insert(QStringLiteral("TMPDIR"), temporary);
    environment.insert(QStringLiteral("HOME"), home);
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        environment.remove(QString::fromLatin1(name));
    process.setProcessEnvironment(environment);
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    Moments m;
    while (timer.elapsed() < 30000 && (m.answered < 0 || m.shown < 0)) {
        answered.waitForNewConnection(1);
        shown.waitForNewConnection(1);
        const double now = double(timer.nsecsElapsed()) / 1e6;
        if (called(answered) && m.answered < 0)
            m.answered = now;
        if (called(shown) && m.shown < 0)
            m.shown = now;
        QCoreApplication::processEvents();
        if (process.state() == QProcess::NotRunning)
            break;
    }
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
    // A late second call of the same start must not count for the next one.
    QCoreApplication::processEvents();
    while (answered.waitForNewConnection(50) || shown.waitForNewConnection(50)) {
        called(answered);
        called(shown);
    }
    return m;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 2 && qstrcmp(argv[1], "--bare") == 0)
        return runBare(QString::fromLocal8Bit(argv[2]));
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "bench_startup: needs an X display\n");
        return 1;
    }
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication app(argc, argv);
    const int starts = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    QStringList stages;
    for (int i = 2; i < argc; ++i)
        stages << QString::fromLocal8Bit(argv[i]);
    if (stages.isEmpty())
        stages << buildpaths::resolve(TAVIX_STAGE);

    QTcpServer answeredServer;
    QTcpServer shownServer;
    if (!answeredServer.listen(QHostAddress::LocalHost) ||
        !shownServer.listen(QHostAddress::LocalHost)) {
        std::fprintf(stderr, "bench_startup: cannot listen\n");
        return 1;
    }
    const QByteArray probe =
        probeScript(answeredServer.serverPort(), shownServer.serverPort()).toUtf8();

    QTemporaryDir work;
    const QString bareFolder = work.filePath(QStringLiteral("bare"));
    QDir().mkpath(bareFolder);
    writeFile(bareFolder + QStringLiteral("/bare.html"), kBarePage);
    writeFile(bareFolder + QStringLiteral("/probe.js"), probe);
    QStringList staged;
    for (int s = 0; s < stages.size(); ++s) {
        const QString copy = work.filePath(QStringLiteral("stage%1").arg(s + 1));
        if (!copyFolder(stages.at(s), copy) ||
            !QFileInfo::exists(copy + QStringLiteral("/tavix"))) {
            std::fprintf(stderr, "bench_startup: no program in %s\n", qPrintable(stages.at(s)));
            return 1;
        }
        // The program's own first page gets the same probe, ahead of its scripts.
        const QString index = copy + QStringLiteral("/view/index.html");
        QFile indexFile(index);
        indexFile.open(QIODevice::ReadOnly);
        QByteArray html = indexFile.readAll();
        indexFile.close();
        html.replace("</head>", "<script src=\"probe.js\"></script></head>");
        writeFile(index, html);
        writeFile(copy + QStringLiteral("/view/probe.js"), probe);
        staged << copy;
    }

    const QString self = QCoreApplication::applicationFilePath();
    const auto startBare = [&] {
        return timeToAnswer(answeredServer, shownServer, self,
                            {QStringLiteral("--bare"), bareFolder}, bareFolder);
    };
    const auto startProgram = [&](const QString& folder) {
        return timeToAnswer(answeredServer, shownServer, folder + QStringLiteral("/tavix"), {},
                            folder);
    };
    std::vector<double> bareMs;
    std::vector<std::vector<double>> answeredMs(staged.size()), shownMs(staged.size());
    // One start of each first, not counted: the system's file cache warms for all.
    startBare();
    for (const QString& folder : staged)
        startProgram(folder);
    for (int i = 0; i < starts; ++i) {
        const Moments b = startBare();
        std::printf("start %d: bare %8.1f ms", i + 1, b.shown);
        bool failed = b.shown < 0;
        for (int s = 0; s < staged.size(); ++s) {
            const Moments t = startProgram(staged.at(s));
            std::printf("   tavix%s answered %8.1f ms, shown %8.1f ms",
                        staged.size() > 1 ? qPrintable(QString::number(s + 1)) : "", t.answered,
                        t.shown);
            failed = failed || t.answered < 0 || t.shown < 0;
            answeredMs[s].push_back(t.answered);
            shownMs[s].push_back(t.shown);
        }
        std::printf("\n");
        std::fflush(stdout);
        if (failed) {
            std::fprintf(stderr, "bench_startup: a start did not answer\n");
            return 1;
        }
        bareMs.push_back(b.shown);
    }
    const double floor = median(bareMs);
    std::printf("bare engine (floor)           median %8.1f ms\n", floor);
    for (int s = 0; s < staged.size(); ++s) {
        if (staged.size() > 1)
            std::printf("%s\n", qPrintable(stages.at(s)));
        std::printf("tavix, first answer received  median %8.1f ms   ratio %5.2fx\n",
                    median(answeredMs[s]), median(answeredMs[s]) / floor);
        std::printf("tavix, device list shown      median %8.1f ms   ratio %5.2fx\n",
                    median(shownMs[s]), median(shownMs[s]) / floor);
    }
    return 0;
}

#include "bench_startup.moc"
