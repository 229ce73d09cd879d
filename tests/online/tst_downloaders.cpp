#include "logcapture.h"
#include "packagetestutil.h"
#include "serverprocess.h"

#include "online/commonfiledownloader.h"
#include "online/psupdatedownloader.h"
#include "online/psynfiledownloader.h"

#include <QCryptographicHash>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using namespace packagetest;

// Answers every connection with one fixed raw response, then closes it (or, to stall, keeps it
// open without another byte).
class FixedAnswerServer : public QObject {
public:
    explicit FixedAnswerServer(const QByteArray& answer, bool stall = false)
        : m_answer(answer), m_stall(stall) {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    m_seen += s->readAll();
                    if (!m_seen.contains("\r\n\r\n"))
                        return;
                    m_seen.clear();
                    s->write(m_answer);
                    if (!m_stall)
                        s->disconnectFromHost();
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    QString url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }

private:
    QTcpServer m_server;
    QByteArray m_answer;
    QByteArray m_seen;
    bool m_stall = false;
};

class DownloadersTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void outputNameFromUrl_data();
    void outputNameFromUrl();
    void partialFileResumesAtBlock_data();
    void partialFileResumesAtBlock();
    void urlWithQueryAndFallbackName();
    void cutTransferResumesOnNextStart();
    void serverIgnoringRangeStartsOver();
    void badStatus_data();
    void badStatus();
    void missingFileFails();
    void unknownLengthEndsWithTheReply();
    void completeFileAnswered416IsUnpacked();
    void relativeDirOutsideProgramFolderIsRefused_data();
    void relativeDirOutsideProgramFolderIsRefused();
    void resumeNeverSplicesTwoVersions();
    void linkedWorkFolderIsNotCleaned();
    void failedSyncUnpackReportsFailure();
    void hostileServers_data();
    void hostileServers();
    void stallingServerFails();
    void fileBeyond2GiBFails();
    void failedWriteFails();
    void updatePackageDownloadsAndUnpacks();
    void syncPackageDownloadsAndUnpacks();

private:
    QString program() const { return m_program->path() + QLatin1Char('/'); }
    OnlineSettings settings() const { return OnlineSettings(program()); }
    QString data() const { return m_data->path(); }
    // Runs a downloader on its own thread as its owners do and waits until it settles.
    static void runOnThread(QObject*, QThread* thread, QSignalSpy& doneSpy, int expected = 1) {
        thread->start(QThread::InheritPriority);
        for (int i = 0; i < 100 && doneSpy.count() < expected; ++i)
            doneSpy.wait(100);
    }
    template <typename D> static void finish(D* dl, QThread* thread) {
        QMetaObject::invokeMethod(dl, "deleteLater");
        thread->quit();
        thread->wait(5000);
        delete thread;
    }

    QByteArray m_file; // the served file
    QTemporaryDir* m_program = nullptr;
    QTemporaryDir* m_data = nullptr;
};

void DownloadersTest::initTestCase() {
    for (int i = 0; i < 300000; ++i)
        m_file += static_cast<char>((i * 31 + i / 7) & 0xFF);
}

void DownloadersTest::init() {
    m_program = new QTemporaryDir;
    m_data = new QTemporaryDir;
    QVERIFY(writeFile(data() + QStringLiteral("/files/big.bin"), m_file));
}

void DownloadersTest::cleanup() {
    delete m_program;
    delete m_data;
}

void DownloadersTest::outputNameFromUrl_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("name");
    QTest::newRow("query") << "http://h:1/d/update.bin?x=1&y=/2"
                           << "update.bin";
    QTest::newRow("plain") << "http://h/a/b/pack.pkg"
                           << "pack.pkg";
    QTest::newRow("trailing slash") << "http://h/a/"
                                    << "";
    QTest::newRow("parent segment") << "http://h/a/..?x"
                                    << "";
    QTest::newRow("backslash") << "http://h/a\\..\\x"
                               << "";
}

void DownloadersTest::outputNameFromUrl() {
    QFETCH(QString, url);
    QFETCH(QString, name);
    QCOMPARE(ChunkedDownloader::fileNameFromUrl(url), name);
}

