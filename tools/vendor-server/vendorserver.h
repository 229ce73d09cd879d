#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

// The reference vendor API server: the five API paths and ranged file downloads, answered
// from a data folder (see README.md).
class VendorServer {
public:
    struct Options {
        QString dataFolder;
        // Cut the first `cutCount` file transfers after `cutAfter` body bytes (negative: never).
        qint64 cutAfter = -1;
        int cutCount = 1;
        // Answer every file request with the whole file and status 200.
        bool ignoreRange = false;
        bool verbose = false;
        // A server gone wrong, for tests, on the requests whose path starts with `misbehaveOn`
        // (all when empty): "huge" (a body of `misbehaveArg` bytes), "headers" (that many extra
        // header fields), "hang" (never an answer), "trickle" (one body byte every that many
        // milliseconds, without end), "short206" (a ranged file request answered with only that
        // many bytes, its Content-Range saying so).
        QString misbehave;
        qint64 misbehaveArg = 0;
        QString misbehaveOn;
        // Serve HTTPS with this certificate and key (PEM files).
        QString tlsCertificate;
        QString tlsKey;
    };

    explicit VendorServer(const Options& options);
    ~VendorServer();

    // Binds to host:port (0: any free port) and returns the port, or -1.
    int bind(const std::string& host, int port);
    // Serves until stop().
    bool listen();
    void stop();
    // False when the TLS certificate or key could not be read.
    bool valid() const;
    // "http" or "https".
    QString scheme() const;

private:
    void handleUpgrade(const httplib::Request& req, httplib::Response& res);
    void handleGetInfo(const httplib::Request& req, httplib::Response& res);
    void handleSyncCheck(const httplib::Request& req, httplib::Response& res);
    void handleSyncUpload(const httplib::Request& req, httplib::Response& res,
                          const std::string& contentType, const std::string& body);
    // Form fields by name; tolerant of a closing delimiter without a line break.
    static QMap<QString, QByteArray> parseMultipart(const std::string& contentType,
                                                    const std::string& body);
    void handleSyncDown(const httplib::Request& req, httplib::Response& res);
    void serveFile(const httplib::Request& req, httplib::Response& res, const QString& path);

    // Answers a request the way the options say the server misbehaves; false for none.
    bool misbehave(const httplib::Request& req, httplib::Response& res);

    QJsonObject catalog() const;
    QString fileUrl(const httplib::Request& req, const QString& name) const;
    QString syncFolder(const QString& deviceId) const;

    Options m_options;
    std::unique_ptr<httplib::Server> m_server;
    std::mutex m_syncMutex;
    std::atomic<int> m_cutsLeft{0};
    std::atomic<bool> m_stopping{false};
    QString m_scheme = QStringLiteral("http");
};
