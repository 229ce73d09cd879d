// The main window's window, popup, tray and settings commands through the running window, on a
// display of the test's own with a window manager and a tray host; and the program's crash
// handling through the real program.

#include "app/devicehotkeys.h"
#include "app/popupviews.h"
#include "app/popwidget.h"
#include "app/singleinstance.h"
#include "app/systemtray.h"
#include "app/tavix.h"
#include "browser/browserpage.h"
#include "browser/clientapp.h"
#include "browser/clienthandler.h"
#include "browser/pagerouter.h"
#include "browser/tavixwebview.h"
#include "buildpaths.h"
#include "config/configstore.h"
#include "platform/process.h"
#include "platform/windows.h"
#include "recordingcallback.h"
#include "windowrect.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

// After Qt: Xlib's macros would break Qt's headers.
#include "privatedisplay.h"

#include <csignal>
#include <cstdlib>

namespace w = platform::windows;

namespace {
PrivateDisplay* g_display = nullptr;

std::uintptr_t handleOf(QWidget* widget) {
    return static_cast<std::uintptr_t>(widget->window()->winId());
}

w::Rect systemRect(QWidget* widget) {
    return w::windowRect(handleOf(widget)).value;
}

w::ShowState systemState(QWidget* widget) {
    return w::placement(handleOf(widget)).value.state;
}

// The staged program, to be started with a temporary folder (and so an instance name) of its own.
void prepareProgram(QProcess& program, const QString& temp) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", temp);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(temp);
}

// The process's resident memory in KiB.
qint64 residentKiB() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
} // namespace

class tst_ShellWindows : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void moveWindow_data();
    void moveWindow();
    void moveWindowOfAMaximisedWindowRestoresIt();
    void minisizeWindowTwiceRestores();
    void popups();
    void popupRequestsUseTheSameBridge();
    void hugeGeometriesStayOnTheScreens_data();
    void hugeGeometriesStayOnTheScreens();
    void hotkeysOpenTheirPages_data();
    void hotkeysOpenTheirPages();
    void trayBringsTheWindowBack();
    void mouseSpeedReadsBack_data();
    void mouseSpeedReadsBack();
    void crashStartsTheReporter();
    void twoCopiesStartedTogetherMakeOneWindow();
    void aCopyFindingTheNameClaimedWaitsForItsListener();
    void secondCopyGivesUpOnASilentFirst();

private:
    void query(const QString& request, RouterCallback cb = nullptr) {
        m_handler->onJsMessage(request, std::move(cb));
    }
    void dispatch(const QString& request, RouterCallback cb = nullptr) {
        m_window->dispatcher().onJsMessage(request, std::move(cb));
    }

    QTemporaryDir m_dir;
    ConfigStore* m_store = nullptr;
    ClientHandler* m_handler = nullptr;
    tavix* m_window = nullptr;
};

void tst_ShellWindows::initTestCase() {
    if (!g_display->hasWindowManager())
        QSKIP("needs openbox for window states");
    const QString data = qEnvironmentVariable("TAVIX_TEST_DATA");
    QVERIFY(QDir().mkpath(m_dir.filePath("Resources/profiles")));
    QVERIFY(QFile::copy(data + "/Resources/profiles/conf.xml",
                        m_dir.filePath("Resources/profiles/conf.xml")));
    m_store = new ConfigStore(m_dir.path());
    m_store->load();
    m_handler = new ClientHandler({"tst_shellwindows"});
}

void tst_ShellWindows::cleanupTestCase() {
    delete m_handler;
    delete m_store;
}

void tst_ShellWindows::init() {
    m_window = new tavix(*m_store, nullptr,
                         ProgramFolders::staged(QCoreApplication::applicationDirPath()));
    m_handler->setMainWindowHandle(m_window);
    m_window->setMinimumSize(100, 100);
    m_window->setGeometry(100, 80, 800, 600);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QTRY_COMPARE(systemRect(m_window), (w::Rect{100, 80, 800, 600}));
}

void tst_ShellWindows::cleanup() {
    delete m_window;
    m_window = nullptr;
}

