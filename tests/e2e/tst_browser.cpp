// The page and the native side through the real browser: requests and answers, events, load
// errors, popups, keys; and the program itself started twice.

#include "../online/serverprocess.h"
#include "app/dispatcher.h"
#include "app/programonlinehost.h"
#include "app/quit.h"
#include "app/singleinstance.h"
#include "app/tavix.h"
#include "browser/browserpage.h"
#include "browser/clientapp.h"
#include "browser/clienthandler.h"
#include "browser/pagerouter.h"
#include "browser/tavixwebview.h"
#include "buildpaths.h"
#include "config/confcommands.h"
#include "config/configstore.h"
#include "device/deviceenumeration.h"
#include "device/hotplug.h"
#include "online/onlinecommands.h"
#include "online/onlinesettings.h"
#include "platform/sim/filterdriver.h"
#include "platform/sim/hidbus.h"
#include "platform/sim/keyhook.h"
#include "platform/simcontrol.h"
#include "platform/windows.h"
#include "recordingcallback.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QtTest>

#include <thread>

namespace {

class FakeWindow : public WindowRequests {
public:
    void maxsizeWindow() override { ++maxsized; }
    void restoreWindow() override { ++restored; }
    int maxsized = 0;
    int restored = 0;
};

// The main window's folders: the test's own, staged.
ProgramFolders programFolders() {
    return ProgramFolders::staged(QCoreApplication::applicationDirPath());
}

} // namespace

// Records what the program hands to the system's browser.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

// Records what arrives, lets a test take a request over, and passes the rest to the dispatcher.
struct RecordingHandler : PageRequestHandler {
    Dispatcher* dispatcher = nullptr;
    QStringList* arrived = nullptr;
    std::function<bool(const QString&, RouterCallback)>* intercept = nullptr;
    void onJsMessage(const QString& request, RouterCallback cb) override {
        *arrived << request;
        if (*intercept && (*intercept)(request, cb))
            return;
        dispatcher->onJsMessage(request, cb);
    }
};

class tst_Browser : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void queries_data();
    void queries();
    void wholeTextWindowRequests();
    void backToBackInOrder();
    void answeredAtMostOnce();
    void answerFromAnotherThread();
    void requestsRunOnTheViewThread();
    void commandWithItsOwnEventLoop();
    void cancelledQueryGetsNoAnswer();
    void queriesAskedTogether();
    void reloadDropsPendingQueries();
    void lateQueryOfAGoneContext();
    void queryWithoutHandlerDropped();
    void pagesNotTheProgramsAreNotHeard();
    void events();
    void reloadForgetsFunctions();
    void loadingStatePushed();
    void errorPage();
    void newWindowsOpenInSystemBrowser();
    void externalProtocolLeavesPage();
    void backspace();
    void softwareRenderers_data();
    void softwareRenderers();

    void mainWindowConstruction();
    void mainWindowRequests();
    void closeHidesAndCloseAppQuits();
    void onlineCommandsThroughTheMainWindow();

    void windowsFacility();
    void virtualDeviceEndToEnd();
    void secondStartShowsFirst();
    void staleInstanceSocket();

private:
    QVariant js(const QString& script);
    bool waitJs(const QString& condition, int timeoutMs = 10000);
    void loadTestPage();
    QString pageUrl() const { return QUrl::fromLocalFile(m_dir.filePath("test.html")).toString(); }
    PageRouter* router() const { return m_view->browser()->router(); }

    QTemporaryDir m_dir;
    ClientHandler* m_handler = nullptr;
    TavixWebView* m_view = nullptr;
    ConfigStore* m_store = nullptr;
    ConfCommands* m_conf = nullptr;
    FakeWindow m_window;
    Dispatcher m_dispatcher;
    QStringList m_arrived;
    // Returns true when it took the request itself.
    std::function<bool(const QString&, RouterCallback)> m_intercept;
    // The request `text` is kept unanswered in `*held` instead of reaching the command table.
    void holdRequest(const QString& text, RouterCallback* held) {
        m_intercept = [text, held](const QString& request, RouterCallback cb) {
            if (request != text)
                return false;
            *held = cb;
            return true;
        };
    }
    RecordingHandler m_requests;
};

QVariant tst_Browser::js(const QString& script) {
    QVariant result;
    bool done = false;
    m_view->browser()->runJavaScript(script, [&](const QVariant& v) {
        result = v;
        done = true;
    });
    QElapsedTimer timer;
    timer.start();
    while (!done && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return result;
}

bool tst_Browser::waitJs(const QString& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        if (js(condition).toBool())
            return true;
        QTest::qWait(20);
    }
    return false;
}

void tst_Browser::loadTestPage() {
    QSignalSpy loaded(m_view->browser(), &QWebEnginePage::loadFinished);
    m_view->loadUrl(pageUrl());
    QVERIFY(loaded.wait(15000) || loaded.count() > 0);
    // The channel is up once one request made the whole round trip.
    js("ask('probe', '{\"funcname\":\"getConf\"}')");
    QVERIFY(waitJs("!!answers.probe"));
    m_arrived.clear();
}

