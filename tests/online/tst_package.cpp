#include "logcapture.h"
#include "lzmasdk.h"
#include "packagetestutil.h"

#include "online/lzmacodec.h"
#include "online/package.h"

#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using namespace packagetest;

Q_DECLARE_METATYPE(QList<package::File>)

class PackageTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void updatePackageUnpacks();
    void readyLeftFromEarlierRunIsReplaced();
    void badUpdatePackagesAreRefused_data();
    void badUpdatePackagesAreRefused();
    void hostileNamesWriteNothing_data();
    void hostileNamesWriteNothing();

    void syncPackageWritesOverProgramFolder();
    void badSyncPackageLeavesFilesAlone_data();
    void badSyncPackageLeavesFilesAlone();
    void syncableNames_data();
    void syncableNames();
    void shortWriteFailsPackage_data();
    void shortWriteFailsPackage();
    void failureRemovesNothingBehindLinks_data();
    void failureRemovesNothingBehindLinks();

    void sdkStreamsUnpack_data();
    void sdkStreamsUnpack();
    void builtPackagesDecodeWithSdk();
    void buildIsDeterministic();

private:
    QString folder() const { return m_dir->path() + QLatin1Char('/'); }
    QString packagePath() const { return folder() + QStringLiteral("tupdates/client/client.pkg"); }
    // Signed as a program package (what the tests check here is the format), for a program at
    // version 0.1.
    bool unpack(const QByteArray& file, QString* version = nullptr) {
        writeFile(packagePath(), signAs(file, QStringLiteral("client")));
        const auto unpacked = package::unpackUpdatePackage(folder(), QStringLiteral("client"),
                                                           packagePath(), QStringLiteral("0.1"));
        if (version)
            *version = unpacked.value;
        return unpacked.ok;
    }

    QTemporaryDir* m_dir = nullptr;
};

void PackageTest::init() {
    m_dir = new QTemporaryDir;
}
void PackageTest::cleanup() {
    delete m_dir;
}

void PackageTest::updatePackageUnpacks() {
    const QList<package::File> files{{QStringLiteral("a/b/c.txt"), "deep"},
                                     {QStringLiteral("top.bin"), QByteArray(3000, '\x7f')},
                                     {QStringLiteral("empty"), QByteArray()}};
    QString version;
    QVERIFY(unpack(updatePackage(files, QStringLiteral("2.0.1")), &version));
    QCOMPARE(version, QStringLiteral("2.0.1"));
    const QString ready = folder() + QStringLiteral("tupdates/client/ready/");
    QCOMPARE(readFile(ready + QStringLiteral("a/b/c.txt")), QByteArray("deep"));
    QCOMPARE(readFile(ready + QStringLiteral("top.bin")), QByteArray(3000, '\x7f'));
    QVERIFY(QFileInfo(ready + QStringLiteral("empty")).isFile());
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("tupdates/client/temp")));
    QVERIFY(!QFileInfo::exists(packagePath()));
}

void PackageTest::readyLeftFromEarlierRunIsReplaced() {
    const QString ready = folder() + QStringLiteral("tupdates/client/ready/");
    QVERIFY(writeFile(ready + QStringLiteral("stale.txt"), "old"));
    QVERIFY(writeFile(folder() + QStringLiteral("tupdates/client/temp/half.txt"), "old"));
    QVERIFY(unpack(updatePackage({{QStringLiteral("new.txt"), "new"}})));
    QVERIFY(!QFileInfo::exists(ready + QStringLiteral("stale.txt")));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("tupdates/client/temp")));
    QCOMPARE(readFile(ready + QStringLiteral("new.txt")), QByteArray("new"));
}

