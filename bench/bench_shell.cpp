// Round trip of "getConf" from page script to the native command and back, measured in the real
// browser, next to the same command dispatched natively (the baseline).
//
//   bench_shell [sequential round trips] [requests in flight at once]
//
// Needs an X display (xvfb-run -a bench_shell). Prints median and 99th percentile latency and
// requests per second, each next to its floor from the same run: a bare web channel page whose
// native object echoes the request. A second floor has the bare object answer getConf's own text
// instead, so that it carries the same bytes back. Rounds alternate; the summary takes medians.

#include "app/dispatcher.h"
#include "browser/browserpage.h"
#include "browser/clientapp.h"
#include "browser/clienthandler.h"
#include "browser/tavixwebview.h"
#include "buildpaths.h"
#include "config/confcommands.h"
#include "config/configstore.h"
#include "countingcallback.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <QWebChannel>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Figures {
    double medianUs = 0;
    double p99Us = 0;
    double perSecond = 0;
};

Figures figures(std::vector<double> micros, double totalSeconds) {
    Figures f;
    if (micros.empty())
        return f;
    std::sort(micros.begin(), micros.end());
    f.medianUs = micros[micros.size() / 2];
    f.p99Us = micros[std::min(micros.size() - 1, size_t(double(micros.size()) * 0.99))];
    f.perSecond = totalSeconds > 0 ? double(micros.size()) / totalSeconds : 0;
    return f;
}

void print(const char* name, const Figures& f) {
    std::printf("%-34s median %9.1f us   p99 %9.1f us   %10.0f requests/s\n", name, f.medianUs,
                f.p99Us, f.perSecond);
    std::fflush(stdout);
}

QVariant runJs(QWebEnginePage* page, const QString& script) {
    QVariant result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant& v) {
        result = v;
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return result;
}

QVariant waitFor(QWebEnginePage* page, const QString& expression) {
    for (;;) {
        const QVariant v = runJs(page, expression);
        if (v.isValid() && !v.isNull())
            return v;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 20)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

// The measuring functions both pages share, over the page's own one().
const char kMeasure[] =
    "async function sequential(n) { const lat = []; const t0 = performance.now();"
    " for (let i = 0; i < n; ++i) { const s = performance.now(); await one();"
    " lat.push((performance.now() - s) * 1000); }"
    " return {lat, total: (performance.now() - t0) / 1000}; }\n"
    "async function burst(n) { const lat = []; const t0 = performance.now();"
    " await Promise.all(Array.from({length: n}, () => { const s ="
    " performance.now(); return one().then(() => lat.push((performance.now() -"
    " s) * 1000)); })); return {lat, total: (performance.now() - t0) / 1000}; }\n";

QByteArray pageWith(const char* one) {
    return QByteArray("<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>\n"
                      "<script>\n"
                      "const REQ = JSON.stringify({funcname: 'getConf'});\n") +
           one + kMeasure + "</script></body></html>\n";
}

// The program's page: one request through the router's cefQuery.
const char kPageOne[] = "function one() { return new Promise((ok, fail) => cefQuery({request: REQ,"
                        " onSuccess: ok, onFailure: (c, t) => fail(new Error(t))})); }\n";

// The floor's page: the same measuring functions over a bare channel object that echoes.
const char kEchoOne[] =
    "let echo = null; let nextId = 1; const pending = {};\n"
    "new QWebChannel(qt.webChannelTransport, function (channel) { echo = channel.objects.echo;"
    " echo.answered.connect(function (id, text) { const ok = pending[id]; delete pending[id];"
    " ok(text); }); });\n"
    "function one() { return new Promise((ok) => { const id = nextId++; pending[id] = ok;"
    " echo.query(id, REQ); }); }\n";

class Echo : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
public slots:
    void query(int id, const QString& request) {
        emit answered(id, reply.isEmpty() ? request : reply);
    }
signals:
    void answered(int id, const QString& text);

public:
    QString reply; // empty: the request itself
};

// Keeps the one answer it gets.
class TextCallback : public CefMessageRouterBrowserSide::Callback {
public:
    void Success(const QString& response) override { text = response; }
    void Failure(int, const QString& message) override { text = message; }
    QString text;
};

