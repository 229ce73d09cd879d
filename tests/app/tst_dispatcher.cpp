#include "../online/onlinetesthost.h"
#include "app/appcommands.h"
#include "app/dispatcher.h"
#include "app/systemcommands.h"
#include "bridge/args.h"
#include "config/confcommands.h"
#include "config/configstore.h"
#include "config/profilecache.h"
#include "config/profilecommands.h"
#include "device/devicecommands.h"
#include "input/inputcommands.h"
#include "input/keymaploader.h"
#include "input/recorder.h"
#include "input/redirection.h"
#include "online/onlinecommands.h"
#include "online/onlinesettings.h"
#include "platform/sim/syssettings.h"
#include "recordingcallback.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

class RecordingWindow : public WindowRequests {
public:
    void maxsizeWindow() override { calls << "max"; }
    void restoreWindow() override { calls << "restore"; }
    QStringList calls;
};

// One page command, arguments its owner takes, and what its owner does with them: answers and
// calls of the hosts, in order, joined by " | ". Profile commands run on their worker, so they
// answer after the call.
struct Row {
    const char* name;
    const char* trace;
};

const char* const kDeviceArgs = R"j({"HardwareID":"h","DevicePath":"p","PARAMID":"1",)j"
                                R"j("PARAMADDRESS":"0x0","PARAMSIZE":"x","PARAMDATA":"1"})j";
// Every expression fails, so the profile stays as it is.
const char* const kProfileArgs =
    R"j({"filePath":"p.xml","xpath":"count(/)","attribute":"a","attributeValue":"b",)j"
    R"j("subTreeString":"<x/>","addNodeName":"n","srcFilePath":"p.xml","desFilePath":"p.xml",)j"
    R"j("srcXpath":"count(/)","desXpath":"count(/)","args":"1"})j";
const char* const kOtherArgs =
    R"j({"url":"tavixtest:x","relativeUrl":"/view/v.html","size":"300,200","msg":"m","speednum":"-1",)j"
    R"j("linenum":"-1","confKey":"nope","confValue":"1","deviceId":"none","hotkey":"F9",)j"
    R"j("downloadUrl":"","relativePath":"/","filePathLists":"no such file"})j";

const Row kRows[] = {
    {"getDevicesList", "ok:[]"},
    {"readDevicesProp", "fail:PARAMSIZE out of range"},
    {"writeDevicesProp", "fail:PARAMSIZE out of range"},
    {"readByAddr", "fail:PARAMSIZE out of range"},
    {"writeByAddr", "fail:PARAMSIZE out of range"},
    {"isPropEmpty", "fail:PARAMSIZE out of range"},
    {"cleanMacroByAddr", "fail:PARAMSIZE out of range"},
    {"writeMacroByAddr", "fail:PARAMSIZE out of range"},
    {"loadurl", "view:load"},
    {"queryProfile", "later fail:queryProfile load xml file failed!"},
    {"nodeCounterProfile", "later fail:nodeCounterProfile load xml file failed!"},
    {"modifyProfile", "later fail:modifyProfile load xml file failed!"},
    {"modifyProfileEx", "later fail:modifyProfileEx load xml file failed!"},
    {"modifyRemoveProfile", "later fail:modifyProfile load xml file failed!"},
    {"modifyAddProfile", "later fail:modifyProfile load xml file failed!"},
    {"modifyReplaceProfile", "later fail:modifyReplaceProfile load xml file failed!"},
    {"modifyReplaceSubNode", "later fail:modifyReplaceProfile load xml file failed!"},
    {"modifyReplaceProfileEx", "later fail:modifyReplaceProfile load xml file failed!"},
    {"resetProfile", "later ok:resetProfile success"},
    {"queryHexByte", "later fail:modifyProfile load xml file failed!"},
    {"goback", "view:back | ok:goback"},
    {"goforward", "view:forward | ok:goforward"},
    {"getConf", "ok:[{\"closeFunc\":\"hide\",\"version\":\"1\"}]"},
    {"getHotKey", "hotkeys:refresh | ok:[]"},
    {"setHotKey", "fail:can't find deviceInfo"},
    {"setConf", "fail:can't find conf name"},
    {"resetConf", "ok:resetConf success"},
    {"checkUpdate", "modal:infoDlg"},
    {"savexml", "later ok:save xml success"},
    {"saveXmlAs", "later fail:saveXmlAs load xml file failed!"},
    {"modifyMouseSpeed", "fail:modifyMouseSpeed failed"},
    {"modifyMouseScrollLines", "fail:modifyMouseScrollLines failed"},
    {"closeApp", "app:hide | ok:modify conf sucess"},
    {"startRecord", "ok:startRecord success!"},
    {"stopRecord", "ok:stopRecord success"},
    {"startVDevice", "fail:outPutDevice Not found!"},
    {"stopVDevice", "fail:outPutDevice Not found!"},
    {"getVDevice", "ok:0"},
    {"keyMapChanged", "input:load | ok:keyMapChanged success"},
    {"saveFileDialog", "modal:QFileDialog | view:fileDialogClosed"},
    {"openFileDialog", "modal:QFileDialog | view:fileDialogClosed"},
    {"openUrl", "url:tavixtest:x | ok:open successed"},
    {"downloadFile", "fail:url file is not captured"},
    // The package is built on a thread of its own.
    {"synchronizeConf", "later fail:calculate md5 falied!"},
    {"openView", "view:open"},
    {"closeView", "view:close"},
    {"sendMsgToMainBrowser", "view:onBrowserMsg | ok:sendMsgToMainBrowser success"},
    {"openFileDialogEx", "modal:QFileDialog | view:fileDialogClosed"},
    {"setIME", "ok:setIME success!"},
    {"getMouseSettings", "ok:{\"scrollLines\":\"3\",\"speed\":\"10\"}"},
    {"fileExists", "ok:0"},
};