void tst_ShellWindows::moveWindow_data() {
    QTest::addColumn<QString>("request");
    QTest::addColumn<w::Rect>("expected");
    QTest::newRow("move and resize") << "moveWindow:20,-30,700,500" << w::Rect{120, 50, 700, 500};
    QTest::newRow("dx and dy 0 resize only")
        << "moveWindow:0,0,640,480" << w::Rect{100, 80, 640, 480};
    QTest::newRow("three integers") << "moveWindow:5,5,640" << w::Rect{100, 80, 800, 600};
    QTest::newRow("five integers") << "moveWindow:5,5,640,480,1" << w::Rect{100, 80, 800, 600};
    QTest::newRow("no separator") << "moveWindow" << w::Rect{100, 80, 800, 600};
    QTest::newRow("no size") << "moveWindow:5,5,0,0" << w::Rect{100, 80, 800, 600};
}

void tst_ShellWindows::moveWindow() {
    QFETCH(QString, request);
    QFETCH(w::Rect, expected);
    auto cb = makeRecorder();
    query(request, cb);
    QTRY_COMPARE(systemRect(m_window), expected);
    // Qt follows what the window system did.
    QTRY_COMPARE(m_window->geometry(),
                 QRect(expected.x, expected.y, expected.width, expected.height));
    QVERIFY(!cb->answered());
}

void tst_ShellWindows::moveWindowOfAMaximisedWindowRestoresIt() {
    QVERIFY(w::maximize(handleOf(m_window)).ok);
    QTRY_COMPARE(systemState(m_window), w::ShowState::Maximized);
    query("moveWindow:50,50,640,480");
    QTRY_COMPARE(systemState(m_window), w::ShowState::Normal);
    // The new size at the restored place's corner; the offsets do not apply.
    QTRY_COMPARE(systemRect(m_window), (w::Rect{100, 80, 640, 480}));
}

void tst_ShellWindows::minisizeWindowTwiceRestores() {
    query(R"({"funcname":"minisizeWindow"})");
    QTRY_COMPARE(systemState(m_window), w::ShowState::Minimized);
    QTRY_VERIFY(m_window->isMinimized());
    query(R"({"funcname":"minisizeWindow"})");
    QTRY_COMPARE(systemState(m_window), w::ShowState::Normal);
    QTRY_COMPARE(systemRect(m_window), (w::Rect{100, 80, 800, 600}));
    // An extra blank makes it an ordinary request, which does nothing here.
    query(R"({"funcname": "minisizeWindow"})");
    QTest::qWait(200);
    QCOMPARE(systemState(m_window), w::ShowState::Normal);
}

void tst_ShellWindows::popups() {
    PopupViews* popups = m_window->popups();
    const QString url =
        QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + "/view/popup.html").toString();
    // closeView before any popup was activated does nothing and answers nothing.
    auto cb = makeRecorder();
    dispatch(R"({"funcname":"closeView"})", cb);
    QVERIFY(!cb->answered());

    const QString open = R"({"funcname":"openView","relativeUrl":"/view/popup.html","size":"%1"})";
    dispatch(open.arg("420,300"), cb);
    QVERIFY(!cb->answered());
    QCOMPARE(popups->count(), 1);
    PopWidget* popup = popups->find(url);
    QVERIFY(popup);
    QVERIFY(QTest::qWaitForWindowExposed(popup));
    QVERIFY(popup->windowFlags() & Qt::FramelessWindowHint);
    QTRY_COMPARE(systemRect(popup).width, 420);
    QCOMPARE(systemRect(popup).height, 300);
    // The window commands act on the popup now.
    QCOMPARE(m_handler->mainWindowHandle(), static_cast<QWidget*>(popup));

    // The same address again keeps the one window, unchanged.
    dispatch(open.arg("900,700"), cb);
    QCOMPARE(popups->count(), 1);
    QCOMPARE(popups->find(url), popup);
    QCOMPARE(systemRect(popup).width, 420);

    // A window command acts on the popup, not on the main window.
    query("moveWindow:0,0,500,350");
    QTRY_COMPARE(systemRect(popup).width, 500);
    QCOMPARE(systemRect(m_window), (w::Rect{100, 80, 800, 600}));

    // Activated, it is the current popup; closeView closes it and gives everything back.
    popup->activateWindow();
    QTRY_COMPARE(popups->current(), popup);
    QPointer<PopWidget> watch(popup);
    dispatch(R"({"funcname":"closeView"})", cb);
    QVERIFY(!cb->answered());
    QTRY_VERIFY(watch.isNull());
    QCOMPARE(popups->count(), 0);
    QCOMPARE(m_handler->mainWindowHandle(), static_cast<QWidget*>(m_window));

    // A size of one item opens at 1000 x 600.
    dispatch(R"({"funcname":"openView","relativeUrl":"/view/other.html","size":"300"})", cb);
    QCOMPARE(popups->count(), 1);
    PopWidget* other = popups->find(
        QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + "/view/other.html")
            .toString());
    QVERIFY(other);
    QCOMPARE(other->size(), QSize(1000, 600));
}