void DownloadersTest::partialFileResumesAtBlock_data() {
    QTest::addColumn<int>("partial");
    QTest::addColumn<int>("kept");
    QTest::newRow("250000 cut to 204800") << 250000 << 204800;
    QTest::newRow("102400 kept whole") << 102400 << 102400;
    QTest::newRow("50000 deleted") << 50000 << 0;
}

void DownloadersTest::partialFileResumesAtBlock() {
    QFETCH(int, partial);
    QFETCH(int, kept);
    ServerProcess server(data());
    QVERIFY(server.ok());
    // The partial file holds marker bytes, so the result shows which range was asked for.
    QVERIFY(writeFile(program() + QStringLiteral("dl/big.bin"), QByteArray(partial, 'Z')));
    auto* thread = new QThread;
    auto* dl = new commonFileDownloader(thread, server.base() + QStringLiteral("/files/big.bin"),
                                        QStringLiteral("dl/"), settings());
    QCOMPARE(dl->alreadyBytes(), kept);
    QCOMPARE(QFileInfo(program() + QStringLiteral("dl/big.bin")).size(), qint64(kept));
    QSignalSpy done(dl, &commonFileDownloader::downLoadFinished);
    QSignalSpy parts(dl, &commonFileDownloader::finishPart);
    runOnThread(dl, thread, done);
    QCOMPARE(done.count(), 1);
    QVERIFY(parts.count() > 0);
    QCOMPARE(dl->fullBytes(), m_file.size());
    QCOMPARE(dl->alreadyBytes(), m_file.size());
    finish(dl, thread);
    QCOMPARE(readFile(program() + QStringLiteral("dl/big.bin")),
             QByteArray(kept, 'Z') + m_file.mid(kept));
}

void DownloadersTest::urlWithQueryAndFallbackName() {
    ServerProcess server(data());
    QVERIFY(server.ok());
    auto* thread = new QThread;
    auto* dl =
        new commonFileDownloader(thread, server.base() + QStringLiteral("/files/big.bin?token=1"),
                                 QStringLiteral("q"), settings());
    QSignalSpy done(dl, &commonFileDownloader::downLoadFinished);
    runOnThread(dl, thread, done);
    QCOMPARE(done.count(), 1);
    QCOMPARE(dl->outputPath(), program() + QStringLiteral("q/big.bin"));
    finish(dl, thread);
    QCOMPARE(readFile(program() + QStringLiteral("q/big.bin")), m_file);

    commonFileDownloader fallback(nullptr, server.base() + QStringLiteral("/files/"),
                                  QStringLiteral("q"), settings());
    QVERIFY(QRegularExpression(QStringLiteral("/q/file-\\d+$"))
                .match(fallback.outputPath())
                .hasMatch());
}

void DownloadersTest::cutTransferResumesOnNextStart() {
    const QString url = QStringLiteral("/files/big.bin");
    ServerProcess server(data(), {QStringLiteral("--cut-after"), QStringLiteral("150000")});
    QVERIFY(server.ok());
    LogCapture capture;
    {
        auto* thread = new QThread;
        auto* dl =
            new commonFileDownloader(thread, server.base() + url, QStringLiteral("dl"), settings());
        QSignalSpy failed(dl, &commonFileDownloader::downLoadFailed);
        QSignalSpy done(dl, &commonFileDownloader::downLoadFinished);
        runOnThread(dl, thread, failed);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(done.count(), 0);
        finish(dl, thread);
    }
    QVERIFY(
        capture.contains(QStringLiteral("Update Error: failed to download part starting from")));
    QVERIFY(QFileInfo(program() + QStringLiteral("dl/big.bin")).size() >= 102400);
    auto* thread = new QThread;
    auto* dl =
        new commonFileDownloader(thread, server.base() + url, QStringLiteral("dl"), settings());
    QCOMPARE(dl->alreadyBytes(), 102400);
    QSignalSpy done(dl, &commonFileDownloader::downLoadFinished);
    runOnThread(dl, thread, done);
    QCOMPARE(done.count(), 1);
    finish(dl, thread);
    QCOMPARE(QCryptographicHash::hash(readFile(program() + QStringLiteral("dl/big.bin")),
                                      QCryptographicHash::Sha1),
             QCryptographicHash::hash(m_file, QCryptographicHash::Sha1));
}

