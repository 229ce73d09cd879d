#include "vendorserver.h"

#include <httplib.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QSaveFile>
#include <QVector>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

namespace {

void sendJson(httplib::Response& res, const QJsonObject& o) {
    res.status = 200;
    res.set_content(QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString(),
                    "application/json; charset=utf-8");
}

QJsonObject codeOnly(int code, const QString& msg) {
    return QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("msg"), msg}};
}

QString param(const httplib::Request& req, const char* name) {
    if (req.has_param(name))
        return QString::fromStdString(req.get_param_value(name));
    if (req.has_file(name))
        return QString::fromStdString(req.get_file_value(name).content);
    return QString();
}

// Dot-separated numbers, compared piece by piece; missing pieces count as 0.
int compareVersions(const QString& a, const QString& b) {
    const QStringList pa = a.split(QLatin1Char('.')), pb = b.split(QLatin1Char('.'));
    for (int i = 0; i < qMax(pa.size(), pb.size()); ++i) {
        const qlonglong x = i < pa.size() ? pa.at(i).toLongLong() : 0;
        const qlonglong y = i < pb.size() ? pb.at(i).toLongLong() : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

// A relative path that stays inside the folder it names.
bool safeRelative(const QString& name) {
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
        name.contains(QLatin1Char(':')))
        return false;
    for (const QString& part : name.split(QLatin1Char('/')))
        if (part == QLatin1String(".."))
            return false;
    return true;
}

qint64 parseRangeStart(const std::string& header, bool* valid) {
    // Only the form the downloaders send: "bytes=N-".
    *valid = false;
    const std::string prefix = "bytes=";
    if (header.compare(0, prefix.size(), prefix) != 0 || header.back() != '-')
        return 0;
    const std::string number = header.substr(prefix.size(), header.size() - prefix.size() - 1);
    if (number.empty() || number.size() > 18 ||
        number.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    *valid = true;
    return std::stoll(number);
}

} // namespace

VendorServer::VendorServer(const Options& options) : m_options(options) {
    if (!options.tlsCertificate.isEmpty()) {
        m_server = std::make_unique<httplib::SSLServer>(options.tlsCertificate.toUtf8().constData(),
                                                        options.tlsKey.toUtf8().constData());
        m_scheme = QStringLiteral("https");
    } else {
        m_server = std::make_unique<httplib::Server>();
    }
    m_cutsLeft = options.cutAfter >= 0 ? options.cutCount : 0;
    m_server->set_payload_max_length(64 * 1024 * 1024);
    m_server->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        return misbehave(req, res) ? httplib::Server::HandlerResponse::Handled
                                   : httplib::Server::HandlerResponse::Unhandled;
    });
    auto wrap = [this](void (VendorServer::*h)(const httplib::Request&, httplib::Response&)) {
        return [this, h](const httplib::Request& req, httplib::Response& res) {
            if (m_options.verbose)
                std::fprintf(stderr, "%s %s\n", req.method.c_str(), req.target.c_str());
            (this->*h)(req, res);
        };
    };
    m_server->Get("/api/system/upgrade", wrap(&VendorServer::handleUpgrade));
    m_server->Get("/api/system/product/getInfo", wrap(&VendorServer::handleGetInfo));
    m_server->Get("/api/system/Sync", wrap(&VendorServer::handleSyncCheck));
    // The body is read raw: clients end the multipart body with the closing delimiter and no
    // line break, which the library's own form parser refuses.
    m_server->Post("/api/system/Sync/upload",
                   [this](const httplib::Request& req, httplib::Response& res,
                          const httplib::ContentReader& reader) {
                       if (m_options.verbose)
                           std::fprintf(stderr, "%s %s\n", req.method.c_str(), req.target.c_str());
                       // Reading it raw means the library must not see a form; the type is parsed
                       // here.
                       const std::string contentType = req.get_header_value("Content-Type");
                       auto& headers = const_cast<httplib::Request&>(req).headers;
                       headers.erase("Content-Type");
                       headers.emplace("Content-Type", "application/octet-stream");
                       std::string body;
                       reader([&body](const char* data, size_t length) {
                           body.append(data, length);
                           return true;
                       });
                       handleSyncUpload(req, res, contentType, body);
                   });
    m_server->Get("/api/system/sync/down", wrap(&VendorServer::handleSyncDown));
    m_server->Get(R"(/files/(.+))", [this](const httplib::Request& req, httplib::Response& res) {
        if (m_options.verbose)
            std::fprintf(stderr, "%s %s\n", req.method.c_str(), req.target.c_str());
        const QString name = QString::fromStdString(req.matches[1].str());
        if (!safeRelative(name)) {
            res.status = 404;
            return;
        }
        serveFile(req, res, m_options.dataFolder + QStringLiteral("/files/") + name);
    });
    m_server->Get(R"(/syncfiles/([0-9a-f]{40})/synchronize\.dat)",
                  [this](const httplib::Request& req, httplib::Response& res) {
                      const QString folder = m_options.dataFolder + QStringLiteral("/sync/") +
                                             QString::fromStdString(req.matches[1].str());
                      serveFile(req, res, folder + QStringLiteral("/synchronize.dat"));
                  });
}