void tst_Browser::initTestCase() {
    QVERIFY(m_dir.isValid());
    const QString data = qEnvironmentVariable("TAVIX_TEST_DATA");
    QVERIFY(QDir().mkpath(m_dir.filePath("Resources/profiles")));
    QVERIFY(QFile::copy(data + "/Resources/profiles/conf.xml",
                        m_dir.filePath("Resources/profiles/conf.xml")));
    QVERIFY(QFile::copy(buildpaths::resolve(TAVIX_TEST_PAGE), m_dir.filePath("test.html")));
    // The test's folder holds the program's pages here.
    ClientApp::setProgramPages({m_dir.path()});

    m_store = new ConfigStore(m_dir.path());
    m_store->load();
    QVERIFY(!m_store->clientAttributes().isEmpty());
    m_conf = new ConfCommands(*m_store, nullptr);
    m_dispatcher.context().conf = m_conf;
    m_dispatcher.context().window = &m_window;

    m_handler = new ClientHandler({"tst_browser"});
    m_view = new TavixWebView;
    m_requests.dispatcher = &m_dispatcher;
    m_requests.arrived = &m_arrived;
    m_requests.intercept = &m_intercept;
    m_handler->setRequestHandler(&m_requests);
    m_view->resize(800, 600);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view));
    QCOMPARE(m_view->browserState(), TavixWebView::BrowserState::Created);
    QCOMPARE(m_handler->currentBrowser(), m_view->browser());
    loadTestPage();
}

void tst_Browser::cleanupTestCase() {
    delete m_view;
    delete m_handler;
    delete m_conf;
    delete m_store;
}

void tst_Browser::init() {
    m_intercept = nullptr;
    m_handler->setRequestHandler(&m_requests);
    js("answers = {}; answerOrder = []; events = [];");
    m_arrived.clear();
}

void tst_Browser::queries_data() {
    QTest::addColumn<QString>("request");
    QTest::addColumn<bool>("reachesNative");
    QTest::addColumn<QString>("answer"); // empty: no answer; "ok:<prefix>" or "fail:<text>"

    QTest::newRow("known command") << R"({"funcname":"getConf"})" << true << R"(ok:[{"IpAddress":)";
    QTest::newRow("extra keys ignored")
        << R"({"funcname":"getConf","x":[1,2]})" << true << R"(ok:[{"IpAddress":)";
    QTest::newRow("failure") << R"({"funcname":"setConf","confKey":"nope","confValue":"1"})" << true
                             << "fail:can't find conf name";
    QTest::newRow("unknown name") << R"({"funcname":"noSuchCommand"})" << true << "";
    QTest::newRow("letter case") << R"({"funcname":"GetConf"})" << true << "";
    QTest::newRow("malformed json") << R"({"funcname":"getConf")" << true << "";
    QTest::newRow("array") << R"([{"funcname":"getConf"}])" << true << "";
    QTest::newRow("no funcname") << R"({"name":"getConf"})" << true << "";
    QTest::newRow("funcname number") << R"({"funcname":27})" << true << "";
    QTest::newRow("missing argument")
        << R"({"funcname":"setConf","confKey":"closeFunc"})" << true << "";
    QTest::newRow("window text with a blank") << R"({"funcname": "maxsizeWindow"})" << true << "";
    QTest::newRow("moveWindow stays in the browser") << "moveWindow:1,2,300,200" << false << "";
    QTest::newRow("minisizeWindow stays in the browser")
        << R"({"funcname":"minisizeWindow"})" << false << "";
}

void tst_Browser::queries() {
    QFETCH(QString, request);
    QFETCH(bool, reachesNative);
    QFETCH(QString, answer);

    const QString quoted =
        QString::fromUtf8(QJsonDocument(QJsonArray{request}).toJson(QJsonDocument::Compact))
            .mid(1)
            .chopped(1);
    const int before = router()->pendingCount();
    const int id = js(QString("ask('q', %1)").arg(quoted)).toInt();
    QVERIFY(id > 0);
    // Requests are handled in order: once a later one is answered, this one had its turn.
    js(R"(ask('after', '{"funcname":"getConf"}'))");
    QVERIFY(waitJs("!!answers.after"));

    QCOMPARE(m_arrived.contains(request), reachesNative);
    const QString got = js("JSON.stringify(answers.q || null)").toString();
    if (answer.isEmpty()) {
        QCOMPARE(got, QString("null"));
        QCOMPARE(router()->pendingCount(), before + 1);
        js(QString("cefQueryCancel(%1)").arg(id));
        QTRY_COMPARE(router()->pendingCount(), before);
        return;
    }
    const QJsonArray answers = QJsonDocument::fromJson(got.toUtf8()).array();
    QCOMPARE(answers.size(), 1);
    const QJsonArray first = answers.at(0).toArray();
    if (answer.startsWith("ok:")) {
        QCOMPARE(first.at(0).toString(), QString("ok"));
        QVERIFY2(first.at(1).toString().startsWith(answer.mid(3)), qPrintable(got));
    } else {
        QCOMPARE(first.at(0).toString(), QString("fail"));
        QCOMPARE(first.at(1).toInt(-1), 0);
        QCOMPARE(first.at(2).toString(), answer.mid(5));
    }
    QCOMPARE(router()->pendingCount(), before);
}

void tst_Browser::wholeTextWindowRequests() {
    js(R"(ask('max', '{"funcname":"maxsizeWindow"}'); ask('restore', '{"funcname":"restoreWindow"}');
          ask('after', '{"funcname":"getConf"}'))");
    QVERIFY(waitJs("!!answers.after"));
    QCOMPARE(m_window.maxsized, 1);
    QCOMPARE(m_window.restored, 1);
    QCOMPARE(js("!!answers.max || !!answers.restore").toBool(), false);
    js("cefQueryCancel(1e9)"); // an unknown id is harmless
}

void tst_Browser::backToBackInOrder() {
    js(R"(ask('set', '{"funcname":"setConf","confKey":"closeFunc","confValue":"tested"}');
          ask('get', '{"funcname":"getConf"}'))");
    QVERIFY(waitJs("!!answers.set && !!answers.get"));
    QCOMPARE(js("answerOrder.join(',')").toString(), QString("set,get"));
    QCOMPARE(js("answers.set[0][1]").toString(), QString("modify conf sucess"));
    QVERIFY(js("answers.get[0][1]").toString().contains(R"("closeFunc":"tested")"));
    QCOMPARE(m_arrived.size(), 2);
    QVERIFY(m_arrived.at(0).contains("setConf"));
    QVERIFY(m_arrived.at(1).contains("getConf"));
}

