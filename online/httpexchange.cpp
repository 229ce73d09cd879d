#include "httpexchange.h"

#include <QPointer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

namespace {

// A chunk-size line, or a line of the trailer, is a few dozen bytes.
constexpr int kMaxChunkLine = 1024;
// "100 Continue" and its kind come before the answer; a server that sends them without end
// is not answering.
constexpr int kMaxInterimAnswers = 8;

// The errors Qt's own HTTP stack gives the statuses from 400 on, which the callers (and their
// logs) have always seen.
QNetworkReply::NetworkError errorOfStatus(int status) {
    using E = QNetworkReply::NetworkError;
    static const QPair<int, E> known[] = {
        {400, E::ProtocolInvalidOperationError},
        {401, E::AuthenticationRequiredError},
        {403, E::ContentAccessDenied},
        {404, E::ContentNotFoundError},
        {405, E::ContentOperationNotPermittedError},
        {407, E::ProxyAuthenticationRequiredError},
        {409, E::ContentConflictError},
        {410, E::ContentGoneError},
        {418, E::ProtocolInvalidOperationError},
        {500, E::InternalServerError},
        {501, E::OperationNotImplementedError},
        {503, E::ServiceUnavailableError},
    };
    for (const auto& k : known)
        if (k.first == status)
            return k.second;
    return status > 500 ? E::UnknownServerError : E::UnknownContentError;
}

QNetworkReply::NetworkError errorOfSocket(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::RemoteHostClosedError:
        return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::HostNotFoundError:
        return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::SocketTimeoutError:
        return QNetworkReply::TimeoutError;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return QNetworkReply::SslHandshakeFailedError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

// Header names and values go out as they are: a line break in one would start a header of its
// own.
QByteArray oneLine(QByteArray text) {
    text.replace('\r', "").replace('\n', "");
    return text;
}

} // namespace

HttpExchange::HttpExchange(const Request& request, const HttpLimits& limits, QObject* parent)
    : QObject(parent), m_request(request), m_limits(limits) {
    const QString scheme = request.url.scheme().toLower();
    const bool tls = scheme == QLatin1String("https");
    // Failures are reported from the event loop, so that the caller has connected its slots.
    if (scheme != QLatin1String("http") && !tls) {
        QTimer::singleShot(0, this, [this, scheme] {
            fail(QNetworkReply::ProtocolUnknownError,
                 QStringLiteral("Protocol \"%1\" is unknown").arg(scheme));
        });
        return;
    }
    if (request.url.host().isEmpty()) {
        QTimer::singleShot(0, this, [this] {
            fail(QNetworkReply::HostNotFoundError, QStringLiteral("Host  not found"));
        });
        return;
    }
    const quint16 port = static_cast<quint16>(request.url.port(tls ? 443 : 80));
    if (tls) {
        auto* socket = new QSslSocket(this);
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
        if (!limits.extraCaCertificates.isEmpty())
            conf.addCaCertificates(limits.extraCaCertificates);
        socket->setSslConfiguration(conf);
        connect(socket, &QSslSocket::encrypted, this, &HttpExchange::connected);
        m_socket = socket;
    } else {
        m_socket = new QTcpSocket(this);
        connect(m_socket, &QTcpSocket::connected, this, &HttpExchange::connected);
    }
    // What the socket holds before it is read is bounded too: a flood waits in the system.
    m_socket->setReadBufferSize(256 * 1024);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpExchange::socketReadable);
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        touch();
        if (m_stage == Stage::Sending && m_socket->bytesToWrite() == 0) {
            m_stage = Stage::Head;
            startTimer(m_headTimer, m_limits.headTimeoutMs, QStringLiteral("No answer in time"));
        }
    });
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpExchange::socketClosed);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::RemoteHostClosedError)
            socketClosed();
        else
            fail(errorOfSocket(e), m_socket->errorString());
    });
    startTimer(m_connectTimer, limits.connectTimeoutMs, QStringLiteral("Connection timed out"));
    startTimer(m_overallTimer, limits.overallTimeoutMs, QStringLiteral("Request timed out"));
    if (tls)
        static_cast<QSslSocket*>(m_socket)->connectToHostEncrypted(request.url.host(), port);
    else
        m_socket->connectToHost(request.url.host(), port);
}