VendorServer::~VendorServer() = default;

int VendorServer::bind(const std::string& host, int port) {
    if (port == 0)
        return m_server->bind_to_any_port(host);
    return m_server->bind_to_port(host, port) ? port : -1;
}

bool VendorServer::listen() {
    return m_server->listen_after_bind();
}

void VendorServer::stop() {
    m_stopping = true;
    m_server->stop();
}

bool VendorServer::valid() const {
    return m_server->is_valid();
}

QString VendorServer::scheme() const {
    return m_scheme;
}

bool VendorServer::misbehave(const httplib::Request& req, httplib::Response& res) {
    const QString mode = m_options.misbehave;
    if (mode.isEmpty() || mode == QLatin1String("short206") ||
        !QString::fromStdString(req.path).startsWith(m_options.misbehaveOn))
        return false;
    if (m_options.verbose)
        std::fprintf(stderr, "%s %s (%s)\n", req.method.c_str(), req.target.c_str(),
                     qPrintable(mode));
    const qint64 arg = m_options.misbehaveArg;
    if (mode == QLatin1String("hang")) {
        while (!m_stopping)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return true;
    }
    res.status = 200;
    if (mode == QLatin1String("headers")) {
        for (qint64 i = 0; i < arg; ++i)
            res.headers.emplace("X-Filler-" + std::to_string(i), std::to_string(i));
        res.set_content("{\"code\":1}", "application/json");
    } else if (mode == QLatin1String("huge")) {
        res.set_content_provider(static_cast<size_t>(arg), "application/json",
                                 [](size_t, size_t want, httplib::DataSink& sink) {
                                     const std::string block(qMin<size_t>(want, 64 * 1024), ' ');
                                     return sink.write(block.data(), block.size());
                                 });
    } else if (mode == QLatin1String("trickle")) {
        res.set_chunked_content_provider(
            "application/json", [this, arg](size_t, httplib::DataSink& sink) {
                std::this_thread::sleep_for(std::chrono::milliseconds(qMax<qint64>(1, arg)));
                return !m_stopping && sink.write(" ", 1);
            });
    } else {
        return false;
    }
    return true;
}

QJsonObject VendorServer::catalog() const {
    QFile f(m_options.dataFolder + QStringLiteral("/catalog.json"));
    if (!f.open(QIODevice::ReadOnly))
        return QJsonObject();
    return QJsonDocument::fromJson(f.readAll()).object();
}

QString VendorServer::fileUrl(const httplib::Request& req, const QString& name) const {
    if (name.isEmpty() || name.startsWith(QLatin1String("http://")) ||
        name.startsWith(QLatin1String("https://")))
        return name;
    const QString host = QString::fromStdString(req.get_header_value("Host"));
    return m_scheme + QStringLiteral("://") + host + QStringLiteral("/files/") + name;
}

QString VendorServer::syncFolder(const QString& deviceId) const {
    // Hashed: a device id is not trusted as a folder name.
    const QByteArray key = QCryptographicHash::hash(deviceId.toUtf8(), QCryptographicHash::Sha1);
    return m_options.dataFolder + QStringLiteral("/sync/") + QString::fromLatin1(key.toHex());
}