void DownloadersTest::serverIgnoringRangeStartsOver() {
    ServerProcess server(data(), {QStringLiteral("--ignore-range")});
    QVERIFY(server.ok());
    QVERIFY(writeFile(program() + QStringLiteral("dl/big.bin"), QByteArray(204800, 'Z')));
    auto* thread = new QThread;
    auto* dl = new commonFileDownloader(thread, server.base() + QStringLiteral("/files/big.bin"),
                                        QStringLiteral("dl"), settings());
    QCOMPARE(dl->alreadyBytes(), 204800);
    QSignalSpy done(dl, &commonFileDownloader::downLoadFinished);
    runOnThread(dl, thread, done);
    QCOMPARE(done.count(), 1);
    QCOMPARE(dl->alreadyBytes(), m_file.size());
    QCOMPARE(dl->fullBytes(), m_file.size());
    finish(dl, thread);
    QCOMPARE(readFile(program() + QStringLiteral("dl/big.bin")), m_file);
}

void DownloadersTest::badStatus_data() {
    QTest::addColumn<QString>("variant");
    QTest::newRow("common") << "common";
    QTest::newRow("update") << "update";
    QTest::newRow("sync") << "sync";
}

// A status other than 200, 206 and 416 that the network layer passes on as data (a redirect
// is not followed) takes each variant's bad-status path.
void DownloadersTest::badStatus() {
    QFETCH(QString, variant);
    FixedAnswerServer server("HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\n"
                             "Content-Length: 5\r\n\r\nmoved");
    LogCapture capture;
    const QString url = server.url(QStringLiteral("/files/moved.pkg"));
    auto* thread = new QThread;
    if (variant == QLatin1String("common")) {
        auto* dl = new commonFileDownloader(thread, url, QStringLiteral("dl"), settings());
        QSignalSpy failed(dl, &commonFileDownloader::downLoadFailed);
        runOnThread(dl, thread, failed);
        QTest::qWait(50);
        QCOMPARE(failed.count(), 1);
        finish(dl, thread);
        QVERIFY(!QFileInfo::exists(program() + QStringLiteral("dl/moved.pkg")));
    } else if (variant == QLatin1String("update")) {
        QVERIFY(writeFile(program() + QStringLiteral("tupdates/html/ready/keep.txt"), "x"));
        auto* dl = new PsUpdateDownloader(thread, url, QStringLiteral("client"), settings());
        QSignalSpy unpacked(dl, &PsUpdateDownloader::unpressFinished);
        QSignalSpy finished(dl, &PsUpdateDownloader::downLoadFinished);
        thread->start();
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(program() + QStringLiteral("tupdates")), 5000);
        finish(dl, thread);
        QCOMPARE(unpacked.count(), 0);
        QCOMPARE(finished.count(), 0);
    } else {
        auto* dl = new PsynfileDownLoader(thread, url, settings());
        QSignalSpy unpacked(dl, &PsynfileDownLoader::unpressFinished);
        thread->start();
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(program() + QStringLiteral("tupload")), 5000);
        finish(dl, thread);
        QCOMPARE(unpacked.count(), 0);
    }
    QVERIFY(capture.contains(
        QStringLiteral("Update Error:Bad HTTP status received in partFinished():302")));
}

// The network layer reports 404 as an error: the error path answers it.
void DownloadersTest::missingFileFails() {
    ServerProcess server(data());
    QVERIFY(server.ok());
    LogCapture capture;
    auto* thread = new QThread;
    auto* dl = new PsUpdateDownloader(thread, server.base() + QStringLiteral("/files/missing.pkg"),
                                      QStringLiteral("firmware"), settings());
    QSignalSpy failed(dl, &PsUpdateDownloader::downLoadFailed);
    QSignalSpy unpacked(dl, &PsUpdateDownloader::unpressFinished);
    runOnThread(dl, thread, failed);
    QCOMPARE(failed.count(), 1);
    finish(dl, thread);
    QCOMPARE(unpacked.count(), 0);
    QVERIFY(capture.contains(
        QStringLiteral("Update Error: failed to download part starting from 0, error 203")));
}