HttpExchange::~HttpExchange() {
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void HttpExchange::startTimer(QTimer*& timer, int ms, const QString& text) {
    if (ms <= 0)
        return;
    if (!timer) {
        timer = new QTimer(this);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this,
                [this, text] { fail(QNetworkReply::TimeoutError, text); });
    }
    timer->start(ms);
}

void HttpExchange::touch() {
    if (m_idleTimer && m_idleTimer->isActive())
        m_idleTimer->start();
}

QByteArray HttpExchange::header(const QByteArray& name) const {
    for (const auto& field : m_headers)
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            return field.second;
    return QByteArray();
}

QByteArray HttpExchange::readAll() {
    QByteArray out;
    out.swap(m_body);
    return out;
}

qint64 HttpExchange::read(char* data, qint64 maxSize) {
    const qint64 n = qMin<qint64>(maxSize, m_body.size());
    if (n <= 0)
        return 0;
    memcpy(data, m_body.constData(), static_cast<size_t>(n));
    m_body.remove(0, static_cast<int>(n));
    return n;
}

void HttpExchange::abort() {
    fail(QNetworkReply::OperationCanceledError, QStringLiteral("Operation canceled"));
}

QByteArray HttpExchange::requestBytes() const {
    // As Qt sends it: the path (normalised) and query, fully encoded; "/" for none.
    QUrl target = m_request.url;
    QUrl::FormattingOptions format =
        QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment | QUrl::FullyEncoded;
    if (target.path().isEmpty())
        target.setPath(QStringLiteral("/"));
    else
        format |= QUrl::NormalizePathSegments;
    const bool tls = m_request.url.scheme().toLower() == QLatin1String("https");
    QByteArray host = QUrl::toAce(m_request.url.host());
    if (host.isEmpty())
        host = m_request.url.host().toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    const int port = m_request.url.port(-1);
    if (port >= 0 && port != (tls ? 443 : 80))
        host += ':' + QByteArray::number(port);

    QByteArray out = oneLine(m_request.method) + ' ' + target.toEncoded(format) + " HTTP/1.1\r\n";
    out += "Host: " + host + "\r\n";
    for (const auto& field : m_request.headers)
        out += oneLine(field.first) + ": " + oneLine(field.second) + "\r\n";
    const QByteArray method = m_request.method.toUpper();
    if (!m_request.body.isEmpty() || method == "POST" || method == "PUT")
        out += "Content-Length: " + QByteArray::number(m_request.body.size()) + "\r\n";
    // One request per connection: the answer ends at the latest when the server closes.
    out += "Connection: close\r\n\r\n";
    return out + m_request.body;
}

void HttpExchange::connected() {
    if (m_connectTimer)
        m_connectTimer->stop();
    startTimer(m_idleTimer, m_limits.idleTimeoutMs, QStringLiteral("Transfer stalled"));
    m_stage = Stage::Sending;
    m_socket->write(requestBytes());
}

void HttpExchange::socketReadable() {
    if (m_finished)
        return;
    m_in += m_socket->readAll();
    touch();
    parse();
}

void HttpExchange::socketClosed() {
    if (m_finished)
        return;
    // What arrived before the close is still the answer's.
    if (m_socket->bytesAvailable() > 0)
        socketReadable();
    if (m_finished)
        return;
    if (m_stage == Stage::Body && m_framing == Framing::UntilClose)
        complete();
    else
        fail(QNetworkReply::RemoteHostClosedError, QStringLiteral("Connection closed"));
}

