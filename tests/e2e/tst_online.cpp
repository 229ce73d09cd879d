// The online services of the running program against the reference vendor server on loopback:
// a private program folder, the emulated adapter plugged and unplugged with simctl.
#include "../online/packagetestutil.h"
#include "../online/serverprocess.h"
#include "buildpaths.h"
#include "online/signature.h"

#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace packagetest;

class tst_Online : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void deviceGetsProductInfoAndPagesOnce();
    void otherUsbDeviceGetsProductInfoAtStart();

private:
    QString program() const { return m_dir->path() + QStringLiteral("/program/"); }
    QString data() const { return m_dir->path() + QStringLiteral("/data"); }
    bool copyStage();
    int simctl(const QStringList& args);
    void startProgram(const QString& api);
    void replug();

    QTemporaryDir* m_dir = nullptr;
    QProcess m_program;
};

void tst_Online::initTestCase() {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("the program needs an X display");
}

bool tst_Online::copyStage() {
    const QString stage = buildpaths::resolve(TAVIX_STAGE_DIR);
    QDirIterator it(stage, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString from = it.next();
        const QString rel = QDir(stage).relativeFilePath(from);
        if (rel.startsWith(QLatin1String("tupdates")) || rel.startsWith(QLatin1String("tupload")) ||
            rel.endsWith(QLatin1String(".state")) || rel == QLatin1String("web.log") ||
            rel.endsWith(QLatin1String(".sock")))
            continue;
        QDir().mkpath(QFileInfo(program() + rel).absolutePath());
        if (!QFile::copy(from, program() + rel))
            return false;
        QFile::setPermissions(program() + rel, QFileInfo(from).permissions());
    }
    return true;
}

void tst_Online::init() {
    m_dir = new QTemporaryDir;
    QVERIFY(copyStage());
    // The shipped conf.xml names the reference server's key: its packages are signed with it.
    QFile key(buildpaths::resolve(TAVIX_TEST_KEY));
    QVERIFY(key.open(QIODevice::ReadOnly));
    QByteArray pages = updatePackage({{QStringLiteral("KX100/index.html"), "<html>KX100</html>"}});
    QVERIFY(signature::sign(
        &pages, signature::fromHex(QString::fromLatin1(key.readAll()), signature::kSecretKeySize)));
    QVERIFY(writeFile(data() + QStringLiteral("/files/pages-KX100.pkg"), pages));
    QVERIFY(writeFile(data() + QStringLiteral("/catalog.json"), R"({
      "upgrade": {},
      "products": {"*": {"productType": "1", "productNO": "KX100", "productName": "Adapter",
                         "productPhotos": [], "clientDevice": "pages-KX100.pkg"}}})"));
}

void tst_Online::cleanup() {
    if (m_program.state() != QProcess::NotRunning) {
        m_program.terminate();
        if (!m_program.waitForFinished(10000))
            m_program.kill();
        m_program.waitForFinished(5000);
    }
    delete m_dir;
}

int tst_Online::simctl(const QStringList& args) {
    QProcess p;
    p.start(program() + QStringLiteral("simctl"),
            QStringList{QStringLiteral("--folder"), QDir::cleanPath(program())} + args);
    if (!p.waitForFinished(10000))
        return -1;
    if (p.exitCode() != 0)
        qWarning("simctl: %s %s", p.readAllStandardOutput().constData(),
                 p.readAllStandardError().constData());
    return p.exitCode();
}

void tst_Online::startProgram(const QString& api) {
    const QString confPath = program() + QStringLiteral("Resources/profiles/conf.xml");
    QByteArray conf = readFile(confPath);
    conf.replace("http://127.0.0.1:18080", api.toUtf8());
    QVERIFY(writeFile(confPath, conf));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), m_dir->path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    m_program.setProcessEnvironment(env);
    m_program.setWorkingDirectory(program());
    m_program.start(program() + QStringLiteral("tavix"), {QStringLiteral("-autostart")});
    QVERIFY(m_program.waitForStarted());
}

// Unplugs the adapter and plugs it in again: the library reports the device as new.
void tst_Online::replug() {
    // The listing has no effect, so it may be asked until the program answers.
    QTRY_COMPARE_WITH_TIMEOUT(simctl({QStringLiteral("usb-list")}), 0, 20000);
    QCOMPARE(simctl({QStringLiteral("usb-unplug"), QStringLiteral("PID_A0F1")}), 0);
    QTest::qWait(600);
    QCOMPARE(simctl({QStringLiteral("usb-plug"), QStringLiteral("PID_A0F1")}), 0);
}

void tst_Online::deviceGetsProductInfoAndPagesOnce() {
    ServerProcess server(data(), {QStringLiteral("--verbose")});
    QVERIFY(server.ok());
    startProgram(server.base());
    const QString page = program() + QStringLiteral("view/device/KX100/index.html");
    const QString conf = program() + QStringLiteral("Resources/profiles/conf.xml");

    // At start-up: the product information is recorded and the pages installed.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(page), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(readFile(conf).contains("device=\"KX100\""), 5000);
    const QByteArray text = readFile(conf);
    QVERIFY(text.contains(QStringLiteral("productType=\"1\" productName=\"Adapter\" "
                                         "productCN=\"KX100\" description=\"专业版\"")
                              .toUtf8()));
    QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(QStringLiteral("/api/system/product/getInfo")), 1,
                              5000);
    QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(QStringLiteral("/api/system/upgrade")), 1, 5000);
    QTRY_VERIFY2_WITH_TIMEOUT(!QFileInfo::exists(program() + QStringLiteral("tupdates")),
                              qPrintable(QDirIterator(program() + QStringLiteral("tupdates"),
                                                      QDirIterator::Subdirectories)
                                             .next()),
                              5000);

    // Plugged again with its pages in place: nothing is asked.
    replug();
    QTest::qWait(2000);
    QCOMPARE(server.requestCount(QStringLiteral("/api/system/product/getInfo")), 1);

    // Without its pages: they are fetched and installed again.
    QVERIFY(QDir(program() + QStringLiteral("view/device/KX100")).removeRecursively());
    replug();
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(page), 20000);
    QCOMPARE(readFile(page), QByteArray("<html>KX100</html>"));
    // The server logs a request after answering it: the line may come after the install.
    QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(QStringLiteral("/files/pages-KX100.pkg")), 2,
                              5000);
}

// A USB device the library does not list is looked up at start-up by its vendor-and-product key,
// as a hot-plug arrival would name it.
void tst_Online::otherUsbDeviceGetsProductInfoAtStart() {
    QFile bus(program() + QStringLiteral("sim-usb.txt"));
    QVERIFY(bus.open(QIODevice::Append));
    bus.write("\\\\?\\USB#VID_1A2B&PID_3C4D#OTHER#{a5dcbf10-6530-11d2-901f-00c04fb951ed}\n");
    bus.close();
    ServerProcess server(data(), {QStringLiteral("--verbose")});
    QVERIFY(server.ok());
    startProgram(server.base());
    const QString conf = program() + QStringLiteral("Resources/profiles/conf.xml");
    QTRY_VERIFY_WITH_TIMEOUT(readFile(conf).contains("deviceId=\"1A2B3C4D\""), 30000);
    // The server logs a request after answering it: the line may come after the conf.xml edit.
    QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(QStringLiteral("/api/system/product/getInfo")), 2,
                              5000);
}

QTEST_GUILESS_MAIN(tst_Online)
#include "tst_online.moc"