void PackageTest::badUpdatePackagesAreRefused_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("log");

    const QString version = QStringLiteral("1");
    const QByteArray good = updatePackage({{QStringLiteral("x.txt"), "hello"}});

    QTest::newRow("157 bytes") << good.left(157) << "Update Error: bad compressed size: 157";
    QByteArray digest = good;
    digest[130] = static_cast<char>(digest[130] ^ 1);
    QTest::newRow("wrong digest") << digest << "Update Error: bad SHA1 hash of update file!";
    QByteArray body = good;
    body[body.size() - 1] = static_cast<char>(body[body.size() - 1] ^ 1);
    QTest::newRow("changed body") << body << "Update Error: bad SHA1 hash of update file!";

    QTest::newRow("empty") << packPayload(package::writePayload({}, &version))
                           << "Update Error: update is empty!";
    QByteArray corrupt = good;
    for (int i = package::kDataOffset + 1; i < corrupt.size(); ++i)
        corrupt[i] = static_cast<char>(0xFF);
    QTest::newRow("corrupt stream")
        << redigest(corrupt) << "Update Error: could not uncompress lzma, code: ";
    QTest::newRow("truncated stream")
        << redigest(good.left(package::kDataOffset + (good.size() - package::kDataOffset) / 2))
        << "Update Error: could not uncompress lzma, code: ";
    const QByteArray payload =
        package::writePayload({{QStringLiteral("x.txt"), "hello"}}, &version);
    QTest::newRow("size larger than stream")
        << packPayload(payload, static_cast<quint32>(payload.size() + 100))
        << "Update Error: could not uncompress lzma, code: ";
    QTest::newRow("size above the bound")
        << packPayload(payload, package::kMaxUpdatePayload + 1)
        << QStringLiteral("Update Error: bad uncompressed size: %1")
               .arg(package::kMaxUpdatePayload + 1);
    QTest::newRow("size 4 GiB - 1")
        << packPayload(payload, 0xFFFFFFFFu) << "Update Error: bad uncompressed size: 4294967295";

    // Payloads written by hand: lengths that disagree, a count larger than the entries.
    QByteArray mismatch;
    {
        QDataStream ds(&mismatch, QIODevice::WriteOnly);
        ds.setVersion(14);
        ds << version << quint32(1) << QStringLiteral("x.txt") << quint32(5) << QByteArray("abc");
    }
    QTest::newRow("data length differs from size")
        << packPayload(mismatch) << "Update Error: bad file size 5 not matching data size 3";
    QByteArray shortCount;
    {
        QDataStream ds(&shortCount, QIODevice::WriteOnly);
        ds.setVersion(14);
        ds << version << quint32(2) << QStringLiteral("x.txt") << quint32(1) << QByteArray("a");
    }
    QTest::newRow("count beyond entries")
        << packPayload(shortCount)
        << "Update Error: cant read file from downloaded stream, status: ";
    QByteArray noCount;
    {
        QDataStream ds(&noCount, QIODevice::WriteOnly);
        ds.setVersion(14);
        ds << version;
    }
    QTest::newRow("no count")
        << packPayload(noCount)
        << "Update Error: cant read files count from downloaded stream, status: ";

    // A program package must be newer than the program (0.1 here), number by number.
    const QString notNewer = QStringLiteral("is not newer than the running version");
    for (const char* old : {"0.1", "0.1.0", "0.0.9", "0.1-beta", ""})
        QTest::newRow(qPrintable(QStringLiteral("version '%1'").arg(QLatin1String(old))))
            << updatePackage({{QStringLiteral("x.txt"), "hello"}}, QLatin1String(old)) << notNewer;
}

void PackageTest::badUpdatePackagesAreRefused() {
    QFETCH(QByteArray, file);
    QFETCH(QString, log);
    LogCapture capture;
    QVERIFY(!unpack(file));
    QVERIFY2(capture.contains(log), qPrintable(capture.lines().join(QLatin1Char('\n'))));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("tupdates")));
}

void PackageTest::hostileNamesWriteNothing_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("parent") << QStringLiteral("../evil.txt");
    QTest::newRow("deep parent") << QStringLiteral("a/../../evil.txt");
    QTest::newRow("absolute") << QStringLiteral("/tmp/evil.txt");
    QTest::newRow("drive letter") << QStringLiteral("C:/evil.txt");
    QTest::newRow("backslashes") << QStringLiteral("a\\..\\..\\evil.txt");
    QTest::newRow("only slashes") << QStringLiteral("//");
    QTest::newRow("empty") << QString();
    QTest::newRow("control character") << QStringLiteral("a\nb");
    QTest::newRow("three dots") << QStringLiteral(".../evil.txt");
    QTest::newRow("dots and a space") << QStringLiteral("a/.. /.. /evil.txt");
}