void tst_Browser::answeredAtMostOnce() {
    m_intercept = [](const QString& request, RouterCallback cb) {
        if (request != QLatin1String("twice"))
            return false;
        cb->Success("first");
        cb->Success("second");
        cb->Failure(0, "third");
        return true;
    };
    js("ask('twice', 'twice'); ask('after', '{\"funcname\":\"getConf\"}')");
    QVERIFY(waitJs("!!answers.after"));
    QTest::qWait(100);
    QCOMPARE(js("JSON.stringify(answers.twice)").toString(), QString(R"([["ok","first"]])"));
}

void tst_Browser::answerFromAnotherThread() {
    std::thread worker;
    m_intercept = [&worker](const QString& request, RouterCallback cb) {
        if (request != QLatin1String("threaded"))
            return false;
        worker = std::thread([cb] { cb->Failure(0, "from a worker"); });
        return true;
    };
    js("ask('threaded', 'threaded')");
    QVERIFY(waitJs("!!answers.threaded"));
    worker.join();
    QCOMPARE(js("JSON.stringify(answers.threaded)").toString(),
             QString(R"([["fail",0,"from a worker"]])"));
}

// The page's queries reach the handler at once; one handed over from another thread crosses to
// the GUI thread first.
void tst_Browser::requestsRunOnTheViewThread() {
    QThread* ranOn = nullptr;
    m_intercept = [&ranOn](const QString& request, RouterCallback) {
        ranOn = QThread::currentThread();
        return request == QLatin1String("direct") || request == QLatin1String("crossed");
    };
    m_handler->onJsMessage("direct", nullptr);
    QCOMPARE(ranOn, QThread::currentThread());
    ranOn = nullptr;
    std::thread([this] { m_handler->onJsMessage("crossed", nullptr); }).join();
    QVERIFY(!ranOn);
    QTRY_COMPARE(ranOn, QThread::currentThread());
}

// A command may run an event loop of its own (a modal dialog does) while the page keeps asking:
// the later queries are answered meanwhile or after, and the first one still is.
void tst_Browser::commandWithItsOwnEventLoop() {
    m_intercept = [](const QString& request, RouterCallback cb) {
        if (request != QLatin1String("modal"))
            return false;
        QEventLoop loop;
        QTimer::singleShot(300, &loop, &QEventLoop::quit);
        loop.exec();
        cb->Success("closed");
        return true;
    };
    js(R"(ask('modal', 'modal'); ask('during', '{"funcname":"getConf"}'))");
    QVERIFY(waitJs("!!answers.modal && !!answers.during"));
    QCOMPARE(js("JSON.stringify(answers.modal)").toString(), QString(R"([["ok","closed"]])"));
    QCOMPARE(m_arrived.size(), 2);
}

void tst_Browser::cancelledQueryGetsNoAnswer() {
    RouterCallback held;
    holdRequest("hold", &held);
    const int before = router()->pendingCount();
    const int id = js("ask('held', 'hold')").toInt();
    QTRY_VERIFY(held);
    QCOMPARE(router()->pendingCount(), before + 1);
    js(QString("cefQueryCancel(%1)").arg(id));
    QTRY_COMPARE(router()->pendingCount(), before);
    held->Success("too late");
    js("ask('after', '{\"funcname\":\"getConf\"}')");
    QVERIFY(waitJs("!!answers.after"));
    QCOMPARE(js("JSON.stringify(answers.held || null)").toString(), QString("null"));
}

// Queries asked in one task travel together; they still arrive in order, and a cancel made in
// the same task comes after its query.
void tst_Browser::queriesAskedTogether() {
    RouterCallback held;
    holdRequest("hold", &held);
    const int before = router()->pendingCount();
    js(R"(ask('first', '{"funcname":"getConf"}'); cefQueryCancel(ask('held', 'hold'));
          ask('last', '{"funcname":"getConf"}'))");
    QVERIFY(waitJs("!!answers.first && !!answers.last"));
    QCOMPARE(js("answerOrder.join(',')").toString(), QString("first,last"));
    QCOMPARE(m_arrived.size(), 3);
    QCOMPARE(m_arrived.at(1), QString("hold"));
    QVERIFY(held);
    QCOMPARE(router()->pendingCount(), before);
    // Pairs of another kind are skipped; the rest are taken.
    m_arrived.clear();
    router()->queryMany("a context", {"not an id", "skipped", 7});
    QVERIFY(m_arrived.isEmpty());
}

void tst_Browser::reloadDropsPendingQueries() {
    RouterCallback held;
    holdRequest("hold", &held);
    js("ask('held', 'hold')");
    QTRY_VERIFY(held);
    QVERIFY(router()->pendingCount() >= 1);
    loadTestPage();
    QCOMPARE(router()->pendingCount(), 0);
    held->Success("for a page that is gone");
    js("ask('after', '{\"funcname\":\"getConf\"}')");
    QVERIFY(waitJs("!!answers.after"));
    QCOMPARE(js("JSON.stringify(answers.held || null)").toString(), QString("null"));
}