// Notes every answer in the shared trace.
class TraceCallback : public CefMessageRouterBrowserSide::Callback {
public:
    explicit TraceCallback(QStringList* trace) : m_trace(trace) {}
    void Success(const QString& text) override { *m_trace << "ok:" + text; }
    void Failure(int, const QString& text) override { *m_trace << "fail:" + text; }

private:
    QStringList* m_trace;
};

class TraceViewHost : public ViewHost {
public:
    explicit TraceViewHost(QStringList* trace) : m_trace(trace) {}
    void loadMainPage(const QString&) override { *m_trace << "view:load"; }
    void mainPageHistory(bool back) override { *m_trace << (back ? "view:back" : "view:forward"); }
    void openView(const QString&, const QSize&) override { *m_trace << "view:open"; }
    void closeView() override { *m_trace << "view:close"; }
    void pushToMainPage(const QString& name, const QString&) override {
        *m_trace << "view:" + name;
    }
    QWidget* dialogParent() override { return nullptr; }

private:
    QStringList* m_trace;
};

class TraceAppHost : public AppHost {
public:
    explicit TraceAppHost(QStringList* trace) : m_trace(trace) {}
    void quitApplication() override { *m_trace << "app:quit"; }
    void hideToTray() override { *m_trace << "app:hide"; }

private:
    QStringList* m_trace;
};

class TraceHotKeys : public DeviceHotKeyHost {
public:
    explicit TraceHotKeys(QStringList* trace) : m_trace(trace) {}
    QMap<QString, QPair<QString, QString>> refreshDeviceHotKeys() override {
        *m_trace << "hotkeys:refresh";
        return {};
    }
    int setDeviceHotKey(const QString&, const QString&) override { return 0; }

private:
    QStringList* m_trace;
};

class TraceUrls : public QObject {
    Q_OBJECT
public:
    QStringList* trace = nullptr;
public slots:
    void open(const QUrl& url) { *trace << "url:" + url.toString(); }
};

// Every command group as the program builds it, over a program folder of its own; the hosts
// note what reaches them. The device library is missing, the profile commands have their worker.
struct Groups {
    explicit Groups(const QString& folder)
        : view(&trace), appHost(&trace), hotKeys(&trace), store(folder), profiles(cache, folder),
          system(view, ProgramFolders::staged(folder)), app(store, appHost),
          recorder([](const QStringList&) {}), input(mode, recorder,
                                                     [this] {
                                                         trace << "input:load";
                                                         return KeyMaps();
                                                     }),
          devices(nullptr, folder + "/no-such-library"), device(devices, store),
          onlineHost(folder + "/online", "<root/>"),
          online(onlineHost, OnlineSettings(folder + "/online/")) {
        store.load();
        conf.reset(new ConfCommands(store, nullptr));
        conf->setDeviceHotKeys(&hotKeys);
        cache.load(folder + "/p.xml");
        profiles.startWorker();
        CommandContext& c = dispatcher.context();
        c.conf = conf.get();
        c.profiles = &profiles;
        c.device = &device;
        c.system = &system;
        c.app = &app;
        c.input = &input;
        c.online = &online;
    }
    ~Groups() { recorder.stopRecord(); }