void VendorServer::handleUpgrade(const httplib::Request& req, httplib::Response& res) {
    const QJsonObject upgrade = catalog().value(QStringLiteral("upgrade")).toObject();
    const QString deviceId = param(req, "deviceid");
    const QJsonObject entry = upgrade.contains(deviceId)
                                  ? upgrade.value(deviceId).toObject()
                                  : upgrade.value(QStringLiteral("*")).toObject();
    if (entry.isEmpty())
        return sendJson(res, codeOnly(1, QStringLiteral("no update")));
    const QString clientVersion = param(req, "version");
    const QString fwVersion = param(req, "fwversion");
    QStringList deployment;
    const bool newerClient =
        compareVersions(entry.value(QStringLiteral("version")).toString(), clientVersion) > 0;
    if (newerClient && !entry.value(QStringLiteral("clientPackage")).toString().isEmpty())
        deployment << QStringLiteral("client");
    if (newerClient && !entry.value(QStringLiteral("devicePackage")).toString().isEmpty())
        deployment << QStringLiteral("html");
    if (compareVersions(entry.value(QStringLiteral("firmwareVersion")).toString(), fwVersion) > 0 &&
        !entry.value(QStringLiteral("firmwarePackage")).toString().isEmpty())
        deployment << QStringLiteral("firmware");
    if (deployment.isEmpty())
        return sendJson(res, codeOnly(1, QStringLiteral("no update")));
    QJsonObject ret;
    ret.insert(QStringLiteral("type"),
               entry.value(QStringLiteral("type")).toString(QStringLiteral("0")));
    ret.insert(QStringLiteral("version"), entry.value(QStringLiteral("version")).toString());
    ret.insert(QStringLiteral("deployment"), deployment.join(QLatin1Char(',')));
    for (const char* key : {"clientPackage", "devicePackage", "firmwarePackage"}) {
        const QString k = QString::fromLatin1(key);
        ret.insert(k, fileUrl(req, entry.value(k).toString()));
    }
    sendJson(res, QJsonObject{{QStringLiteral("code"), 0}, {QStringLiteral("ret"), ret}});
}

void VendorServer::handleGetInfo(const httplib::Request& req, httplib::Response& res) {
    const QJsonObject products = catalog().value(QStringLiteral("products")).toObject();
    const QString fw = param(req, "fwversion");
    const QJsonObject p = products.contains(fw) ? products.value(fw).toObject()
                                                : products.value(QStringLiteral("*")).toObject();
    if (p.isEmpty())
        return sendJson(res, codeOnly(1, QStringLiteral("unknown product")));
    QJsonObject ret;
    for (const char* key : {"productType", "productNO", "productName"})
        ret.insert(QString::fromLatin1(key), p.value(QString::fromLatin1(key)).toString());
    ret.insert(QStringLiteral("productPhotos"), p.value(QStringLiteral("productPhotos")));
    ret.insert(QStringLiteral("clientDevice"),
               fileUrl(req, p.value(QStringLiteral("clientDevice")).toString()));
    sendJson(res, QJsonObject{{QStringLiteral("code"), 0}, {QStringLiteral("ret"), ret}});
}

namespace {

struct Stored {
    bool present = false;
    QString md5;
    qlonglong revision = 0;
};

Stored readStored(const QString& folder) {
    Stored s;
    QFile f(folder + QStringLiteral("/synchronize.dat"));
    if (!f.open(QIODevice::ReadOnly))
        return s;
    s.present = true;
    s.md5 =
        QString::fromLatin1(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Md5).toHex());
    QFile r(folder + QStringLiteral("/revision"));
    if (r.open(QIODevice::ReadOnly))
        s.revision = r.readAll().trimmed().toLongLong();
    return s;
}

} // namespace

