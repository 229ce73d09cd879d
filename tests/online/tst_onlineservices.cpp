#include "../kx/kxfolder.h"
#include "onlinetesthost.h"
#include "packagetestutil.h"
#include "serverprocess.h"
#include "stallmeter.h"

#include "app/dispatcher.h"
#include "device/devices_handler.h"
#include "kx/firmware.h"
#include "kx/firmwaresession.h"
#include "online/firmwarewriter.h"
#include "online/httprequestworker.h"
#include "online/onlinecommands.h"
#include "online/serveranswers.h"
#include "online/synchronizeconf.h"
#include "online/updatecheck.h"
#include "online/updatedlg.h"
#include "online/updateinstall.h"
#include "tools/pack/firmwareimage.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLibrary>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <QtTest>

#include <pugixml.hpp>

using namespace packagetest;

namespace {

const char* kConf = "<?xml version=\"1.0\"?>\n<root>\n\t<client version=\"1.0.0\" "
                    "synchronize=\"0\" apiServer=\"\" />\n</root>\n";

// A page request's answer.
struct Answer {
    int count = 0;
    bool success = false;
    QString text;
};

class RecordingCallback : public CefMessageRouterBrowserSide::Callback {
public:
    explicit RecordingCallback(Answer* a) : m_a(a) {}
    void Success(const QString& response) override {
        ++m_a->count;
        m_a->success = true;
        m_a->text = response;
    }
    void Failure(int, const QString& message) override {
        ++m_a->count;
        m_a->success = false;
        m_a->text = message;
    }

private:
    Answer* m_a;
};

RouterCallback recorder(Answer* a) {
    return std::make_shared<RecordingCallback>(a);
}

// A loopback HTTP server that gives every request the same answer and keeps what it was sent.
class FixedAnswerServer : public QTcpServer {
public:
    explicit FixedAnswerServer(const QByteArray& answer) : m_answer(answer) {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* s = nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, s, [this, s] {
                requests << s->readAll();
                s->write(m_answer);
                s->disconnectFromHost();
            });
        });
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(serverPort()); }
    QList<QByteArray> requests;

private:
    QByteArray m_answer;
};

bool waitFor(const std::function<bool()>& done, int ms = 15000) {
    for (int waited = 0; !done() && waited < ms; waited += 20)
        QTest::qWait(20);
    return done();
}

// A device library's update mode that records what the firmware writing asks of it.
struct FakeSession : kx::FirmwareSession {
    bool updateDeviceAppears = true;
    bool inUpdateMode = false;
    int failBlock = -1;
    bool checkFails = false;
    QStringList calls;
    QList<int> blockSizes;
    QList<quint32> offsets;
    quint32 checkedLength = 0;
    quint32 checkedSum = 0;

    static platform::Result answer(bool ok) {
        return ok ? platform::Result::success() : platform::Result::failure(0, "refused");
    }
    bool devicePresent(const QString&) override { return true; }
    bool updateDevicePresent() override { return inUpdateMode; }
    platform::Result enterUpdateMode(const QString&) override {
        calls << QStringLiteral("reset 1");
        inUpdateMode = updateDeviceAppears;
        return answer(true);
    }
    bool canUpdate() const override { return true; }
    platform::Result erase() override {
        calls << QStringLiteral("erase");
        return answer(true);
    }
    platform::Result writeBlock(const uint8_t*, int count, uint32_t offset) override {
        const int index = blockSizes.size();
        blockSizes << count;
        offsets << offset;
        return answer(index != failBlock);
    }
    platform::Result check(uint32_t length, uint32_t sum) override {
        calls << QStringLiteral("check");
        checkedLength = length;
        checkedSum = sum;
        return answer(!checkFails);
    }
    platform::Result finish() override {
        calls << QStringLiteral("finish");
        return answer(true);
    }
};
FakeSession g_kx;

// An update.bin: magic, image at 264, length at 66113, checksum at 66121.
QByteArray firmwareFile(quint64 length, quint32 magic = 4118) {
    namespace fw = kx::firmware;
    QByteArray f(fw::kFileSize, '\0');
    auto put = [&f](int at, quint64 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            f[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    put(0, magic, 4);
    for (quint64 i = 0; i < qMin<quint64>(length, fw::kFileSize - 264); ++i)
        f[int(264 + i)] = static_cast<char>(i);
    put(fw::kLengthOffset, length, 8);
    put(fw::kChecksumOffset, 0xC0FFEEu, 4);
    return f;
}

// A firmware image that the emulated adapter takes as version `version`.
QByteArray versionedImage(const QByteArray& version) {
    QByteArray image("KXFW");
    image += version.leftJustified(16, '\0');
    for (int i = 0; i < 5000; ++i)
        image += static_cast<char>(i * 7);
    return image;
}

OnlineDevice adapter() {
    return OnlineDevice{QStringLiteral("04D9A0F1"), QStringLiteral("SN-0001"),
                        QStringLiteral("1.0"), QStringLiteral("HID\\Vid_04d9&Pid_a0f1"),
                        QStringLiteral("HID\\Vid_04d9&Pid_a0f1")};
}

} // namespace

class OnlineServicesTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void productInfoRecordedInOrder_data();
    void productInfoRecordedInOrder();

    void arrivalRecordsAndInstallsPagesOnce();
    void answerWithoutRetRecordsNothing();
    void productRequestThatNeverEndsIsAskedAgain();

    void syncPackageBuild_data();
    void syncPackageBuild();
    void syncUploadCheckDownload();
    void syncDownloadRefused_data();
    void syncDownloadRefused();
    void syncedConfIsTakenIn();
    void syncWithMissingFileSendsNothing();
    void syncWithoutServerFails();

    void updateAnswers_data();
    void updateAnswers();
    void checkWithoutDeviceShowsInfoOnly();
    void fullUpdateInstallsEveryKind();
    void refusedPackagesAreSaidInWords_data();
    void refusedPackagesAreSaidInWords();
    void installedCopyLeavesTheProgramToPackages_data();
    void installedCopyLeavesTheProgramToPackages();

    void firmwareWriting_data();
    void firmwareWriting();
    void firmwareThroughEmulatedAdapter();
    void updateDialogUpdatesEmulatedAdapter();

    void downloadFile_data();
    void downloadFile();
    void downloadFileIsWholeOrFails();
    void pageRequestsReachTheCommands_data();
    void pageRequestsReachTheCommands();
    void refusalsLeaveProgramFolderAlone_data();
    void refusalsLeaveProgramFolderAlone();

private:
    QString folder() const { return m_dir->path() + QLatin1Char('/'); }
    OnlineSettings settings() const { return OnlineSettings(folder()); }
    QString data() const { return m_data->path(); }
    void writeCatalog(const QJsonObject& catalog) {
        QVERIFY(
            writeFile(data() + QStringLiteral("/catalog.json"), QJsonDocument(catalog).toJson()));
    }
    QTemporaryDir* m_dir = nullptr;
    QTemporaryDir* m_data = nullptr;
    OnlineTestHost* m_host = nullptr;
};