// Sizes and places a page may ask for that no screen can show: each ends on the screens, and the
// program keeps no memory for what it cannot show.
void tst_ShellWindows::hugeGeometriesStayOnTheScreens_data() {
    QTest::addColumn<QString>("request");
    QTest::newRow("a city") << "moveWindow,99999999,99999999,99999999,99999999";
    QTest::newRow("largest ints") << "moveWindow:2147483647,2147483647,2147483647,2147483647";
    QTest::newRow("smallest offsets") << "moveWindow:-2147483648,-2147483648,2147483647,2147483647";
    for (const char* size : {"99999,99999", "32768,32768", "16777215,16777215",
                             "2147483647,2147483647", "16384,16384"})
        QTest::newRow(size) << QString(R"({"funcname":"openView","relativeUrl":"/view/%1.html",)"
                                       R"("size":"%1"})")
                                   .arg(size);
}

void tst_ShellWindows::hugeGeometriesStayOnTheScreens() {
    QFETCH(QString, request);
    const qint64 before = residentKiB();
    QWidget* target = m_window;
    if (request.startsWith("moveWindow")) {
        query(request);
    } else {
        dispatch(request);
        QCOMPARE(m_window->popups()->count(), 1);
        const QString url =
            QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + request.section('"', 7, 7))
                .toString();
        target = m_window->popups()->find(url);
        QVERIFY(target);
        QVERIFY(QTest::qWaitForWindowExposed(target));
    }
    QTest::qWait(1000); // painted at whatever size it took
    const QRect screens = QGuiApplication::primaryScreen()->availableGeometry();
    const w::Rect rect = systemRect(target);
    QVERIFY2(screens.contains(QRect(rect.x, rect.y, rect.width, rect.height)),
             qPrintable(QTest::toString(rect)));
    QVERIFY2(residentKiB() - before < 256 * 1024,
             qPrintable(QString("%1 KiB more").arg(residentKiB() - before)));
}

void tst_ShellWindows::popupRequestsUseTheSameBridge() {
    dispatch(R"({"funcname":"openView","relativeUrl":"/view/bridge.html","size":"400,300"})");
    const QUrl url =
        QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + "/view/bridge.html");
    PopWidget* popup = m_window->popups()->find(url.toString());
    QVERIFY(popup);
    QTRY_COMPARE(popup->view()->browserState(), TavixWebView::BrowserState::Created);
    // A query of the popup's page (one of the program's) is answered by the main window's
    // command table; the page's script attaches once the page is there.
    QTRY_COMPARE(popup->view()->browser()->url(), url);
    PageRouter* router = popup->view()->browser()->router();
    QSignalSpy answered(router, &PageRouter::answered);
    router->attach("popup context");
    router->query("popup context", 1, R"({"funcname":"goback"})");
    QTRY_COMPARE(answered.count(), 1);
    QCOMPARE(answered.at(0), (QVariantList{1, true, 0, QStringLiteral("goback")}));
}

void tst_ShellWindows::hotkeysOpenTheirPages_data() {
    QTest::addColumn<QString>("device"); // empty: the test tool shortcut
    QTest::addColumn<QString>("page");   // empty: nothing opens
    QTest::addColumn<QSize>("size");
    QTest::newRow("test tool") << ""
                               << "/view/testtool/index.html" << QSize(900, 600);
    QTest::newRow("device settings") << "04D9A0F1"
                                     << "/view/device/kxadapter/seting.html" << QSize(1000, 600);
    QTest::newRow("device without product information") << "FFFF0009"
                                                        << "" << QSize();
}

void tst_ShellWindows::hotkeysOpenTheirPages() {
    QFETCH(QString, device);
    QFETCH(QString, page);
    QFETCH(QSize, size);
    for (int press = 0; press < 2; ++press) {
        if (device.isEmpty())
            m_window->showDebug();
        else
            emit m_window->deviceHotKeys()->activated(device);
    }
    PopupViews* popups = m_window->popups();
    // Pressed twice, still one window for the page.
    QCOMPARE(popups->count(), page.isEmpty() ? 0 : 1);
    if (page.isEmpty())
        return;
    PopWidget* popup =
        popups->find(QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + page).toString());
    QVERIFY(popup);
    QCOMPARE(popup->size(), size);
    QCOMPARE(m_handler->mainWindowHandle(), static_cast<QWidget*>(popup));
}

