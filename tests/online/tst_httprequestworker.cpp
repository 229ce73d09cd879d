#include "online/httprequestworker.h"
#include "online/onlinesettings.h"
#include "serverprocess.h"
#include "stallmeter.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

// A loopback HTTP server that records each request's raw bytes and answers a fixed body.
class RecordingServer : public QObject {
    Q_OBJECT
public:
    enum class Mode { Answer, CloseWithoutAnswer };

    explicit RecordingServer(Mode mode = Mode::Answer) : m_mode(mode) {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection()) {
                auto* buffer = new QByteArray;
                connect(s, &QTcpSocket::readyRead, s, [this, s, buffer] {
                    *buffer += s->readAll();
                    if (!complete(*buffer))
                        return;
                    requests.append(*buffer);
                    buffer->clear();
                    if (m_mode == Mode::Answer)
                        s->write("HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: "
                                 "close\r\n\r\nanswer");
                    s->disconnectFromHost();
                });
                connect(s, &QTcpSocket::disconnected, s, [s, buffer] {
                    delete buffer;
                    s->deleteLater();
                });
            }
        });
    }
    QString url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }
    QList<QByteArray> requests;

    static QByteArray header(const QByteArray& request, const QByteArray& name) {
        for (const QByteArray& line : request.left(request.indexOf("\r\n\r\n")).split('\n')) {
            const int colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
                return line.mid(colon + 1).trimmed();
        }
        return QByteArray();
    }
    static QByteArray body(const QByteArray& request) {
        return request.mid(request.indexOf("\r\n\r\n") + 4);
    }
    static QByteArray requestLine(const QByteArray& request) {
        return request.left(request.indexOf("\r\n"));
    }

private:
    static bool complete(const QByteArray& data) {
        const int end = data.indexOf("\r\n\r\n");
        if (end < 0)
            return false;
        const int length = header(data, "Content-Length").toInt();
        return data.size() - (end + 4) >= length;
    }
    QTcpServer m_server;
    Mode m_mode;
};