void OnlineServicesTest::init() {
    m_dir = new QTemporaryDir;
    m_data = new QTemporaryDir;
    QDir().mkpath(folder() + QStringLiteral("Resources/profiles"));
    m_host = new OnlineTestHost(m_dir->path(), QString::fromUtf8(kConf));
    m_host->devices << adapter();
    g_kx = FakeSession();
    m_host->session = &g_kx;
    m_host->waits = FirmwareWaits().scaled(0);
    updateinstall::runUpdaterOnExit = false;
}

void OnlineServicesTest::cleanup() {
    delete UpdateCheck::currentDialog();
    delete m_host;
    delete m_dir;
    delete m_data;
}

void OnlineServicesTest::productInfoRecordedInOrder_data() {
    QTest::addColumn<QString>("conf");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("description");
    QTest::newRow("new device, professional edition")
        << QString::fromUtf8(kConf) << "1" << QStringLiteral("专业版");
    QTest::newRow("new device, other type") << QString::fromUtf8(kConf) << "0" << QString();
    QTest::newRow("recorded before in another order")
        << QStringLiteral("<root><client/><conf deviceId=\"04D9A0F1\"><productInfo GHotKey=\"x\" "
                          "device=\"OLD\" name=\"n\" /></conf></root>")
        << "2" << QString();
}

void OnlineServicesTest::productInfoRecordedInOrder() {
    QFETCH(QString, conf);
    QFETCH(QString, type);
    QFETCH(QString, description);
    m_host->writeConfFile(conf);
    QVERIFY(m_host->recordProductInfo(
        QStringLiteral("04D9A0F1"),
        serveranswers::productRecord({type, QStringLiteral("Adapter"), QStringLiteral("KX100"),
                                      QStringLiteral("pages.pkg")})));
    const QString out = m_host->readConfFile();
    pugi::xml_document doc;
    QVERIFY(doc.load_string(out.toUtf8().constData()));
    QCOMPARE(doc.child("root").select_nodes("conf[@deviceId='04D9A0F1']").size(), size_t(1));
    const pugi::xml_node info =
        doc.select_node("/root/conf[@deviceId='04D9A0F1']/productInfo").node();
    QStringList names, values;
    for (const pugi::xml_attribute a : info.attributes()) {
        names << QString::fromUtf8(a.name());
        values << QString::fromUtf8(a.value());
    }
    QCOMPARE(names, (QStringList{"name", "productType", "productName", "productCN", "description",
                                 "device", "GHotKey"}));
    QCOMPARE(values, (QStringList{QStringLiteral("产品信息"), type, "Adapter", "KX100", description,
                                  "KX100", ""}));
}

// A device model's pages are fetched when they are missing, and only then.
void OnlineServicesTest::arrivalRecordsAndInstallsPagesOnce() {
    QVERIFY(writeFile(
        data() + QStringLiteral("/files/pages-KX100.pkg"),
        signedPackage({{QStringLiteral("KX100/index.html"), "<html/>"}}, QStringLiteral("html"))));
    writeCatalog(QJsonObject{
        {"products", QJsonObject{{"*", QJsonObject{{"productType", "1"},
                                                   {"productNO", "KX100"},
                                                   {"productName", "Adapter"},
                                                   {"clientDevice", "pages-KX100.pkg"}}}}}});
    ServerProcess server(data(), {QStringLiteral("--verbose")});
    QVERIFY(server.ok());
    m_host->api = server.base();
    OnlineCommands online(*m_host, settings());
    const QString page = folder() + QStringLiteral("view/device/KX100/index.html");

    online.deviceArrived(QStringLiteral("04D9A0F1"), adapter());
    QVERIFY(waitFor([&] { return m_host->arrivals.size() == 1; }));
    QCOMPARE(readFile(page), QByteArray("<html/>"));
    // The program hears of the installed file (its key maps are read again).
    QCOMPARE(m_host->replaced, QStringList{QStringLiteral("view/device/KX100/index.html")});
    QCOMPARE(m_host->recordedPageFolder(QStringLiteral("04D9A0F1")).value,
             std::optional<QString>(QStringLiteral("KX100")));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("tupdates")));

    online.deviceArrived(QStringLiteral("04D9A0F1"), adapter());
    QTest::qWait(300);
    QCOMPARE(server.requestCount(QStringLiteral("/api/system/product/getInfo")), 1);
    QCOMPARE(m_host->arrivals.size(), 1);

    QVERIFY(QDir(folder() + QStringLiteral("view/device/KX100")).removeRecursively());
    online.deviceArrived(QStringLiteral("04D9A0F1"), adapter());
    QVERIFY(waitFor([&] { return m_host->arrivals.size() == 2; }));
    QCOMPARE(readFile(page), QByteArray("<html/>"));
    // The server logs a request after answering it.
    QVERIFY(waitFor(
        [&] { return server.requestCount(QStringLiteral("/files/pages-KX100.pkg")) == 2; }));
}

void OnlineServicesTest::answerWithoutRetRecordsNothing() {
    writeCatalog(QJsonObject{{"products", QJsonObject{}}});
    ServerProcess server(data(), {QStringLiteral("--verbose")});
    QVERIFY(server.ok());
    m_host->api = server.base();
    OnlineCommands online(*m_host, settings());
    online.deviceArrived(QStringLiteral("04D9A0F1"), adapter());
    QVERIFY(waitFor(
        [&] { return server.requestCount(QStringLiteral("/api/system/product/getInfo")) == 1; }));
    QTest::qWait(300);
    QCOMPARE(m_host->commits, 1); // only the one that set the host up
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("tupdates")));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("view/device")));
}

// A product request the server never answers ends with the API's time-out, and the next arrival
// asks again.
void OnlineServicesTest::productRequestThatNeverEndsIsAskedAgain() {
    ServerProcess server(data(), {QStringLiteral("--verbose"), QStringLiteral("--misbehave"),
                                  QStringLiteral("hang"), QStringLiteral("--on"),
                                  QStringLiteral("/api/system/product")});
    QVERIFY(server.ok());
    m_host->api = server.base();
    OnlineSettings quick = settings();
    quick.apiTimeoutMs = 300;
    OnlineCommands online(*m_host, quick);
    online.deviceArrived(QStringLiteral("04D9A0F1"), adapter());
    QTest::qWait(600);
    online.deviceArrived(QStringLiteral("04D9A0F1"), adapter());
    QVERIFY(waitFor(
        [&] { return server.requestCount(QStringLiteral("/api/system/product/getInfo")) == 2; }));
}

void OnlineServicesTest::syncPackageBuild_data() {
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<bool>("ok");
    QTest::newRow("empty list") << QStringList() << true;
    QTest::newRow("two files") << QStringList{"Resources/profiles/a.xml",
                                              "view/device/KX100/xml/configuration.xml"}
                               << true;
    QTest::newRow("missing file") << QStringList{"Resources/profiles/a.xml",
                                                 "Resources/profiles/nothing.xml"}
                                  << false;
    QTest::newRow("path out of the folder") << QStringList{"../a.xml"} << false;
    // Only what a sync may write back is sent.
    QTest::newRow("the page") << QStringList{"view/index.html"} << false;
}