void tst_ShellWindows::trayBringsTheWindowBack() {
    if (!g_display->hasTray())
        QSKIP("needs trayer for a tray");
    m_window->createTray();
    SystemTray* tray = m_window->tray();
    QVERIFY(tray);
    QTRY_VERIFY(tray->geometry().isValid() && !tray->geometry().isEmpty());

    // Closing only hides; the tray's reasons bring the window back.
    m_window->close();
    QTRY_VERIFY(!m_window->isVisible());
    emit tray->activated(QSystemTrayIcon::Trigger);
    QTRY_VERIFY(m_window->isVisible());
    m_window->hide();
    emit tray->activated(QSystemTrayIcon::Context);
    QTest::qWait(100);
    QVERIFY(!m_window->isVisible());
    tray->showAction()->trigger();
    QTRY_VERIFY(m_window->isVisible());
}

void tst_ShellWindows::mouseSpeedReadsBack_data() {
    QTest::addColumn<QString>("speednum");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("threshold");
    QTest::addColumn<int>("ratioTenths");
    QTest::newRow("1") << "1"
                       << "modifyMouseSpeed success" << 7 << 1;
    QTest::newRow("12") << "12"
                        << "modifyMouseSpeed success" << 4 << 12;
    QTest::newRow("21 changes nothing") << "21"
                                        << "modifyMouseSpeed failed" << 6 << 10;
}

void tst_ShellWindows::mouseSpeedReadsBack() {
    QFETCH(QString, speednum);
    QFETCH(QString, answer);
    QFETCH(int, threshold);
    QFETCH(int, ratioTenths);
    Display* d = XOpenDisplay(nullptr);
    QVERIFY(d);
    XChangePointerControl(d, True, True, 10, 10, 6);
    XSync(d, False);
    auto cb = makeRecorder();
    dispatch(QString(R"({"funcname":"modifyMouseSpeed","speednum":"%1"})").arg(speednum), cb);
    QCOMPARE(cb->answers.size(), size_t(1));
    QCOMPARE(cb->last().text, answer);
    int num = 0, den = 0, thresholdNow = 0;
    XGetPointerControl(d, &num, &den, &thresholdNow);
    XCloseDisplay(d);
    QCOMPARE(thresholdNow, threshold);
    QCOMPARE(num * 10, ratioTenths * den);

    // X keeps no wheel lines: the command says so.
    dispatch(R"({"funcname":"modifyMouseScrollLines","linenum":"3"})", cb);
    QCOMPARE(cb->last().text, QStringLiteral("modifyMouseScrollLines failed"));
}

void tst_ShellWindows::crashStartsTheReporter() {
    const QString folder = buildpaths::resolve(TAVIX_STAGE_DIR);
    const QStringList before = QDir(folder).entryList({"*.dmp"}, QDir::Files);
    QTemporaryDir work;
    QProcess program;
    prepareProgram(program, work.path());
    program.start(folder + "/tavix", {"-crashtest"});
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::CrashExit);

    QStringList dumps = QDir(folder).entryList({"*.dmp"}, QDir::Files);
    for (const QString& old : before)
        dumps.removeAll(old);
    QCOMPARE(dumps.size(), 1);
    const QString dump = folder + "/" + dumps.first();
    struct Remove {
        QString path;
        ~Remove() { QFile::remove(path); }
    } removeDump{dump};
    QFile file(dump);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readLine().startsWith("tavix crash dump"));
    file.close();

    // The reporter's window comes up; its process was given the dump.
    qint64 reporter = 0;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (const auto& window : w::topLevelWindows()) {
                if (window.title == "CrashReporter" && window.visible)
                    reporter = qint64(window.processId);
            }
            return reporter != 0;
        }(),
        20000);
    QFile cmdline(QString("/proc/%1/cmdline").arg(reporter));
    QVERIFY(cmdline.open(QIODevice::ReadOnly));
    const QList<QByteArray> args = cmdline.readAll().split('\0');
    ::kill(pid_t(reporter), SIGTERM);
    QVERIFY(args.size() >= 2);
    QCOMPARE(QString::fromLocal8Bit(args.at(1)), dump);
}

