#include "logcapture.h"
#include "packagetestutil.h"

#include "online/package.h"

#include <QDirIterator>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace packagetest;

namespace {

// A small window: the standard 16 MiB one costs a large allocation per package, which adds up
// over hundreds of packages (and more so under the address sanitizer).
QByteArray pack(const QByteArray& payload) {
    lzmacodec::EncoderSettings settings;
    settings.dictSize = 1u << 16;
    QByteArray stream, props;
    lzmacodec::compress(payload, &stream, &props, settings);
    return assemble(props, static_cast<quint32>(payload.size()), stream);
}

QByteArray packFiles(const QList<package::File>& files) {
    const QString version = QStringLiteral("1.2.3");
    return pack(package::writePayload(files, &version));
}

} // namespace

// Packages made to hurt: every one must be refused with a log line or unpack inside
// "tupdates/<kind>/ready", and nothing may appear anywhere else.
class HostilePackagesTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void truncatedAtEveryOffset();
    void randomBytesAfterHeader();
    void dictionaryHeader_data();
    void dictionaryHeader();
    void absurdStreamFields_data();
    void absurdStreamFields();
    void nameOf100kB();
    void hundredThousandTinyFiles();
    void duplicateNamesLastWins();
    void fileAndFolderOfOneName_data();
    void fileAndFolderOfOneName();
    void syncFileAndFolderOfOneName();
    void randomizedPayloads();

private:
    QString program() const { return m_dir->path() + QStringLiteral("/program/"); }
    QString packagePath() const { return program() + QStringLiteral("tupdates/html/p.pkg"); }
    // Signed: what is hostile here is what the vendor's key would sign by mistake.
    bool unpack(const QByteArray& file, QString* version = nullptr) {
        writeFile(packagePath(), signAs(file, QStringLiteral("html")));
        const auto unpacked =
            package::unpackUpdatePackage(program(), QStringLiteral("html"), packagePath());
        if (version)
            *version = unpacked.value;
        return unpacked.ok;
    }
    // Every file below the test folder, relative to it.
    QStringList allFiles() const {
        QStringList out;
        QDirIterator it(m_dir->path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            out << it.next().mid(m_dir->path().size() + 1);
        return out;
    }
    // After a refusal nothing is left; after success only the ready folder holds files.
    void checkOutcome(bool ok) {
        for (const QString& f : allFiles()) {
            QVERIFY2(ok && f.startsWith(QLatin1String("program/tupdates/html/ready/")),
                     qPrintable(f));
        }
    }

    QTemporaryDir* m_dir = nullptr;
};

void HostilePackagesTest::init() {
    // On a memory file system where there is one: thousands of small files are the point here,
    // not the disk.
    m_dir = QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                ? new QTemporaryDir(QStringLiteral("/dev/shm/tst_hostilepackages-XXXXXX"))
                : new QTemporaryDir;
}
void HostilePackagesTest::cleanup() {
    delete m_dir;
}

void HostilePackagesTest::truncatedAtEveryOffset() {
    const QByteArray good = packFiles(
        {{QStringLiteral("a/b.txt"), "hello"}, {QStringLiteral("c.bin"), QByteArray(40, 'c')}});
    LogCapture capture;
    for (int n = 0; n < good.size(); ++n) {
        // As cut, and with the digest made right again so that the decoder meets the cut.
        QVERIFY2(!unpack(good.left(n)), qPrintable(QString::number(n)));
        checkOutcome(false);
        if (n > package::kDataOffset) {
            QVERIFY2(!unpack(redigest(good.left(n))), qPrintable(QString::number(n)));
            checkOutcome(false);
        }
    }
    QVERIFY(capture.contains(QStringLiteral("Update Error: bad compressed size: 0")));
    QVERIFY(capture.contains(QStringLiteral("Update Error: could not uncompress lzma, code: ")));
    QVERIFY(unpack(good));
}

void HostilePackagesTest::randomBytesAfterHeader() {
    const QByteArray good = packFiles({{QStringLiteral("x.txt"), "hello"}});
    QRandomGenerator rng(7);
    for (int round = 0; round < 40; ++round) {
        QByteArray file = good.left(package::kDataOffset);
        const int tail = 1 + static_cast<int>(rng.bounded(4000));
        for (int i = 0; i < tail; ++i)
            file += static_cast<char>(rng.bounded(256));
        QVERIFY(!unpack(redigest(file)));
        checkOutcome(false);
    }
}