void OnlineServicesTest::syncPackageBuild() {
    QFETCH(QStringList, paths);
    QFETCH(bool, ok);
    QVERIFY(writeFile(folder() + QStringLiteral("Resources/profiles/a.xml"), "<a/>"));
    QVERIFY(
        writeFile(folder() + QStringLiteral("view/device/KX100/xml/configuration.xml"), "<b/>"));
    QVERIFY(writeFile(folder() + QStringLiteral("view/index.html"), "<page/>"));
    QVERIFY(writeFile(m_dir->path() + QStringLiteral("/../a.xml"), "<x/>"));
    const auto built = synchronizeConf::buildPackage(folder(), paths);
    QCOMPARE(built.ok, ok);
    if (!ok)
        return;
    // The same files make the same package, so the MD5 the server sees stays the same.
    const QByteArray first = built.value;
    QCOMPARE(synchronizeConf::buildPackage(folder(), paths).value, first);
    QCOMPARE(first.left(128), QByteArray(128, '\0'));
    QByteArray payload;
    QVERIFY(unpackPayload(first, &payload));
    QDataStream ds(payload);
    ds.setVersion(14);
    quint32 count = 99;
    ds >> count;
    QCOMPARE(count, quint32(paths.size()));
    for (const QString& path : paths) {
        QString name;
        quint32 size = 0;
        QByteArray content;
        ds >> name >> size >> content;
        QCOMPARE(name, path);
        QCOMPARE(content, readFile(folder() + path));
        QCOMPARE(size, quint32(content.size()));
    }
    QVERIFY(ds.atEnd());
}

// Upload when the server holds nothing, "current" when nothing changed, download when the
// server holds a newer revision; each with its answer and the revision kept.
void OnlineServicesTest::syncUploadCheckDownload() {
    writeCatalog(QJsonObject{});
    QVERIFY(writeFile(folder() + QStringLiteral("Resources/profiles/p.xml"), "<mine/>"));
    ServerProcess server(data(), {QStringLiteral("--verbose")});
    QVERIFY(server.ok());
    m_host->api = server.base();
    OnlineCommands online(*m_host, settings());
    const QVariantMap request{{"filePathLists", "Resources/profiles/p.xml||"}};
    auto run = [&]() {
        Answer a;
        online.synchronizeConf(request, recorder(&a));
        waitFor([&] { return a.count > 0; });
        QTest::qWait(50);
        return a;
    };

    Answer a = run();
    QCOMPARE(a.count, 1);
    QVERIFY(a.success);
    QCOMPARE(a.text, QStringLiteral("upload synchrosize file success"));
    QCOMPARE(m_host->clientSetting(QStringLiteral("synchronize")), QStringLiteral("1"));
    QVERIFY(m_host->readConfFile().contains(QStringLiteral("synchronize=\"1\"")));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("tupload/upload/synchronize.dat")));

    a = run();
    QCOMPARE(a.count, 1);
    QCOMPARE(a.text, QStringLiteral("current version is new"));
    QCOMPARE(server.requestCount(QStringLiteral("/api/system/Sync/upload")), 1);

    // This copy is older than the server's and changed locally: the server's copy wins.
    QVERIFY(writeFile(folder() + QStringLiteral("Resources/profiles/p.xml"), "<changed/>"));
    m_host->setClientSetting(QStringLiteral("synchronize"), QStringLiteral("0"));
    a = run();
    QCOMPARE(a.count, 1);
    QVERIFY(a.success);
    QCOMPARE(a.text, QStringLiteral("download synchronize file success"));
    QCOMPARE(readFile(folder() + QStringLiteral("Resources/profiles/p.xml")),
             QByteArray("<mine/>"));
    QCOMPARE(m_host->replaced, QStringList{QStringLiteral("Resources/profiles/p.xml")});
    QCOMPARE(m_host->clientSetting(QStringLiteral("synchronize")), QStringLiteral("1"));
}

// The server's copy is refused: the page is told, no local file changes, and the revision
// stays, so the next sync does not send the stale copy over the server's newer one.
void OnlineServicesTest::syncDownloadRefused_data() {
    QTest::addColumn<QByteArray>("package");
    QTest::addColumn<QStringList>("serverArgs");
    const QString p = QStringLiteral("Resources/profiles/p.xml");
    auto sync = [](const QList<package::File>& files) {
        return packPayload(package::writePayload(files, nullptr));
    };
    QByteArray damaged = sync({{p, "<theirs/>"}});
    damaged[package::kDigestOffset] = static_cast<char>(damaged[package::kDigestOffset] ^ 1);
    QTest::newRow("damaged") << damaged << QStringList();
    for (const char* name :
         {"view/index.html", "qt.conf", "libkx.so", "Updater", "Resources/profiles/unlisted.xml"})
        QTest::newRow(name) << sync({{p, "<theirs/>"}, {QLatin1String(name), "evil"}})
                            << QStringList();
    QTest::newRow("empty") << sync({}) << QStringList();
    // 74 kB that would unpack to 500 MB: refused on its stated size, before anything is made.
    QTest::newRow("unpacks to 500 MB")
        << packPayload(package::writePayload({{p, QByteArray(70000, 'x')}}, nullptr), 500000000)
        << QStringList();
    QByteArray noise(300000, '\0'); // does not compress, so the transfer is long enough to cut
    QRandomGenerator rng(42);
    for (char& c : noise)
        c = static_cast<char>(rng.bounded(256));
    QTest::newRow("cut") << sync({{p, noise}})
                         << QStringList{QStringLiteral("--cut-after"), QStringLiteral("150000")};
}

void OnlineServicesTest::syncDownloadRefused() {
    QFETCH(QByteArray, package);
    QFETCH(QStringList, serverArgs);
    const QString stored =
        data() + QStringLiteral("/sync/") +
        QString::fromLatin1(
            QCryptographicHash::hash(QByteArray("04D9A0F1"), QCryptographicHash::Sha1).toHex());
    QVERIFY(writeFile(stored + QStringLiteral("/synchronize.dat"), package));
    QVERIFY(writeFile(stored + QStringLiteral("/revision"), "5"));
    const QString p = folder() + QStringLiteral("Resources/profiles/p.xml");
    QVERIFY(writeFile(p, "<mine/>"));
    QVERIFY(writeFile(folder() + QStringLiteral("view/index.html"), "<page/>"));
    ServerProcess server(data(), serverArgs);
    QVERIFY(server.ok());
    m_host->api = server.base();
    OnlineCommands online(*m_host, settings());
    Answer a;
    online.synchronizeConf({{"filePathLists", "Resources/profiles/p.xml|view/index.html"}},
                           recorder(&a));
    QVERIFY(waitFor([&] { return a.count > 0; }));
    QTest::qWait(50);
    QCOMPARE(a.count, 1);
    QVERIFY(!a.success);
    QCOMPARE(a.text, QStringLiteral("calculate md5 falied!"));
    // The page itself is never sent, nor taken: without it in the list the download is refused.
    online.synchronizeConf({{"filePathLists", "Resources/profiles/p.xml"}}, recorder(&a));
    QVERIFY(waitFor([&] { return a.count > 1; }));
    QTest::qWait(50);
    QCOMPARE(a.count, 2);
    QVERIFY(!a.success);
    QCOMPARE(a.text, QStringLiteral("on_downloadSynfileFaild"));
    QCOMPARE(readFile(p), QByteArray("<mine/>"));
    QCOMPARE(readFile(folder() + QStringLiteral("view/index.html")), QByteArray("<page/>"));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("qt.conf")));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("libkx.so")));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("Updater")));
    QCOMPARE(m_host->clientSetting(QStringLiteral("synchronize")), QStringLiteral("0"));
    QVERIFY(m_host->readConfFile().contains(QStringLiteral("synchronize=\"0\"")));
    QVERIFY(m_host->replaced.isEmpty());
}

