#include "httprequestworker.h"

#include "online/onlinesettings.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cstdlib>

HttpRequestParams::HttpRequestParams(const QString& u, const QString& m) : url(u), method(m) {}

void HttpRequestParams::addVar(const QString& key, const QString& value) {
    vars.insert(key, value);
}

void HttpRequestParams::addFile(const QString& fieldName, const QString& localPath,
                                const QString& sentName, const QString& mimeType) {
    files.append(HttpUploadFile{fieldName, localPath, sentName, mimeType});
}

HttpRequestWorker::HttpRequestWorker(QObject* parent)
    : HttpRequestWorker(parent, OnlineSettings(QString()).apiLimits()) {}

HttpRequestWorker::HttpRequestWorker(QObject* parent, const HttpLimits& limits)
    : QObject(parent), m_limits(limits) {
    std::srand(static_cast<unsigned>(QDateTime::currentSecsSinceEpoch()));
}

QByteArray HttpRequestWorker::percentEncode(const QString& text) {
    return text.toUtf8().toPercentEncoding();
}

QString HttpRequestWorker::makeBoundary() {
    return QStringLiteral("__-----------------------") +
           QString::number(QDateTime::currentSecsSinceEpoch()) + QString::number(std::rand());
}

QString HttpRequestWorker::encodeAttribute(const QString& name, const QString& value) {
    const QByteArray bytes = value.toUtf8();
    QByteArray plain;
    bool extended = false;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == '/' || c == '\\' || c == 0x7F || c >= 0x80) {
            extended = true;
        } else if (c == '"') {
            plain += "\\\"";
        } else {
            plain += ch;
        }
    }
    const QString plainText = QString::fromLatin1(plain);
    if (!extended && !plain.isEmpty())
        return QStringLiteral("%1=\"%2\"").arg(name, plainText);
    QByteArray escaped;
    static const char hex[] = "0123456789ABCDEF";
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            escaped += ch;
        } else {
            escaped += '%';
            escaped += hex[c >> 4];
            escaped += hex[c & 0xF];
        }
    }
    return QStringLiteral("%1=\"%2\"; %1*=utf-8''%3")
        .arg(name, plainText, QString::fromLatin1(escaped));
}

namespace {

// Files force a multipart body; otherwise GET and HEAD carry variables in the query string.
HttpBodyLayout chooseLayout(const HttpRequestParams& params) {
    if (!params.files.isEmpty())
        return HttpBodyLayout::Multipart;
    if (params.bodyLayout != HttpBodyLayout::NotSet)
        return params.bodyLayout;
    return (params.method == QLatin1String("GET") || params.method == QLatin1String("HEAD"))
               ? HttpBodyLayout::QueryString
               : HttpBodyLayout::UrlEncoded;
}

QByteArray urlEncodedVars(const QMap<QString, QString>& vars) {
    QByteArray encoded;
    for (auto it = vars.cbegin(); it != vars.cend(); ++it) {
        if (it != vars.cbegin())
            encoded += '&';
        encoded += HttpRequestWorker::percentEncode(it.key()) + '=' +
                   HttpRequestWorker::percentEncode(it.value());
    }
    return encoded;
}

// One file part, or nothing when the file is left out (no field name, not a readable file).
QByteArray filePart(const QByteArray& boundary, const HttpUploadFile& f) {
    if (f.localPath.isEmpty() || f.fieldName.isEmpty())
        return QByteArray();
    const QFileInfo info(f.localPath);
    if (!info.exists() || !info.isFile() || !info.isReadable())
        return QByteArray();
    QFile file(f.localPath);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QString sent = f.sentName;
    if (sent.isEmpty())
        sent = info.fileName();
    if (sent.isEmpty())
        sent = QStringLiteral("file");
    QByteArray part = "--" + boundary + "\r\n";
    part += QStringLiteral("Content-Disposition: form-data; %1; %2")
                .arg(HttpRequestWorker::encodeAttribute(QStringLiteral("name"), f.fieldName),
                     HttpRequestWorker::encodeAttribute(QStringLiteral("filename"), sent))
                .toLatin1() +
            "\r\n";
    if (!f.mimeType.isEmpty())
        part += "Content-Type: " + f.mimeType.toLatin1() + "\r\n";
    part += "Content-Transfer-Encoding: binary\r\n\r\n";
    part += file.readAll() + "\r\n";
    return part;
}

QByteArray multipartBody(const QString& boundary, const HttpRequestParams& params) {
    const QByteArray b = boundary.toLatin1();
    QByteArray body;
    for (auto it = params.vars.cbegin(); it != params.vars.cend(); ++it) {
        body += "--" + b + "\r\n";
        body += "Content-Disposition: form-data; " +
                HttpRequestWorker::encodeAttribute(QStringLiteral("name"), it.key()).toLatin1() +
                "\r\n";
        body += "Content-Type: text/plain\r\n\r\n";
        body += it.value().toUtf8() + "\r\n";
    }
    for (const HttpUploadFile& f : params.files)
        body += filePart(b, f);
    body += "--" + b + "--";
    return body;
}

} // namespace

void HttpRequestWorker::send(const HttpRequestParams& params) {
    m_result = platform::ResultOf<QByteArray>();

    const HttpBodyLayout layout = chooseLayout(params);
    QString url = params.url;
    QByteArray body;
    QString contentType;
    switch (layout) {
    case HttpBodyLayout::QueryString:
        if (!params.vars.isEmpty())
            url += QLatin1Char('?') + QString::fromLatin1(urlEncodedVars(params.vars));
        break;
    case HttpBodyLayout::UrlEncoded:
        body = urlEncodedVars(params.vars);
        contentType = QStringLiteral("application/x-www-form-urlencoded");
        break;
    case HttpBodyLayout::Multipart:
    case HttpBodyLayout::NotSet: {
        const QString boundary = makeBoundary();
        body = multipartBody(boundary, params);
        contentType = QStringLiteral("multipart/form-data; boundary=") + boundary;
        break;
    }
    }

    HttpExchange::Request request;
    request.url = QUrl(url);
    request.method = params.method.toLatin1();
    request.headers.append(qMakePair(QByteArray("User-Agent"), QByteArray("Agent name goes here")));
    if (!contentType.isEmpty())
        request.headers.append(qMakePair(QByteArray("Content-Type"), contentType.toLatin1()));
    request.body = body;
    delete m_exchange;
    m_exchange = new HttpExchange(request, m_limits, this);
    connect(m_exchange, &HttpExchange::finished, this, &HttpRequestWorker::on_exchange_finished);
}

QString HttpRequestWorker::errorLine() const {
    return QStringLiteral("Error: %1 %2")
        .arg(QString::fromStdString(m_result.text), QString::fromUtf8(m_result.value));
}

void HttpRequestWorker::on_exchange_finished() {
    HttpExchange* exchange = m_exchange;
    if (exchange->error() != QNetworkReply::NoError)
        m_result = platform::ResultOf<QByteArray>::failure(static_cast<uint32_t>(exchange->error()),
                                                           exchange->errorString().toStdString());
    else
        m_result = platform::ResultOf<QByteArray>::success(exchange->readAll());
    m_exchange = nullptr;
    exchange->deleteLater();
    emit on_execution_finished(this);
}