std::vector<double> toVector(const QVariant& list) {
    std::vector<double> out;
    for (const QVariant& v : list.toList())
        out.push_back(v.toDouble());
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "bench_shell: needs an X display (xvfb-run -a bench_shell)\n");
        return 1;
    }
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    ClientApp::prepareEnvironment();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    const int sequentialCount = argc > 1 ? std::max(10, atoi(argv[1])) : 2000;
    const int burstCount = argc > 2 ? std::max(10, atoi(argv[2])) : 2000;

    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("Resources/profiles"));
    QFile::copy(buildpaths::resolve(TAVIX_DATA_DIR "/Resources/profiles/conf.xml"),
                dir.filePath("Resources/profiles/conf.xml"));
    ConfigStore store(dir.path());
    store.load();
    ConfCommands conf(store, nullptr);
    Dispatcher dispatcher;
    dispatcher.context().conf = &conf;

    // Baseline: the same request handed straight to the dispatcher.
    {
        auto cb = std::make_shared<CountingCallback>();
        const QString request = QStringLiteral("{\"funcname\":\"getConf\"}");
        const int n = 20000;
        std::vector<double> micros;
        micros.reserve(n);
        QElapsedTimer total;
        total.start();
        for (int i = 0; i < n; ++i) {
            QElapsedTimer t;
            t.start();
            dispatcher.onJsMessage(request, cb);
            micros.push_back(double(t.nsecsElapsed()) / 1000.0);
        }
        print("native dispatch (baseline)", figures(micros, double(total.nsecsElapsed()) / 1e9));
    }

    ClientHandler handler({"bench_shell"});
    handler.setRequestHandler(&dispatcher);
    TavixWebView view;
    QFile page(dir.filePath("bench.html"));
    page.open(QIODevice::WriteOnly);
    page.write(pageWith(kPageOne));
    page.close();
    view.resize(400, 300);
    view.show();
    view.loadUrl(QUrl::fromLocalFile(page.fileName()).toString());
    QWebEnginePage* browser = view.browser();
    waitFor(browser, "typeof sequential === 'function' ? true : null");

    // The floor: a profile of its own that carries only the channel's script.
    QWebEngineProfile echoProfile;
    {
        QFile channelScript(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
        channelScript.open(QIODevice::ReadOnly);
        QWebEngineScript script;
        script.setName(QStringLiteral("channel"));
        script.setSourceCode(QString::fromUtf8(channelScript.readAll()));
        script.setInjectionPoint(QWebEngineScript::DocumentCreation);
        script.setWorldId(QWebEngineScript::MainWorld);
        echoProfile.scripts()->insert(script);
    }
    QWebEngineView echoView;
    auto* echoPage = new QWebEnginePage(&echoProfile, &echoView);
    QWebChannel echoChannel;
    Echo echo;
    echoChannel.registerObject(QStringLiteral("echo"), &echo);
    echoPage->setWebChannel(&echoChannel);
    echoView.setPage(echoPage);
    QFile echoFile(dir.filePath("echo.html"));
    echoFile.open(QIODevice::WriteOnly);
    echoFile.write(pageWith(kEchoOne));
    echoFile.close();
    echoView.resize(400, 300);
    echoView.show();
    echoPage->load(QUrl::fromLocalFile(echoFile.fileName()));
    waitFor(echoPage, "typeof echo !== 'undefined' && echo !== null ? true : null");

    const auto measure = [](QWebEnginePage* target, const QString& call) {
        runJs(target, QStringLiteral("window.__r = null; %1.then(r => window.__r = r)").arg(call));
        const QVariantMap r = waitFor(target, "window.__r").toMap();
        return figures(toVector(r["lat"]), r["total"].toDouble());
    };
    // Warm up both channels and the engine.
    measure(browser, QStringLiteral("sequential(200)"));
    measure(echoPage, QStringLiteral("sequential(200)"));

    const QString sequentialCall = QStringLiteral("sequential(%1)").arg(sequentialCount);
    const QString burstCall = QStringLiteral("burst(%1)").arg(burstCount);
    auto confText = std::make_shared<TextCallback>();
    dispatcher.onJsMessage(QStringLiteral("{\"funcname\":\"getConf\"}"), confText);
    const QString confAnswer = confText->text;
    const int rounds = 3;
    std::vector<double> echoSeq, sameSeq, pageSeq, echoBurst, sameBurst, pageBurst;
    for (int round = 0; round < rounds; ++round) {
        echo.reply.clear();
        Figures f = measure(echoPage, sequentialCall);
        print("echo floor, one at a time", f);
        echoSeq.push_back(f.medianUs);
        echo.reply = confAnswer;
        f = measure(echoPage, sequentialCall);
        print("same-answer floor, one at a time", f);
        sameSeq.push_back(f.medianUs);
        f = measure(browser, sequentialCall);
        print("page round trip, one at a time", f);
        pageSeq.push_back(f.medianUs);
        echo.reply.clear();
        f = measure(echoPage, burstCall);
        print(qPrintable(QStringLiteral("echo floor, %1 in flight").arg(burstCount)), f);
        echoBurst.push_back(f.perSecond);
        echo.reply = confAnswer;
        f = measure(echoPage, burstCall);
        print(qPrintable(QStringLiteral("same-answer floor, %1 in flight").arg(burstCount)), f);
        sameBurst.push_back(f.perSecond);
        f = measure(browser, burstCall);
        print(qPrintable(QStringLiteral("page round trip, %1 in flight").arg(burstCount)), f);
        pageBurst.push_back(f.perSecond);
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("one at a time: page %.1f us, echo floor %.1f us, ratio %.2fx\n", median(pageSeq),
                median(echoSeq), median(pageSeq) / median(echoSeq));
    std::printf("%d in flight: page %.0f/s, echo floor %.0f/s, ratio %.2fx of the floor's rate\n",
                burstCount, median(pageBurst), median(echoBurst),
                median(pageBurst) / median(echoBurst));
    std::printf("same answer (%d characters): one at a time %.2fx, %d in flight %.2fx of the "
                "floor's rate\n",
                int(confAnswer.size()), median(pageSeq) / median(sameSeq), burstCount,
                median(pageBurst) / median(sameBurst));
    return 0;
}

#include "bench_shell.moc"
