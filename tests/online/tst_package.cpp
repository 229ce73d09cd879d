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
    void programBinaryNames_data();
    void programBinaryNames();
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
    bool unpack(const QByteArray& file, QString* version = nullptr) {
        writeFile(packagePath(), file);
        const auto unpacked =
            package::unpackUpdatePackage(folder(), QStringLiteral("client"), packagePath());
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
    QTest::newRow("size above 1 GiB") << packPayload(payload, (1u << 30) + 1)
                                      << "Update Error: bad uncompressed size: 1073741825";
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
    QVERIFY(writeFile(folder() + QStringLiteral("Resources/profiles/conf.xml"), "old"));
    const QString path = folder() + QStringLiteral("tupload/download/synchronize.dat");
    QVERIFY(writeFile(path, packPayload(package::writePayload(
                                {{QStringLiteral("Resources/profiles/conf.xml"), "new"},
                                 {QStringLiteral("top.xml"), "<a/>"}},
                                nullptr))));
    QVERIFY(package::unpackSyncPackage(folder(), path));
    QCOMPARE(readFile(folder() + QStringLiteral("Resources/profiles/conf.xml")), QByteArray("new"));
    QCOMPARE(readFile(folder() + QStringLiteral("top.xml")), QByteArray("<a/>"));
    QVERIFY(!QFileInfo::exists(path));
}

void PackageTest::badSyncPackageLeavesFilesAlone_data() {
    QTest::addColumn<QList<package::File>>("files");
    QTest::addColumn<QString>("log");
    QTest::newRow("traversal") << QList<package::File>{{QStringLiteral("conf.xml"), "new"},
                                                       {QStringLiteral("../outside.txt"), "evil"}}
                               << "Update Error: bad file name";
    QTest::newRow("empty") << QList<package::File>{} << "Update Error: update is empty!";
    QTest::newRow("missing folder")
        << QList<package::File>{{QStringLiteral("nowhere/x.xml"), "x"}} << "Can't open '";
    // The first file could be written; it must not be, since the package fails as a whole.
    QTest::newRow("later entry fails")
        << QList<package::File>{{QStringLiteral("conf.xml"), "new"},
                                {QStringLiteral("nowhere/x.xml"), "x"}}
        << "Can't open '";
    QTest::newRow("program executable") << QList<package::File>{{QStringLiteral("conf.xml"), "new"},
                                                                {QStringLiteral("tavix.exe"), "MZ"}}
                                        << "Update Error: sync package may not replace 'tavix.exe'";
    QTest::newRow("device library") << QList<package::File>{{QStringLiteral("conf.xml"), "new"},
                                                            {QStringLiteral("libkx.so"), "\x7f"
                                                                                         "ELF"}}
                                    << "Update Error: sync package may not replace 'libkx.so'";
}

void PackageTest::badSyncPackageLeavesFilesAlone() {
    QFETCH(QList<package::File>, files);
    QFETCH(QString, log);
    LogCapture capture;
    QVERIFY(writeFile(folder() + QStringLiteral("conf.xml"), "old"));
    const QString path = folder() + QStringLiteral("tupload/download/synchronize.dat");
    QVERIFY(writeFile(path, packPayload(package::writePayload(files, nullptr))));
    QVERIFY(!package::unpackSyncPackage(folder(), path));
    QVERIFY2(capture.contains(log), qPrintable(capture.lines().join(QLatin1Char('\n'))));
    QCOMPARE(readFile(folder() + QStringLiteral("conf.xml")), QByteArray("old"));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("tupload")));
    QVERIFY(!QFileInfo::exists(m_dir->path() + QStringLiteral("/../outside.txt")));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("tavix.exe")));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("libkx.so")));
    // Nothing staged is left beside the targets.
    QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList{QStringLiteral("conf.xml")});
}

void PackageTest::programBinaryNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("binary");
    QTest::newRow("program") << "tavix" << true;
    QTest::newRow("program, Windows") << "tavix.exe" << true;
    QTest::newRow("updater, other case") << "UPDATER.EXE" << true;
    QTest::newRow("crash reporter") << "CrashReporter" << true;
    QTest::newRow("library in a folder") << "platforms/qwindows.dll" << true;
    QTest::newRow("versioned library") << "libkx.so.1" << true;
    QTest::newRow("driver") << "pelta.sys" << true;
    QTest::newRow("driver description") << "pelta.inf" << true;
    QTest::newRow("trailing dot and space") << "tavix.exe. " << true;
    QTest::newRow("configuration") << "Resources/profiles/conf.xml" << false;
    QTest::newRow("profile named like the program") << "profiles/tavix.xml" << false;
    QTest::newRow("suffix-like stem") << "so.txt" << false;
    QTest::newRow("page") << "view/device/KX100/index.html" << false;
}

void PackageTest::programBinaryNames() {
    QFETCH(QString, name);
    QFETCH(bool, binary);
    QCOMPARE(package::isProgramBinaryName(name), binary);
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
    const QList<package::File> files{{QStringLiteral("big.xml"), big}};
    QVERIFY(writeFile(folder() + QStringLiteral("big.xml"), "old"));
    const QString path =
        sync ? folder() + QStringLiteral("tupload/download/synchronize.dat") : packagePath();
    const QString version = QStringLiteral("1.0");
    QVERIFY(writeFile(path, packPayload(package::writePayload(files, sync ? nullptr : &version))));

    struct rlimit old {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = 4096;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool ok = sync
                        ? package::unpackSyncPackage(folder(), path).ok
                        : package::unpackUpdatePackage(folder(), QStringLiteral("client"), path).ok;
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!ok);
    QCOMPARE(readFile(folder() + QStringLiteral("big.xml")), QByteArray("old"));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("tupdates/client/ready")));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("big.xml.tavix-new")));
}

void PackageTest::failureRemovesNothingBehindLinks_data() {
    QTest::addColumn<QString>("link"); // relative to the program folder; points at "outside"
    QTest::addColumn<bool>("sync");
    QTest::newRow("folder link in tupdates") << "tupdates/client/away" << false;
    QTest::newRow("file link in tupdates") << "tupdates/keep.txt" << false;
    QTest::newRow("tupdates is a link") << "tupdates" << false;
    QTest::newRow("folder link in tupload") << "tupload/away" << true;
    QTest::newRow("tupload is a link") << "tupload" << true;
}

// A failing package removes its whole working folder; links planted there are removed as
// links, and what they point to stays.
void PackageTest::failureRemovesNothingBehindLinks() {
    QFETCH(QString, link);
    QFETCH(bool, sync);
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
    const QString path =
        folder() + (sync ? QStringLiteral("synchronize.dat") : QStringLiteral("client.pkg"));
    QVERIFY(writeFile(path, bad));
    QVERIFY(!(sync ? package::unpackSyncPackage(folder(), path).ok
                   : package::unpackUpdatePackage(folder(), QStringLiteral("client"), path).ok));
    QVERIFY(!QFileInfo::exists(folder() + (sync ? "tupload" : "tupdates")));
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
