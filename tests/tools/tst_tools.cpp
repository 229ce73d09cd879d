#include "../online/packagetestutil.h"
#include "../online/serverprocess.h"
#include "buildpaths.h"

#include "kx/firmware.h"
#include "online/httprequestworker.h"
#include "online/package.h"
#include "online/signature.h"
#include "tools/pack/firmwareimage.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

using namespace packagetest;

class ToolsTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void firmwareChecksum_data();
    void firmwareChecksum();
    void firmwareFileLayout();
    void packMakesUnpackablePackages();
    void packTakesRelativeSourceFolder_data();
    void packTakesRelativeSourceFolder();
    void packRefusesWhatItCannotMake_data();
    void packRefusesWhatItCannotMake();
    void packSignsWithItsOwnKeys();
    void catalogIsSignedForTheBuiltInKey();
    void updaterAppliesReadyUpdateAndRestarts();

    void upgradeAnswers_data();
    void upgradeAnswers();
    void productInfoAnswers();
    void syncRoundTrip();

private:
    QString dir() const { return m_dir->path(); }
    static int run(const QString& program, const QStringList& args,
                   const QString& cwd = QString()) {
        QProcess p;
        if (!cwd.isEmpty())
            p.setWorkingDirectory(cwd);
        p.start(program, args);
        if (!p.waitForFinished(30000))
            return -1;
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    // One API request through the program's own worker; the parsed answer.
    QJsonObject ask(const HttpRequestParams& params) {
        HttpRequestWorker worker;
        QSignalSpy spy(&worker, &HttpRequestWorker::on_execution_finished);
        worker.send(params);
        if (!spy.wait(5000) || !worker.result())
            return QJsonObject();
        return QJsonDocument::fromJson(worker.result().value).object();
    }
    QTemporaryDir* m_dir = nullptr;
};

void ToolsTest::init() {
    m_dir = new QTemporaryDir;
}
void ToolsTest::cleanup() {
    delete m_dir;
}

void ToolsTest::firmwareChecksum_data() {
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<quint32>("crc");
    QTest::newRow("check value") << QByteArray("123456789") << 0xCBF43926u;
    QTest::newRow("empty") << QByteArray() << 0u;
    QTest::newRow("one zero byte") << QByteArray(1, '\0') << 0xD202EF8Du;
}

void ToolsTest::firmwareChecksum() {
    QFETCH(QByteArray, image);
    QFETCH(quint32, crc);
    QCOMPARE(kx::crc32(reinterpret_cast<const uint8_t*>(image.constData()), size_t(image.size())),
             crc);
}

void ToolsTest::firmwareFileLayout() {
    QByteArray image(4000, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 13);
    const QString imagePath = dir() + QStringLiteral("/fw.img");
    QVERIFY(writeFile(imagePath, image));
    QCOMPARE(
        run(buildpaths::resolve(PACK_PATH), {QStringLiteral("firmware"), QStringLiteral("--out"),
                                             dir() + QStringLiteral("/update.bin"), imagePath}),
        0);
    const QByteArray file = readFile(dir() + QStringLiteral("/update.bin"));
    QCOMPARE(file.size(), 67170);
    QCOMPARE(qFromLittleEndian<quint32>(file.constData()), 4118u);
    QCOMPARE(qFromLittleEndian<quint32>(file.constData() + 4), 0u);
    QCOMPARE(file.mid(264, 4000), image);
    QCOMPARE(qFromLittleEndian<quint64>(file.constData() + 66113), quint64(4000));
    QCOMPARE(qFromLittleEndian<quint32>(file.constData() + 66121),
             kx::crc32(reinterpret_cast<const uint8_t*>(image.constData()), 4000));
    QCOMPARE(firmwareimage::makeFirmwareFile(QByteArray(kx::firmware::kMaxImageSize + 1, 'x')),
             QByteArray());
    QCOMPARE(firmwareimage::makeFirmwareFile(QByteArray(kx::firmware::kMaxImageSize, 'x')).size(),
             67170);
}