    QStringList trace;
    TraceViewHost view;
    TraceAppHost appHost;
    TraceHotKeys hotKeys;
    ConfigStore store;
    std::unique_ptr<ConfCommands> conf;
    ProfileCache cache;
    ProfileCommands profiles;
    SystemCommands system;
    AppCommands app;
    InputRedirection mode{nullptr};
    Recorder recorder;
    InputCommands input;
    devices_handler devices;
    DeviceCommands device;
    OnlineTestHost onlineHost;
    OnlineCommands online;
    Dispatcher dispatcher;
};

// A slow query, an edit of the key map and the key map reload, sent together.
const char* const kInOrder[] = {
    R"({"funcname":"queryProfile","filePath":"slow.xml","xpath":"//*[count(//*) > 0]"})",
    R"({"funcname":"modifyProfile","filePath":"map.xml","xpath":"/conf/k/c",)"
    R"("attribute":"value","attributeValue":"05"})",
    R"({"funcname":"keyMapChanged"})"};
const char* const kCapsLockMap = R"(<conf><k scanCode="58" flag="0" playType="0" playCount="1">)"
                                 R"(<c task="down" value="04"/></k></conf>)";

// The two writers of conf.xml.
const char* const kSmallConf = R"(<root><client closeFunc="hide" version="1"/></root>)";
const char* const kConfRead = R"({"funcname":"queryProfile",)"
                              R"("filePath":"Resources/profiles/conf.xml","xpath":"/root/client"})";
const char* const kConfEdit =
    R"({"funcname":"modifyProfile","filePath":"Resources/profiles/conf.xml",)"
    R"("xpath":"/root/client","attribute":"version","attributeValue":"2"})";
