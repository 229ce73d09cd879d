#pragma once

#include "online/httpexchange.h"
#include "platform/result.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QNetworkReply>
#include <QObject>
#include <QString>

struct HttpUploadFile {
    QString fieldName;
    QString localPath;
    QString sentName;
    QString mimeType;
};

enum class HttpBodyLayout { NotSet, QueryString, UrlEncoded, Multipart };

struct HttpRequestParams {
    HttpRequestParams() = default;
    HttpRequestParams(const QString& url, const QString& method);

    // A second value for the same key replaces the first.
    void addVar(const QString& key, const QString& value);
    void addFile(const QString& fieldName, const QString& localPath, const QString& sentName,
                 const QString& mimeType);

    QString url;
    QString method = QStringLiteral("GET");
    HttpBodyLayout bodyLayout = HttpBodyLayout::NotSet;
    QMap<QString, QString> vars; // encoded in key order
    QList<HttpUploadFile> files;
};

// One asynchronous request to the vendor API. Create one per request, connect
// on_execution_finished, call send; then read result(). The request ends within the limits
// given (by default a minute, and an answer of at most 1 MiB): a server that does not answer,
// answers without end or answers too much makes it fail, never wait for ever.
class HttpRequestWorker : public QObject {
    Q_OBJECT
public:
    explicit HttpRequestWorker(QObject* parent = nullptr);
    HttpRequestWorker(QObject* parent, const HttpLimits& limits);

    void send(const HttpRequestParams& params);

    // RFC 5987 style: name="plain" or name="plain"; name*=utf-8''escaped.
    static QString encodeAttribute(const QString& name, const QString& value);
    // RFC 3986 percent-encoding of the UTF-8 bytes (unreserved characters stay).
    static QByteArray percentEncode(const QString& text);
    // The boundary used for multipart bodies.
    static QString makeBoundary();

    // What the request came to: the answer's body, or the network's error (the NetworkError as
    // code, its text) with an empty body.
    const platform::ResultOf<QByteArray>& result() const { return m_result; }
    // The log line of a failed request: "Error: ", the error text, a blank and the body.
    QString errorLine() const;

signals:
    void on_execution_finished(HttpRequestWorker* worker);

private slots:
    void on_exchange_finished();

private:
    HttpLimits m_limits;
    HttpExchange* m_exchange = nullptr;
    platform::ResultOf<QByteArray> m_result;
};