// Answers every request with one fixed raw response, then closes.
class FixedServer : public QObject {
public:
    explicit FixedServer(const QByteArray& answer) : m_answer(answer) {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    s->readAll();
                    s->write(m_answer);
                    s->disconnectFromHost();
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    QString url() const {
        return QStringLiteral("http://127.0.0.1:%1/x").arg(m_server.serverPort());
    }

private:
    QTcpServer m_server;
    QByteArray m_answer;
};

class HttpRequestWorkerTest : public QObject {
    Q_OBJECT
private slots:
    void queryStringLayout_data();
    void queryStringLayout();
    void urlEncodedBody();
    void multipartBodyIsExact();
    void unusableFilesAreLeftOut();
    void customVerbCarriesBody();
    void encodeAttribute_data();
    void encodeAttribute();
    void boundaryShape();
    void failuresFinishOnce_data();
    void failuresFinishOnce();
    void hostileServersEndTheRequest_data();
    void hostileServersEndTheRequest();
    void chunkedAnswerIsJoined();
    void httpsChecksTheCertificate_data();
    void httpsChecksTheCertificate();

private:
    // Sends and waits for the one completion signal.
    static bool run(HttpRequestWorker& worker, const HttpRequestParams& params, QSignalSpy& spy) {
        worker.send(params);
        return spy.count() > 0 || spy.wait(5000);
    }
};

void HttpRequestWorkerTest::queryStringLayout_data() {
    QTest::addColumn<QString>("method");
    QTest::addColumn<QStringList>("vars"); // key, value, key, value...
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("sorted and encoded")
        << "GET" << QStringList{"version", "1.0", "deviceid", "A B"}
        << QByteArray("GET /api?deviceid=A%20B&version=1.0 HTTP/1.1");
    QTest::newRow("no variables, no question mark")
        << "GET" << QStringList{} << QByteArray("GET /api HTTP/1.1");
    QTest::newRow("utf-8 and reserved characters")
        << "GET" << QStringList{"k", QString::fromUtf8("ü&=~-._/")}
        << QByteArray("GET /api?k=%C3%BC%26%3D~-._%2F HTTP/1.1");
    QTest::newRow("replaced value")
        << "GET" << QStringList{"a", "1", "a", "2"} << QByteArray("GET /api?a=2 HTTP/1.1");
    QTest::newRow("HEAD uses the query")
        << "HEAD" << QStringList{"noencrypt", "1"} << QByteArray("HEAD /api?noencrypt=1 HTTP/1.1");
}

void HttpRequestWorkerTest::queryStringLayout() {
    QFETCH(QString, method);
    QFETCH(QStringList, vars);
    QFETCH(QByteArray, line);
    RecordingServer server;
    HttpRequestParams params(server.url(QStringLiteral("/api")), method);
    for (int i = 0; i + 1 < vars.size(); i += 2)
        params.addVar(vars.at(i), vars.at(i + 1));
    HttpRequestWorker worker;
    QSignalSpy spy(&worker, &HttpRequestWorker::on_execution_finished);
    QVERIFY(run(worker, params, spy));
    QCOMPARE(server.requests.size(), 1);
    const QByteArray request = server.requests.first();
    QCOMPARE(RecordingServer::requestLine(request), line);
    QCOMPARE(RecordingServer::header(request, "User-Agent"), QByteArray("Agent name goes here"));
    QVERIFY(RecordingServer::header(request, "Content-Type").isEmpty());
    QVERIFY(worker.result());
    if (method == QLatin1String("GET"))
        QCOMPARE(worker.result().value, QByteArray("answer"));
}

void HttpRequestWorkerTest::urlEncodedBody() {
    RecordingServer server;
    HttpRequestParams params(server.url(QStringLiteral("/p")), QStringLiteral("POST"));
    params.addVar(QStringLiteral("noencrypt"), QString());
    params.addVar(QStringLiteral("deviceid"), QStringLiteral("x y"));
    HttpRequestWorker worker;
    QSignalSpy spy(&worker, &HttpRequestWorker::on_execution_finished);
    QVERIFY(run(worker, params, spy));
    const QByteArray request = server.requests.value(0);
    QCOMPARE(RecordingServer::requestLine(request), QByteArray("POST /p HTTP/1.1"));
    QCOMPARE(RecordingServer::header(request, "Content-Type"),
             QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(RecordingServer::body(request), QByteArray("deviceid=x%20y&noencrypt="));
}

void HttpRequestWorkerTest::multipartBodyIsExact() {
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/synchronize.dat");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("\x00\x01\r\n--binary", 12));
    f.close();

    RecordingServer server;
    HttpRequestParams params(server.url(QStringLiteral("/api/system/Sync/upload")),
                             QStringLiteral("POST"));
    params.bodyLayout = HttpBodyLayout::UrlEncoded; // files force multipart anyway
    params.addVar(QStringLiteral("noencrypt"), QString());
    params.addVar(QStringLiteral("deviceid"), QStringLiteral("K1"));
    params.addFile(QStringLiteral("file"), path, QString(), QStringLiteral("binary/octet-stream"));
    HttpRequestWorker worker;
    QSignalSpy spy(&worker, &HttpRequestWorker::on_execution_finished);
    QVERIFY(run(worker, params, spy));
    const QByteArray request = server.requests.value(0);
    const QByteArray type = RecordingServer::header(request, "Content-Type");
    QVERIFY(type.startsWith("multipart/form-data; boundary=__-----------------------"));
    const QByteArray b = type.mid(type.indexOf('=') + 1);
    const QByteArray expected =
        "--" + b +
        "\r\nContent-Disposition: form-data; name=\"deviceid\"\r\n"
        "Content-Type: text/plain\r\n\r\nK1\r\n" +
        "--" + b +
        "\r\nContent-Disposition: form-data; name=\"noencrypt\"\r\n"
        "Content-Type: text/plain\r\n\r\n\r\n" +
        "--" + b +
        "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"synchronize.dat\"\r\n"
        "Content-Type: binary/octet-stream\r\nContent-Transfer-Encoding: binary\r\n\r\n" +
        QByteArray("\x00\x01\r\n--binary", 12) + "\r\n--" + b + "--";
    QCOMPARE(RecordingServer::body(request), expected);
}

void HttpRequestWorkerTest::unusableFilesAreLeftOut() {
    QTemporaryDir dir;
    const QString good = dir.path() + QStringLiteral("/good.txt");
    QFile f(good);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("G");
    f.close();
    RecordingServer server;
    HttpRequestParams params(server.url(QStringLiteral("/u")), QStringLiteral("POST"));
    params.addFile(QStringLiteral("missing"), dir.path() + QStringLiteral("/nope"), QString(),
                   QString());
    params.addFile(QString(), good, QString(), QString());                   // no field name
    params.addFile(QStringLiteral("dir"), dir.path(), QString(), QString()); // not a file
    params.addFile(QStringLiteral("nopath"), QString(), QString(), QString());
    params.addFile(QStringLiteral("ok"), good, QString::fromUtf8("名.txt"), QString());
    HttpRequestWorker worker;
    QSignalSpy spy(&worker, &HttpRequestWorker::on_execution_finished);
    QVERIFY(run(worker, params, spy));
    const QByteArray body = RecordingServer::body(server.requests.value(0));
    QCOMPARE(body.count("Content-Disposition"), 1);
    QVERIFY(body.contains("name=\"ok\"; filename=\".txt\"; filename*=utf-8''%E5%90%8D%2Etxt\r\n"
                          "Content-Transfer-Encoding: binary\r\n\r\nG\r\n"));
}

void HttpRequestWorkerTest::customVerbCarriesBody() {
    RecordingServer server;
    HttpRequestParams params(server.url(QStringLiteral("/c")), QStringLiteral("PATCH"));
    params.addVar(QStringLiteral("b"), QStringLiteral("2"));
    params.addVar(QStringLiteral("a"), QStringLiteral("1"));
    HttpRequestWorker worker;
    QSignalSpy spy(&worker, &HttpRequestWorker::on_execution_finished);
    QVERIFY(run(worker, params, spy));
    const QByteArray request = server.requests.value(0);
    QCOMPARE(RecordingServer::requestLine(request), QByteArray("PATCH /c HTTP/1.1"));
    QCOMPARE(RecordingServer::body(request), QByteArray("a=1&b=2"));
    QCOMPARE(worker.result().value, QByteArray("answer"));
}

void HttpRequestWorkerTest::encodeAttribute_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "filename"
                           << "update.1.bin"
                           << "filename=\"update.1.bin\"";
    QTest::newRow("non-ascii") << "filename" << QString::fromUtf8("aé.txt")
                               << "filename=\"a.txt\"; filename*=utf-8''a%C3%A9%2Etxt";
    QTest::newRow("empty") << "name"
                           << ""
                           << "name=\"\"; name*=utf-8''";
    QTest::newRow("quote") << "name"
                           << "a\"b"
                           << "name=\"a\\\"b\"";
    QTest::newRow("slash") << "filename"
                           << "a/b"
                           << "filename=\"ab\"; filename*=utf-8''a%2Fb";
    QTest::newRow("control") << "name"
                             << "a\tb"
                             << "name=\"ab\"; name*=utf-8''a%09b";
}

void HttpRequestWorkerTest::encodeAttribute() {
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(QString, expected);
    QCOMPARE(HttpRequestWorker::encodeAttribute(name, value), expected);
}

void HttpRequestWorkerTest::boundaryShape() {
    const QString b = HttpRequestWorker::makeBoundary();
    QVERIFY(
        QRegularExpression(QStringLiteral("^__-----------------------\\d+$")).match(b).hasMatch());
}

void HttpRequestWorkerTest::failuresFinishOnce_data() {
    QTest::addColumn<bool>("refused");
    QTest::newRow("connection refused") << true;
    QTest::newRow("closed without answer") << false;
}

void HttpRequestWorkerTest::failuresFinishOnce() {
    QFETCH(bool, refused);
    QString url;
    RecordingServer server(RecordingServer::Mode::CloseWithoutAnswer);
    if (refused) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        url = QStringLiteral("http://127.0.0.1:%1/x").arg(probe.serverPort());
        probe.close();
    } else {
        url = server.url(QStringLiteral("/x"));
    }
    HttpRequestWorker worker;
    QSignalSpy spy(&worker, &HttpRequestWorker::on_execution_finished);
    QVERIFY(run(worker, HttpRequestParams(url, QStringLiteral("GET")), spy));
    QTest::qWait(100);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().value<HttpRequestWorker*>(), &worker);
    QVERIFY(!worker.result());
    if (refused)
        QCOMPARE(worker.result().code, uint32_t(QNetworkReply::ConnectionRefusedError));
    QVERIFY(!worker.result().text.empty());
    QVERIFY(worker.result().value.isEmpty());
}