void HostilePackagesTest::dictionaryHeader_data() {
    QTest::addColumn<QByteArray>("props");
    QTest::addColumn<bool>("unpacks");
    // The stream was made with a 64 KiB window: any stated window at least as large as the
    // payload decodes it, and a huge one must not be reserved.
    QTest::newRow("4 GiB - 1") << QByteArray("\x5d\xff\xff\xff\xff", 5) << true;
    QTest::newRow("zero") << QByteArray("\x5d\x00\x00\x00\x00", 5) << true;
    QTest::newRow("bad lc/lp/pb") << QByteArray("\xe1\x00\x00\x00\x01", 5) << false;
    QTest::newRow("all ones") << QByteArray("\xff\xff\xff\xff\xff", 5) << false;
}

void HostilePackagesTest::dictionaryHeader() {
    QFETCH(QByteArray, props);
    QFETCH(bool, unpacks);
    QByteArray file = packFiles({{QStringLiteral("x.txt"), QByteArray(5000, 'x')}});
    file.replace(package::kPropsOffset, 5, props);
    LogCapture capture;
    QCOMPARE(unpack(redigest(file)), unpacks);
    checkOutcome(unpacks);
    if (unpacks)
        QCOMPARE(readFile(program() + QStringLiteral("tupdates/html/ready/x.txt")),
                 QByteArray(5000, 'x'));
    else
        QVERIFY(
            capture.contains(QStringLiteral("Update Error: could not uncompress lzma, code: 4")));
}

void HostilePackagesTest::absurdStreamFields_data() {
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("log");
    auto be32 = [](quint32 v) {
        QByteArray b(4, '\0');
        qToBigEndian(v, b.data());
        return b;
    };
    const QByteArray version = be32(2) + QByteArray("\0"
                                                    "1",
                                                    2);
    const QByteArray name = be32(10) + QByteArray("\0x\0.\0t\0x\0t", 10);
    QTest::newRow("version of 4 GiB - 2 bytes")
        << be32(0xFFFFFFFE) + QByteArray(64, 'v')
        << "Update Error: cant read version from downloaded stream, status: ";
    QTest::newRow("version of odd length")
        << be32(3) + QByteArray(64, 'v')
        << "Update Error: cant read version from downloaded stream, status: ";
    QTest::newRow("count of 4 G, one entry")
        << version + be32(0xFFFFFFFF) + name + be32(1) + be32(1) + "a"
        << "Update Error: too many files: 4294967295";
    QTest::newRow("name of 2 GiB")
        << version + be32(1) + be32(0x80000000) + QByteArray(100, 'n')
        << "Update Error: cant read file from downloaded stream, status: ";
    QTest::newRow("data of 4 GiB - 16")
        << version + be32(1) + name + be32(0xFFFFFFF0) + be32(0xFFFFFFF0) + QByteArray(100, 'd')
        << "Update Error: cant read file from downloaded stream, status: ";
    QTest::newRow("size and data disagree")
        << version + be32(1) + name + be32(0xFFFFFFFF) + be32(1) + "a"
        << "Update Error: bad file size 4294967295 not matching data size 1";
    QTest::newRow("no count") << version << "Update Error: cant read files count";
}

void HostilePackagesTest::absurdStreamFields() {
    QFETCH(QByteArray, payload);
    QFETCH(QString, log);
    LogCapture capture;
    QVERIFY(!unpack(pack(payload)));
    QVERIFY2(capture.contains(log), qPrintable(capture.lines().join(QLatin1Char('\n'))));
    checkOutcome(false);
}

void HostilePackagesTest::nameOf100kB() {
    LogCapture capture;
    const QString longName = QString(100 * 1024, QLatin1Char('n'));
    QVERIFY(!unpack(packFiles({{QStringLiteral("ok.txt"), "ok"}, {longName, "x"}})));
    QVERIFY(capture.contains(QStringLiteral("Update Error: cant open file '")));
    checkOutcome(false);
    // Levels that add up to 100 kB: the path grows too long on the way down.
    QString deep;
    while (deep.size() < 100 * 1024)
        deep += QString(31, QLatin1Char('d')) + QLatin1Char('/');
    QVERIFY(!unpack(packFiles({{deep + QStringLiteral("f"), "x"}})));
    checkOutcome(false);
}

// On a memory file system where there is one: the entry count is what is hostile here, not the
void HostilePackagesTest::hundredThousandTinyFiles() {
    QList<package::File> files;
    for (int i = 0; i < 100000; ++i)
        files.append({QStringLiteral("d%1/%2").arg(i % 100).arg(i), QByteArray::number(i)});
    // Past the bound of a package: refused before the first file is written.
    LogCapture capture;
    QVERIFY(!unpack(packFiles(files)));
    QVERIFY(capture.contains(QStringLiteral("Update Error: too many files: 100000")));
    checkOutcome(false);
    // Within it, every one arrives.
    files = files.mid(0, 60000);
    QVERIFY(unpack(packFiles(files)));
    QCOMPARE(allFiles().size(), 60000);
    QCOMPARE(readFile(program() + QStringLiteral("tupdates/html/ready/d99/59999")),
             QByteArray("59999"));
}