// A query that arrives after its page was replaced still runs, but its answer must not reach
// the new page, even a query of the new page with the same id.
void tst_Browser::lateQueryOfAGoneContext() {
    // The context of a page that is then replaced.
    router()->attach("a context gone");
    loadTestPage();
    RouterCallback late;
    holdRequest("late", &late);
    QSignalSpy answers(router(), &PageRouter::answered);
    const int nextId = js("cefQuery({request: 'none'}) + 1").toInt();
    router()->query("a context gone", nextId, "late");
    QVERIFY(late);
    js("ask('mine', 'hold')");
    late->Success("for a page that is gone");
    QTest::qWait(200);
    QCOMPARE(js("JSON.stringify(answers.mine || null)").toString(), QString("null"));
    QCOMPARE(answers.count(), 0);
}

void tst_Browser::queryWithoutHandlerDropped() {
    m_handler->setRequestHandler(nullptr);
    js("ask('dropped', '{\"funcname\":\"getConf\"}')");
    QTest::qWait(300);
    QVERIFY(m_arrived.isEmpty());
    m_handler->setRequestHandler(&m_requests);
    js("ask('after', '{\"funcname\":\"getConf\"}')");
    QVERIFY(waitJs("!!answers.after"));
    QCOMPARE(js("JSON.stringify(answers.dropped || null)").toString(), QString("null"));
    QCOMPARE(m_arrived.size(), 1);
}

// The same page from another folder, a web address, the engine's error page of a file elsewhere:
// their requests reach nothing and the program's events do not reach them. Back among the
// program's pages everything is heard again.
void tst_Browser::pagesNotTheProgramsAreNotHeard() {
    QTemporaryDir elsewhere;
    QVERIFY(QFile::copy(buildpaths::resolve(TAVIX_TEST_PAGE), elsewhere.filePath("test.html")));
    const QString missing = QUrl::fromLocalFile(elsewhere.filePath("missing.html")).toString();
    for (const QString& url :
         {QUrl::fromLocalFile(elsewhere.filePath("test.html")).toString(),
          QUrl::fromLocalFile(m_dir.path() + "er/test.html").toString(), missing}) {
        QSignalSpy loaded(m_view->browser(), &QWebEnginePage::loadFinished);
        m_view->loadUrl(url);
        QVERIFY(loaded.wait(15000));
        m_arrived.clear();
        js(R"(window.events = []; if (window.cefQuery) {
                  setMessageCallback('onBrowserMsg', function (a) { events.push(a); });
                  cefQuery({request: '{"funcname":"getConf"}'}); })");
        m_handler->sendProcessMessage("onBrowserMsg", {"secret"});
        QTest::qWait(500);
        QVERIFY2(m_arrived.isEmpty(), qPrintable(url));
        QCOMPARE(js("window.events.length").toInt(), 0);
    }
    loadTestPage(); // asks, and is answered
}

void tst_Browser::events() {
    js(R"(setMessageCallback('onBrowserMsg', record('first'));
          setMessageCallback('onBrowserMsg', record('second'));
          setMessageCallback('macroItem', record('macro'));
          setMessageCallback('devicesChanged', record('devices'));
          setMessageCallback('myOwnEvent', record('own'));
          setMessageCallback('onDeviceData');
          setMessageCallback(7, record('number'));
          setMessageCallback('onDeviceData', record('data'), 'extra');
          setMessageCallback('onSwitchVirtualDevice', record('switch'));)");
    m_handler->sendProcessMessage("onBrowserMsg", {"hello"});
    m_handler->sendProcessMessage("myOwnEvent", {"x"});
    m_handler->sendProcessMessage("onDeviceData", {"0011223344556677"});
    m_handler->sendProcessMessage("macroItem", {"a", "b", "c", "d"});
    m_handler->sendProcessMessage("onSwitchVirtualDevice", {});
    // From a device-library thread, as the device manager does.
    std::thread([this] { m_handler->sendProcessMessage("devicesChanged", {2}); }).join();
    QVERIFY(waitJs("events.length >= 4"));
    QTest::qWait(100);
    QCOMPARE(js("JSON.stringify(events)").toString(),
             QString(R"([["second",true,["hello"]],["macro",true,["a","b","c","d"]],)"
                     R"(["switch",true,[]],["devices",true,[2]]])"));
}

void tst_Browser::reloadForgetsFunctions() {
    js("setMessageCallback('onBrowserMsg', record('before reload'))");
    loadTestPage();
    m_handler->sendProcessMessage("onBrowserMsg", {"lost"});
    js("setMessageCallback('onDeviceData', record('data'))");
    QTest::qWait(100);
    m_handler->sendProcessMessage("onDeviceData", {"kept"});
    QVERIFY(waitJs("events.length >= 1"));
    QTest::qWait(100);
    QCOMPARE(js("JSON.stringify(events)").toString(), QString(R"([["data",true,["kept"]]])"));
}

void tst_Browser::loadingStatePushed() {
    QSignalSpy pushed(router(), &PageRouter::message);
    QFile second(m_dir.filePath("second.html"));
    QVERIFY(second.open(QIODevice::WriteOnly));
    second.write("<html><body>second</body></html>");
    second.close();
    QSignalSpy loaded(m_view->browser(), &QWebEnginePage::loadFinished);
    m_view->loadUrl(QUrl::fromLocalFile(second.fileName()).toString());
    QVERIFY(loaded.wait(15000));
    QTRY_VERIFY(pushed.count() >= 2);
    // Start and end of loading; at the end the first page is behind us.
    QCOMPARE(pushed.first().at(0).toString(), QString("navStateChanged"));
    QCOMPARE(pushed.last().at(0).toString(), QString("navStateChanged"));
    QCOMPARE(pushed.last().at(1).toList(), (QVariantList{true, false}));
    loadTestPage();
}