// A synced conf.xml is the store's at once (its settings show, the next commit starts from it),
// but keeps this program's server, version and revision; the revision follows the files.
void OnlineServicesTest::syncedConfIsTakenIn() {
    const QString conf = QStringLiteral("Resources/profiles/conf.xml");
    const QByteArray theirs = "<?xml version=\"1.0\"?>\n<root>\n\t<client version=\"0.0.1\" "
                              "synchronize=\"9\" apiServer=\"http://elsewhere.example\" "
                              "updateKey=\"\" closeFunc=\"closeapp\" />\n</root>\n";
    const QString stored =
        data() + QStringLiteral("/sync/") +
        QString::fromLatin1(
            QCryptographicHash::hash(QByteArray("04D9A0F1"), QCryptographicHash::Sha1).toHex());
    QVERIFY(writeFile(stored + QStringLiteral("/synchronize.dat"),
                      packPayload(package::writePayload({{conf, theirs}}, nullptr))));
    QVERIFY(writeFile(stored + QStringLiteral("/revision"), "5"));
    ServerProcess server(data());
    QVERIFY(server.ok());
    m_host->api = server.base();
    m_host->writeConfFile(QStringLiteral("<root><client version=\"1.0.0\" synchronize=\"0\" "
                                         "apiServer=\"%1\" closeFunc=\"hide\"/></root>")
                              .arg(server.base()));
    QVERIFY(m_host->reloadConf());
    OnlineCommands online(*m_host, settings());
    Answer a;
    online.synchronizeConf({{"filePathLists", conf}}, recorder(&a));
    QVERIFY(waitFor([&] { return a.count > 0; }));
    QCOMPARE(a.text, QStringLiteral("download synchronize file success"));
    QCOMPARE(m_host->clientSetting(QStringLiteral("closeFunc")), QStringLiteral("closeapp"));
    QCOMPARE(m_host->clientSetting(QStringLiteral("apiServer")), server.base());
    QCOMPARE(m_host->clientSetting(QStringLiteral("version")), QStringLiteral("1.0.0"));
    QCOMPARE(m_host->clientSetting(QStringLiteral("synchronize")), QStringLiteral("5"));
    const QString file = m_host->readConfFile();
    QVERIFY2(file.contains(QStringLiteral("closeFunc=\"closeapp\"")) &&
                 file.contains(QStringLiteral("apiServer=\"%1\"").arg(server.base())) &&
                 file.contains(QStringLiteral("version=\"1.0.0\"")) &&
                 file.contains(QStringLiteral("synchronize=\"5\"")),
             qPrintable(file));
}

void OnlineServicesTest::syncWithMissingFileSendsNothing() {
    ServerProcess server(data(), {QStringLiteral("--verbose")});
    QVERIFY(server.ok());
    m_host->api = server.base();
    OnlineCommands online(*m_host, settings());
    Answer a;
    online.synchronizeConf({{"filePathLists", "Resources/profiles/missing.xml"}}, recorder(&a));
    QVERIFY(waitFor([&] { return a.count > 0; }));
    QCOMPARE(a.count, 1);
    QVERIFY(!a.success);
    QCOMPARE(a.text, QStringLiteral("calculate md5 falied!"));
    QTest::qWait(100);
    QCOMPARE(server.requestCount(QStringLiteral("/api/")), 0);
}

void OnlineServicesTest::syncWithoutServerFails() {
    QTcpServer closed; // a port nobody answers on once closed
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();
    m_host->api = QStringLiteral("http://127.0.0.1:%1").arg(port);
    OnlineCommands online(*m_host, settings());
    Answer a;
    online.synchronizeConf({{"filePathLists", ""}}, recorder(&a));
    QVERIFY(waitFor([&] { return a.count > 0; }));
    QCOMPARE(a.text, QStringLiteral("get api failed"));
}

void OnlineServicesTest::updateAnswers_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("manual");
    QTest::addColumn<int>("page"); // -1: no dialog
    const QByteArray update =
        R"({"code":0,"ret":{"type":"0","deployment":"client","clientPackage":"x"}})";
    QTest::newRow("update, checked by the page") << update << true << int(updateDlg::PageFirst);
    QTest::newRow("update, checked at start-up") << update << false << int(updateDlg::PageFirst);
    QTest::newRow("update of another type")
        << QByteArray(R"({"code":0,"ret":{"type":"1","deployment":"client"}})") << true << -1;
    QTest::newRow("empty deployment")
        << QByteArray(R"({"code":0,"ret":{"type":"0","deployment":""}})") << true << -1;
    QTest::newRow("current, checked by the page")
        << QByteArray(R"({"code":1})") << true << int(updateDlg::PageInfo);
    QTest::newRow("current, checked at start-up") << QByteArray(R"({"code":1})") << false << -1;
    QTest::newRow("not JSON") << QByteArray("<html>") << true << -1;
}

void OnlineServicesTest::updateAnswers() {
    QFETCH(QByteArray, body);
    QFETCH(bool, manual);
    QFETCH(int, page);
    FixedAnswerServer api("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                          QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    QVERIFY(api.isListening());
    m_host->api = api.base();
    OnlineCommands online(*m_host, settings());
    online.startUpdateCheck(manual);
    QVERIFY(online.updateCheck());
    QSignalSpy answered(online.updateCheck()->findChild<HttpRequestWorker*>(),
                        &HttpRequestWorker::on_execution_finished);
    QVERIFY(answered.wait(5000));
    QVERIFY(api.requests.value(0).startsWith(
        "GET /api/system/upgrade?deviceid=04D9A0F1&fwversion=1.0&noencrypt=1"
        "&test=1&version=1.0.0 "));
    updateDlg* dlg = UpdateCheck::currentDialog();
    QCOMPARE(dlg ? int(dlg->currentPage()) : -1, page);
    if (dlg)
        QVERIFY(dlg->isVisible());
}

void OnlineServicesTest::checkWithoutDeviceShowsInfoOnly() {
    m_host->devices.clear();
    m_host->api = QStringLiteral("http://127.0.0.1:1");
    OnlineCommands online(*m_host, settings());
    QString shown;
    QTimer::singleShot(0, this, [&] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            shown = w->findChild<QLabel*>(QStringLiteral("lb_info"))->text();
            w->findChild<QPushButton*>(QStringLiteral("pb_ok"))->click();
        }
    });
    online.checkUpdate({}, nullptr);
    QCOMPARE(shown, QStringLiteral("   当前未检测到设备"));
    QVERIFY(!online.updateCheck());
    // The start-up check shows nothing without a device.
    online.startUpdateCheck(false);
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(!online.updateCheck());
}