void PackageTest::hostileNamesWriteNothing() {
    QFETCH(QString, name);
    LogCapture capture;
    // The hostile entry comes second: the first must not survive either.
    const QByteArray file = updatePackage({{QStringLiteral("fine.txt"), "ok"}, {name, "evil"}});
    QVERIFY(!unpack(file));
    QVERIFY(capture.contains(QStringLiteral("Update Error: bad file name")));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("tupdates")));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("evil.txt")));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("tupdates/evil.txt")));
}

void PackageTest::syncPackageWritesOverProgramFolder() {
    const QString conf = QStringLiteral("Resources/profiles/conf.xml");
    const QString keys = QStringLiteral("view/device/KX100/xml/configuration.xml");
    QVERIFY(writeFile(folder() + conf, "old"));
    QVERIFY(writeFile(folder() + keys, "old"));
    const QString path = folder() + QStringLiteral("tupload/download/synchronize.dat");
    QVERIFY(writeFile(
        path, packPayload(package::writePayload({{conf, "new"}, {keys, "<a/>"}}, nullptr))));
    QVERIFY(package::unpackSyncPackage(folder(), path, {conf, keys}));
    QCOMPARE(readFile(folder() + conf), QByteArray("new"));
    QCOMPARE(readFile(folder() + keys), QByteArray("<a/>"));
    QVERIFY(!QFileInfo::exists(path));
}

void PackageTest::badSyncPackageLeavesFilesAlone_data() {
    QTest::addColumn<QList<package::File>>("files");
    QTest::addColumn<QString>("log");
    const QString conf = QStringLiteral("Resources/profiles/conf.xml");
    // Each has conf.xml first, which could be written; it must not be, since the package fails
    // as a whole.
    auto withConf = [&](const QString& name, const QByteArray& data = "x") {
        return QList<package::File>{{conf, "new"}, {name, data}};
    };
    QTest::newRow("traversal") << withConf(QStringLiteral("../outside.txt"))
                               << "Update Error: bad file name";
    QTest::newRow("empty") << QList<package::File>{} << "Update Error: update is empty!";
    QTest::newRow("missing folder")
        << withConf(QStringLiteral("Resources/profiles/nowhere/x.xml")) << "Can't open '";
    const QString refused = QStringLiteral("Update Error: sync package may not write '%1'");
    for (const char* name :
         {"tavix.exe", "libkx.so", "qt.conf", "view/index.html", "view/js/app.js",
          "Resources/profiles/libkx.so", "view/device/KX100/index.html",
          "view/device/KX100/xml/../../../index.xml", "Resources/profiles/unlisted.xml",
          "resources/profiles//conf.xml", "tupdates/client/ready/x.xml"}) {
        const QString n = QLatin1String(name);
        QTest::newRow(name) << withConf(n)
                            << (package::isSafeName(n) ? refused.arg(n)
                                                       : QStringLiteral("bad file name"));
    }
    const QString big = QStringLiteral("Update Error: sync package too large");
    QTest::newRow("file past the bound")
        << withConf(QStringLiteral("Resources/profiles/a.xml"),
                    QByteArray(int(package::kMaxSyncFileSize) + 1, '\0'))
        << big;
    QList<package::File> many;
    for (quint32 i = 0; i <= package::kMaxSyncEntries; ++i)
        many << package::File{conf, "x"};
    QTest::newRow("too many files") << many << "Update Error: too many files";
}

// Every refusal leaves every file as it was and nothing staged beside it. Only conf.xml and
// the page's own list are asked for.
void PackageTest::badSyncPackageLeavesFilesAlone() {
    QFETCH(QList<package::File>, files);
    QFETCH(QString, log);
    LogCapture capture;
    const QString profiles = folder() + QStringLiteral("Resources/profiles/");
    QVERIFY(writeFile(profiles + QStringLiteral("conf.xml"), "old"));
    QVERIFY(writeFile(folder() + QStringLiteral("view/index.html"), "page"));
    QStringList listed;
    for (const package::File& f : qAsConst(files))
        if (!f.name.endsWith(QLatin1String("unlisted.xml")))
            listed << f.name;
    const QString path = folder() + QStringLiteral("tupload/download/synchronize.dat");
    QVERIFY(writeFile(path, packPayload(package::writePayload(files, nullptr))));
    QVERIFY(!package::unpackSyncPackage(folder(), path, listed));
    QVERIFY2(capture.contains(log), qPrintable(capture.lines().join(QLatin1Char('\n'))));
    QCOMPARE(readFile(profiles + QStringLiteral("conf.xml")), QByteArray("old"));
    QCOMPARE(readFile(folder() + QStringLiteral("view/index.html")), QByteArray("page"));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("tupload")));
    QVERIFY(!QFileInfo::exists(m_dir->path() + QStringLiteral("/../outside.txt")));
    QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList());
    QCOMPARE(QDir(profiles).entryList(QDir::Files), QStringList{QStringLiteral("conf.xml")});
}