// The reference server gone wrong: each request ends with an error, soon, holding little
// memory, and the event loop keeps running (its longest stall is printed).
void HttpRequestWorkerTest::hostileServersEndTheRequest_data() {
    QTest::addColumn<QString>("misbehave");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("timeoutMs"); // the request's own; long where the bound ends it first
    QTest::newRow("answer of 300 MB")
        << "huge:300000000" << int(QNetworkReply::ProtocolFailure) << 30000;
    QTest::newRow("200 000 header fields")
        << "headers:200000" << int(QNetworkReply::ProtocolFailure) << 30000;
    QTest::newRow("never answers") << "hang" << int(QNetworkReply::TimeoutError) << 1500;
    QTest::newRow("trickles without end")
        << "trickle:20" << int(QNetworkReply::TimeoutError) << 1500;
}

void HttpRequestWorkerTest::hostileServersEndTheRequest() {
    QFETCH(QString, misbehave);
    QFETCH(int, error);
    QFETCH(int, timeoutMs);
    QTemporaryDir data;
    ServerProcess server(data.path(), {QStringLiteral("--misbehave"), misbehave});
    QVERIFY(server.ok());
    OnlineSettings settings(data.path());
    settings.apiTimeoutMs = timeoutMs;
    HttpRequestWorker worker(nullptr, settings.apiLimits());
    QSignalSpy spy(&worker, &HttpRequestWorker::on_execution_finished);
    StallMeter stalls;
    worker.send(HttpRequestParams(server.base() + QStringLiteral("/api/system/upgrade"),
                                  QStringLiteral("GET")));
    QVERIFY(spy.wait(40000));
    QTest::qWait(50);
    qInfo("longest event-loop stall: %lld ms", static_cast<long long>(stalls.longestMs()));
    QCOMPARE(spy.count(), 1);
    QVERIFY(!worker.result());
    QCOMPARE(int(worker.result().code), error);
    QVERIFY(worker.result().value.isEmpty());
}