// Accepting an update downloads every kind at once with progress, installs the pages and the
// firmware, and prepares the program update for the updater.
void OnlineServicesTest::fullUpdateInstallsEveryKind() {
    QVERIFY(writeFile(data() + QStringLiteral("/files/client.pkg"),
                      signedPackage({{QStringLiteral("tavix"), QByteArray(300000, 'c')}},
                                    QStringLiteral("client"), QStringLiteral("1.2.0"))));
    QVERIFY(writeFile(
        data() + QStringLiteral("/files/html.pkg"),
        signedPackage({{QStringLiteral("KX100/index.html"), "<new/>"}}, QStringLiteral("html"))));
    QVERIFY(writeFile(data() + QStringLiteral("/files/firmware.pkg"),
                      signedPackage({{QStringLiteral("update.bin"), firmwareFile(4000)}},
                                    QStringLiteral("firmware"), QStringLiteral("2.1"))));
    writeCatalog(QJsonObject{
        {"upgrade", QJsonObject{{"*", QJsonObject{{"type", "0"},
                                                  {"version", "1.2.0"},
                                                  {"firmwareVersion", "2.1"},
                                                  {"clientPackage", "client.pkg"},
                                                  {"devicePackage", "html.pkg"},
                                                  {"firmwarePackage", "firmware.pkg"}}}}}});
    ServerProcess server(data());
    QVERIFY(server.ok());
    m_host->api = server.base();
    OnlineCommands online(*m_host, settings());
    online.startUpdateCheck(true);
    QVERIFY(waitFor([] { return UpdateCheck::currentDialog() != nullptr; }));
    updateDlg* dlg = UpdateCheck::currentDialog();
    QCOMPARE(dlg->currentPage(), updateDlg::PageFirst);
    QCOMPARE(dlg->firstPageText(), QStringLiteral("   发现新版本，是否更新？"));
    // The label as the firmware writing starts, then every status it shows.
    m_host->waits = FirmwareWaits().scaled(1);
    QStringList labels;
    QLabel* install = dlg->findChild<QLabel*>(QStringLiteral("lb_install"));
    QVERIFY(install);
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (labels.isEmpty() && dlg->firmwareWriter()) {
            labels << install->text();
            connect(dlg->firmwareWriter(), &FirmwareWriter::status, this,
                    [&](const QString& t) { labels << t; });
        }
    });
    poll.start(1);
    dlg->findChild<QPushButton*>(QStringLiteral("uninstallButton"))->click();
    QCOMPARE(dlg->currentPage(), updateDlg::PageThird);
    QVERIFY(
        waitFor([&] { return updateinstall::runUpdaterOnExit && g_kx.calls.contains("finish"); }));
    // The page package may finish in between and show its own text first.
    QVERIFY2(labels.value(0) == QStringLiteral("正在更新固件，请勿插拔鼠标") ||
                 labels.value(0) == QStringLiteral("更新完成"),
             qPrintable(labels.value(0)));
    QCOMPARE(labels.mid(1),
             (QStringList{QStringLiteral("更新成功"), QStringLiteral("校验成功,启动设备。。。")}));
    QCOMPARE(dlg->progressValue(), 100);
    QCOMPARE(readFile(folder() + QStringLiteral("view/device/KX100/index.html")),
             QByteArray("<new/>"));
    QCOMPARE(readFile(folder() + QStringLiteral("tupdates/client/ready/tavix")),
             QByteArray(300000, 'c'));
    QCOMPARE(dlg->currentPage(), updateDlg::PageFirst);
    QCOMPARE(dlg->firstPageText(), QStringLiteral("下载完成，是否重启客户端完成更新"));
    QCOMPARE(dlg->findChild<QPushButton*>(QStringLiteral("uninstallButton"))->text(),
             QStringLiteral("立即重启"));
    QVERIFY(m_host->readConfFile().contains(QStringLiteral("version=\"1.2.0\"")));
    QCOMPARE(g_kx.blockSizes, (QList<int>{2000, 2000, 0}));
    dlg->findChild<QPushButton*>(QStringLiteral("uninstallButton"))->click();
    QCOMPARE(m_host->quits, 1);
}

// A package that is refused leaves nothing to apply, and the dialog says why.
void OnlineServicesTest::refusedPackagesAreSaidInWords_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("package");
    QTest::addColumn<QString>("label");
    const QList<package::File> program{{QStringLiteral("tavix"), "new program"}};
    const QList<package::File> firmware{{QStringLiteral("update.bin"), firmwareFile(100)}};
    const QString badSignature = QStringLiteral("更新包签名无效，已拒绝安装");
    const QString notNewer = QStringLiteral("更新包版本不高于当前版本，已拒绝安装");
    const QString olderFirmware = QStringLiteral("固件版本低于设备当前版本，已拒绝更新");
    QTest::newRow("unsigned program") << "client" << updatePackage(program, "2.0") << badSignature;
    QTest::newRow("program signed as pages")
        << "client" << signedPackage(program, QStringLiteral("html"), "2.0") << badSignature;
    QTest::newRow("pages signed as a program")
        << "html"
        << signedPackage({{QStringLiteral("KX100/index.html"), "<x/>"}}, QStringLiteral("client"))
        << badSignature;
    QTest::newRow("the running version")
        << "client" << signedPackage(program, QStringLiteral("client"), "1.0.0") << notNewer;
    QTest::newRow("older program")
        << "client" << signedPackage(program, QStringLiteral("client"), "0.1.0") << notNewer;
    QTest::newRow("older firmware")
        << "firmware" << signedPackage(firmware, QStringLiteral("firmware"), "0.9")
        << olderFirmware;
    QTest::newRow("firmware without a version")
        << "firmware" << signedPackage(firmware, QStringLiteral("firmware"), "beta")
        << olderFirmware;
}

void OnlineServicesTest::refusedPackagesAreSaidInWords() {
    QFETCH(QString, kind);
    QFETCH(QByteArray, package);
    QFETCH(QString, label);
    const QString key = kind == QLatin1String("html") ? QStringLiteral("devicePackage")
                                                      : kind + QStringLiteral("Package");
    QVERIFY(writeFile(data() + QStringLiteral("/files/p.pkg"), package));
    QVERIFY(writeFile(folder() + QStringLiteral("view/device/KX100/index.html"), "<old/>"));
    ServerProcess server(data());
    QVERIFY(server.ok());
    m_host->api = server.base();
    updateDlg dlg(*m_host, settings());
    dlg.setUpdate(QJsonObject{{key, server.base() + QStringLiteral("/files/p.pkg")}}, {kind});
    dlg.findChild<QPushButton*>(QStringLiteral("uninstallButton"))->click();
    QVERIFY2(waitFor([&] { return dlg.installText() == label; }), qPrintable(dlg.installText()));
    QVERIFY(!updateinstall::runUpdaterOnExit);
    QVERIFY(!dlg.firmwareWriter());
    QVERIFY(g_kx.calls.isEmpty());
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("tupdates/client/ready")));
    QCOMPARE(readFile(folder() + QStringLiteral("view/device/KX100/index.html")),
             QByteArray("<old/>"));
    QCOMPARE(m_host->clientSetting(QStringLiteral("version")), QStringLiteral("1.0.0"));
}