void VendorServer::handleSyncCheck(const httplib::Request& req, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(m_syncMutex);
    const Stored s = readStored(syncFolder(param(req, "deviceid")));
    const QString md5 = param(req, "md5").toLower();
    const qlonglong revision = param(req, "revision").toLongLong();
    const QJsonObject ret{{QStringLiteral("revision"), QString::number(s.revision)}};
    // 0: the same content; 1: the server holds a newer revision; 2: the client's copy wins.
    if (s.present && s.md5 == md5)
        return sendJson(res,
                        QJsonObject{{QStringLiteral("code"), 0}, {QStringLiteral("ret"), ret}});
    if (s.present && revision < s.revision)
        return sendJson(res,
                        QJsonObject{{QStringLiteral("code"), 1}, {QStringLiteral("ret"), ret}});
    sendJson(res, QJsonObject{{QStringLiteral("code"), 2}, {QStringLiteral("ret"), ret}});
}

QMap<QString, QByteArray> VendorServer::parseMultipart(const std::string& contentType,
                                                       const std::string& body) {
    QMap<QString, QByteArray> parts;
    const QByteArray type = QByteArray::fromStdString(contentType);
    const int at = type.indexOf("boundary=");
    if (!type.startsWith("multipart/form-data") || at < 0)
        return parts;
    QByteArray boundary = type.mid(at + 9).trimmed();
    if (boundary.startsWith('"') && boundary.endsWith('"') && boundary.size() >= 2)
        boundary = boundary.mid(1, boundary.size() - 2);
    const QByteArray delimiter = "--" + boundary;
    const QByteArray data = QByteArray::fromStdString(body);
    int pos = data.indexOf(delimiter);
    while (pos >= 0) {
        pos += delimiter.size();
        if (data.mid(pos, 2) == "--")
            break; // closing delimiter, with or without a line break after it
        const int headersStart = pos + 2; // past CRLF
        const int headersEnd = data.indexOf("\r\n\r\n", headersStart);
        if (headersEnd < 0)
            break;
        const int next = data.indexOf("\r\n" + delimiter, headersEnd + 4);
        if (next < 0)
            break;
        const QByteArray headers = data.mid(headersStart, headersEnd - headersStart);
        const QByteArray content = data.mid(headersEnd + 4, next - (headersEnd + 4));
        const int nameAt = headers.indexOf("name=\"");
        if (nameAt >= 0) {
            const int nameEnd = headers.indexOf('"', nameAt + 6);
            if (nameEnd > nameAt)
                parts.insert(QString::fromUtf8(headers.mid(nameAt + 6, nameEnd - nameAt - 6)),
                             content);
        }
        pos = next + 2;
    }
    return parts;
}

void VendorServer::handleSyncUpload(const httplib::Request& /*req*/, httplib::Response& res,
                                    const std::string& contentType, const std::string& body) {
    const QMap<QString, QByteArray> parts = parseMultipart(contentType, body);
    if (!parts.contains(QStringLiteral("file")) || !parts.contains(QStringLiteral("deviceid")))
        return sendJson(res, codeOnly(3, QStringLiteral("missing file or deviceid")));
    std::lock_guard<std::mutex> lock(m_syncMutex);
    const QString folder = syncFolder(QString::fromUtf8(parts.value(QStringLiteral("deviceid"))));
    const Stored s = readStored(folder);
    QDir().mkpath(folder);
    const QByteArray content = parts.value(QStringLiteral("file"));
    QSaveFile data(folder + QStringLiteral("/synchronize.dat"));
    QSaveFile rev(folder + QStringLiteral("/revision"));
    const qlonglong next = s.revision + 1;
    if (!data.open(QIODevice::WriteOnly) || data.write(content) < 0 || !data.commit() ||
        !rev.open(QIODevice::WriteOnly) || rev.write(QByteArray::number(next)) < 0 || !rev.commit())
        return sendJson(res, codeOnly(4, QStringLiteral("cannot store")));
    sendJson(res, QJsonObject{{QStringLiteral("code"), 0},
                              {QStringLiteral("ret"),
                               QJsonObject{{QStringLiteral("revision"), QString::number(next)}}}});
}

