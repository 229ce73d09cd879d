// Drives the page of a running tavix from outside, as a person would, through the embedded
// browser's debugging interface (enabled with QTWEBENGINE_REMOTE_DEBUGGING): evaluates script in
// the page and takes pictures of it. Real keys and clicks come from the X server (xdesk.h).
#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QTcpSocket>

class PageDriver {
public:
    // Finds the page whose URL ends with `urlSuffix` and connects to it; false when the program
    // does not offer it within `timeoutMs`.
    bool connectTo(quint16 port, const QString& urlSuffix, int timeoutMs);
    // The same for the first page whose URL does not end with `urlSuffix` (a popup's page).
    bool connectToOther(quint16 port, const QString& urlSuffix, int timeoutMs);
    // How many pages the program shows now.
    static int pageCount(quint16 port);
    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    void disconnect() { m_socket.abort(); }

    // Evaluates an expression (promises awaited); an exception becomes an invalid value and
    // `lastError()` tells it.
    QJsonValue eval(const QString& expression, int timeoutMs = 15000);
    // Polls `condition` until it is true; false on timeout.
    bool waitFor(const QString& condition, int timeoutMs = 10000);
    // A picture of the page as it is shown.
    bool screenshot(const QString& path);
    QString lastError() const { return m_error; }

private:
    bool connectWhere(quint16 port, const QString& urlSuffix, bool ending, int timeoutMs);
    QJsonObject call(const QString& method, const QJsonObject& params, int timeoutMs);
    bool sendFrame(const QByteArray& payload);
    bool readMessage(QByteArray* message, int timeoutMs);

    QTcpSocket m_socket;
    QByteArray m_buffer;
    int m_nextId = 1;
    QString m_error;
};