void OnlineServicesTest::installedCopyLeavesTheProgramToPackages_data() {
    QTest::addColumn<QStringList>("deployment");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("offered"); // the update button is there
    QTest::addColumn<QStringList>("fetched");
    QTest::newRow("program only") << QStringList{"client"} << "   程序由软件包管理器更新" << false
                                  << QStringList();
    QTest::newRow("program and pages")
        << QStringList{"client", "html"} << "   发现新版本，是否更新？\n   程序由软件包管理器更新"
        << true << QStringList{"/html.pkg"};
}

// An installed copy says that the package manager updates the program, downloads no program
// package, and still takes the other kinds.
void OnlineServicesTest::installedCopyLeavesTheProgramToPackages() {
    QFETCH(QStringList, deployment);
    QFETCH(QString, text);
    QFETCH(bool, offered);
    QFETCH(QStringList, fetched);
    FixedAnswerServer files(
        "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    QVERIFY(files.isListening());
    const QString base = files.base();
    OnlineSettings installed = settings();
    installed.programUpdates = false;
    updateDlg dlg(*m_host, installed);
    dlg.setUpdate(
        QJsonObject{{"clientPackage", base + "/client.pkg"}, {"devicePackage", base + "/html.pkg"}},
        deployment);
    QCOMPARE(dlg.firstPageText(), text);
    QCOMPARE(!dlg.findChild<QPushButton*>(QStringLiteral("uninstallButton"))->isHidden(), offered);
    dlg.on_uninstallButton_clicekd();
    QTest::qWait(300);
    QVERIFY(waitFor([&] { return files.requests.size() >= fetched.size(); }));
    QStringList requested;
    for (const QByteArray& request : files.requests)
        requested << QString::fromLatin1(request.split(' ').value(1));
    QCOMPARE(requested, fetched);
}

void OnlineServicesTest::firmwareWriting_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("failBlock");
    QTest::addColumn<bool>("updateDeviceAppears");
    QTest::addColumn<int>("checkResult");
    QTest::addColumn<bool>("started");
    QTest::addColumn<QList<int>>("blocks");
    QTest::addColumn<QString>("label"); // the last text shown
    QTest::newRow("4000 bytes in three blocks")
        << firmwareFile(4000) << -1 << true << 0 << true << QList<int>{2000, 2000, 0}
        << QStringLiteral("校验成功,启动设备。。。");
    QTest::newRow("2500 bytes") << firmwareFile(2500) << -1 << true << 0 << true
                                << QList<int>{2000, 500}
                                << QStringLiteral("校验成功,启动设备。。。");
    QTest::newRow("middle block refused") << firmwareFile(5000) << 1 << true << 0 << true
                                          << QList<int>{2000, 2000} << QStringLiteral("更新失败");
    QTest::newRow("check fails") << firmwareFile(100) << -1 << true << 1 << true << QList<int>{100}
                                 << QStringLiteral("校验失败，请重新更新");
    QTest::newRow("update device never appears")
        << firmwareFile(100) << -1 << false << 0 << true << QList<int>{}
        << QStringLiteral("鼠标更新失败。。。");
    QTest::newRow("first value not 4118")
        << firmwareFile(100, 4119) << -1 << true << 0 << false << QList<int>{} << QString();
    QByteArray secondNotZero = firmwareFile(100);
    secondNotZero[4] = 1;
    QTest::newRow("second value not 0")
        << secondNotZero << -1 << true << 0 << false << QList<int>{} << QString();
    QTest::newRow("length past the file's bytes")
        << firmwareFile(66907) << -1 << true << 0 << false << QList<int>{} << QString();
    // The file holds the bytes, but the image region ends where its length field starts.
    QTest::newRow("length past the image region")
        << firmwareFile(kx::firmware::kMaxImageSize + 1) << -1 << true << 0 << false << QList<int>{}
        << QString();
    QTest::newRow("larger than the buffer") << firmwareFile(100) + QByteArray(10, 'x') << -1 << true
                                            << 0 << false << QList<int>{} << QString();
}

void OnlineServicesTest::firmwareWriting() {
    QFETCH(QByteArray, file);
    QFETCH(int, failBlock);
    QFETCH(bool, updateDeviceAppears);
    QFETCH(int, checkResult);
    QFETCH(bool, started);
    QFETCH(QList<int>, blocks);
    QFETCH(QString, label);
    g_kx.failBlock = failBlock;
    g_kx.updateDeviceAppears = updateDeviceAppears;
    g_kx.checkFails = checkResult != 0;
    const QString path = folder() + QStringLiteral("update.bin");
    QVERIFY(writeFile(path, file));
    FirmwareWriter writer(&g_kx, m_host->waits);
    QStringList labels;
    connect(&writer, &FirmwareWriter::status, this, [&](const QString& t) { labels << t; });
    QSignalSpy finished(&writer, &FirmwareWriter::finished);
    QCOMPARE(writer.start(adapter().devicePath, path), started);
    if (!started) {
        QVERIFY(g_kx.calls.isEmpty());
        QVERIFY(g_kx.blockSizes.isEmpty());
        return;
    }
    QVERIFY(finished.wait(5000));
    QCOMPARE(g_kx.blockSizes, blocks);
    for (int i = 0; i < g_kx.offsets.size(); ++i)
        QCOMPARE(g_kx.offsets.at(i), quint32(2000 * i));
    QCOMPARE(labels.last(), label);
    const bool checked = failBlock < 0 && updateDeviceAppears;
    QCOMPARE(g_kx.calls.contains(QStringLiteral("check")), checked);
    QCOMPARE(g_kx.calls.contains(QStringLiteral("finish")), checked && checkResult == 0);
    if (checked)
        QCOMPARE(g_kx.checkedLength,
                 quint32(blocks.isEmpty() ? 0 : 2000 * (blocks.size() - 1) + blocks.last()));
}