void HttpRequestWorkerTest::chunkedAnswerIsJoined() {
    FixedServer server("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                       "4;ext=1\r\nansw\r\n2\r\ner\r\n0\r\nTrailer: x\r\n\r\n");
    HttpRequestWorker worker;
    QSignalSpy spy(&worker, &HttpRequestWorker::on_execution_finished);
    QVERIFY(run(worker, HttpRequestParams(server.url(), QStringLiteral("GET")), spy));
    QVERIFY(worker.result());
    QCOMPARE(worker.result().value, QByteArray("answer"));
}

// "https" is checked against the trusted authorities (the system's, and here the test's own),
// and never falls back to plain HTTP.
void HttpRequestWorkerTest::httpsChecksTheCertificate_data() {
    QTest::addColumn<bool>("trustTestAuthority");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<int>("error");
    QTest::newRow("trusted") << true << "https" << int(QNetworkReply::NoError);
    QTest::newRow("unknown authority")
        << false << "https" << int(QNetworkReply::SslHandshakeFailedError);
    QTest::newRow("plain http to the TLS port")
        << true << "http" << int(QNetworkReply::RemoteHostClosedError);
}

void HttpRequestWorkerTest::httpsChecksTheCertificate() {
    QFETCH(bool, trustTestAuthority);
    QFETCH(QString, scheme);
    QFETCH(int, error);
    QTemporaryDir data;
    QFile catalog(data.path() + QStringLiteral("/catalog.json"));
    QVERIFY(catalog.open(QIODevice::WriteOnly));
    catalog.write("{}");
    catalog.close();
    const QString source = buildpaths::resolve(VENDOR_SERVER_SOURCE);
    ServerProcess server(data.path(),
                         {QStringLiteral("--tls-cert"), source + QStringLiteral("/test-tls.crt"),
                          QStringLiteral("--tls-key"), source + QStringLiteral("/test-tls.key")});
    QVERIFY(server.ok());
    OnlineSettings settings(data.path());
    if (trustTestAuthority)
        settings.extraCaCertificates =
            QSslCertificate::fromPath(source + QStringLiteral("/test-ca.crt"));
    HttpRequestWorker worker(nullptr, settings.apiLimits());
    QSignalSpy spy(&worker, &HttpRequestWorker::on_execution_finished);
    const QString url =
        QStringLiteral("%1://127.0.0.1:%2/api/system/upgrade").arg(scheme).arg(server.port());
    QVERIFY(run(worker, HttpRequestParams(url, QStringLiteral("GET")), spy));
    QCOMPARE(int(worker.result().code), error);
    if (error == QNetworkReply::NoError)
        QCOMPARE(worker.result().value, QByteArray("{\"code\":1,\"msg\":\"no update\"}"));
}

QTEST_GUILESS_MAIN(HttpRequestWorkerTest)
#include "tst_httprequestworker.moc"
