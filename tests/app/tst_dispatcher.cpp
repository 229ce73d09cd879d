#include "app/dispatcher.h"
#include "bridge/args.h"
#include "config/confcommands.h"
#include "config/configstore.h"
#include "input/inputcommands.h"
#include "input/recorder.h"
#include "input/redirection.h"
#include "recordingcallback.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

class RecordingWindow : public WindowRequests {
public:
    void maxsizeWindow() override { calls << "max"; }
    void restoreWindow() override { calls << "restore"; }
    QStringList calls;
};

} // namespace

class DispatcherTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<ConfigStore> m_store;
    std::unique_ptr<ConfCommands> m_conf;
    RecordingWindow m_window;
    Dispatcher m_dispatcher;

    std::shared_ptr<RecordingCallback> send(const QString& request) {
        auto cb = makeRecorder();
        m_dispatcher.onJsMessage(request, cb);
        return cb;
    }

private slots:
    void initTestCase() {
        QDir().mkpath(m_dir.path() + "/Resources/profiles");
        QFile f(m_dir.path() + "/Resources/profiles/conf.xml");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<root><client closeFunc=\"hide\" version=\"1\"/></root>");
        f.close();
        m_store = std::make_unique<ConfigStore>(m_dir.path());
        m_store->load();
        m_conf = std::make_unique<ConfCommands>(*m_store, nullptr);
        m_dispatcher.context().conf = m_conf.get();
        m_dispatcher.context().window = &m_window;
    }

    void init() { m_window.calls.clear(); }

    void wholeTextWindowRequests() {
        QVERIFY(!send("{\"funcname\":\"maxsizeWindow\"}")->answered());
        QVERIFY(!send("{\"funcname\":\"restoreWindow\"}")->answered());
        QCOMPARE(m_window.calls, (QStringList{"max", "restore"}));
        // Any blank makes it an ordinary request, which matches no command.
        QVERIFY(!send("{\"funcname\": \"maxsizeWindow\"}")->answered());
        QVERIFY(!send(" {\"funcname\":\"restoreWindow\"}")->answered());
        QCOMPARE(m_window.calls, (QStringList{"max", "restore"}));
        // Without a window they are still recognised and dropped.
        m_dispatcher.context().window = nullptr;
        QVERIFY(!send("{\"funcname\":\"maxsizeWindow\"}")->answered());
        m_dispatcher.context().window = &m_window;
    }

    void knownCommandAnswersOnce() {
        auto cb = send("{\"funcname\":\"getConf\",\"extra\":[1,2,{\"deep\":true}],\"x\":null}");
        QCOMPARE(cb->answers.size(), size_t(1));
        QVERIFY(cb->last().success);
        QCOMPARE(cb->last().text, QString("[{\"closeFunc\":\"hide\",\"version\":\"1\"}]"));
    }

    void requestsThatGetNoAnswer_data() {
        QTest::addColumn<QString>("request");
        QTest::newRow("empty") << "";
        QTest::newRow("blank") << "   ";
        QTest::newRow("truncated") << "{\"funcname\":\"getConf\"";
        QTest::newRow("trailing garbage") << "{\"funcname\":\"getConf\"} x";
        QTest::newRow("array") << "[{\"funcname\":\"getConf\"}]";
        QTest::newRow("number") << "42";
        QTest::newRow("string") << "\"getConf\"";
        QTest::newRow("null") << "null";
        QTest::newRow("no funcname") << "{\"name\":\"getConf\"}";
        QTest::newRow("nested funcname") << "{\"args\":{\"funcname\":\"getConf\"}}";
        QTest::newRow("funcname number") << "{\"funcname\":27}";
        QTest::newRow("funcname null") << "{\"funcname\":null}";
        QTest::newRow("funcname object") << "{\"funcname\":{\"a\":\"getConf\"}}";
        QTest::newRow("funcname array") << "{\"funcname\":[\"getConf\"]}";
        QTest::newRow("capital") << "{\"funcname\":\"GetConf\"}";
        QTest::newRow("prefix") << "{\"funcname\":\"getConfX\"}";
        QTest::newRow("suffix") << "{\"funcname\":\"getCon\"}";
        QTest::newRow("capital G") << "{\"funcname\":\"GetDevicesList\"}";
        QTest::newRow("not landed") << "{\"funcname\":\"checkUpdate\"}";
        QTest::newRow("missing args") << "{\"funcname\":\"setConf\",\"confKey\":\"closeFunc\"}";
        QTest::newRow("lone surrogate")
            << QString("{\"funcname\":\"getConf") + QChar(0xD800) + "\"}";
        QTest::newRow("deep nesting")
            << "{\"funcname\":\"getConf\",\"a\":" + QString(5000, '[') + QString(5000, ']') + "}";
        QTest::newRow("unclosed deep nesting") << QString(100000, '[');
        QTest::newRow("nul") << QString("{\"funcname\":\"get") + QChar(0) + "Conf\"}";
    }
    void requestsThatGetNoAnswer() {
        QFETCH(QString, request);
        QVERIFY(!send(request)->answered());
    }

    void tenMegabyteRequest() {
        QString big =
            "{\"funcname\":\"getConf\",\"blob\":\"" + QString(10 * 1024 * 1024, 'a') + "\"}";
        QCOMPARE(send(big)->answers.size(), size_t(1));
        big.chop(2);
        QVERIFY(!send(big)->answered());
    }

    // The input commands reach their group; here without a virtual device, so the mode cannot
    // be switched and the maps load empty.
    void inputCommandsAreWired_data() {
        QTest::addColumn<QString>("funcname");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("text");
        QTest::newRow("startRecord") << "startRecord" << true << "startRecord success!";
        QTest::newRow("stopRecord") << "stopRecord" << true << "stopRecord success";
        QTest::newRow("startVDevice") << "startVDevice" << false << "outPutDevice Not found!";
        QTest::newRow("stopVDevice") << "stopVDevice" << false << "outPutDevice Not found!";
        QTest::newRow("keyMapChanged") << "keyMapChanged" << true << "keyMapChanged success";
    }
    void inputCommandsAreWired() {
        QFETCH(QString, funcname);
        QFETCH(bool, success);
        QFETCH(QString, text);
        InputRedirection mode(nullptr);
        Recorder recorder([](const QStringList&) {});
        int loads = 0;
        InputCommands commands(mode, recorder, [&loads] {
            ++loads;
            return KeyMaps();
        });
        m_dispatcher.context().input = &commands;
        auto cb = send("{\"funcname\":\"" + funcname + "\"}");
        m_dispatcher.context().input = nullptr;
        recorder.stopRecord();
        QCOMPARE(cb->answers.size(), size_t(1));
        QCOMPARE(cb->last().success, success);
        QCOMPARE(cb->last().code, 0);
        QCOMPARE(cb->last().text, text);
        QCOMPARE(loads, funcname == "keyMapChanged" ? 1 : 0);
    }

    void lastDuplicateKeyWins() {
        auto cb = send("{\"funcname\":\"nope\",\"funcname\":\"getConf\"}");
        QCOMPARE(cb->answers.size(), size_t(1));
    }

    void tableOrderAndNames() {
        const QStringList names = Dispatcher::commandNames();
        QCOMPARE(names.size(), 48);
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), 48);
        QCOMPARE(names.first(), QString("getDevicesList"));
        QCOMPARE(names.indexOf("loadurl"), 8);
        QCOMPARE(names.indexOf("getConf"), 22);
        QCOMPARE(names.indexOf("checkUpdate"), 27);
        QCOMPARE(names.indexOf("closeApp"), 32);
        QCOMPARE(names.last(), QString("setIME"));
        QVERIFY(!names.contains("maxsizeWindow"));
        QVERIFY(!names.contains("moveWindow"));
    }

    void argumentConversions() {
        const QVariantMap a{{"n", 12.0},   {"f", 2.5},     {"s", "42"}, {"bad", "4x"},
                            {"neg", "-7"}, {"big", 1e300}, {"b", true}};
        QCOMPARE(args::str(a, "n"), QString("12"));
        QCOMPARE(args::str(a, "f"), QString("2.5"));
        QCOMPARE(args::str(a, "s"), QString("42"));
        QCOMPARE(args::str(a, "missing"), QString());
        QVERIFY(!args::str(a, "big").isEmpty());
        QCOMPARE(args::integer(a, "s"), 42);
        QCOMPARE(args::integer(a, "bad"), 0);
        QCOMPARE(args::integer(a, "neg"), -7);
        QCOMPARE(args::integer(a, "n"), 12);
        QCOMPARE(args::integer(a, "missing"), 0);
        QVERIFY(args::has(a, "b"));
        QVERIFY(!args::has(a, "B"));
    }
};

QTEST_GUILESS_MAIN(DispatcherTest)
#include "tst_dispatcher.moc"