// The device library's emulated adapter takes the image through its update mode and comes back
// with the image's version.
void OnlineServicesTest::firmwareThroughEmulatedAdapter() {
    KxFolder kx;
    devices_handler devices(nullptr, kx.libraryPath());
    QLibrary library(kx.libraryPath()); // the same loaded copy, to ask the device directly
    QVERIFY2(library.load(), qPrintable(library.errorString()));
    auto exist = reinterpret_cast<decltype(&kxDeviceExist)>(library.resolve("kxDeviceExist"));
    auto ask = reinterpret_cast<decltype(&kxAsk)>(library.resolve("kxAsk"));
    QVERIFY(exist && ask);

    const QByteArray image = versionedImage("2.1");
    const QString path = folder() + QStringLiteral("update.bin");
    QVERIFY(writeFile(path, firmwareimage::makeFirmwareFile(image)));
    const QString device = KxFolder::device("04D9A001", "SN1", 1)["DevicePath"].toString();

    FirmwareWriter writer(&devices.firmwareSession(), FirmwareWaits().scaled(5));
    QStringList labels;
    connect(&writer, &FirmwareWriter::status, this, [&](const QString& t) { labels << t; });
    QSignalSpy finished(&writer, &FirmwareWriter::finished);
    QVERIFY(writer.start(device, path));
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().first().toBool(), true);
    QCOMPARE(labels,
             (QStringList{QStringLiteral("更新成功"), QStringLiteral("校验成功,启动设备。。。")}));
    QVERIFY(
        waitFor([&] { return exist(reinterpret_cast<const kxchar*>(w(device).c_str())) == 0; }));
    uint8_t status[64] = {};
    QCOMPARE(ask(reinterpret_cast<const kxchar*>(w(device).c_str()),
                 reinterpret_cast<const kxchar*>(u""), KX_KEY, status, 64),
             0);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(status) + 5), QByteArray("2.1"));
}

// The firmware kind of an update, from the check to the device running the new version.
void OnlineServicesTest::updateDialogUpdatesEmulatedAdapter() {
    KxFolder kx;
    devices_handler devices(nullptr, kx.libraryPath());
    m_host->session = &devices.firmwareSession();
    QLibrary library(kx.libraryPath()); // the same loaded copy, to ask the device directly
    QVERIFY2(library.load(), qPrintable(library.errorString()));
    auto ask = reinterpret_cast<decltype(&kxAsk)>(library.resolve("kxAsk"));
    QVERIFY(ask);
    const QString device = KxFolder::device("04D9A001", "SN1", 1)["DevicePath"].toString();
    m_host->devices = {OnlineDevice{QStringLiteral("04D9A001"), QStringLiteral("SN1"),
                                    QStringLiteral("1.0.0"), device, device}};
    QVERIFY(writeFile(data() + QStringLiteral("/files/firmware.pkg"),
                      signedPackage({{QStringLiteral("update.bin"),
                                      firmwareimage::makeFirmwareFile(versionedImage("3.0"))}},
                                    QStringLiteral("firmware"), QStringLiteral("3.0"))));
    writeCatalog(QJsonObject{
        {"upgrade", QJsonObject{{"*", QJsonObject{{"type", "0"},
                                                  {"firmwareVersion", "3.0"},
                                                  {"firmwarePackage", "firmware.pkg"}}}}}});
    ServerProcess server(data());
    QVERIFY(server.ok());
    m_host->api = server.base();
    OnlineCommands online(*m_host, settings());
    online.startUpdateCheck(true);
    QVERIFY(waitFor([] { return UpdateCheck::currentDialog() != nullptr; }));
    updateDlg* dlg = UpdateCheck::currentDialog();
    m_host->waits = FirmwareWaits().scaled(5);
    dlg->findChild<QPushButton*>(QStringLiteral("uninstallButton"))->click();
    QVERIFY(waitFor([&] { return dlg->firmwareWriter() != nullptr; }));
    QCOMPARE(dlg->installText(), QStringLiteral("正在更新固件，请勿插拔鼠标"));
    QSignalSpy finished(dlg->firmwareWriter(), &FirmwareWriter::finished);
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().first().toBool(), true);
    QCOMPARE(dlg->installText(), QStringLiteral("校验成功,启动设备。。。"));
    const std::u16string id = w(device);
    QVERIFY(waitFor([&] {
        uint8_t status[64] = {};
        return ask(reinterpret_cast<const kxchar*>(id.c_str()),
                   reinterpret_cast<const kxchar*>(u""), KX_KEY, status, 64) == 0 &&
               QByteArray(reinterpret_cast<const char*>(status) + 5) == "3.0";
    }));
}

void OnlineServicesTest::downloadFile_data() {
    QTest::addColumn<QString>("url"); // relative to the server, unless it has a scheme
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("text"); // failure text, or the path relative to the folder
    QTest::newRow("new file") << "/files/a.bin"
                              << "dl/" << true << "dl/a.bin";
    QTest::newRow("existing file") << "/files/here.bin"
                                   << "dl/" << true << "dl/here.bin";
    QTest::newRow("no file name") << "/files/"
                                  << "dl/" << false << "url file is not captured";
    QTest::newRow("climbing out") << "/files/a.bin"
                                  << "../../" << false << "downloadFaild";
    QTest::newRow("missing on the server") << "/files/none.bin"
                                           << "dl/" << false << "downloadFaild";
    // Only web addresses: nothing of this machine is copied into the program folder.
    QTest::newRow("a file of this machine") << "file:///etc/passwd"
                                            << "dl/" << false << "downloadFaild";
    QTest::newRow("the process's environment") << "file:///proc/self/environ"
                                               << "dl/" << false << "downloadFaild";
    QTest::newRow("data") << "data:text/plain,secret/x.txt"
                          << "dl/" << false << "downloadFaild";
}

void OnlineServicesTest::downloadFile() {
    QFETCH(QString, url);
    QFETCH(QString, relativePath);
    QFETCH(bool, success);
    QFETCH(QString, text);
    QVERIFY(writeFile(data() + QStringLiteral("/files/a.bin"), QByteArray(150000, 'a')));
    QVERIFY(writeFile(data() + QStringLiteral("/files/here.bin"), "server"));
    QVERIFY(writeFile(folder() + QStringLiteral("dl/here.bin"), "local"));
    QVERIFY(writeFile(folder() + QStringLiteral("a.bin"), QByteArray(150000, 'p')));
    ServerProcess server(data(), {QStringLiteral("--verbose")});
    QVERIFY(server.ok());
    OnlineCommands online(*m_host, settings());
    Answer a;
    const QString address = url.contains(':') ? url : server.base() + url;
    online.downloadFile({{"downloadUrl", address}, {"relativePath", relativePath}}, recorder(&a));
    QVERIFY(waitFor([&] { return a.count > 0; }));
    QTest::qWait(50);
    QCOMPARE(a.count, 1);
    QCOMPARE(a.success, success);
    QCOMPARE(a.text, success ? folder() + text : text);
    if (success)
        QCOMPARE(readFile(a.text), url.endsWith(QLatin1String("here.bin"))
                                       ? QByteArray("local")
                                       : QByteArray(150000, 'a'));
    QCOMPARE(server.requestCount(QStringLiteral("/files/here.bin")), 0);
    if (relativePath.startsWith(QLatin1String("..")))
        QCOMPARE(server.requestCount(QStringLiteral("/files/")), 0);
    // Nothing outside the target folder changed, nothing came in but what succeeded.
    QCOMPARE(readFile(folder() + QStringLiteral("a.bin")), QByteArray(150000, 'p'));
    const QString name = url.section('/', -1);
    if (!success && !name.isEmpty())
        QVERIFY(!QFile::exists(folder() + relativePath + name));
}