void HostilePackagesTest::duplicateNamesLastWins() {
    QVERIFY(unpack(packFiles(
        {{QStringLiteral("a.txt"), "first, longer"}, {QStringLiteral("a.txt"), "second"}})));
    QCOMPARE(readFile(program() + QStringLiteral("tupdates/html/ready/a.txt")),
             QByteArray("second"));

    const QString name = QStringLiteral("Resources/profiles/c.xml");
    QDir().mkpath(program() + QStringLiteral("Resources/profiles"));
    const QString sync = program() + QStringLiteral("tupload/download/s.dat");
    QVERIFY(writeFile(
        sync, pack(package::writePayload({{name, "first, longer"}, {name, "second"}}, nullptr))));
    QVERIFY(package::unpackSyncPackage(program(), sync, {name}));
    QCOMPARE(readFile(program() + name), QByteArray("second"));
}

void HostilePackagesTest::fileAndFolderOfOneName_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("file, then folder") << "a"
                                       << "a/b";
    QTest::newRow("folder, then file") << "a/b"
                                       << "a";
    QTest::newRow("file, then deeper folder") << "x/a"
                                              << "x/a/b/c";
}

void HostilePackagesTest::fileAndFolderOfOneName() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    LogCapture capture;
    QVERIFY(!unpack(packFiles({{first, "1"}, {second, "2"}})));
    QVERIFY(capture.contains(QStringLiteral("Update Error: cant open file '")));
    checkOutcome(false);
}

void HostilePackagesTest::syncFileAndFolderOfOneName() {
    const QString mine = QStringLiteral("Resources/profiles/a.xml");
    const QString theirs = mine + QStringLiteral("/b.xml");
    QVERIFY(writeFile(program() + mine, "mine"));
    const QString sync = program() + QStringLiteral("tupload/download/s.dat");
    QVERIFY(writeFile(sync, pack(package::writePayload({{theirs, "theirs"}}, nullptr))));
    LogCapture capture;
    QVERIFY(!package::unpackSyncPackage(program(), sync, {theirs}));
    QVERIFY(capture.contains(QStringLiteral("Can't open '")));
    QCOMPARE(readFile(program() + mine), QByteArray("mine"));
    QVERIFY(!QFileInfo::exists(program() + QStringLiteral("tupload")));
}

// Valid packages whose payload (before compression) or compressed stream had bytes changed,
// cut or inserted. Fixed seeds, so a failure repeats.
void HostilePackagesTest::randomizedPayloads() {
    const QString version = QStringLiteral("9.9");
    const QByteArray payload =
        package::writePayload({{QStringLiteral("a/b/c.txt"), "deep"},
                               {QStringLiteral("top.bin"), QByteArray(300, '\x01')},
                               {QStringLiteral("e"), QByteArray()}},
                              &version);
    int unpacked = 0;
    for (quint32 seed = 1; seed <= 200; ++seed) {
        QRandomGenerator rng(seed);
        QByteArray p = payload;
        const int edits = 1 + static_cast<int>(rng.bounded(4));
        for (int e = 0; e < edits; ++e) {
            const int at = static_cast<int>(rng.bounded(static_cast<quint32>(p.size())));
            switch (rng.bounded(3)) {
            case 0:
                p[at] = static_cast<char>(rng.bounded(256));
                break;
            case 1:
                p.truncate(at);
                break;
            default:
                p.insert(at, static_cast<char>(rng.bounded(256)));
                break;
            }
            if (p.isEmpty())
                p = "x";
        }
        QByteArray file = pack(p);
        if (seed % 3 == 0) { // damage the compressed stream instead
            file = pack(payload);
            const int at = package::kDataOffset + static_cast<int>(rng.bounded(static_cast<quint32>(
                                                      file.size() - package::kDataOffset)));
            file[at] = static_cast<char>(file[at] ^ (1 + rng.bounded(255)));
            file = redigest(file);
        }
        const bool ok = unpack(file);
        unpacked += ok;
        checkOutcome(ok);
        QDir(program()).removeRecursively();
    }
    QVERIFY(unpacked < 200); // the damage was real
}

QTEST_GUILESS_MAIN(HostilePackagesTest)
#include "tst_hostilepackages.moc"