void tst_Browser::errorPage() {
    const QString missing = QUrl::fromLocalFile(m_dir.filePath("missing.html")).toString();
    QSignalSpy shown(m_view->browser(), &BrowserPage::loadErrorShown);
    m_view->loadUrl(missing);
    QVERIFY(shown.wait(15000));
    QCOMPARE(shown.first().at(1).toInt(), -6);
    // In words (the program's source texts: no translation is installed here), the engine's own
    // text behind "Details".
    const QString expected =
        QString("Failed to load URL %1 with error ERR_FILE_NOT_FOUND (-6).").arg(missing);
    QTRY_COMPARE(js("document.querySelector('details h2') &&"
                    " document.querySelector('details h2').textContent")
                     .toString(),
                 expected);
    QCOMPARE(js("document.querySelector('h1').textContent").toString(), QString("页面无法打开"));
    QVERIFY(js("document.body.innerText").toString().contains(QUrl(missing).toLocalFile()));
    QCOMPARE(js("document.body.getAttribute('bgcolor')").toString(), QString("white"));
    loadTestPage();
}

void tst_Browser::newWindowsOpenInSystemBrowser() {
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("https", &recorder, "open");
    js("document.getElementById('link').click()");
    QTRY_COMPARE(recorder.urls.size(), 1);
    QCOMPARE(recorder.urls.first(), QUrl("https://example.invalid/target"));
    js("window.open('https://example.invalid/opened', 'named')");
    QTRY_COMPARE(recorder.urls.size(), 2);
    QCOMPARE(recorder.urls.last(), QUrl("https://example.invalid/opened"));
    QDesktopServices::unsetUrlHandler("https");
    QCOMPARE(m_view->browser()->url().toString(), pageUrl());
    QVERIFY(js("!!window.answers").toBool()); // the same document, not a new one
}

void tst_Browser::externalProtocolLeavesPage() {
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("spotify", &recorder, "open");
    QSignalSpy shown(m_view->browser(), &BrowserPage::loadErrorShown);
    // A person's click: the engine launches outside protocols only on a user gesture.
    const QVariantList r = js("var a = document.createElement('a'); a.id = 'ext';"
                              "a.href = 'spotify:track:1'; a.textContent = 'play';"
                              "a.style = 'position:fixed;left:300px;top:300px;font-size:40px';"
                              "document.body.appendChild(a); var b = a.getBoundingClientRect();"
                              "[b.x, b.y]")
                               .toList();
    QCOMPARE(r.size(), 2);
    QTest::mouseClick(m_view->browserWidget()->focusProxy(), Qt::LeftButton, {},
                      QPoint(int(r.at(0).toDouble()) + 10, int(r.at(1).toDouble()) + 10));
    QTRY_COMPARE(recorder.urls.size(), 1);
    QCOMPARE(recorder.urls.first(), QUrl("spotify:track:1"));
    QDesktopServices::unsetUrlHandler("spotify");

    // Any other outside protocol stays with the page.
    QDesktopServices::setUrlHandler("other", &recorder, "open");
    js("document.getElementById('ext').href = 'other:thing'");
    QTest::mouseClick(m_view->browserWidget()->focusProxy(), Qt::LeftButton, {},
                      QPoint(int(r.at(0).toDouble()) + 10, int(r.at(1).toDouble()) + 10));
    QTest::qWait(500);
    QDesktopServices::unsetUrlHandler("other");
    QCOMPARE(recorder.urls.size(), 1);
    QTest::qWait(300);
    QCOMPARE(shown.count(), 0);
    QCOMPARE(m_view->browser()->url().toString(), pageUrl());
    QVERIFY(js("!!window.answers").toBool());
}

void tst_Browser::backspace() {
    m_view->activateWindow();
    QApplication::setActiveWindow(m_view);
    QWidget* keys = m_view->browserWidget()->focusProxy();
    QVERIFY(keys);
    keys->setFocus();
    // A click gives the page the keyboard focus, also without a window manager.
    const QVariantList r = js("var r = document.getElementById('field').getBoundingClientRect();"
                              "[r.x, r.y]")
                               .toList();
    QCOMPARE(r.size(), 2);
    QTest::mouseClick(keys, Qt::LeftButton, {},
                      QPoint(int(r.at(0).toDouble()) + 5, int(r.at(1).toDouble()) + 5));
    QTRY_VERIFY(js("document.hasFocus()").toBool());
    js("var f = document.getElementById('field'); f.focus(); f.setSelectionRange(3, 3);");
    QTRY_VERIFY(m_handler->editableFocus());
    QTest::keyClick(keys, Qt::Key_Backspace);
    QVERIFY(waitJs("document.getElementById('field').value === 'ab'"));
    QCOMPARE(js("keys.inField").toInt(), 1);

    js("document.activeElement.blur(); document.body.focus();");
    QTRY_VERIFY(!m_handler->editableFocus());
    QTest::keyClick(keys, Qt::Key_Backspace);
    QTest::keyClick(keys, Qt::Key_A); // a key that passes, to know the first one had its turn
    QVERIFY(waitJs("keys.other >= 1"));
    QCOMPARE(js("keys.outside").toInt(), 0);
    QCOMPARE(js("document.getElementById('field').value").toString(), QString("ab"));
    QCOMPARE(m_view->browser()->url().toString(), pageUrl());
}

