#include "vendorserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {
// Stopping politely would wait for idle keep-alive connections; stored files are written whole
// (save, then rename), so leaving at once loses nothing.
void onSignal(int) {
    std::_Exit(0);
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Reference vendor API server"));
    parser.addHelpOption();
    QCommandLineOption dataOpt(QStringLiteral("data"), QStringLiteral("Data folder."),
                               QStringLiteral("folder"), QStringLiteral("."));
    QCommandLineOption portOpt(QStringLiteral("port"), QStringLiteral("Port (0: any free port)."),
                               QStringLiteral("port"), QStringLiteral("18080"));
    QCommandLineOption hostOpt(QStringLiteral("host"), QStringLiteral("Address to listen on."),
                               QStringLiteral("host"), QStringLiteral("127.0.0.1"));
    QCommandLineOption cutOpt(QStringLiteral("cut-after"),
                              QStringLiteral("Drop file transfers after this many bytes."),
                              QStringLiteral("bytes"));
    QCommandLineOption cutCountOpt(QStringLiteral("cut-count"),
                                   QStringLiteral("How many transfers to drop (default 1)."),
                                   QStringLiteral("n"), QStringLiteral("1"));
    QCommandLineOption ignoreRangeOpt(
        QStringLiteral("ignore-range"),
        QStringLiteral("Answer every file request with 200 and the whole file."));
    QCommandLineOption verboseOpt(QStringLiteral("verbose"), QStringLiteral("Log requests."));
    QCommandLineOption misbehaveOpt(
        QStringLiteral("misbehave"),
        QStringLiteral("Misbehave for tests: huge:BYTES, headers:COUNT, hang, trickle:MS, "
                       "short206:BYTES."),
        QStringLiteral("mode"));
    QCommandLineOption onOpt(QStringLiteral("on"),
                             QStringLiteral("Misbehave only on paths starting with this."),
                             QStringLiteral("prefix"));
    QCommandLineOption certOpt(QStringLiteral("tls-cert"),
                               QStringLiteral("Serve HTTPS with this certificate (PEM)."),
                               QStringLiteral("file"));
    QCommandLineOption keyOpt(QStringLiteral("tls-key"),
                              QStringLiteral("The certificate's private key (PEM)."),
                              QStringLiteral("file"));
    parser.addOptions({dataOpt, portOpt, hostOpt, cutOpt, cutCountOpt, ignoreRangeOpt, verboseOpt,
                       misbehaveOpt, onOpt, certOpt, keyOpt});
    parser.process(app);

    VendorServer::Options options;
    options.dataFolder = QDir(parser.value(dataOpt)).absolutePath();
    if (parser.isSet(cutOpt))
        options.cutAfter = parser.value(cutOpt).toLongLong();
    options.cutCount = parser.value(cutCountOpt).toInt();
    options.ignoreRange = parser.isSet(ignoreRangeOpt);
    options.verbose = parser.isSet(verboseOpt);
    const QString misbehave = parser.value(misbehaveOpt);
    options.misbehave = misbehave.section(QLatin1Char(':'), 0, 0);
    options.misbehaveArg = misbehave.section(QLatin1Char(':'), 1).toLongLong();
    options.misbehaveOn = parser.value(onOpt);
    const QStringList modes{QStringLiteral("huge"), QStringLiteral("headers"),
                            QStringLiteral("hang"), QStringLiteral("trickle"),
                            QStringLiteral("short206")};
    if (!options.misbehave.isEmpty() && !modes.contains(options.misbehave)) {
        std::fprintf(stderr, "vendor-server: unknown --misbehave %s\n", qPrintable(misbehave));
        return 1;
    }
    options.tlsCertificate = parser.value(certOpt);
    options.tlsKey = parser.value(keyOpt);

    VendorServer server(options);
    if (!server.valid()) {
        std::fprintf(stderr, "vendor-server: cannot use the TLS certificate or key\n");
        return 1;
    }
    const std::string host = parser.value(hostOpt).toStdString();
    const int port = server.bind(host, parser.value(portOpt).toInt());
    if (port < 0) {
        std::fprintf(stderr, "vendor-server: cannot listen on %s:%s\n", host.c_str(),
                     qPrintable(parser.value(portOpt)));
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::printf("listening on %s://%s:%d\n", qPrintable(server.scheme()), host.c_str(), port);
    std::fflush(stdout);
    return server.listen() ? 0 : 1;
}