void ToolsTest::packMakesUnpackablePackages() {
    const QString src = dir() + QStringLiteral("/src");
    QVERIFY(writeFile(src + QStringLiteral("/a/b/c.txt"), "deep"));
    QVERIFY(writeFile(src + QStringLiteral("/z.bin"), QByteArray(5000, 'z')));
    QVERIFY(writeFile(src + QStringLiteral("/Resources/profiles/p.xml"), "<p/>"));
    const QString program = dir() + QStringLiteral("/program/");
    QVERIFY(QDir().mkpath(program));
    const QString pkg = program + QStringLiteral("tupdates/html/pages.pkg");
    QDir().mkpath(program + QStringLiteral("tupdates/html"));
    QCOMPARE(run(buildpaths::resolve(PACK_PATH), {"keygen", "--out", "k.key"}, dir()), 0);
    QCOMPARE(run(buildpaths::resolve(PACK_PATH),
                 {QStringLiteral("update"), QStringLiteral("--version"), QStringLiteral("4.5.6"),
                  QStringLiteral("--kind"), QStringLiteral("html"), QStringLiteral("--key"),
                  dir() + QStringLiteral("/k.key"), QStringLiteral("--out"), pkg, src}),
             0);
    signature::setUpdateKey(
        signature::fromHex(QString::fromLatin1(readFile(dir() + QStringLiteral("/k.key.pub"))),
                           signature::kPublicKeySize));
    const auto unpacked = package::unpackUpdatePackage(program, QStringLiteral("html"), pkg);
    QVERIFY(unpacked);
    QCOMPARE(unpacked.value, QStringLiteral("4.5.6"));
    QCOMPARE(readFile(program + QStringLiteral("tupdates/html/ready/a/b/c.txt")),
             QByteArray("deep"));
    QCOMPARE(readFile(program + QStringLiteral("tupdates/html/ready/z.bin")),
             QByteArray(5000, 'z'));

    // A sync package with a chosen order lands over the program folder.
    const QString sync = program + QStringLiteral("tupload/download/synchronize.dat");
    const QString name = QStringLiteral("Resources/profiles/p.xml");
    QDir().mkpath(program + QStringLiteral("tupload/download"));
    QVERIFY(QDir().mkpath(program + QStringLiteral("Resources/profiles")));
    QCOMPARE(run(buildpaths::resolve(PACK_PATH), {QStringLiteral("sync"), QStringLiteral("--files"),
                                                  name, QStringLiteral("--out"), sync, src}),
             0);
    QVERIFY(package::unpackSyncPackage(program, sync, {name}));
    QCOMPARE(readFile(program + name), QByteArray("<p/>"));
}

void ToolsTest::packTakesRelativeSourceFolder_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("extra");
    QTest::newRow("update") << QStringLiteral("update")
                            << QStringList{QStringLiteral("--version"), QStringLiteral("1.0")};
    QTest::newRow("sync") << QStringLiteral("sync") << QStringList();
}

void ToolsTest::packTakesRelativeSourceFolder() {
    QFETCH(QString, mode);
    QFETCH(QStringList, extra);
    QVERIFY(writeFile(dir() + QStringLiteral("/src/sub/a.txt"), "alpha"));
    const QString out = dir() + QStringLiteral("/out.pkg");
    QCOMPARE(run(buildpaths::resolve(PACK_PATH),
                 QStringList{mode} + extra +
                     QStringList{QStringLiteral("--out"), out, QStringLiteral("src")},
                 dir()),
             0);
    QByteArray payload;
    QVERIFY(unpackPayload(readFile(out), &payload));
    QDataStream ds(payload);
    ds.setVersion(14);
    QString version, name;
    quint32 count = 0;
    if (mode == QLatin1String("update"))
        ds >> version;
    ds >> count >> name;
    QCOMPARE(count, 1u);
    QCOMPARE(name, QStringLiteral("sub/a.txt"));
}