void DownloadersTest::unknownLengthEndsWithTheReply() {
    const QByteArray body(250000, 'u');
    FixedAnswerServer server("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body);
    auto* thread = new QThread;
    auto* dl = new commonFileDownloader(thread, server.url(QStringLiteral("/stream.bin")),
                                        QStringLiteral("dl"), settings());
    QSignalSpy done(dl, &commonFileDownloader::downLoadFinished);
    QSignalSpy failed(dl, &commonFileDownloader::downLoadFailed);
    runOnThread(dl, thread, done);
    QCOMPARE(done.count(), 1);
    QCOMPARE(failed.count(), 0);
    finish(dl, thread);
    QCOMPARE(readFile(program() + QStringLiteral("dl/stream.bin")), body);
}

void DownloadersTest::completeFileAnswered416IsUnpacked() {
    // A package padded to a whole block: complete locally, so the server answers 416.
    QByteArray pkg =
        updatePackage({{QStringLiteral("index.html"), "<html/>"}}, QStringLiteral("3.1"));
    pkg = redigest(pkg + QByteArray(102400 - pkg.size(), '\0'));
    QVERIFY(writeFile(data() + QStringLiteral("/files/pages.pkg"), pkg));
    QVERIFY(writeFile(program() + QStringLiteral("tupdates/html/pages.pkg"), pkg));
    ServerProcess server(data());
    QVERIFY(server.ok());
    auto* thread = new QThread;
    auto* dl = new PsUpdateDownloader(thread, server.base() + QStringLiteral("/files/pages.pkg"),
                                      QStringLiteral("html"), settings());
    QCOMPARE(dl->alreadyBytes(), 102400);
    QSignalSpy unpacked(dl, &PsUpdateDownloader::unpressFinished);
    QSignalSpy failed(dl, &PsUpdateDownloader::downLoadFailed);
    runOnThread(dl, thread, unpacked);
    QCOMPARE(unpacked.count(), 1);
    QCOMPARE(unpacked.first().first().toString(), QStringLiteral("3.1"));
    QCOMPARE(failed.count(), 0);
    finish(dl, thread);
    QCOMPARE(readFile(program() + QStringLiteral("tupdates/html/ready/index.html")),
             QByteArray("<html/>"));

    // The plain downloader keeps a complete file as it is and says nothing.
    QVERIFY(writeFile(program() + QStringLiteral("dl/pages.pkg"), pkg));
    auto* t2 = new QThread;
    auto* common = new commonFileDownloader(t2, server.base() + QStringLiteral("/files/pages.pkg"),
                                            QStringLiteral("dl"), settings());
    QSignalSpy any(common, &commonFileDownloader::downLoadFailed);
    QSignalSpy done(common, &commonFileDownloader::downLoadFinished);
    t2->start();
    QTest::qWait(500);
    finish(common, t2);
    QCOMPARE(any.count() + done.count(), 0);
    QCOMPARE(readFile(program() + QStringLiteral("dl/pages.pkg")), pkg);
}

void DownloadersTest::relativeDirOutsideProgramFolderIsRefused_data() {
    QTest::addColumn<int>("existing"); // size of a file of the URL's name in the program folder
    QTest::newRow("would be cut to a block") << 150000;
    QTest::newRow("would be deleted") << 50000;
    QTest::newRow("none") << 0;
}

// A refused download touches no file, not even one of its name in the program folder root.
void DownloadersTest::relativeDirOutsideProgramFolderIsRefused() {
    QFETCH(int, existing);
    const QByteArray content(existing, 'p');
    if (existing > 0)
        QVERIFY(writeFile(program() + QStringLiteral("x.bin"), content));
    {
        commonFileDownloader dl(nullptr, QStringLiteral("http://127.0.0.1:1/files/x.bin"),
                                QStringLiteral("../outside/"), settings());
        QSignalSpy failed(&dl, &commonFileDownloader::downLoadFailed);
        dl.start();
        QCOMPARE(failed.count(), 1);
    }
    QVERIFY(!QFileInfo::exists(m_program->path() + QStringLiteral("/../outside")));
    QCOMPARE(QFileInfo::exists(program() + QStringLiteral("x.bin")), existing > 0);
    if (existing > 0)
        QCOMPARE(readFile(program() + QStringLiteral("x.bin")), content);
}

// The package is replaced on the server between a cut and the resume: the resume must not
// append the new version's tail to the old version's head.
void DownloadersTest::resumeNeverSplicesTwoVersions() {
    ServerProcess server(data(), {QStringLiteral("--cut-after"), QStringLiteral("150000")});
    QVERIFY(server.ok());
    const QString url = server.base() + QStringLiteral("/files/big.bin");
    {
        auto* thread = new QThread;
        auto* dl = new commonFileDownloader(thread, url, QStringLiteral("dl"), settings());
        QSignalSpy failed(dl, &commonFileDownloader::downLoadFailed);
        runOnThread(dl, thread, failed);
        QCOMPARE(failed.count(), 1);
        finish(dl, thread);
    }
    QVERIFY(QFileInfo::exists(program() + QStringLiteral("dl/big.bin.validator")));
    QByteArray replaced;
    for (int i = 0; i < 320000; ++i)
        replaced += static_cast<char>((i * 7 + 3) & 0xFF);
    QVERIFY(writeFile(data() + QStringLiteral("/files/big.bin"), replaced));

    auto* thread = new QThread;
    auto* dl = new commonFileDownloader(thread, url, QStringLiteral("dl"), settings());
    QCOMPARE(dl->alreadyBytes(), 102400);
    QSignalSpy done(dl, &commonFileDownloader::downLoadFinished);
    runOnThread(dl, thread, done);
    QCOMPARE(done.count(), 1);
    finish(dl, thread);
    QCOMPARE(readFile(program() + QStringLiteral("dl/big.bin")), replaced);
    QVERIFY(!QFileInfo::exists(program() + QStringLiteral("dl/big.bin.validator")));
}

// A work folder replaced by a link to somewhere else is not cleaned through the link.
void DownloadersTest::linkedWorkFolderIsNotCleaned() {
    QTemporaryDir outside;
    QVERIFY(writeFile(outside.path() + QStringLiteral("/precious.txt"), "keep"));
    QVERIFY(QDir().mkpath(program() + QStringLiteral("tupdates")));
    QVERIFY(QFile::link(outside.path(), program() + QStringLiteral("tupdates/html")));
    {
        PsUpdateDownloader dl(nullptr, QStringLiteral("http://127.0.0.1:1/files/html.pkg"),
                              QStringLiteral("html"), settings());
        QVERIFY(!QFileInfo(program() + QStringLiteral("tupdates/html")).isSymLink());
        QVERIFY(QFileInfo(program() + QStringLiteral("tupdates/html")).isDir());
    }
    QCOMPARE(readFile(outside.path() + QStringLiteral("/precious.txt")), QByteArray("keep"));
}

// An unpack that fails after the download answers the owner instead of leaving it waiting.
void DownloadersTest::failedSyncUnpackReportsFailure() {
    QByteArray pkg =
        packPayload(package::writePayload({{QStringLiteral("conf.xml"), "synced"}}, nullptr));
    pkg[package::kDigestOffset] = static_cast<char>(pkg[package::kDigestOffset] ^ 1);
    QVERIFY(writeFile(data() + QStringLiteral("/files/synchronize.dat"), pkg));
    QVERIFY(writeFile(program() + QStringLiteral("conf.xml"), "old"));
    ServerProcess server(data());
    QVERIFY(server.ok());
    auto* thread = new QThread;
    auto* dl = new PsynfileDownLoader(
        thread, server.base() + QStringLiteral("/files/synchronize.dat"), settings());
    QSignalSpy failed(dl, &PsynfileDownLoader::downLoadFailed);
    QSignalSpy unpacked(dl, &PsynfileDownLoader::unpressFinished);
    runOnThread(dl, thread, failed);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(unpacked.count(), 0);
    finish(dl, thread);
    QCOMPARE(readFile(program() + QStringLiteral("conf.xml")), QByteArray("old"));
}

void DownloadersTest::updatePackageDownloadsAndUnpacks() {
    const QByteArray pkg =
        updatePackage({{QStringLiteral("bin/tavix"), m_file}}, QStringLiteral("2.0"));
    QVERIFY(writeFile(data() + QStringLiteral("/files/client.pkg"), pkg));
    QVERIFY(writeFile(program() + QStringLiteral("tupdates/stray.pkg"), "old"));
    QVERIFY(writeFile(program() + QStringLiteral("tupdates/client/other.pkg"), "old"));
    ServerProcess server(data());
    QVERIFY(server.ok());
    auto* thread = new QThread;
    auto* dl = new PsUpdateDownloader(thread, server.base() + QStringLiteral("/files/client.pkg"),
                                      QStringLiteral("client"), settings());
    QVERIFY(!QFileInfo::exists(program() + QStringLiteral("tupdates/stray.pkg")));
    QVERIFY(!QFileInfo::exists(program() + QStringLiteral("tupdates/client/other.pkg")));
    QSignalSpy unpacked(dl, &PsUpdateDownloader::unpressFinished);
    QSignalSpy finished(dl, &PsUpdateDownloader::downLoadFinished);
    runOnThread(dl, thread, unpacked);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(unpacked.count(), 1);
    QCOMPARE(unpacked.first().first().toString(), QStringLiteral("2.0"));
    finish(dl, thread);
    QCOMPARE(readFile(program() + QStringLiteral("tupdates/client/ready/bin/tavix")), m_file);
    QVERIFY(!QFileInfo::exists(program() + QStringLiteral("tupdates/client/client.pkg")));
}

void DownloadersTest::syncPackageDownloadsAndUnpacks() {
    QVERIFY(writeFile(program() + QStringLiteral("conf.xml"), "old"));
    const QByteArray pkg =
        packPayload(package::writePayload({{QStringLiteral("conf.xml"), "synced"}}, nullptr));
    QVERIFY(writeFile(data() + QStringLiteral("/files/synchronize.dat"), pkg));
    ServerProcess server(data());
    QVERIFY(server.ok());
    auto* thread = new QThread;
    auto* dl = new PsynfileDownLoader(
        thread, server.base() + QStringLiteral("/files/synchronize.dat"), settings());
    QSignalSpy unpacked(dl, &PsynfileDownLoader::unpressFinished);
    runOnThread(dl, thread, unpacked);
    QCOMPARE(unpacked.count(), 1);
    finish(dl, thread);
    QCOMPARE(readFile(program() + QStringLiteral("conf.xml")), QByteArray("synced"));
    QVERIFY(!QFileInfo::exists(program() + QStringLiteral("tupload/download/synchronize.dat")));
}

void DownloadersTest::hostileServers_data() {
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("partial");
    QTest::addColumn<QByteArray>("result"); // the output file afterwards; empty: none
    QTest::addColumn<QString>("log");       // expected on failure; empty: the download finishes
    const QByteArray body(1000, 'b');
    QTest::newRow("content-range from 0 to a resume")
        << "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-999/1000\r\n"
           "Content-Length: 1000\r\n\r\n" +
               body
        << 102400 << QByteArray(102400, 'Z')
        << "Update Error: server sent the range from 0, asked from 102400";
    QTest::newRow("content-range with an absurd total")
        << "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-999/99999999999\r\n"
           "Content-Length: 1000\r\n\r\n" +
               body
        << 0 << body << QString();
    QTest::newRow("206 without content-range")
        << "HTTP/1.1 206 Partial Content\r\nContent-Length: 1000\r\n\r\n" + body << 0 << body
        << QString();
    QTest::newRow("body longer than content-length")
        << "HTTP/1.1 200 OK\r\nContent-Length: 600\r\n\r\n" + body << 0 << body.left(600)
        << QString();
    QTest::newRow("redirect to itself, no body")
        << QByteArray("HTTP/1.1 302 Found\r\nLocation: /files/x.bin\r\nContent-Length: 0\r\n\r\n")
        << 0 << QByteArray() << "Update Error:Bad HTTP status received in partFinished():302";
}

// Whatever the server claims, the file holds exactly what was asked for or the download fails.
void DownloadersTest::hostileServers() {
    QFETCH(QByteArray, answer);
    QFETCH(int, partial);
    QFETCH(QByteArray, result);
    QFETCH(QString, log);
    FixedAnswerServer server(answer);
    if (partial)
        QVERIFY(writeFile(program() + QStringLiteral("dl/x.bin"), QByteArray(partial, 'Z')));
    LogCapture capture;
    auto* thread = new QThread;
    auto* dl = new commonFileDownloader(thread, server.url(QStringLiteral("/files/x.bin")),
                                        QStringLiteral("dl"), settings());
    QSignalSpy done(dl, &commonFileDownloader::downLoadFinished);
    QSignalSpy failed(dl, &commonFileDownloader::downLoadFailed);
    thread->start();
    QTRY_COMPARE_WITH_TIMEOUT(done.count() + failed.count(), 1, 5000);
    QTest::qWait(50); // nothing else follows
    finish(dl, thread);
    QCOMPARE(done.count() + failed.count(), 1);
    QCOMPARE(done.count(), log.isEmpty() ? 1 : 0);
    if (!log.isEmpty())
        QVERIFY2(capture.contains(log), qPrintable(capture.lines().join(QLatin1Char('\n'))));
    QCOMPARE(QFileInfo::exists(program() + QStringLiteral("dl/x.bin")), !result.isEmpty());
    QCOMPARE(readFile(program() + QStringLiteral("dl/x.bin")), result);
}

// Headers and a little data, then silence: the download gives up instead of waiting forever.
void DownloadersTest::stallingServerFails() {
    FixedAnswerServer server(
        "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + QByteArray(1000, 's'), true);
    OnlineSettings stalling = settings();
    stalling.stallTimeoutMs = 300;
    LogCapture capture;
    auto* thread = new QThread;
    auto* dl = new PsUpdateDownloader(thread, server.url(QStringLiteral("/files/stall.pkg")),
                                      QStringLiteral("client"), stalling);
    QSignalSpy failed(dl, &PsUpdateDownloader::downLoadFailed);
    thread->start();
    const bool gaveUp = failed.wait(5000);
    finish(dl, thread);
    QVERIFY(gaveUp);
    QVERIFY(
        capture.contains(QStringLiteral("Update Error: failed to download part starting from")));
}

// Counts are 32-bit: a file that would grow past 2 GiB fails instead of wrapping the count.
// The partial file is sparse, so this costs no disk.
void DownloadersTest::fileBeyond2GiBFails() {
    const qint64 start = 20971 * ChunkedDownloader::kBlock; // the last whole block below 2 GiB
    {
        QDir().mkpath(program() + QStringLiteral("dl"));
        QFile f(program() + QStringLiteral("dl/huge.bin"));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(start));
    }
    const QByteArray body(153600, 'h');
    FixedAnswerServer server(QStringLiteral("HTTP/1.1 206 Partial Content\r\n"
                                            "Content-Range: bytes %1-%2/%3\r\n"
                                            "Content-Length: %4\r\n\r\n")
                                 .arg(start)
                                 .arg(start + body.size() - 1)
                                 .arg(start + body.size())
                                 .arg(body.size())
                                 .toLatin1() +
                             body);
    LogCapture capture;
    auto* thread = new QThread;
    auto* dl = new commonFileDownloader(thread, server.url(QStringLiteral("/files/huge.bin")),
                                        QStringLiteral("dl"), settings());
    QCOMPARE(qint64(dl->alreadyBytes()), start);
    QSignalSpy done(dl, &commonFileDownloader::downLoadFinished);
    QSignalSpy failed(dl, &commonFileDownloader::downLoadFailed);
    thread->start();
    QVERIFY(failed.wait(5000));
    QTest::qWait(50);
    finish(dl, thread);
    QCOMPARE(done.count(), 0);
    QVERIFY(capture.contains(QStringLiteral("file too large")));
    QVERIFY(!QFileInfo::exists(program() + QStringLiteral("dl/huge.bin")));
}

// A disk that fills up mid-way (a file size limit here): a file with a hole must not be
// reported as downloaded.
void DownloadersTest::failedWriteFails() {
    FixedAnswerServer server("HTTP/1.1 200 OK\r\nContent-Length: 300000\r\n\r\n" + m_file);
    LogCapture capture;
    auto* thread = new QThread;
    auto* dl = new commonFileDownloader(thread, server.url(QStringLiteral("/files/full.bin")),
                                        QStringLiteral("dl"), settings());
    QSignalSpy done(dl, &commonFileDownloader::downLoadFinished);
    QSignalSpy failed(dl, &commonFileDownloader::downLoadFailed);
    rlimit previous{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit limited = previous;
    limited.rlim_cur = 100000;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    thread->start();
    const bool gaveUp = failed.wait(5000);
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, oldHandler);
    QTest::qWait(50);
    finish(dl, thread);
    QVERIFY(gaveUp);
    QCOMPARE(done.count(), 0);
    QVERIFY(capture.contains(QStringLiteral("Update Error: could not write output file")));
    QVERIFY(!QFileInfo::exists(program() + QStringLiteral("dl/full.bin")));
}

QTEST_GUILESS_MAIN(DownloadersTest)
#include "tst_downloaders.moc"
