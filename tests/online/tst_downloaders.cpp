#include "logcapture.h"
#include "packagetestutil.h"
#include "serverprocess.h"

#include "online/commonfiledownloader.h"
#include "online/onlinethreads.h"
#include "online/psupdatedownloader.h"
#include "online/psynfiledownloader.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QPointer>
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
    void linkedPageFolderIsLeftAlone();
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
    void twoDownloadsOfOnePackageAtOnce();
    void referenceServerGoneWrong_data();
    void referenceServerGoneWrong();
    void runningDownloadStopsAtExit();

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
    QVERIFY(writeFile(program() + QStringLiteral("dl/big.bin.part"), QByteArray(partial, 'Z')));
    auto* thread = new QThread;
    auto* dl = new commonFileDownloader(thread, server.base() + QStringLiteral("/files/big.bin"),
                                        QStringLiteral("dl/"), settings());
    QCOMPARE(dl->alreadyBytes(), kept);
    QCOMPARE(QFileInfo(program() + QStringLiteral("dl/big.bin.part")).size(), qint64(kept));
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
    QVERIFY(!QFileInfo::exists(program() + QStringLiteral("dl/big.bin.part")));
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
    // The part that arrived waits under its partial name; the file's own name is not taken.
    QVERIFY(QFileInfo(program() + QStringLiteral("dl/big.bin.part")).size() >= 102400);
    QVERIFY(!QFileInfo::exists(program() + QStringLiteral("dl/big.bin")));
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
    QVERIFY(writeFile(program() + QStringLiteral("dl/big.bin.part"), QByteArray(204800, 'Z')));
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
        // Another download's work stays: only this one's work folder goes.
        QVERIFY(writeFile(program() + QStringLiteral("tupdates/html/ready/keep.txt"), "x"));
        auto* dl = new PsUpdateDownloader(thread, url, QStringLiteral("client"), settings());
        QSignalSpy unpacked(dl, &PsUpdateDownloader::unpressFinished);
        QSignalSpy finished(dl, &PsUpdateDownloader::downLoadFinished);
        QSignalSpy failed(dl, &PsUpdateDownloader::downLoadFailed);
        runOnThread(dl, thread, failed);
        finish(dl, thread);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(unpacked.count(), 0);
        QCOMPARE(finished.count(), 0);
        QVERIFY(!QFileInfo::exists(program() + QStringLiteral("tupdates/client")));
        QVERIFY(QFileInfo::exists(program() + QStringLiteral("tupdates/html/ready/keep.txt")));
    } else {
        auto* dl = new PsynfileDownLoader(thread, url, settings(), {});
        QSignalSpy unpacked(dl, &PsynfileDownLoader::unpressFinished);
        QSignalSpy failed(dl, &PsynfileDownLoader::downLoadFailed);
        runOnThread(dl, thread, failed);
        finish(dl, thread);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(unpacked.count(), 0);
        QVERIFY(!QFileInfo::exists(program() + QStringLiteral("tupload")));
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

// A partial file that the server says is whole (416 with its size) is complete; one of another
// size is not the server's file and goes.
void DownloadersTest::completeFileAnswered416IsUnpacked() {
    // A package padded to a whole block: complete locally, so the server answers 416.
    QByteArray pkg =
        updatePackage({{QStringLiteral("KX9/index.html"), "<html/>"}}, QStringLiteral("3.1"));
    pkg = signAs(redigest(pkg + QByteArray(102400 - pkg.size(), '\0')), QStringLiteral("html"));
    QVERIFY(writeFile(data() + QStringLiteral("/files/pages.pkg"), pkg));
    ServerProcess server(data());
    QVERIFY(server.ok());
    const QString url = server.base() + QStringLiteral("/files/pages.pkg");
    // Where a download of that address keeps its partial file.
    const QString work =
        program() + QStringLiteral("tupdates/html/") +
        QString::fromLatin1(
            QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha1).toHex().left(16)) +
        QStringLiteral("-0/");
    QVERIFY(writeFile(work + QStringLiteral("pages.pkg"), pkg));
    auto* thread = new QThread;
    auto* dl = new PsUpdateDownloader(thread, url, QStringLiteral("html"), settings());
    QCOMPARE(dl->alreadyBytes(), 102400);
    QSignalSpy unpacked(dl, &PsUpdateDownloader::unpressFinished);
    QSignalSpy failed(dl, &PsUpdateDownloader::downLoadFailed);
    runOnThread(dl, thread, unpacked);
    QCOMPARE(unpacked.count(), 1);
    QCOMPARE(unpacked.first().first().toString(), QStringLiteral("3.1"));
    QCOMPARE(failed.count(), 0);
    finish(dl, thread);
    // A page package waits in its work folder for its owner to install it.
    QCOMPARE(readFile(work + QStringLiteral("ready/KX9/index.html")), QByteArray("<html/>"));

    // The plain downloader: the whole file takes its name, and the page hears so.
    QVERIFY(writeFile(program() + QStringLiteral("dl/pages.pkg.part"), pkg));
    auto* t2 = new QThread;
    auto* common = new commonFileDownloader(t2, url, QStringLiteral("dl"), settings());
    QSignalSpy done(common, &commonFileDownloader::downLoadFinished);
    runOnThread(common, t2, done);
    finish(common, t2);
    QCOMPARE(done.count(), 1);
    QCOMPARE(readFile(program() + QStringLiteral("dl/pages.pkg")), pkg);

    // A partial file longer than the server's: not that file at all.
    QVERIFY(QFile::remove(program() + QStringLiteral("dl/pages.pkg")));
    QVERIFY(writeFile(program() + QStringLiteral("dl/pages.pkg.part"), pkg + pkg));
    auto* t3 = new QThread;
    common = new commonFileDownloader(t3, url, QStringLiteral("dl"), settings());
    QSignalSpy refused(common, &commonFileDownloader::downLoadFailed);
    runOnThread(common, t3, refused);
    finish(common, t3);
    QCOMPARE(refused.count(), 1);
    QVERIFY(!QFileInfo::exists(program() + QStringLiteral("dl/pages.pkg")));
    QVERIFY(!QFileInfo::exists(program() + QStringLiteral("dl/pages.pkg.part")));
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

// A folder the page names that is a link leads out of the program folder: the download is
// refused, and the link and what it points to stay as they are.
void DownloadersTest::linkedPageFolderIsLeftAlone() {
    QTemporaryDir outside;
    QVERIFY(writeFile(outside.path() + QStringLiteral("/mine.txt"), "keep"));
    QVERIFY(QDir().mkpath(program() + QStringLiteral("view")));
    QVERIFY(QFile::link(outside.path(), program() + QStringLiteral("view/dl")));
    commonFileDownloader dl(nullptr, QStringLiteral("http://127.0.0.1:1/files/x.bin"),
                            QStringLiteral("view/dl/sub/"), settings());
    QSignalSpy failed(&dl, &commonFileDownloader::downLoadFailed);
    dl.start();
    QCOMPARE(failed.count(), 1);
    QVERIFY(QFileInfo(program() + QStringLiteral("view/dl")).isSymLink());
    QCOMPARE(QDir(outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("mine.txt")});
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
    QVERIFY(QFileInfo::exists(program() + QStringLiteral("dl/big.bin.part.validator")));
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
    QVERIFY(!QFileInfo::exists(program() + QStringLiteral("dl/big.bin.part.validator")));
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
    const QString conf = QStringLiteral("Resources/profiles/conf.xml");
    QByteArray pkg = packPayload(package::writePayload({{conf, "synced"}}, nullptr));
    pkg[package::kDigestOffset] = static_cast<char>(pkg[package::kDigestOffset] ^ 1);
    QVERIFY(writeFile(data() + QStringLiteral("/files/synchronize.dat"), pkg));
    QVERIFY(writeFile(program() + conf, "old"));
    ServerProcess server(data());
    QVERIFY(server.ok());
    auto* thread = new QThread;
    auto* dl = new PsynfileDownLoader(
        thread, server.base() + QStringLiteral("/files/synchronize.dat"), settings(), {conf});
    QSignalSpy failed(dl, &PsynfileDownLoader::downLoadFailed);
    QSignalSpy unpacked(dl, &PsynfileDownLoader::unpressFinished);
    runOnThread(dl, thread, failed);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(unpacked.count(), 0);
    finish(dl, thread);
    QCOMPARE(readFile(program() + conf), QByteArray("old"));
    QVERIFY(!QFileInfo::exists(program() + QStringLiteral("tupload")));
}

void DownloadersTest::updatePackageDownloadsAndUnpacks() {
    const QByteArray pkg = signedPackage({{QStringLiteral("bin/tavix"), m_file}},
                                         QStringLiteral("client"), QStringLiteral("2.0"));
    QVERIFY(writeFile(data() + QStringLiteral("/files/client.pkg"), pkg));
    QVERIFY(writeFile(program() + QStringLiteral("tupdates/stray.pkg"), "old"));
    QVERIFY(writeFile(program() + QStringLiteral("tupdates/client/other.pkg"), "old"));
    ServerProcess server(data());
    QVERIFY(server.ok());
    auto* thread = new QThread;
    auto* dl =
        new PsUpdateDownloader(thread, server.base() + QStringLiteral("/files/client.pkg"),
                               QStringLiteral("client"), settings(), QStringLiteral("1.0.0"));
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

// The sync download stages the files it may write; the owner puts them in place.
void DownloadersTest::syncPackageDownloadsAndUnpacks() {
    const QString conf = QStringLiteral("Resources/profiles/conf.xml");
    QVERIFY(writeFile(program() + conf, "old"));
    const QByteArray pkg = packPayload(package::writePayload({{conf, "synced"}}, nullptr));
    QVERIFY(writeFile(data() + QStringLiteral("/files/synchronize.dat"), pkg));
    ServerProcess server(data());
    QVERIFY(server.ok());
    auto* thread = new QThread;
    auto* dl = new PsynfileDownLoader(
        thread, server.base() + QStringLiteral("/files/synchronize.dat"), settings(), {conf});
    QSignalSpy staged(dl, &PsynfileDownLoader::staged);
    QSignalSpy unpacked(dl, &PsynfileDownLoader::unpressFinished);
    runOnThread(dl, thread, unpacked);
    QCOMPARE(unpacked.count(), 1);
    finish(dl, thread);
    QCOMPARE(staged.first().first().toStringList(), QStringList{conf});
    QCOMPARE(readFile(program() + conf), QByteArray("old"));
    QVERIFY(package::commitSyncStage(program(), {conf}));
    QCOMPARE(readFile(program() + conf), QByteArray("synced"));
    QVERIFY(!QFileInfo::exists(program() + QStringLiteral("tupload")));
}

void DownloadersTest::hostileServers_data() {
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("partial");
    QTest::addColumn<QByteArray>("result"); // the file afterwards; empty: none under its name
    QTest::addColumn<QString>("log");       // expected on failure; empty: the download finishes
    const QByteArray body(1000, 'b');
    const QString notToTheEnd = QStringLiteral("to the end");
    QTest::newRow("content-range from 0 to a resume")
        << "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-999/1000\r\n"
           "Content-Length: 1000\r\n\r\n" +
               body
        << 102400 << QByteArray()
        << "Update Error: server sent the range from 0, asked from 102400";
    QTest::newRow("content-range with an absurd total")
        << "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-999/99999999999\r\n"
           "Content-Length: 1000\r\n\r\n" +
               body
        << 0 << QByteArray() << notToTheEnd;
    QTest::newRow("206 without content-range")
        << "HTTP/1.1 206 Partial Content\r\nContent-Length: 1000\r\n\r\n" + body << 0
        << QByteArray() << notToTheEnd;
    QTest::newRow("206 of 100 bytes of a 5000-byte file")
        << "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-99/5000\r\n"
           "Content-Length: 100\r\n\r\n" +
               body.left(100)
        << 0 << QByteArray() << notToTheEnd;
    QTest::newRow("206 whose length disagrees with its range")
        << "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-999/1000\r\n"
           "Content-Length: 500\r\n\r\n" +
               body.left(500)
        << 0 << QByteArray() << notToTheEnd;
    QTest::newRow("closed before its stated length")
        << "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + body << 0 << QByteArray()
        << "Update Error: failed to download part starting from 1000";
    QTest::newRow("body longer than content-length")
        << "HTTP/1.1 200 OK\r\nContent-Length: 600\r\n\r\n" + body << 0 << body.left(600)
        << QString();
    QTest::newRow("redirect to itself, no body")
        << QByteArray("HTTP/1.1 302 Found\r\nLocation: /files/x.bin\r\nContent-Length: 0\r\n\r\n")
        << 0 << QByteArray() << "Update Error:Bad HTTP status received in partFinished():302";
}

// Whatever the server claims, the file takes its name holding exactly what was asked for, or
// the download fails; a partial file keeps only bytes that were asked for.
void DownloadersTest::hostileServers() {
    QFETCH(QByteArray, answer);
    QFETCH(int, partial);
    QFETCH(QByteArray, result);
    QFETCH(QString, log);
    FixedAnswerServer server(answer);
    if (partial)
        QVERIFY(writeFile(program() + QStringLiteral("dl/x.bin.part"), QByteArray(partial, 'Z')));
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
    const QByteArray part = readFile(program() + QStringLiteral("dl/x.bin.part"));
    QVERIFY(part.isEmpty() || part == QByteArray(partial, 'Z') || answer.contains(part));
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
        QFile f(program() + QStringLiteral("dl/huge.bin.part"));
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
    QVERIFY(!QFileInfo::exists(program() + QStringLiteral("dl/huge.bin.part")));
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
    QVERIFY(!QFileInfo::exists(program() + QStringLiteral("dl/full.bin.part")));
}

// Two devices of one model arrive together: both fetch the same pages, each in a work folder of
// its own, and both unpack whole.
void DownloadersTest::twoDownloadsOfOnePackageAtOnce() {
    QVERIFY(writeFile(
        data() + QStringLiteral("/files/pages.pkg"),
        signedPackage({{QStringLiteral("KX1/index.html"), m_file}}, QStringLiteral("html"))));
    ServerProcess server(data());
    QVERIFY(server.ok());
    const QString url = server.base() + QStringLiteral("/files/pages.pkg");
    auto* t1 = new QThread;
    auto* t2 = new QThread;
    auto* one = new PsUpdateDownloader(t1, url, QStringLiteral("html"), settings());
    auto* two = new PsUpdateDownloader(t2, url, QStringLiteral("html"), settings());
    QVERIFY(one->workFolder() != two->workFolder());
    QSignalSpy done1(one, &PsUpdateDownloader::unpressFinished);
    QSignalSpy done2(two, &PsUpdateDownloader::unpressFinished);
    t1->start();
    t2->start();
    QTRY_VERIFY_WITH_TIMEOUT(done1.count() == 1 && done2.count() == 1, 10000);
    QCOMPARE(readFile(one->readyFolder() + QStringLiteral("/KX1/index.html")), m_file);
    QCOMPARE(readFile(two->readyFolder() + QStringLiteral("/KX1/index.html")), m_file);
    finish(one, t1);
    finish(two, t2);
}

// The reference server cuts the transfer, or answers a range with less than asked: the file
// never takes its name, and what arrived waits for a resume.
void DownloadersTest::referenceServerGoneWrong_data() {
    QTest::addColumn<QStringList>("misbehave");
    QTest::addColumn<QString>("log");
    QTest::newRow("cut at 150 000 of 300 000")
        << QStringList{QStringLiteral("--cut-after"), QStringLiteral("150000")}
        << "Update Error: failed to download part starting from";
    QTest::newRow("206 of 100 bytes")
        << QStringList{QStringLiteral("--misbehave"), QStringLiteral("short206:100")}
        << "to the end";
}

void DownloadersTest::referenceServerGoneWrong() {
    QFETCH(QStringList, misbehave);
    QFETCH(QString, log);
    ServerProcess server(data(), misbehave);
    QVERIFY(server.ok());
    LogCapture capture;
    auto* thread = new QThread;
    auto* dl = new commonFileDownloader(thread, server.base() + QStringLiteral("/files/big.bin"),
                                        QStringLiteral("dl"), settings());
    QSignalSpy done(dl, &commonFileDownloader::downLoadFinished);
    QSignalSpy failed(dl, &commonFileDownloader::downLoadFailed);
    runOnThread(dl, thread, failed);
    finish(dl, thread);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(done.count(), 0);
    QVERIFY2(capture.contains(log), qPrintable(capture.lines().join(QLatin1Char('\n'))));
    QVERIFY(!QFileInfo::exists(program() + QStringLiteral("dl/big.bin")));
}

// A download the server trickles without end holds no one: at exit it is stopped and waited
// for, and nothing of it lies outside its work folder.
void DownloadersTest::runningDownloadStopsAtExit() {
    ServerProcess server(data(), {QStringLiteral("--misbehave"), QStringLiteral("trickle:20")});
    QVERIFY(server.ok());
    online::DownloadThread<PsUpdateDownloader> download;
    PsUpdateDownloader* dl = download.create(server.base() + QStringLiteral("/files/x.pkg"),
                                             QStringLiteral("client"), settings());
    const QString work = dl->workFolder();
    QSignalSpy parts(dl, &PsUpdateDownloader::finishPart);
    download.start();
    QVERIFY(parts.wait(5000));
    QPointer<QThread> thread = download.thread();
    online::stopThreads();
    QVERIFY(!thread || thread->isFinished());
    QDirIterator it(program(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        QVERIFY2(it.next().startsWith(work), qPrintable(it.filePath()));
}

QTEST_GUILESS_MAIN(DownloadersTest)
#include "tst_downloaders.moc"