void ToolsTest::packRefusesWhatItCannotMake_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("update without version") << QStringList{"update", "--out", "x.pkg", "src"};
    QTest::newRow("unknown mode") << QStringList{"zip", "--out", "x.pkg", "src"};
    QTest::newRow("missing listed file")
        << QStringList{"sync", "--files", "nope.xml", "--out", "x.pkg", "src"};
    QTest::newRow("image too large") << QStringList{"firmware", "--out", "x.bin", "big.img"};
    QTest::newRow("empty folder") << QStringList{"update", "--version", "1",
                                                 "--out",  "x.pkg",     "empty"};
    QTest::newRow("key file without a key")
        << QStringList{"update", "--version", "1", "--key", "bad.key", "--out", "x.pkg", "src"};
    QTest::newRow("missing key file")
        << QStringList{"update", "--version", "1", "--key", "no.key", "--out", "x.pkg", "src"};
    QTest::newRow("signed sync package")
        << QStringList{"sync", "--key", "bad.key", "--out", "x.pkg", "src"};
    QTest::newRow("signed without a kind")
        << QStringList{"update", "--version", "1", "--key", "good.key", "--out", "x.pkg", "src"};
    QTest::newRow("signed as an unknown kind")
        << QStringList{"update", "--version", "1",     "--kind", "driver",
                       "--key",  "good.key",  "--out", "x.pkg",  "src"};
}

void ToolsTest::packRefusesWhatItCannotMake() {
    QFETCH(QStringList, args);
    QVERIFY(writeFile(dir() + QStringLiteral("/src/a.txt"), "a"));
    QVERIFY(writeFile(dir() + QStringLiteral("/big.img"), QByteArray(70000, 'b')));
    QVERIFY(QDir().mkpath(dir() + QStringLiteral("/empty")));
    QVERIFY(writeFile(dir() + QStringLiteral("/bad.key"), QByteArray(128, 'x')));
    QByteArray pub, secret;
    QVERIFY(signature::generateKeyPair(&pub, &secret));
    QVERIFY(writeFile(dir() + QStringLiteral("/good.key"), secret.toHex()));
    QCOMPARE(run(buildpaths::resolve(PACK_PATH), args, dir()), 1);
    QVERIFY(!QFileInfo::exists(dir() + QStringLiteral("/x.pkg")));
    QVERIFY(!QFileInfo::exists(dir() + QStringLiteral("/x.bin")));
}

// A key pair from keygen signs a package (folder given relative to the working folder) that the
// program takes with the public key configured; keygen never writes over a key.
void ToolsTest::packSignsWithItsOwnKeys() {
    QVERIFY(writeFile(dir() + QStringLiteral("/src/device/a.html"), "<html/>"));
    QCOMPARE(run(buildpaths::resolve(PACK_PATH), {"keygen", "--out", "vendor.key"}, dir()), 0);
    const QByteArray secret = readFile(dir() + QStringLiteral("/vendor.key"));
    // Nobody but its owner may read the secret key.
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                            QFileDevice::ReadOther | QFileDevice::WriteOther;
    QVERIFY(!(QFileInfo(dir() + QStringLiteral("/vendor.key")).permissions() & others));
    QCOMPARE(run(buildpaths::resolve(PACK_PATH), {"keygen", "--out", "vendor.key"}, dir()), 1);
    QCOMPARE(readFile(dir() + QStringLiteral("/vendor.key")), secret);

    const QString program = dir() + QStringLiteral("/program/");
    QVERIFY(QDir().mkpath(program + QStringLiteral("tupdates/html")));
    const QString pkg = program + QStringLiteral("tupdates/html/pages.pkg");
    QCOMPARE(run(buildpaths::resolve(PACK_PATH),
                 {"update", "--version", "2.0", "--kind", "html", "--key", "vendor.key", "--out",
                  pkg, "src"},
                 dir()),
             0);
    signature::setUpdateKey(
        signature::fromHex(QString::fromLatin1(readFile(dir() + QStringLiteral("/vendor.key.pub"))),
                           signature::kPublicKeySize));
    const bool unpacked = package::unpackUpdatePackage(program, QStringLiteral("html"), pkg).ok;
    signature::setUpdateKey(QByteArray());
    QVERIFY(unpacked);
    QCOMPARE(readFile(program + QStringLiteral("tupdates/html/ready/device/a.html")),
             QByteArray("<html/>"));
}