void PackageTest::syncableNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("syncable");
    QTest::addColumn<bool>("conf");
    QTest::newRow("conf.xml") << "Resources/profiles/conf.xml" << true << true;
    QTest::newRow("conf.xml as Windows opens it")
        << "resources/PROFILES/Conf.Xml. " << true << true;
    QTest::newRow("profile") << "Resources/profiles/games/fps.pfd" << true << false;
    QTest::newRow("key map") << "view/device/virtual/xml/configuration.xml" << true << false;
    QTest::newRow("key map below xml") << "view/device/KX100/xml/sets/b.xml" << true << false;
    QTest::newRow("xml folder one level up") << "view/device/xml/a.xml" << false << false;
    QTest::newRow("device page") << "view/device/KX100/index.html" << false << false;
    QTest::newRow("page") << "view/index.html" << false << false;
    QTest::newRow("qt.conf") << "qt.conf" << false << false;
    QTest::newRow("program") << "tavix.exe" << false << false;
    QTest::newRow("library named like a profile")
        << "Resources/profiles/libkx.so" << false << false;
    QTest::newRow("only an extension") << "Resources/profiles/.xml" << false << false;
    QTest::newRow("dot segment") << "Resources/./profiles/conf.xml" << false << false;
    QTest::newRow("empty segment") << "Resources//profiles/conf.xml" << false << false;
    QTest::newRow("parent segment") << "Resources/profiles/../../x.xml" << false << false;
}

void PackageTest::syncableNames() {
    QFETCH(QString, name);
    QFETCH(bool, syncable);
    QFETCH(bool, conf);
    QCOMPARE(package::isSyncableName(name), syncable);
    QCOMPARE(package::isConfName(name) && syncable, conf);
}

void PackageTest::shortWriteFailsPackage_data() {
    QTest::addColumn<bool>("sync");
    QTest::newRow("update") << false;
    QTest::newRow("sync") << true;
}

// Under a 4 KiB file-size limit a 10 kB file cannot be written whole: the package fails
// instead of leaving a cut file behind a success.
void PackageTest::shortWriteFailsPackage() {
    QFETCH(bool, sync);
    const QByteArray big(10000, 'x');
    const QString name = QStringLiteral("Resources/profiles/big.xml");
    const QList<package::File> files{{name, big}};
    QVERIFY(writeFile(folder() + name, "old"));
    const QString path =
        sync ? folder() + QStringLiteral("tupload/download/synchronize.dat") : packagePath();
    const QString version = QStringLiteral("1.0");
    const QByteArray file = packPayload(package::writePayload(files, sync ? nullptr : &version));
    QVERIFY(writeFile(path, sync ? file : signAs(file, QStringLiteral("client"))));

    struct rlimit old {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = 4096;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool ok = sync ? package::unpackSyncPackage(folder(), path, {name}).ok
                         : package::unpackUpdatePackage(folder(), QStringLiteral("client"), path,
                                                        QStringLiteral("0.1"))
                               .ok;
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!ok);
    QCOMPARE(readFile(folder() + name), QByteArray("old"));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("tupdates/client/ready")));
    QVERIFY(!QFileInfo::exists(folder() + name + QStringLiteral(".tavix-new")));
}

