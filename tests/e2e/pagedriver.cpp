#include "pagedriver.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QThread>
#include <QUrl>

namespace {

// The body of a plain HTTP/1.1 GET on the loopback, or empty.
QByteArray httpGet(quint16 port, const QByteArray& path) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(1000))
        return {};
    // The browser builds its page addresses from this host and port.
    socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                 "\r\nConnection: close\r\n\r\n");
    QByteArray reply;
    while (socket.waitForReadyRead(2000))
        reply += socket.readAll();
    reply += socket.readAll();
    const int body = reply.indexOf("\r\n\r\n");
    return body < 0 ? QByteArray() : reply.mid(body + 4);
}

} // namespace

bool PageDriver::connectTo(quint16 port, const QString& urlSuffix, int timeoutMs) {
    return connectWhere(port, urlSuffix, true, timeoutMs);
}

bool PageDriver::connectToOther(quint16 port, const QString& urlSuffix, int timeoutMs) {
    return connectWhere(port, urlSuffix, false, timeoutMs);
}

int PageDriver::pageCount(quint16 port) {
    int count = 0;
    for (const QJsonValue& p : QJsonDocument::fromJson(httpGet(port, "/json")).array())
        count += p.toObject().value("type").toString() == "page" ? 1 : 0;
    return count;
}

bool PageDriver::connectWhere(quint16 port, const QString& urlSuffix, bool ending, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    QString wsUrl;
    while (timer.elapsed() < timeoutMs && wsUrl.isEmpty()) {
        const QJsonArray pages = QJsonDocument::fromJson(httpGet(port, "/json")).array();
        for (const QJsonValue& p : pages) {
            const QJsonObject page = p.toObject();
            if (page.value("type").toString() == "page" && wsUrl.isEmpty() &&
                page.value("url").toString().endsWith(urlSuffix) == ending)
                wsUrl = page.value("webSocketDebuggerUrl").toString();
        }
        if (wsUrl.isEmpty())
            QThread::msleep(200);
    }
    if (wsUrl.isEmpty()) {
        m_error = QStringLiteral("no page ending with ") + urlSuffix;
        return false;
    }
    const QUrl url(wsUrl);
    m_socket.connectToHost(url.host(), quint16(url.port(port)));
    if (!m_socket.waitForConnected(3000)) {
        m_error = m_socket.errorString();
        return false;
    }
    QByteArray nonce(16, '\0');
    for (char& c : nonce)
        c = char(QRandomGenerator::global()->bounded(256));
    m_socket.write("GET " + url.path().toUtf8() + " HTTP/1.1\r\nHost: " + url.host().toUtf8() +
                   ":" + QByteArray::number(url.port(port)) +
                   "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: " +
                   nonce.toBase64() + "\r\nSec-WebSocket-Version: 13\r\n\r\n");
    while (!m_buffer.contains("\r\n\r\n")) {
        if (!m_socket.waitForReadyRead(3000)) {
            m_error = QStringLiteral("no handshake answer");
            return false;
        }
        m_buffer += m_socket.readAll();
    }
    const int end = m_buffer.indexOf("\r\n\r\n");
    const bool upgraded = m_buffer.startsWith("HTTP/1.1 101");
    m_buffer.remove(0, end + 4);
    if (!upgraded) {
        m_error = QStringLiteral("the debugging interface refused the connection");
        return false;
    }
    return true;
}

bool PageDriver::sendFrame(const QByteArray& payload) {
    QByteArray frame;
    frame.append(char(0x81)); // final frame, text
    const quint64 n = quint64(payload.size());
    if (n < 126) {
        frame.append(char(0x80 | n));
    } else if (n < 65536) {
        frame.append(char(0x80 | 126));
        frame.append(char(n >> 8));
        frame.append(char(n & 0xff));
    } else {
        frame.append(char(0x80 | 127));
        for (int i = 7; i >= 0; --i)
            frame.append(char((n >> (8 * i)) & 0xff));
    }
    // A client must mask what it sends.
    char mask[4];
    for (char& c : mask)
        c = char(QRandomGenerator::global()->bounded(256));
    frame.append(mask, 4);
    for (int i = 0; i < payload.size(); ++i)
        frame.append(char(payload.at(i) ^ mask[i % 4]));
    return m_socket.write(frame) == frame.size() && m_socket.waitForBytesWritten(3000);
}