void HttpExchange::parse() {
    const QPointer<HttpExchange> alive(this);
    int interim = 0;
    while (m_stage == Stage::Head || m_stage == Stage::Sending) {
        // Line by line from where the last look ended, so a head that trickles in costs no
        // more than one that arrives at once.
        const int eol = m_in.indexOf('\n', m_scan);
        if (eol < 0) {
            m_scan = m_in.size();
            if (m_in.size() > HttpLimits::kMaxHeadBytes)
                fail(QNetworkReply::ProtocolFailure, QStringLiteral("Answer head too large"));
            return;
        }
        const int lineEnd = eol > m_lineStart && m_in.at(eol - 1) == '\r' ? eol - 1 : eol;
        const bool blank = lineEnd == m_lineStart;
        m_scan = m_lineStart = eol + 1;
        if (!blank) {
            if (++m_headLines > HttpLimits::kMaxHeaderFields + 1 ||
                m_lineStart > HttpLimits::kMaxHeadBytes) {
                fail(QNetworkReply::ProtocolFailure, QStringLiteral("Answer head too large"));
                return;
            }
            continue;
        }
        const QByteArray head = m_in.left(eol);
        m_in.remove(0, eol + 1);
        m_scan = m_lineStart = m_headLines = 0;
        if (!parseHead(head))
            return;
        if (m_status >= 100 && m_status < 200) {
            if (++interim > kMaxInterimAnswers) {
                fail(QNetworkReply::ProtocolFailure, QStringLiteral("Answer never started"));
                return;
            }
            m_headers.clear();
            m_status = 0;
            continue;
        }
        if (m_headTimer)
            m_headTimer->stop();
        m_stage = Stage::Body;
        emit headReceived();
        if (!alive || m_finished)
            return;
        if (m_framing == Framing::None) {
            complete();
            return;
        }
    }
    if (m_stage != Stage::Body)
        return;
    switch (m_framing) {
    case Framing::Length: {
        const qint64 n = qMin<qint64>(m_remaining, m_in.size());
        // Bytes past the stated length are not the answer's.
        const QByteArray part = m_in.left(static_cast<int>(n));
        m_in.clear();
        m_remaining -= n;
        if (n > 0)
            takeBody(part);
        if (alive && !m_finished && m_remaining == 0)
            complete();
        break;
    }
    case Framing::UntilClose: {
        const QByteArray part = m_in;
        m_in.clear();
        if (!part.isEmpty())
            takeBody(part);
        break;
    }
    case Framing::Chunked:
        parseChunked();
        break;
    case Framing::None:
        break;
    }
}

bool HttpExchange::parseHead(const QByteArray& head) {
    const QList<QByteArray> lines = head.split('\n');
    const QByteArray statusLine = lines.value(0).trimmed();
    const QList<QByteArray> words = statusLine.split(' ');
    bool ok = false;
    const int status = words.value(1).toInt(&ok);
    if (!statusLine.startsWith("HTTP/1.") || !ok || status < 100 || status > 999) {
        fail(QNetworkReply::ProtocolFailure, QStringLiteral("Not an HTTP answer"));
        return false;
    }
    if (lines.size() - 1 > HttpLimits::kMaxHeaderFields) {
        fail(QNetworkReply::ProtocolFailure, QStringLiteral("Answer head too large"));
        return false;
    }
    m_status = status;
    for (int i = 1; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        // A folded line continues the field before it.
        if ((line.startsWith(' ') || line.startsWith('\t')) && !m_headers.isEmpty()) {
            m_headers.last().second += ' ' + line.trimmed();
            continue;
        }
        const int colon = line.indexOf(':');
        if (colon <= 0) {
            fail(QNetworkReply::ProtocolFailure, QStringLiteral("Bad answer head"));
            return false;
        }
        m_headers.append(qMakePair(line.left(colon).trimmed(), line.mid(colon + 1).trimmed()));
    }
    if (m_status < 200)
        return true;

    const bool noBody = m_request.method.toUpper() == "HEAD" || m_status == 204 || m_status == 304;
    QByteArray lengthText;
    for (const auto& field : qAsConst(m_headers)) {
        if (field.first.compare("Content-Length", Qt::CaseInsensitive) != 0)
            continue;
        // Two lengths that differ leave no way to tell where the answer ends.
        if (!lengthText.isNull() && field.second != lengthText) {
            fail(QNetworkReply::ProtocolFailure, QStringLiteral("Conflicting answer lengths"));
            return false;
        }
        lengthText = field.second;
    }
    if (!lengthText.isNull()) {
        const qint64 length = lengthText.toLongLong(&ok);
        if (!ok || length < 0) {
            fail(QNetworkReply::ProtocolFailure, QStringLiteral("Bad answer length"));
            return false;
        }
        m_contentLength = length;
    }
    if (noBody) {
        m_framing = Framing::None;
    } else if (header("Transfer-Encoding").toLower().contains("chunked")) {
        m_framing = Framing::Chunked;
        m_contentLength = -1;
    } else if (m_contentLength >= 0) {
        m_framing = m_contentLength == 0 ? Framing::None : Framing::Length;
        m_remaining = m_contentLength;
    } else {
        m_framing = Framing::UntilClose;
    }
    if (m_limits.maxBodyBytes >= 0 && m_contentLength > m_limits.maxBodyBytes) {
        fail(QNetworkReply::ProtocolFailure, QStringLiteral("Answer too large"));
        return false;
    }
    return true;
}