const char* const kSave = R"({"funcname":"savexml"})";
const char* const kConfSet = R"({"funcname":"setConf","confKey":"closeFunc","confValue":"quit"})";

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

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

    // Each name of the table, sent as the page sends it, reaches the group that owns it: what
    // comes back is that group's own doing. Only the profile commands answer after the call.
    void everyNameReachesItsOwner_data() {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("trace");
        for (const Row& row : kRows) {
            const bool device = QByteArray(row.trace).startsWith("fail:PARAMSIZE") ||
                                QByteArray(row.name) == "getDevicesList";
            // The profile commands answer later from their worker; the sync answers later too,
            // but takes the others' arguments.
            const bool profile = QByteArray(row.trace).startsWith("later ") &&
                                 QByteArray(row.name) != "synchronizeConf";
            QVariantMap request = QJsonDocument::fromJson(device    ? kDeviceArgs
                                                          : profile ? kProfileArgs
                                                                    : kOtherArgs)
                                      .toVariant()
                                      .toMap();
            request.insert("funcname", row.name);
            // The main page loads only the program's pages (openUrl takes "url" as it is).
            if (QByteArray(row.name) == "loadurl")
                request.insert("url", "/view/v.html");
            QTest::newRow(row.name) << QString::fromUtf8(QJsonDocument::fromVariant(request).toJson(
                                           QJsonDocument::Compact))
                                    << row.trace;
        }
    }
    void everyNameReachesItsOwner() {
        QFETCH(QString, request);
        QFETCH(QString, trace);
        QDir folder(m_dir.filePath("owners"));
        QVERIFY(folder.removeRecursively() && QDir().mkpath(folder.filePath("Resources/profiles")));
        QFile conf(folder.filePath("Resources/profiles/conf.xml"));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("<root><client closeFunc=\"hide\" version=\"1\"/>"
                   "<defaultConf closeFunc=\"hide\" version=\"1\"/></root>");
        conf.close();
        QFile profile(folder.filePath("p.xml"));
        QVERIFY(profile.open(QIODevice::WriteOnly));
        profile.write("<root><key code=\"%\"/></root>");
        profile.close();
        // The system's settings as a system in memory holds them.
        platform::syssettings::sim::Backend system;
        platform::syssettings::installBackend(&system);
        struct Restore {
            ~Restore() { platform::syssettings::installBackend(nullptr); }
        } restore;

        Groups groups(folder.path());
        TraceUrls urls;
        urls.trace = &groups.trace;
        QDesktopServices::setUrlHandler("tavixtest", &urls, "open");
        // A dialog the command opens is noted and closed, as a user would cancel it.
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&groups] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                groups.trace << QString("modal:") + dialog->metaObject()->className();
                dialog->reject();
            }
        });
        closer.start(10);

        groups.dispatcher.onJsMessage(request, std::make_shared<TraceCallback>(&groups.trace));
        QString seen = groups.trace.join(" | ");
        if (seen.isEmpty()) {
            QTRY_VERIFY(!groups.trace.isEmpty());
            seen = "later " + groups.trace.join(" | ");
        }
        QDesktopServices::unsetUrlHandler("tavixtest");
        QCOMPARE(seen, trace);
    }

    // Mend: seen from the page, a slow query, an edit of the key map and keyMapChanged sent
    // together were answered keyMapChanged first, which had read the old map. Now each takes
    // effect, and is answered, in the order sent.
    void commandsTakeEffectInArrivalOrder() {
        QDir folder(m_dir.filePath("order"));
        QVERIFY(folder.removeRecursively() && folder.mkpath("."));
        QByteArray big = "<root>";
        for (int i = 0; i < 4000; ++i)
            big += "<k id=\"" + QByteArray::number(i) + "\"/>";
        QVERIFY(writeFile(folder.filePath("slow.xml"), big + "</root>"));
        QVERIFY(writeFile(folder.filePath("map.xml"), kCapsLockMap));
        ProfileCache cache;
        ProfileCommands profiles(cache, folder.path());
        profiles.startWorker();
        InputRedirection mode(nullptr);
        Recorder recorder([](const QStringList&) {});
        QString plays;
        InputCommands input(mode, recorder, [&] {
            KeyMaps maps;
            parseKeyMapFile(cache.load(folder.filePath("map.xml")).value_or(""), &maps.defaultMap);
            plays = maps.defaultMap.value({58, 0}).commands.value(0).second;
            return maps;
        });
        Dispatcher dispatcher;
        dispatcher.context().profiles = &profiles;
        dispatcher.context().input = &input;
        QStringList trace;
        const auto send = [&](const char* request) {
            dispatcher.onJsMessage(request, std::make_shared<TraceCallback>(&trace));
        };
        for (const char* request : kInOrder)
            send(request);
        QTRY_COMPARE_WITH_TIMEOUT(trace.size(), 3, 120000);
        QVERIFY(trace.at(0).startsWith("ok:<root>"));
        QCOMPARE(trace.mid(1),
                 (QStringList{"ok:modifyProfile success!", "ok:keyMapChanged success"}));
        QCOMPARE(plays, QString("05"));
        recorder.stopRecord();
    }

    // Mend: setConf and the profile commands on conf.xml undid each other's saved changes;
    // now conf.xml has one writer and both changes stay, also after a restart.
    void confXmlHasOneWriter_data() {
        QTest::addColumn<QStringList>("requests");
        QTest::newRow("setConf, then a saved profile edit")
            << QStringList{kConfRead, kConfSet, kConfEdit, kSave};
        QTest::newRow("a saved profile edit, then setConf")
            << QStringList{kConfEdit, kSave, kConfSet};
    }
    void confXmlHasOneWriter() {
        QFETCH(QStringList, requests);
        QDir folder(m_dir.filePath("onewriter"));
        QVERIFY(folder.removeRecursively() && folder.mkpath("Resources/profiles"));
        QVERIFY(writeFile(folder.filePath("Resources/profiles/conf.xml"), kSmallConf));
        Groups groups(folder.path());
        groups.profiles.setConfigStore(&groups.store);
        QStringList trace;
        for (const QString& request : requests)
            groups.dispatcher.onJsMessage(request, std::make_shared<TraceCallback>(&trace));
        QTRY_COMPARE(trace.size(), requests.size());
        QVERIFY2(!trace.join(' ').contains("fail:"), qPrintable(trace.join(' ')));
        QTRY_VERIFY(groups.profiles.lane().idle());
        const QString expected = "{\"closeFunc\":\"quit\",\"version\":\"2\"}";
        auto cb = makeRecorder();
        groups.conf->getConf({}, cb);
        QCOMPARE(cb->last().text, "[" + expected + "]");
        ConfigStore restarted(folder.path());
        QVERIFY(restarted.load());
        QCOMPARE(restarted.clientAttribute("closeFunc"), QString("quit"));
        QCOMPARE(restarted.clientAttribute("version"), QString("2"));
    }

    void rowsCoverTheTable() {
        QStringList rows;
        for (const Row& row : kRows)
            rows << row.name;
        QCOMPARE(rows, Dispatcher::commandNames());
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

int main(int argc, char** argv) {
    // The file dialogs are Qt's own, so the test can close them.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    DispatcherTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_dispatcher.moc"