bool PageDriver::readMessage(QByteArray* message, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    QByteArray assembled;
    for (;;) {
        // Parse one frame out of the buffer when it is whole.
        if (m_buffer.size() >= 2) {
            const quint8 b0 = quint8(m_buffer.at(0));
            const quint8 b1 = quint8(m_buffer.at(1));
            quint64 len = b1 & 0x7f;
            int head = 2;
            if (len == 126 && m_buffer.size() >= 4) {
                len = (quint64(quint8(m_buffer.at(2))) << 8) | quint8(m_buffer.at(3));
                head = 4;
            } else if (len == 127 && m_buffer.size() >= 10) {
                len = 0;
                for (int i = 0; i < 8; ++i)
                    len = (len << 8) | quint8(m_buffer.at(2 + i));
                head = 10;
            } else if (len >= 126) {
                head = -1; // length not complete yet
            }
            if (head > 0 && quint64(m_buffer.size()) >= head + len) {
                const QByteArray payload = m_buffer.mid(head, int(len));
                m_buffer.remove(0, head + int(len));
                const int opcode = b0 & 0x0f;
                if (opcode == 0x8)
                    return false; // closed
                if (opcode == 0x1 || opcode == 0x0) {
                    assembled += payload;
                    if (b0 & 0x80) {
                        *message = assembled;
                        return true;
                    }
                }
                continue; // ping, pong or an unfinished message
            }
        }
        const int left = timeoutMs - int(timer.elapsed());
        if (left <= 0 || !m_socket.waitForReadyRead(left))
            return false;
        m_buffer += m_socket.readAll();
    }
}

QJsonObject PageDriver::call(const QString& method, const QJsonObject& params, int timeoutMs) {
    const int id = m_nextId++;
    const QJsonObject request{{"id", id}, {"method", method}, {"params", params}};
    if (!sendFrame(QJsonDocument(request).toJson(QJsonDocument::Compact))) {
        m_error = QStringLiteral("cannot send to the page");
        return {};
    }
    QElapsedTimer timer;
    timer.start();
    QByteArray message;
    while (readMessage(&message, qMax(1, timeoutMs - int(timer.elapsed())))) {
        const QJsonObject answer = QJsonDocument::fromJson(message).object();
        if (answer.value("id").toInt() == id)
            return answer;
    }
    m_error = QStringLiteral("no answer to ") + method;
    return {};
}

QJsonValue PageDriver::eval(const QString& expression, int timeoutMs) {
    m_error.clear();
    const QJsonObject answer = call(
        QStringLiteral("Runtime.evaluate"),
        {{"expression", expression}, {"awaitPromise", true}, {"returnByValue", true}}, timeoutMs);
    const QJsonObject result = answer.value("result").toObject();
    if (result.contains("exceptionDetails")) {
        m_error = result.value("exceptionDetails")
                      .toObject()
                      .value("exception")
                      .toObject()
                      .value("description")
                      .toString();
        return QJsonValue(QJsonValue::Undefined);
    }
    return result.value("result").toObject().value("value");
}

bool PageDriver::waitFor(const QString& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        if (eval(QStringLiteral("!!(") + condition + ")").toBool())
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool PageDriver::screenshot(const QString& path) {
    const QJsonObject answer =
        call(QStringLiteral("Page.captureScreenshot"), {{"format", "png"}}, 15000);
    const QByteArray png = QByteArray::fromBase64(
        answer.value("result").toObject().value("data").toString().toLatin1());
    if (png.isEmpty())
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(png) == png.size();
}