// The reference server's catalog is built signed, each package as its kind, with the key this
// build carries: the program as built takes what the reference server offers.
void ToolsTest::catalogIsSignedForTheBuiltInKey() {
    if (!signature::builtInKeyIsTestKey())
        QSKIP("this build carries another key than the reference server's");
    const QString data = dir() + QStringLiteral("/data");
    QCOMPARE(run(buildpaths::resolve(MAKE_CATALOG_PATH),
                 {"--pack", buildpaths::resolve(PACK_PATH), "--out", data, "--version", "9.9"}),
             0);
    const QJsonObject offer =
        QJsonDocument::fromJson(readFile(data + QStringLiteral("/catalog.json")))
            .object()
            .value(QStringLiteral("upgrade"))
            .toObject()
            .value(QStringLiteral("*"))
            .toObject();
    const QList<QPair<const char*, const char*>> packages{
        {"clientPackage", "client"}, {"devicePackage", "html"}, {"firmwarePackage", "firmware"}};
    for (const auto& p : packages) {
        const QByteArray file = readFile(data + QStringLiteral("/files/") +
                                         offer.value(QLatin1String(p.first)).toString());
        QVERIFY2(signature::verify(file, signature::builtInKey(), QLatin1String(p.second)) ==
                     signature::Verdict::Good,
                 p.first);
    }
}