void tst_Browser::mainWindowConstruction() {
    tavix window(*m_store, nullptr, programFolders());
    QCOMPARE(window.objectName(), QString("tavixClass"));
    QCOMPARE(window.windowTitle(), QString("tavix"));
    QCOMPARE(window.size(), QSize(1200, 760)); // clientSize of the configuration
    QCOMPARE(window.minimumSize(), QSize(1200, 760));
    QCOMPARE(window.view()->size(), QSize(1200, 760));
    QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!window.windowIcon().isNull());
    const QString folder = QCoreApplication::applicationDirPath();
    QCOMPARE(window.pageUrl(), QUrl::fromLocalFile(folder + "/view/index.html").toString());
    QCOMPARE(m_handler->mainUrl(), window.pageUrl());
    QCOMPARE(window.view()->url(), window.pageUrl());
    // Its command table gets the page requests now.
    QCOMPARE(m_handler->requestHandler(), static_cast<PageRequestHandler*>(&window.dispatcher()));
    // The first browser of the process stays the one events go to.
    QCOMPARE(m_handler->currentBrowser(), m_view->browser());
}

void tst_Browser::mainWindowRequests() {
    tavix window(*m_store, nullptr, programFolders());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect normal(10, 20, 1200, 760);
    window.setGeometry(normal);

    auto cb = makeRecorder();
    window.dispatcher().onJsMessage(R"({"funcname":"maxsizeWindow"})", cb);
    QCOMPARE(window.geometry(), available);
    window.dispatcher().onJsMessage(R"({"funcname":"restoreWindow"})", cb);
    QCOMPARE(window.geometry(), normal);
    // Twice in a row keeps the maximised geometry, so restoring stays maximised.
    window.dispatcher().onJsMessage(R"({"funcname":"maxsizeWindow"})", cb);
    window.dispatcher().onJsMessage(R"({"funcname":"maxsizeWindow"})", cb);
    window.dispatcher().onJsMessage(R"({"funcname":"restoreWindow"})", cb);
    QCOMPARE(window.geometry(), available);
    QVERIFY(!cb->answered());

    window.dispatcher().onJsMessage(R"({"funcname":"getConf"})", cb);
    QCOMPARE(cb->answers.size(), size_t(1));
    QVERIFY(cb->last().text.startsWith("[{"));
}

void tst_Browser::closeHidesAndCloseAppQuits() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    tavix window(*m_store, nullptr, programFolders());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!window.close()); // the system's close only hides
    QVERIFY(window.isHidden());

    window.show();
    QVERIFY(m_store->setClientAttribute("closeFunc", "hide"));
    auto cb = makeRecorder();
    window.dispatcher().onJsMessage(R"({"funcname":"closeApp"})", cb);
    QVERIFY(window.isHidden());
    QCOMPARE(cb->last().text, QString("modify conf sucess"));
    QVERIFY(!quit::requested());

    // Quitting writes what the profile commands left pending.
    const QString profile = folder.filePath("profile.xml");
    window.profileCache().store(profile, "<root/>");
    QVERIFY(m_store->setClientAttribute("closeFunc", "closeapp"));
    window.dispatcher().onJsMessage(R"({"funcname":"closeApp"})", cb);
    QVERIFY(quit::requested());
    // Written by the profile commands' worker, after the commands queued before it.
    QTRY_VERIFY(window.profileCache().pending().isEmpty());
    QFile written(profile);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QVERIFY(written.readAll().startsWith("<root/>"));
}

namespace {

// Runs simctl of the staged program against `socket`; its answer.
QString simctl(const QString& socket, const QStringList& args) {
    QProcess process;
    process.start(buildpaths::resolve(TAVIX_STAGE_DIR "/simctl"),
                  QStringList{"--socket", socket} + args);
    if (!process.waitForFinished(10000))
        return QStringLiteral("(simctl did not finish)");
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
}

// Press and release changes of the virtual keyboard, in order: "+a -a".
QString virtualKeyboard() {
    QStringList out;
    for (const auto& e : platform::hid::sim::inputEvents()) {
        if (e.device != "keyboard")
            continue;
        for (const auto& n : e.pressed)
            out << "+" + QString::fromStdString(n);
        for (const auto& n : e.released)
            out << "-" + QString::fromStdString(n);
    }
    return out.join(' ');
}

} // namespace

