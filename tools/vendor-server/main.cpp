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
    parser.addOptions({dataOpt, portOpt, hostOpt, cutOpt, cutCountOpt, ignoreRangeOpt, verboseOpt});
    parser.process(app);

    VendorServer::Options options;
    options.dataFolder = QDir(parser.value(dataOpt)).absolutePath();
    if (parser.isSet(cutOpt))
        options.cutAfter = parser.value(cutOpt).toLongLong();
    options.cutCount = parser.value(cutCountOpt).toInt();
    options.ignoreRange = parser.isSet(ignoreRangeOpt);
    options.verbose = parser.isSet(verboseOpt);

    VendorServer server(options);
    const std::string host = parser.value(hostOpt).toStdString();
    const int port = server.bind(host, parser.value(portOpt).toInt());
    if (port < 0) {
        std::fprintf(stderr, "vendor-server: cannot listen on %s:%s\n", host.c_str(),
                     qPrintable(parser.value(portOpt)));
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::printf("listening on http://%s:%d\n", host.c_str(), port);
    std::fflush(stdout);
    return server.listen() ? 0 : 1;
}
