#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPair>
#include <QSslCertificate>
#include <QString>
#include <QUrl>

class QTcpSocket;
class QTimer;

// What an exchange with a server may take: how long it waits and how much it reads. A server
// that sends nothing, sends slowly without end, or sends more than any real answer holds ends
// the exchange with an error instead of holding the program.
struct HttpLimits {
    int connectTimeoutMs = 15000; // until the connection (and its TLS handshake) stands
    int idleTimeoutMs = 60000;    // no byte in either direction for this long
    int headTimeoutMs = 60000;    // from the request sent whole to the answer's head read whole
    int overallTimeoutMs = 0;     // the whole exchange; 0 for none (downloads)
    qint64 maxBodyBytes = -1;     // a larger body fails the exchange; -1 for no bound
    // The head of an answer: no real server sends more than a few dozen fields of a few hundred
    // bytes. (Qt's own HTTP stack has no bound and merges repeated fields at a cost that grows
    // with the square of their count.)
    static constexpr int kMaxHeaderFields = 128;
    static constexpr int kMaxHeadBytes = 64 * 1024;
    // Certificates trusted besides the system's (tests' own authority); the program adds none
    // unless told so at start.
    QList<QSslCertificate> extraCaCertificates;
};

// One HTTP/1.1 request and its answer over a connection of its own ("http" or "https"; TLS
// certificates checked against the system's store, never a fall back to plain HTTP). Starts at
// construction and lives on the thread it was made on. The body is kept until read; `finished`
// is emitted exactly once, after the error (if any) is set. Statuses from 400 on end with the
// network error Qt gives them (ContentNotFoundError for 404), after their body.
class HttpExchange : public QObject {
    Q_OBJECT
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    struct Request {
        QUrl url;
        QByteArray method = "GET";
        Headers headers; // besides Host, Content-Length and Connection, which the exchange sets
        QByteArray body;
    };

    HttpExchange(const Request& request, const HttpLimits& limits, QObject* parent = nullptr);
    ~HttpExchange() override;

    // 0 until the answer's head has arrived.
    int status() const { return m_status; }
    const Headers& headers() const { return m_headers; }
    // The first field of that name (case-insensitive); empty when there is none.
    QByteArray header(const QByteArray& name) const;
    // The stated body length; -1 when the answer states none.
    qint64 contentLength() const { return m_contentLength; }
    // Body bytes received so far, read or not.
    qint64 bytesReceived() const { return m_received; }
    qint64 bytesAvailable() const { return m_body.size(); }
    QByteArray readAll();
    qint64 read(char* data, qint64 maxSize);

    bool isFinished() const { return m_finished; }
    QNetworkReply::NetworkError error() const { return m_error; }
    QString errorString() const { return m_errorString; }

    // Ends the exchange now with OperationCanceledError (no-op once finished).
    void abort();

signals:
    void headReceived();
    void readyRead();
    void finished();

private:
    enum class Stage { Connecting, Sending, Head, Body, Done };
    enum class Framing { None, Length, Chunked, UntilClose };

    void connected();
    void socketReadable();
    void socketClosed();
    void parse();
    bool parseHead(const QByteArray& head);
    bool parseChunked();
    void takeBody(const QByteArray& bytes);
    void complete();
    void fail(QNetworkReply::NetworkError error, const QString& text);
    // Stops the timers, lets the connection go and says so, once.
    void end();
    void touch();
    QByteArray requestBytes() const;
    void startTimer(QTimer*& timer, int ms, const QString& text);

    Request m_request;
    HttpLimits m_limits;
    QTcpSocket* m_socket = nullptr;
    QTimer* m_connectTimer = nullptr;
    QTimer* m_idleTimer = nullptr;
    QTimer* m_headTimer = nullptr;
    QTimer* m_overallTimer = nullptr;

    Stage m_stage = Stage::Connecting;
    Framing m_framing = Framing::None;
    QByteArray m_in;     // received, not yet parsed
    int m_scan = 0;      // how far the head has been searched for its end
    int m_lineStart = 0; // where the head's current line starts
    int m_headLines = 0; // lines of the head (or of a chunked trailer) so far
    int m_status = 0;
    Headers m_headers;
    qint64 m_contentLength = -1;
    qint64 m_remaining = 0; // of the stated length, or of the current chunk
    bool m_chunkTrailer = false;
    qint64 m_received = 0;
    QByteArray m_body;
    bool m_finished = false;
    QNetworkReply::NetworkError m_error = QNetworkReply::NoError;
    QString m_errorString;
};