// A double click on the launcher, or autostart meeting a click: two copies of the program start
// at the same moment. Each time one stays with its window, and the other hands over and ends.
void tst_ShellWindows::twoCopiesStartedTogetherMakeOneWindow() {
    const QString folder = buildpaths::resolve(TAVIX_STAGE_DIR);
    QTemporaryDir work;
    for (int round = 0; round < 15; ++round) {
        QProcess copies[2];
        for (QProcess& copy : copies) {
            prepareProgram(copy, work.path());
            copy.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            copy.start(folder + "/tavix", QStringList());
        }
        for (QProcess& copy : copies)
            QVERIFY(copy.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(copies[0].state() == QProcess::NotRunning ||
                                     copies[1].state() == QProcess::NotRunning,
                                 60000);
        QProcess& second = copies[0].state() == QProcess::NotRunning ? copies[0] : copies[1];
        QProcess& first = &second == &copies[0] ? copies[1] : copies[0];
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        // The first one has its window and keeps it.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const auto& window : w::topLevelWindows()) {
                    if (window.title == "tavix" && window.visible &&
                        qint64(window.processId) == first.processId())
                        return true;
                }
                return false;
            }(),
            30000);
        QTest::qWait(1000);
        QCOMPARE(first.state(), QProcess::Running);
        first.terminate();
        QVERIFY(first.waitForFinished(20000));
    }
}

// The moment between two copies' starts where one has claimed the name but does not listen yet
// (here the test is that copy): the other does not make itself the first but asks again until
// the first answers, then hands over and ends without a window.
void tst_ShellWindows::aCopyFindingTheNameClaimedWaitsForItsListener() {
    QTemporaryDir work;
    const QString name = singleinstance::serverName();
    const QByteArray temp = qgetenv("TMPDIR");
    qputenv("TMPDIR", work.path().toLocal8Bit());
    const platform::ResultOf<bool> claim = platform::claimInstance(name.toStdString());
    qputenv("TMPDIR", temp);
    QVERIFY(claim.ok && claim.value);

    QProcess program;
    prepareProgram(program, work.path());
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(buildpaths::resolve(TAVIX_STAGE_DIR "/tavix"), QStringList());
    QVERIFY(program.waitForStarted());
    QTest::qWait(3000);
    QCOMPARE(program.state(), QProcess::Running);

    QLocalServer first;
    QVERIFY2(first.listen(work.filePath(name)), qPrintable(first.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(first.hasPendingConnections(), 20000);
    QLocalSocket* copy = first.nextPendingConnection();
    QByteArray asked;
    QTRY_COMPARE_WITH_TIMEOUT(asked += copy->readAll(), QByteArray("CMD:show;"), 10000);
    copy->write(singleinstance::reply(QCoreApplication::applicationPid()));
    QVERIFY(copy->waitForBytesWritten(5000));
    QVERIFY(program.waitForFinished(20000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

// Mend: a copy started while the first one was ending connected, got no answer and waited for
// ever; it gives up after a while, says so and ends.
void tst_ShellWindows::secondCopyGivesUpOnASilentFirst() {
    QTemporaryDir work;
    // Listens on the instance name and never answers, as a first copy that is ending.
    QLocalServer silent;
    QVERIFY(silent.listen(work.filePath(singleinstance::serverName())));
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", work.path());
    env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(work.path());
    QElapsedTimer clock;
    clock.start();
    program.start(buildpaths::resolve(TAVIX_STAGE_DIR "/tavix"), {});
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    QVERIFY(clock.elapsed() >= singleinstance::kAnswerTimeoutMs);
    QVERIFY(program.readAllStandardError().contains("the running copy did not answer"));
    QTRY_VERIFY(silent.hasPendingConnections());
}

int main(int argc, char** argv) {
    // The display must exist before the application connects to it.
    PrivateDisplay display(PrivateDisplay::WindowManager | PrivateDisplay::Tray);
    if (!display.ok()) {
        std::printf("skipped: needs Xvfb\n");
        return 77;
    }
    g_display = &display;
    ClientApp::prepareEnvironment();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    int result = 0;
    {
        QApplication app(argc, argv);
        tst_ShellWindows test;
        result = QTest::qExec(&test, argc, argv);
    }
    // The browser engine keeps its own connection to the display past the application, and
    // would end the process when the server goes: ask the server to go, and end first.
    std::fflush(stdout);
    std::fflush(stderr);
    display.terminateWithoutWaiting();
    std::_Exit(result);
}

#include "tst_shellwindows.moc"
