#include "logcapture.h"
#include "packagetestutil.h"

#include "online/psupdatedownloader.h"
#include "online/signature.h"
#include "serverprocess.h"

#include <QDirIterator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace packagetest;

namespace {

// Every path under `folder`, relative and sorted.
QStringList tree(const QString& folder) {
    QStringList paths;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << QDir(folder).relativeFilePath(it.next());
    paths.sort();
    return paths;
}

} // namespace

class SignatureTest : public QObject {
    Q_OBJECT

    QByteArray m_public, m_secret, m_otherPublic, m_otherSecret;
    std::unique_ptr<QTemporaryDir> m_dir;

    QString folder() const { return m_dir->path() + QStringLiteral("/"); }
    QString packagePath() const { return folder() + QStringLiteral("tupdates/html/html.pkg"); }

    QByteArray package() const {
        return updatePackage({{QStringLiteral("device/a.html"), "<html/>"},
                              {QStringLiteral("b.bin"), QByteArray(5000, '\x11')}});
    }
    QByteArray signedBy(const QByteArray& secret,
                        const QString& kind = QStringLiteral("html")) const {
        QByteArray file = package();
        return signature::sign(&file, secret, kind) ? file : QByteArray();
    }
    bool unpack(const QByteArray& file) {
        writeFile(packagePath(), file);
        return package::unpackUpdatePackage(folder(), QStringLiteral("html"), packagePath()).ok;
    }

private slots:
    void initTestCase() {
        QVERIFY(signature::generateKeyPair(&m_public, &m_secret));
        QVERIFY(signature::generateKeyPair(&m_otherPublic, &m_otherSecret));
    }
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        signature::setUpdateKey(m_public);
    }
    void cleanup() { signature::setUpdateKey(QByteArray()); }

    void signedPackageInstalls() {
        QVERIFY(unpack(signedBy(m_secret)));
        QCOMPARE(readFile(folder() + QStringLiteral("tupdates/html/ready/device/a.html")),
                 QByteArray("<html/>"));
    }

    // Each row makes a package that the configured key must refuse before anything of it is
    // decompressed, and the reason the log gives.
    void refusedWithNothingWritten_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("reason");
        const QByteArray good = signedBy(m_secret);
        const auto flipped = [&](int offset, bool digestAgain) {
            QByteArray f = good;
            f[offset] = char(f[offset] ^ 0x01);
            return digestAgain ? redigest(f) : f;
        };
        QTest::newRow("digest byte changed")
            << flipped(package::kDigestOffset, false) << "signature does not match";
        QTest::newRow("property byte changed, digest fixed")
            << flipped(package::kPropsOffset, true) << "signature does not match";
        QTest::newRow("size byte changed, digest fixed")
            << flipped(package::kSizeOffset + 3, true) << "signature does not match";
        QTest::newRow("last byte changed, digest fixed")
            << flipped(good.size() - 1, true) << "signature does not match";
        QTest::newRow("byte appended") << redigest(good + '\0') << "signature does not match";
        QTest::newRow("signature byte changed") << flipped(5, false) << "signature does not match";
        QByteArray junk = good;
        junk[100] = 1;
        QTest::newRow("reserved rest not zero") << junk << "signature does not match";
        QTest::newRow("signed by another key") << signedBy(m_otherSecret) << "another key";
        QTest::newRow("signed as the program package")
            << signedBy(m_secret, QStringLiteral("client")) << "signature does not match";
        QTest::newRow("signed as firmware")
            << signedBy(m_secret, QStringLiteral("firmware")) << "signature does not match";
        QByteArray borrowed = signedBy(m_otherSecret);
        borrowed.replace(signature::kKeyIdOffset, signature::kKeyIdSize, m_public.left(8));
        QTest::newRow("another key under our id") << borrowed << "signature does not match";
        QTest::newRow("zero header") << package() << "not signed";
        // Garbage where the compressed stream belongs: the signature is what refuses it.
        QByteArray garbage = package();
        garbage.replace(package::kDataOffset, 64, QByteArray(64, '\xee'));
        QTest::newRow("undecodable and unsigned") << redigest(garbage) << "not signed";
    }
    void refusedWithNothingWritten() {
        QFETCH(QByteArray, file);
        QFETCH(QString, reason);
        QVERIFY(writeFile(folder() + QStringLiteral("keep.txt"), "user"));
        LogCapture log;
        QVERIFY(!unpack(file));
        QCOMPARE(tree(folder()), QStringList{QStringLiteral("keep.txt")});
        const QStringList lines = log.lines();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(QStringLiteral("Update Error: bad signature of update "
                                                       "file: ")) &&
                     lines.first().contains(reason),
                 qPrintable(lines.first()));
    }

    // No key to check with refuses everything: nothing turns the check off.
    void withoutKeyNothingIsTaken_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("unsigned") << package();
        QTest::newRow("signed") << signedBy(m_secret);
    }
    void withoutKeyNothingIsTaken() {
        QFETCH(QByteArray, file);
        signature::setUpdateKey(QByteArray());
        QVERIFY(!unpack(file));
    }

    // The program checks against the key built in: the reference test key in this build.
    void builtInKeyIsTheReferenceKey() {
        signature::setUpdateKey(signature::builtInKey());
        QCOMPARE(signature::updateKey().size(), signature::kPublicKeySize);
        QFile pub(buildpaths::resolve(TAVIX_TEST_KEY_PUB));
        QVERIFY(pub.open(QIODevice::ReadOnly));
        const bool same =
            signature::builtInKey() ==
            signature::fromHex(QString::fromLatin1(pub.readAll()), signature::kPublicKeySize);
        QCOMPARE(signature::builtInKeyIsTestKey(), same);
    }

    void verdicts_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<int>("verdict");
        QTest::newRow("good") << signedBy(m_secret) << m_public << int(signature::Verdict::Good);
        QTest::newRow("header only")
            << QByteArray(128, '\x01') << m_public << int(signature::Verdict::TooShort);
        QTest::newRow("no key to check with")
            << signedBy(m_secret) << QByteArray() << int(signature::Verdict::OtherKey);
        QTest::newRow("key of the wrong length")
            << signedBy(m_secret) << m_public.left(31) << int(signature::Verdict::OtherKey);
    }
    void verdicts() {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, key);
        QFETCH(int, verdict);
        QCOMPARE(int(signature::verify(file, key, QStringLiteral("html"))), verdict);
    }

    // As a user would try it: a package signed by the key, served by the reference server, is
    // downloaded and installed; the same package with one byte changed on the server is refused
    // and leaves nothing behind.
    void servedPackage_data() {
        QTest::addColumn<bool>("tampered");
        QTest::newRow("as signed") << false;
        QTest::newRow("one byte changed on the server") << true;
    }
    void servedPackage() {
        QFETCH(bool, tampered);
        QByteArray file = signedBy(m_secret);
        if (tampered)
            file = redigest(file.replace(file.size() - 3, 1, "\x5a"));
        QTemporaryDir data;
        QVERIFY(writeFile(data.path() + QStringLiteral("/files/html.pkg"), file));
        ServerProcess server(data.path());
        QVERIFY(server.ok());
        LogCapture log;
        auto* thread = new QThread;
        auto* dl = new PsUpdateDownloader(thread, server.base() + QStringLiteral("/files/html.pkg"),
                                          QStringLiteral("html"), OnlineSettings(m_dir->path()));
        QSignalSpy unpacked(dl, &PsUpdateDownloader::unpressFinished);
        const QString ready = dl->readyFolder();
        thread->start();
        if (tampered)
            QTRY_VERIFY_WITH_TIMEOUT(log.contains(QStringLiteral("bad signature")), 20000);
        else
            QTRY_COMPARE_WITH_TIMEOUT(unpacked.count(), 1, 20000);
        QMetaObject::invokeMethod(dl, "deleteLater");
        thread->quit();
        thread->wait(5000);
        delete thread;
        if (tampered) {
            QCOMPARE(unpacked.count(), 0);
            QCOMPARE(tree(folder()), QStringList());
        } else {
            QCOMPARE(readFile(ready + QStringLiteral("/device/a.html")), QByteArray("<html/>"));
        }
    }

    void signingNeedsASecretKeyABodyAndAKind() {
        QByteArray shortFile(128, '\0');
        QVERIFY(!signature::sign(&shortFile, m_secret, QStringLiteral("html")));
        QByteArray file = package();
        QVERIFY(!signature::sign(&file, m_public, QStringLiteral("html")));
        QVERIFY(!signature::sign(&file, m_secret, QString()));
        QCOMPARE(file, package());
    }

    void keysFromHex_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        const QString hex = QString(64, QLatin1Char('a'));
        QTest::newRow("lower case") << hex << true;
        QTest::newRow("upper case, blanks around") << " \t" + hex.toUpper() + "\n" << true;
        QTest::newRow("one digit short") << hex.left(63) << false;
        QTest::newRow("one digit more") << hex + "0" << false;
        QTest::newRow("not a digit") << hex.left(63) + "g" << false;
        QTest::newRow("blank inside") << hex.left(30) + " " + hex.left(33) << false;
        QTest::newRow("empty") << QString() << false;
    }
    void keysFromHex() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const QByteArray key = signature::fromHex(text, signature::kPublicKeySize);
        QCOMPARE(key.size(), valid ? signature::kPublicKeySize : 0);
    }
};

QTEST_GUILESS_MAIN(SignatureTest)
#include "tst_signature.moc"