void PackageTest::failureRemovesNothingBehindLinks_data() {
    QTest::addColumn<QString>("link"); // relative to the program folder; points at "outside"
    QTest::addColumn<QString>("package");
    QTest::newRow("folder link in the work folder") << "tupdates/client/away"
                                                    << "tupdates/client/client.pkg";
    QTest::newRow("file link in the work folder") << "tupdates/client/keep.txt"
                                                  << "tupdates/client/client.pkg";
    QTest::newRow("tupdates is a link") << "tupdates"
                                        << "tupdates/client.pkg";
    QTest::newRow("folder link in the sync work folder") << "tupload/download/away"
                                                         << "tupload/download/synchronize.dat";
    QTest::newRow("tupload is a link") << "tupload"
                                       << "tupload/download/synchronize.dat";
}

// A failing package removes its work folder; links planted there are removed as links, and a
// work folder reached through a link is not removed at all: what a link points to stays.
void PackageTest::failureRemovesNothingBehindLinks() {
    QFETCH(QString, link);
    QFETCH(QString, package);
    QTemporaryDir outside;
    QVERIFY(writeFile(outside.path() + QStringLiteral("/keep.txt"), "precious"));
    QVERIFY(writeFile(outside.path() + QStringLiteral("/sub/deep.txt"), "precious"));
    const QString linkPath = folder() + link;
    QDir().mkpath(QFileInfo(linkPath).absolutePath());
    const QString target = link.endsWith(QLatin1String(".txt"))
                               ? outside.path() + QStringLiteral("/keep.txt")
                               : outside.path();
    QVERIFY(QFile::link(target, linkPath));
    const QByteArray bad(200, 'x'); // digest does not match
    const QString path = folder() + package;
    QVERIFY(writeFile(path, bad));
    const bool sync = package.startsWith(QLatin1String("tupload"));
    QVERIFY(!(sync ? package::unpackSyncPackage(folder(), path, {}).ok
                   : package::unpackUpdatePackage(folder(), QStringLiteral("client"), path).ok));
    QCOMPARE(readFile(outside.path() + QStringLiteral("/keep.txt")), QByteArray("precious"));
    QCOMPARE(readFile(outside.path() + QStringLiteral("/sub/deep.txt")), QByteArray("precious"));
}

void PackageTest::sdkStreamsUnpack_data() {
    QTest::addColumn<bool>("endMarker");
    QTest::newRow("without end marker") << false;
    QTest::newRow("with end marker") << true;
}

void PackageTest::sdkStreamsUnpack() {
    QFETCH(bool, endMarker);
    const QString version = QStringLiteral("9.9");
    QByteArray big;
    for (int i = 0; i < 20000; ++i)
        big += QByteArray::number(i * 7919 % 1000);
    const QByteArray payload = package::writePayload(
        {{QStringLiteral("dir/big.txt"), big}, {QStringLiteral("small"), "s"}}, &version);
    QByteArray stream, props;
    QCOMPARE(lzmasdk::encode(payload, endMarker, &stream, &props), 0);
    QString got;
    QVERIFY(unpack(assemble(props, static_cast<quint32>(payload.size()), stream), &got));
    QCOMPARE(got, version);
    QCOMPARE(readFile(folder() + QStringLiteral("tupdates/client/ready/dir/big.txt")), big);
}

void PackageTest::builtPackagesDecodeWithSdk() {
    QByteArray payload;
    for (int i = 0; i < 50000; ++i)
        payload += static_cast<char>((static_cast<unsigned>(i) * static_cast<unsigned>(i)) % 251u);
    const auto built = package::build(payload);
    QVERIFY2(built, built.text.c_str());
    const QByteArray file = built.value;
    QCOMPARE(file.left(package::kDigestOffset), QByteArray(package::kDigestOffset, '\0'));
    QCOMPARE(file.mid(package::kPropsOffset, 5), QByteArray::fromHex("5d00000001"));
    QByteArray out;
    QCOMPARE(lzmasdk::decode(file.mid(package::kPropsOffset, 5), file.mid(package::kDataOffset),
                             payload.size(), &out),
             0);
    QCOMPARE(out, payload);
}

void PackageTest::buildIsDeterministic() {
    const QByteArray payload = package::writePayload({{QStringLiteral("a"), "same"}}, nullptr);
    const auto one = package::build(payload);
    const auto two = package::build(payload);
    QVERIFY(one && two);
    QCOMPARE(one.value, two.value);
}

QTEST_GUILESS_MAIN(PackageTest)
#include "tst_package.moc"