// A download cut half-way is answered as failed, never as the file; asked again it resumes and
// answers the whole file. Two requests for one file wait for one download.
void OnlineServicesTest::downloadFileIsWholeOrFails() {
    QByteArray whole;
    for (int i = 0; i < 300000; ++i)
        whole += static_cast<char>(i * 13);
    QVERIFY(writeFile(data() + QStringLiteral("/files/a.bin"), whole));
    ServerProcess server(data(), {QStringLiteral("--verbose"), QStringLiteral("--cut-after"),
                                  QStringLiteral("150000")});
    QVERIFY(server.ok());
    OnlineCommands online(*m_host, settings());
    const QVariantMap request{{"downloadUrl", server.base() + QStringLiteral("/files/a.bin")},
                              {"relativePath", "dl/"}};
    Answer cut;
    online.downloadFile(request, recorder(&cut));
    QVERIFY(waitFor([&] { return cut.count > 0; }));
    QCOMPARE(cut.text, QStringLiteral("downloadFaild"));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("dl/a.bin")));

    Answer first, second;
    online.downloadFile(request, recorder(&first));
    online.downloadFile(request, recorder(&second));
    QVERIFY(waitFor([&] { return first.count > 0 && second.count > 0; }));
    QTest::qWait(50);
    for (const Answer& a : {first, second}) {
        QCOMPARE(a.count, 1);
        QVERIFY(a.success);
        QCOMPARE(a.text, folder() + QStringLiteral("dl/a.bin"));
    }
    QCOMPARE(readFile(folder() + QStringLiteral("dl/a.bin")), whole);
    QCOMPARE(server.requestCount(QStringLiteral("/files/a.bin")), 2);
}

void OnlineServicesTest::pageRequestsReachTheCommands_data() {
    QTest::addColumn<QString>("request");
    QTest::addColumn<int>("answers");
    QTest::addColumn<QString>("text");
    QTest::newRow("synchronizeConf")
        << R"({"funcname":"synchronizeConf","filePathLists":"Resources/profiles/missing.xml"})" << 1
        << "calculate md5 falied!";
    QTest::newRow("synchronizeConf without its list")
        << R"({"funcname":"synchronizeConf"})" << 0 << QString();
    QTest::newRow("downloadFile")
        << R"({"funcname":"downloadFile","downloadUrl":"http://127.0.0.1:1/","relativePath":"dl/"})"
        << 1 << "url file is not captured";
    QTest::newRow("downloadFile without its path")
        << R"({"funcname":"downloadFile","downloadUrl":"http://127.0.0.1:1/a.bin"})" << 0
        << QString();
    QTest::newRow("checkUpdate gives no answer")
        << R"({"funcname":"checkUpdate"})" << 0 << QString();
}

// The command table's rows lead to the online commands.
void OnlineServicesTest::pageRequestsReachTheCommands() {
    QFETCH(QString, request);
    QFETCH(int, answers);
    QFETCH(QString, text);
    m_host->api = QStringLiteral("http://127.0.0.1:1");
    OnlineCommands online(*m_host, settings());
    CommandContext context;
    context.online = &online;
    Dispatcher dispatcher(context);
    Answer a;
    dispatcher.onJsMessage(request, recorder(&a));
    waitFor([&] { return a.count >= answers; }, 2000);
    QTest::qWait(50);
    QCOMPARE(a.count, answers);
    if (answers)
        QCOMPARE(a.text, text);
    // The check ran: a request for the connected device is on its way.
    if (request.contains(QLatin1String("checkUpdate")))
        QVERIFY(online.updateCheck());
}

void OnlineServicesTest::refusalsLeaveProgramFolderAlone_data() {
    QTest::addColumn<QString>("what");
    QTest::newRow("download into the parent folder") << "download ../";
    QTest::newRow("download climbing through a folder") << "download a/../../";
    QTest::newRow("download that the server refuses") << "download 404";
    QTest::newRow("sync package replacing the program") << "sync tavix";
    QTest::newRow("sync package replacing the device library") << "sync libkx.so";
    QTest::newRow("sync package leaving the folder") << "sync ../tavix";
    QTest::newRow("update package leaving the folder") << "update ../../tavix";
}

// The program binary, its neighbours and the files beside the program folder are byte for byte
// the same after every refused download and package.
void OnlineServicesTest::refusalsLeaveProgramFolderAlone() {
    QFETCH(QString, what);
    // Beside the program folder, where a climbing name would land.
    QTemporaryDir outer;
    QVERIFY(outer.isValid());
    const QString program = outer.path() + QStringLiteral("/a/program/");
    QVERIFY(writeFile(program + QStringLiteral("tavix"), QByteArray(150000, 'T')));
    QVERIFY(writeFile(program + QStringLiteral("libkx.so"), QByteArray(50000, 'L')));
    QVERIFY(writeFile(program + QStringLiteral("view/index.html"), "<page/>"));
    QVERIFY(writeFile(outer.path() + QStringLiteral("/a/tavix"), "beside"));
    QVERIFY(writeFile(outer.path() + QStringLiteral("/tavix"), "above"));
    auto snapshot = [&outer] {
        QMap<QString, QByteArray> files;
        QDirIterator it(outer.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!path.contains(QLatin1String("/tupdates")) &&
                !path.contains(QLatin1String("/tupload")))
                files.insert(path,
                             QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha1));
        }
        return files;
    };
    const auto before = snapshot();
    const QString kind = what.section(QLatin1Char(' '), 0, 0);
    const QString arg = what.section(QLatin1Char(' '), 1);
    if (kind == QLatin1String("download")) {
        ServerProcess server(data());
        QVERIFY(server.ok());
        OnlineCommands online(*m_host, OnlineSettings(program));
        Answer a;
        const QString rel = arg == QLatin1String("404") ? QStringLiteral("dl/") : arg;
        online.downloadFile({{"downloadUrl", server.base() + QStringLiteral("/files/tavix")},
                             {"relativePath", rel}},
                            recorder(&a));
        QVERIFY(waitFor([&] { return a.count > 0; }));
        QCOMPARE(a.text, QStringLiteral("downloadFaild"));
    } else if (kind == QLatin1String("sync")) {
        const QString path = program + QStringLiteral("tupload/download/synchronize.dat");
        QVERIFY(writeFile(
            path,
            packPayload(package::writePayload(
                {{QStringLiteral("view/index.html"), "<replaced/>"}, {arg, "evil"}}, nullptr))));
        QVERIFY(
            !package::unpackSyncPackage(program, path, {QStringLiteral("view/index.html"), arg}));
    } else {
        QVERIFY(writeFile(program + QStringLiteral("tupdates/client/c.pkg"),
                          signedPackage({{arg, "evil"}}, QStringLiteral("client"))));
        QVERIFY(!package::unpackUpdatePackage(program, QStringLiteral("client"),
                                              program + QStringLiteral("tupdates/client/c.pkg"),
                                              QStringLiteral("1.0.0")));
    }
    QCOMPARE(snapshot(), before);
}

QTEST_MAIN(OnlineServicesTest)
#include "tst_onlineservices.moc"