// A key map for the default devices, the virtual device mode switched on from the page, a key
// typed on a simulated keyboard with simctl, the macro on the virtual device; switched off, the
// next key reaches the system; a recording sends the typed keys to the page as macro items.
void tst_Browser::virtualDeviceEndToEnd() {
    namespace drv = platform::devio::sim;
    drv::configure(drv::defaultOptions());
    platform::hid::sim::configure(platform::hid::sim::Options{});
    platform::hid::sim::clearInputEvents();
    const QString socket = m_dir.filePath("sim.sock");
    QVERIFY(platform::simcontrol::startServer(socket.toStdString()).ok);
    struct ServerStop {
        ~ServerStop() { platform::simcontrol::stopServer(); }
    } serverStop;
    platform::hid::sim::registerControlCommands();
    drv::registerControlCommands();
    platform::keyhook::sim::registerControlCommands();

    auto window = std::make_unique<tavix>(*m_store, nullptr, programFolders());
    auto pageJs = [&](const QString& script) {
        QVariant result;
        bool done = false;
        window->view()->browser()->runJavaScript(script, [&](const QVariant& v) {
            result = v;
            done = true;
        });
        QElapsedTimer timer;
        timer.start();
        while (!done && timer.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return result;
    };
    // Sends one request from the window's page and returns its answers as JSON.
    auto ask = [&](const QString& tag, const QString& funcname) -> QString {
        pageJs(QString(R"(ask('%1', '{\"funcname\":\"%2\"}'))").arg(tag, funcname));
        QElapsedTimer timer;
        timer.start();
        QString answer;
        while (timer.elapsed() < 10000) {
            answer = pageJs(QString("JSON.stringify(answers['%1'] || null)").arg(tag)).toString();
            if (!answer.isEmpty() && answer != "null")
                break;
            QTest::qWait(20);
        }
        return answer;
    };

    window->view()->loadUrl(pageUrl());
    QElapsedTimer loading;
    loading.start();
    while (pageJs("typeof ask").toString() != "function" && loading.elapsed() < 20000)
        QTest::qWait(50);
    QCOMPARE(pageJs("typeof ask").toString(), QString("function"));

    // Caps Lock plays "a" held 50 ms, three times.
    const QString keyMapPath =
        QCoreApplication::applicationDirPath() + "/view/device/virtual/xml/configuration.xml";
    window->profileCache().store(keyMapPath, R"(<conf>
        <key scanCode="58" flag="0" playType="0" playCount="3">
          <c task="down" value="04"/><c task="delayTime" value="50"/><c task="up" value=""/>
        </key></conf>)");
    QCOMPARE(ask("keymaps", "keyMapChanged"), QString(R"([["ok","keyMapChanged success"]])"));
    QCOMPARE(ask("on", "startVDevice"), QString(R"([["ok","startVDevice success"]])"));
    QTRY_VERIFY_WITH_TIMEOUT(drv::slotStates().back().mask == 0x03FC, 10000);

    QCOMPARE(simctl(socket, {"filter-key", "1", "0x3a", "press"}), QString("ok\n"));
    QTRY_COMPARE_WITH_TIMEOUT(virtualKeyboard(), QString("+a -a +a -a +a -a"), 10000);
    QCOMPARE(simctl(socket, {"filter-system"}), QString("nothing reached the system\n"));
    QVERIFY(simctl(socket, {"hid-keyboard"}).startsWith("keys down: (none)\n"));

    // A USB device arrives: the key maps are read again and the running filter takes them.
    window->profileCache().store(keyMapPath, R"(<conf>
        <key scanCode="58" flag="0" playType="0" playCount="1">
          <c task="down" value="05"/><c task="up" value=""/>
        </key></conf>)");
    DeviceEnumeration enumeration;
    HotplugWatcher watcher(enumeration);
    window->watchDeviceChanges(&watcher);
    platform::usb::Notification arrival;
    arrival.eventCode = 0x8000;
    arrival.hasRecord = true;
    arrival.deviceType = 5;
    arrival.path = R"(\\?\USB#VID_1234&PID_5678#1#{a5dcbf10-6530-11d2-901f-00c04fb951ed})";
    watcher.notify(arrival);
    platform::hid::sim::clearInputEvents();
    QCOMPARE(simctl(socket, {"filter-key", "1", "0x3a", "press"}), QString("ok\n"));
    QTRY_COMPARE_WITH_TIMEOUT(virtualKeyboard(), QString("+b -b"), 10000);

    QCOMPARE(ask("off", "stopVDevice"), QString(R"([["ok","stopVDevice success"]])"));
    QCOMPARE(simctl(socket, {"filter-key", "1", "0x3a", "press"}), QString("ok\n"));
    QCOMPARE(simctl(socket, {"filter-system"}),
             QString("#1 keyboard 1 scan=0x3a down\n#2 keyboard 1 scan=0x3a up\n"));
    QCOMPARE(virtualKeyboard(), QString("+b -b"));

    // Recording: the keys typed reach the page's main browser as macro items.
    js("events = []; setMessageCallback('macroItem', record('macro'));");
    QCOMPARE(ask("rec", "startRecord"), QString(R"([["ok","startRecord success!"]])"));
    QCOMPARE(simctl(socket, {"hook-key", "0x1d", "e0", "press"}), QString("ok\n"));
    QVERIFY(waitJs("events.length == 3"));
    const QString items =
        js("JSON.stringify(events.map(function (e) { return e[2]; }))").toString();
    QVERIFY2(items.startsWith(R"([["0","1","29","1"],["2",")") &&
                 items.endsWith(R"(","0","0"],["0","0","29","1"]])"),
             qPrintable(items));
    QCOMPARE(ask("stoprec", "stopRecord"), QString(R"([["ok","stopRecord success"]])"));
    QCOMPARE(simctl(socket, {"hook-key", "0x1d", "press"}), QString("no hook installed\n"));

    window.reset();
    QVERIFY(platform::hid::sim::keysDown().empty());
}

// The page commands of the online services through the main window's command table, with the
// program's own host: apiServer from conf.xml, the revision written to conf.xml.
void tst_Browser::onlineCommandsThroughTheMainWindow() {
    QTemporaryDir program;
    QTemporaryDir data;
    QVERIFY(program.isValid() && data.isValid());
    QDir().mkpath(data.filePath("files"));
    QFile served(data.filePath("files/page.bin"));
    QVERIFY(served.open(QIODevice::WriteOnly) && served.write(QByteArray(120000, 'p')) == 120000);
    served.close();
    QDir().mkpath(program.filePath("Resources/profiles"));
    QFile mine(program.filePath("Resources/profiles/mine.xml"));
    QVERIFY(mine.open(QIODevice::WriteOnly) && mine.write("<mine/>") == 7);
    mine.close();
    ServerProcess server(data.path());
    QVERIFY(server.ok());
    const QString oldApi = m_store->clientAttribute("apiServer");
    QVERIFY(m_store->setClientAttribute("apiServer", server.base() + "/"));

    ProgramOnlineHost host(*m_store);
    OnlineCommands online(host, OnlineSettings(program.path()));
    tavix window(*m_store, nullptr, programFolders());
    host.setMainWindow(&window);
    window.setOnlineCommands(&online);

    auto download = makeRecorder();
    window.dispatcher().onJsMessage(
        QStringLiteral(R"({"funcname":"downloadFile","downloadUrl":"%1/files/page.bin",)"
                       R"("relativePath":"dl/"})")
            .arg(server.base()),
        download);
    QTRY_VERIFY_WITH_TIMEOUT(download->answered(), 10000);
    QCOMPARE(download->last().text, program.filePath("dl/page.bin"));
    QCOMPARE(QFileInfo(program.filePath("dl/page.bin")).size(), qint64(120000));

    auto sync = makeRecorder();
    window.dispatcher().onJsMessage(
        R"({"funcname":"synchronizeConf","filePathLists":"Resources/profiles/mine.xml"})", sync);
    QTRY_VERIFY_WITH_TIMEOUT(sync->answered(), 10000);
    QCOMPARE(sync->last().text, QString("upload synchrosize file success"));
    QCOMPARE(m_store->clientAttribute("synchronize"), QString("1"));
    QFile conf(m_store->filePath());
    QVERIFY(conf.open(QIODevice::ReadOnly));
    QVERIFY(conf.readAll().contains("synchronize=\"1\""));

    window.setOnlineCommands(nullptr);
    m_store->setClientAttribute("apiServer", oldApi);
}