void VendorServer::handleSyncDown(const httplib::Request& req, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(m_syncMutex);
    const QString folder = syncFolder(param(req, "deviceid"));
    const Stored s = readStored(folder);
    if (!s.present)
        return sendJson(res, codeOnly(1, QStringLiteral("nothing stored")));
    const QString host = QString::fromStdString(req.get_header_value("Host"));
    const QString url = m_scheme + QStringLiteral("://") + host + QStringLiteral("/syncfiles/") +
                        QFileInfo(folder).fileName() + QStringLiteral("/synchronize.dat");
    sendJson(res, QJsonObject{{QStringLiteral("code"), 0},
                              {QStringLiteral("ret"), QJsonObject{{QStringLiteral("file"), url},
                                                                  {QStringLiteral("revision"),
                                                                   QString::number(s.revision)}}}});
}

void VendorServer::serveFile(const httplib::Request& req, httplib::Response& res,
                             const QString& path) {
    // The library would apply ranges on its own after the handler; ranges are served here
    // instead, so that the server can also be told to ignore them.
    const_cast<httplib::Request&>(req).ranges.clear();

    const QFileInfo info(path);
    if (!info.isFile()) {
        res.status = 404;
        res.set_content("not found", "text/plain");
        return;
    }
    const qint64 size = info.size();
    // The file's version: size and modification time in milliseconds, so that a file replaced
    // between two requests has another tag.
    const QDateTime modified = info.lastModified().toUTC();
    const std::string etag =
        "\"" + std::to_string(size) + "-" + std::to_string(modified.toMSecsSinceEpoch()) + "\"";
    const std::string lastModified =
        QLocale::c()
            .toString(modified, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
            .toStdString();
    res.set_header("ETag", etag);
    res.set_header("Last-Modified", lastModified);
    // With If-Range the range holds only while the file is the version the client names.
    const bool rangeValid = !req.has_header("If-Range") ||
                            req.get_header_value("If-Range") == etag ||
                            req.get_header_value("If-Range") == lastModified;
    qint64 from = 0;
    bool ranged = false;
    if (!m_options.ignoreRange && rangeValid && req.has_header("Range")) {
        bool valid = false;
        from = parseRangeStart(req.get_header_value("Range"), &valid);
        ranged = valid;
        if (!valid)
            from = 0;
    }
    if (ranged && from >= size) {
        res.status = 416;
        res.set_header("Content-Range", "bytes */" + std::to_string(size));
        return;
    }
    qint64 length = size - from;
    // Part of the range, honestly labelled: a client must not take it for the rest of the file.
    if (ranged && m_options.misbehave == QLatin1String("short206") &&
        QString::fromStdString(req.path).startsWith(m_options.misbehaveOn))
        length = qMin(length, qMax<qint64>(1, m_options.misbehaveArg));
    res.status = ranged ? 206 : 200;
    if (ranged)
        res.set_header("Content-Range", "bytes " + std::to_string(from) + "-" +
                                            std::to_string(from + length - 1) + "/" +
                                            std::to_string(size));
    res.set_header("Accept-Ranges", "bytes");

    qint64 cutAt = -1;
    if (m_options.cutAfter >= 0 && m_cutsLeft.fetch_sub(1) > 0)
        cutAt = m_options.cutAfter;

    auto file = std::make_shared<std::ifstream>(path.toStdString(), std::ios::binary);
    auto sent = std::make_shared<qint64>(0);
    res.set_content_provider(
        static_cast<size_t>(length), "application/octet-stream",
        [file, from, cutAt, sent](size_t offset, size_t want, httplib::DataSink& sink) {
            if (cutAt >= 0 && *sent >= cutAt)
                return false; // drop the connection mid-way
            qint64 chunk = static_cast<qint64>(qMin<size_t>(want, 64 * 1024));
            if (cutAt >= 0)
                chunk = qMin(chunk, cutAt - *sent);
            std::vector<char> buffer(static_cast<size_t>(chunk));
            file->seekg(from + static_cast<qint64>(offset));
            file->read(buffer.data(), chunk);
            const std::streamsize got = file->gcount();
            if (got <= 0)
                return false;
            *sent += got;
            return sink.write(buffer.data(), static_cast<size_t>(got));
        });
}