void ToolsTest::updaterAppliesReadyUpdateAndRestarts() {
    const QString program = dir() + QLatin1Char('/');
    const QString ready = program + QStringLiteral("tupdates/client/ready/");
    QVERIFY(writeFile(program + QStringLiteral("lib/old.so"), "old"));
    QVERIFY(writeFile(program + QStringLiteral("keep.txt"), "keep"));
    QVERIFY(writeFile(ready + QStringLiteral("lib/old.so"), "new"));
    QVERIFY(writeFile(ready + QStringLiteral("lib/added.so"), "added"));
    // The restarted program: records that it ran.
    QVERIFY(
        writeFile(ready + QStringLiteral("tavix"), "#!/bin/sh\necho restarted > restarted.txt\n"));
    QFile::setPermissions(ready + QStringLiteral("tavix"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(run(buildpaths::resolve(UPDATER_PATH), {QStringLiteral("-update")}, program), 0);
    QCOMPARE(readFile(program + QStringLiteral("lib/old.so")), QByteArray("new"));
    QCOMPARE(readFile(program + QStringLiteral("lib/added.so")), QByteArray("added"));
    QCOMPARE(readFile(program + QStringLiteral("keep.txt")), QByteArray("keep"));
    QVERIFY(!QFileInfo::exists(program + QStringLiteral("tupdates")));
    QTRY_COMPARE(readFile(program + QStringLiteral("restarted.txt")), QByteArray("restarted\n"));

    // Without a ready update it changes nothing and says so.
    QCOMPARE(run(buildpaths::resolve(UPDATER_PATH), {QStringLiteral("-update")}, program), 1);
    QCOMPARE(run(buildpaths::resolve(UPDATER_PATH), {}, program), 2);
}

void ToolsTest::upgradeAnswers_data() {
    QTest::addColumn<QString>("deviceid");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("fwversion");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("deployment");
    QTest::newRow("all newer") << "ANY"
                               << "1.0.0"
                               << "1.0" << 0 << "client,html,firmware";
    QTest::newRow("firmware only") << "ANY"
                                   << "2.0.0"
                                   << "1.9" << 0 << "firmware";
    QTest::newRow("up to date") << "ANY"
                                << "2.0.0"
                                << "2.0" << 1 << "";
    QTest::newRow("numeric compare") << "ANY"
                                     << "1.10.0"
                                     << "2.0" << 0 << "client,html";
    QTest::newRow("device entry") << "12345678"
                                  << "1.0.0"
                                  << "0" << 0 << "client";
}

void ToolsTest::upgradeAnswers() {
    QFETCH(QString, deviceid);
    QFETCH(QString, version);
    QFETCH(QString, fwversion);
    QFETCH(int, code);
    QFETCH(QString, deployment);
    const QByteArray catalog =
        "{\"upgrade\": {"
        "\"*\": {\"type\": \"0\", \"version\": \"2.0.0\", \"firmwareVersion\": \"2.0\","
        " \"clientPackage\": \"c.pkg\", \"devicePackage\": \"h.pkg\", \"firmwarePackage\": "
        "\"f.pkg\"},"
        "\"12345678\": {\"type\": \"0\", \"version\": \"1.5\","
        " \"clientPackage\": \"http://elsewhere/c.pkg\"}}}";
    QVERIFY(writeFile(dir() + QStringLiteral("/catalog.json"), catalog));
    ServerProcess server(dir());
    QVERIFY(server.ok());
    HttpRequestParams params(server.base() + QStringLiteral("/api/system/upgrade"),
                             QStringLiteral("GET"));
    params.addVar(QStringLiteral("deviceid"), deviceid);
    params.addVar(QStringLiteral("test"), QStringLiteral("1"));
    params.addVar(QStringLiteral("fwversion"), fwversion);
    params.addVar(QStringLiteral("version"), version);
    params.addVar(QStringLiteral("noencrypt"), QStringLiteral("1"));
    const QJsonObject answer = ask(params);
    QCOMPARE(answer.value(QStringLiteral("code")).toInt(-1), code);
    const QJsonObject ret = answer.value(QStringLiteral("ret")).toObject();
    QCOMPARE(ret.value(QStringLiteral("deployment")).toString(), deployment);
    if (deployment.contains(QLatin1String("firmware")))
        QCOMPARE(ret.value(QStringLiteral("firmwarePackage")).toString(),
                 server.base() + QStringLiteral("/files/f.pkg"));
    if (deviceid == QLatin1String("12345678"))
        QCOMPARE(ret.value(QStringLiteral("clientPackage")).toString(),
                 QStringLiteral("http://elsewhere/c.pkg"));
}

void ToolsTest::productInfoAnswers() {
    const QByteArray catalog =
        "{\"products\": {\"7.1\": {\"productType\": \"1\", \"productNO\": \"KX200\","
        " \"productName\": \"Two\", \"clientDevice\": \"kx200.pkg\"}}}";
    QVERIFY(writeFile(dir() + QStringLiteral("/catalog.json"), catalog));
    ServerProcess server(dir());
    QVERIFY(server.ok());
    HttpRequestParams params(server.base() + QStringLiteral("/api/system/product/getInfo"),
                             QStringLiteral("GET"));
    params.addVar(QStringLiteral("fwversion"), QStringLiteral("7.1"));
    params.addVar(QStringLiteral("noencrypt"), QStringLiteral("1"));
    const QJsonObject ret = ask(params).value(QStringLiteral("ret")).toObject();
    QCOMPARE(ret.value(QStringLiteral("productNO")).toString(), QStringLiteral("KX200"));
    QCOMPARE(ret.value(QStringLiteral("productType")).toString(), QStringLiteral("1"));
    QCOMPARE(ret.value(QStringLiteral("clientDevice")).toString(),
             server.base() + QStringLiteral("/files/kx200.pkg"));
    params.addVar(QStringLiteral("fwversion"), QStringLiteral("0.0"));
    QCOMPARE(ask(params).value(QStringLiteral("code")).toInt(-1), 1);
}

void ToolsTest::syncRoundTrip() {
    ServerProcess server(dir());
    QVERIFY(server.ok());
    const QString device = QStringLiteral("HID\\VID_1234&PID_5678\\..\\x");
    const auto built =
        package::build(package::writePayload({{QStringLiteral("conf.xml"), "<root/>"}}, nullptr));
    QVERIFY(built);
    const QByteArray pkg = built.value;
    const QString md5 =
        QString::fromLatin1(QCryptographicHash::hash(pkg, QCryptographicHash::Md5).toHex());
    auto check = [&](const QString& revision) {
        HttpRequestParams p(server.base() + QStringLiteral("/api/system/Sync"),
                            QStringLiteral("GET"));
        p.addVar(QStringLiteral("deviceid"), device);
        p.addVar(QStringLiteral("sn"), QStringLiteral("SN1"));
        p.addVar(QStringLiteral("md5"), md5);
        p.addVar(QStringLiteral("revision"), revision);
        p.addVar(QStringLiteral("noencrypt"), QString());
        return ask(p);
    };
    QCOMPARE(check(QStringLiteral("0")).value(QStringLiteral("code")).toInt(-1),
             2); // nothing stored

    const QString path = dir() + QStringLiteral("/synchronize.dat");
    QVERIFY(writeFile(path, pkg));
    HttpRequestParams upload(server.base() + QStringLiteral("/api/system/Sync/upload"),
                             QStringLiteral("POST"));
    upload.addVar(QStringLiteral("deviceid"), device);
    upload.addVar(QStringLiteral("noencrypt"), QString());
    upload.addFile(QStringLiteral("file"), path, QString(), QStringLiteral("binary/octet-stream"));
    const QJsonObject uploaded = ask(upload);
    QCOMPARE(uploaded.value(QStringLiteral("code")).toInt(-1), 0);
    QCOMPARE(uploaded.value(QStringLiteral("ret"))
                 .toObject()
                 .value(QStringLiteral("revision"))
                 .toString(),
             QStringLiteral("1"));

    QCOMPARE(check(QStringLiteral("1")).value(QStringLiteral("code")).toInt(-1), 0); // same content

    // Another machine with other content and an older revision: download.
    HttpRequestParams other(server.base() + QStringLiteral("/api/system/Sync"),
                            QStringLiteral("GET"));
    other.addVar(QStringLiteral("deviceid"), device);
    other.addVar(QStringLiteral("md5"), QStringLiteral("00000000000000000000000000000000"));
    other.addVar(QStringLiteral("revision"), QStringLiteral("0"));
    QCOMPARE(ask(other).value(QStringLiteral("code")).toInt(-1), 1);

    HttpRequestParams down(server.base() + QStringLiteral("/api/system/sync/down"),
                           QStringLiteral("GET"));
    down.addVar(QStringLiteral("deviceid"), device);
    down.addVar(QStringLiteral("noencrypt"), QString());
    const QJsonObject ret = ask(down).value(QStringLiteral("ret")).toObject();
    const QString url = ret.value(QStringLiteral("file")).toString();
    QVERIFY(url.endsWith(QStringLiteral("/synchronize.dat")));
    QCOMPARE(ret.value(QStringLiteral("revision")).toString(), QStringLiteral("1"));
    HttpRequestWorker fetch;
    QSignalSpy spy(&fetch, &HttpRequestWorker::on_execution_finished);
    fetch.send(HttpRequestParams(url, QStringLiteral("GET")));
    QVERIFY(spy.wait(5000));
    QCOMPARE(fetch.result().value, pkg);
    // The device id never became a path: everything stays under sync/.
    QCOMPARE(QDir(dir()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("sync")});
}

QTEST_GUILESS_MAIN(ToolsTest)
#include "tst_tools.moc"
