// Start to the first answered page request: the staged program against a bare Qt WebEngine
// window whose web channel page asks one request and gets it answered (the floor). Both run as
// fresh processes, alternated, and report the moment through a probe in their page that calls
// back to this harness on the first answer shown.
//
//   bench_startup [starts of each] [stage folder]
//
// Needs an X display. The stage folder (default: the build's stage) is copied, so the program's
// files and settings of the run are its own. With QT_LOGGING_RULES="tavix.startup.debug=true"
// and `--bare <folder>` the bare window prints the program's start-up trace steps it shares.

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

// Calls the harness once the page shows its first answer: the program's device list status line
// takes the state "ok" or "error" only from the getDevicesList answer; the bare page's echo line
// changes its text only on the answer.
QString probeScript(quint16 port) {
    return QStringLiteral("(function () {\n"
                          "  var told = false;\n"
                          "  function tell() { if (told) return; told = true;\n"
                          "    new Image().src = 'http://127.0.0.1:%1/answered?' + Date.now(); }\n"
                          "  function watch() {\n"
                          "    var echo = document.getElementById('echo');\n"
                          "    var first = echo ? echo.textContent : null;\n"
                          "    function check() {\n"
                          "      var status = document.getElementById('dev-status');\n"
                          "      if ((status && /\\b(ok|error)\\b/.test(status.className)) ||\n"
                          "          (echo && echo.textContent !== first)) tell();\n"
                          "    }\n"
                          "    new MutationObserver(check).observe(document.body, {subtree: true,"
                          " childList: true, characterData: true, attributes: true});\n"
                          "    check();\n"
                          "  }\n"
                          "  if (document.readyState === 'loading')\n"
                          "    document.addEventListener('DOMContentLoaded', watch);\n"
                          "  else watch();\n"
                          "})();\n")
        .arg(port);
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

// Starts `program` and returns the milliseconds until its page calls the harness, or -1.
double timeToAnswer(QTcpServer& server, const QString& program, const QStringList& arguments,
                    const QString& workingFolder) {
    QProcess process;
    process.setWorkingDirectory(workingFolder);
    // The single-instance name lives in the temporary folder: a copy of the program that runs
    // elsewhere on the machine must not take the start over.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString temporary = workingFolder + QStringLiteral("/tmp");
    QDir().mkpath(temporary);
    environment.insert(QStringLiteral("TMPDIR"), temporary);
    process.setProcessEnvironment(environment);
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    double ms = -1;
    while (timer.elapsed() < 30000) {
        if (server.waitForNewConnection(5)) {
            ms = double(timer.nsecsElapsed()) / 1e6;
            while (QTcpSocket* socket = server.nextPendingConnection())
                socket->deleteLater();
            break;
        }
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
    while (server.waitForNewConnection(50))
        delete server.nextPendingConnection();
    return ms;
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
    const QString stage = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(TAVIX_STAGE);

    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost)) {
        std::fprintf(stderr, "bench_startup: cannot listen\n");
        return 1;
    }
    const QByteArray probe = probeScript(server.serverPort()).toUtf8();

    QTemporaryDir work;
    const QString bare = work.filePath(QStringLiteral("bare"));
    const QString staged = work.filePath(QStringLiteral("stage"));
    QDir().mkpath(bare);
    if (!copyFolder(stage, staged) || !QFileInfo::exists(staged + QStringLiteral("/tavix"))) {
        std::fprintf(stderr, "bench_startup: no program in %s\n", qPrintable(stage));
        return 1;
    }
    writeFile(bare + QStringLiteral("/bare.html"), kBarePage);
    writeFile(bare + QStringLiteral("/probe.js"), probe);
    // The program's own first page gets the same probe, ahead of its scripts.
    const QString index = staged + QStringLiteral("/view/index.html");
    QFile indexFile(index);
    indexFile.open(QIODevice::ReadOnly);
    QByteArray html = indexFile.readAll();
    indexFile.close();
    html.replace("</head>", "<script src=\"probe.js\"></script></head>");
    writeFile(index, html);
    writeFile(staged + QStringLiteral("/view/probe.js"), probe);

    const QString self = QCoreApplication::applicationFilePath();
    std::vector<double> bareMs, tavixMs;
    // One start of each first, not counted: the system's file cache warms for both.
    timeToAnswer(server, self, {QStringLiteral("--bare"), bare}, bare);
    timeToAnswer(server, staged + QStringLiteral("/tavix"), {}, staged);
    for (int i = 0; i < starts; ++i) {
        const double b = timeToAnswer(server, self, {QStringLiteral("--bare"), bare}, bare);
        const double t = timeToAnswer(server, staged + QStringLiteral("/tavix"), {}, staged);
        std::printf("start %d: bare %8.1f ms   tavix %8.1f ms\n", i + 1, b, t);
        std::fflush(stdout);
        if (b < 0 || t < 0) {
            std::fprintf(stderr, "bench_startup: a start did not answer\n");
            return 1;
        }
        bareMs.push_back(b);
        tavixMs.push_back(t);
    }
    const double floor = median(bareMs);
    const double figure = median(tavixMs);
    std::printf("bare engine (floor)   median %8.1f ms\n", floor);
    std::printf("tavix                 median %8.1f ms\n", figure);
    std::printf("ratio                 %8.2fx\n", floor > 0 ? figure / floor : 0.0);
    return 0;
}

#include "bench_startup.moc"