void tst_Browser::windowsFacility() {
    QWidget window;
    window.setWindowTitle("tavix (2)");
    window.resize(200, 100);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const quint64 pid = quint64(QCoreApplication::applicationPid());
    auto find = [pid] {
        for (const auto& w : platform::windows::topLevelWindows()) {
            if (w.processId == pid && w.title == "tavix (2)" && w.visible)
                return true;
        }
        return false;
    };
    QTRY_VERIFY(find());
    QVERIFY(singleinstance::raiseWindowOf(pid));
    // A title that is neither "tavix" nor "tavix (n)" is never raised.
    window.setWindowTitle("tavix settings");
    QTRY_VERIFY(!find());
    QVERIFY(!singleinstance::raiseWindowOf(pid));
}

namespace {

QString programPath() {
    return buildpaths::resolve(TAVIX_STAGE_DIR "/tavix");
}

QProcessEnvironment programEnvironment(const QString& tmp) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The instance name lives in the temporary folder: a folder of our own keeps a program that a
    // person runs meanwhile out of the way.
    env.insert("TMPDIR", tmp);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
    return env;
}

bool serverAnswers(const QString& tmp) {
    QLocalSocket socket;
    socket.connectToServer(tmp + "/" + singleinstance::serverName());
    const bool up = socket.waitForConnected(200);
    socket.abort();
    return up;
}

bool visibleWindowOf(qint64 pid) {
    for (const auto& w : platform::windows::topLevelWindows()) {
        if (w.processId == quint64(pid) && w.visible &&
            singleinstance::titleMatches(QString::fromStdString(w.title)))
            return true;
    }
    return false;
}

void stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000))
        process.kill();
    process.waitForFinished(5000);
}

} // namespace

void tst_Browser::secondStartShowsFirst() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QProcess first;
    first.setProcessEnvironment(programEnvironment(tmp.path()));
    first.setWorkingDirectory(tmp.path());
    first.start(programPath(), {"-autostart"});
    QVERIFY(first.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(serverAnswers(tmp.path()), 20000);
    // Started hidden.
    QTest::qWait(1500);
    QVERIFY(!visibleWindowOf(first.processId()));

    QProcess second;
    second.setProcessEnvironment(programEnvironment(tmp.path()));
    second.setWorkingDirectory(tmp.path());
    second.start(programPath(), QStringList());
    QVERIFY(second.waitForStarted());
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(!visibleWindowOf(second.processId()));

    QTRY_VERIFY_WITH_TIMEOUT(visibleWindowOf(first.processId()), 15000);
    QCOMPARE(first.state(), QProcess::Running);
    stop(first);
}

void tst_Browser::staleInstanceSocket() {
    // A copy that ended without cleaning up leaves the name behind; nobody answers on it.
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QFile stale(tmp.path() + "/" + singleinstance::serverName());
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.close();

    QProcess program;
    program.setProcessEnvironment(programEnvironment(tmp.path()));
    program.setWorkingDirectory(tmp.path());
    program.start(programPath(), {"-autostart"});
    QVERIFY(program.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(serverAnswers(tmp.path()), 20000);
    QCOMPARE(program.state(), QProcess::Running);
    stop(program);
}

void tst_Browser::softwareRenderers_data() {
    QTest::addColumn<QString>("renderer");
    QTest::addColumn<bool>("software");
    QTest::newRow("llvmpipe") << "llvmpipe (LLVM 15.0.6, 256 bits)" << true;
    QTest::newRow("softpipe") << "softpipe" << true;
    QTest::newRow("classic") << "Mesa DRI Intel(R) 965G / Software Rasterizer" << true;
    QTest::newRow("swiftshader") << "Google SwiftShader" << true;
    QTest::newRow("windows") << "GDI Generic" << true;
    QTest::newRow("openswr") << "SWR (LLVM 12.0.0, 256 bits)" << true;
    QTest::newRow("intel") << "Mesa Intel(R) UHD Graphics 620 (KBL GT2)" << false;
    QTest::newRow("amd") << "AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49)" << false;
    QTest::newRow("nvidia") << "NVIDIA GeForce GTX 1060/PCIe/SSE2" << false;
    QTest::newRow("virtual gpu") << "virgl" << false;
    QTest::newRow("empty") << "" << false;
}

// Which OpenGL draws on the processor, where the browsers draw without it.
void tst_Browser::softwareRenderers() {
    QFETCH(QString, renderer);
    QFETCH(bool, software);
    QCOMPARE(ClientApp::isSoftwareRenderer(renderer), software);
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        fprintf(stderr, "tst_browser: no X display (run under xvfb-run -a); skipped\n");
        return 77;
    }
    ClientApp::prepareEnvironment();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    tst_Browser test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_browser.moc"