bool HttpExchange::parseChunked() {
    const QPointer<HttpExchange> alive(this);
    while (alive && !m_finished) {
        if (m_remaining > 0) {
            const qint64 n = qMin<qint64>(m_remaining, m_in.size());
            if (n == 0)
                return true;
            const QByteArray part = m_in.left(static_cast<int>(n));
            m_in.remove(0, static_cast<int>(n));
            m_remaining -= n;
            takeBody(part);
            continue;
        }
        const int eol = m_in.indexOf('\n');
        if (eol < 0) {
            if (m_in.size() > kMaxChunkLine)
                fail(QNetworkReply::ProtocolFailure, QStringLiteral("Bad chunk"));
            return true;
        }
        QByteArray line = m_in.left(eol);
        m_in.remove(0, eol + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (m_chunkTrailer) {
            // The trailer ends with an empty line; its fields are not needed.
            if (line.isEmpty()) {
                complete();
                return true;
            }
            if (m_headers.size() + ++m_headLines > HttpLimits::kMaxHeaderFields)
                fail(QNetworkReply::ProtocolFailure, QStringLiteral("Answer head too large"));
            continue;
        }
        // The empty line that closes a chunk's data.
        if (line.isEmpty())
            continue;
        bool ok = false;
        const QByteArray sizeText = line.split(';').value(0).trimmed();
        const qint64 size = sizeText.toLongLong(&ok, 16);
        if (!ok || size < 0 || sizeText.size() > 15) {
            fail(QNetworkReply::ProtocolFailure, QStringLiteral("Bad chunk"));
            return false;
        }
        if (size == 0)
            m_chunkTrailer = true;
        m_remaining = size;
    }
    return true;
}

void HttpExchange::takeBody(const QByteArray& bytes) {
    m_received += bytes.size();
    if (m_limits.maxBodyBytes >= 0 && m_received > m_limits.maxBodyBytes) {
        fail(QNetworkReply::ProtocolFailure, QStringLiteral("Answer too large"));
        return;
    }
    m_body += bytes;
    emit readyRead();
}

void HttpExchange::complete() {
    if (m_finished)
        return;
    if (m_status >= 400) {
        m_error = errorOfStatus(m_status);
        m_errorString = QStringLiteral("Error transferring %1 - server replied: %2")
                            .arg(m_request.url.toString(), QString::number(m_status));
    }
    end();
}

void HttpExchange::fail(QNetworkReply::NetworkError error, const QString& text) {
    if (m_finished)
        return;
    m_error = error;
    m_errorString = text;
    end();
}

void HttpExchange::end() {
    m_stage = Stage::Done;
    m_finished = true;
    for (QTimer* t : {m_connectTimer, m_idleTimer, m_headTimer, m_overallTimer})
        if (t)
            t->stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    emit finished();
}
