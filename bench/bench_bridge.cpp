// Requests per second through the request parser and the dispatcher, answer included; and the
// native half of a page round trip (web channel message in, answer message out) through the
// page's router, next to a bare channel object that echoes (BM_channelEcho, the floor).
#include "app/dispatcher.h"
#include "browser/pagerouter.h"
#include "buildpaths.h"
#include "config/confcommands.h"
#include "config/configstore.h"
#include "countingcallback.h"
#include "recordingcallback.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QWebChannel>
#include <QWebChannelAbstractTransport>

#include <benchmark/benchmark.h>

namespace {

struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<ConfigStore> store;
    std::unique_ptr<ConfCommands> conf;
    Dispatcher dispatcher;

    Fixture() {
        QDir().mkpath(dir.path() + "/Resources/profiles");
        QFile::copy(buildpaths::resolve(TAVIX_DATA_DIR "/Resources/profiles/conf.xml"),
                    dir.path() + "/Resources/profiles/conf.xml");
        store = std::make_unique<ConfigStore>(dir.path());
        store->load();
        conf = std::make_unique<ConfCommands>(*store, nullptr);
        dispatcher.context().conf = conf.get();
    }
};

void run(benchmark::State& state, const QString& request) {
    Fixture f;
    auto cb = std::make_shared<CountingCallback>();
    for (auto _ : state)
        f.dispatcher.onJsMessage(request, cb);
    state.SetItemsProcessed(state.iterations());
    state.counters["answer_chars"] =
        benchmark::Counter(static_cast<double>(cb->chars), benchmark::Counter::kAvgIterations);
}

void BM_getConf(benchmark::State& state) {
    run(state, QStringLiteral("{\"funcname\":\"getConf\"}"));
}
void BM_unknownName(benchmark::State& state) {
    run(state, QStringLiteral("{\"funcname\":\"noSuchCommand\"}"));
}
void BM_malformed(benchmark::State& state) {
    run(state, QStringLiteral("{\"funcname\":"));
}

// Stands in for the page's end of the channel: keeps count of what the native side sends.
class Sink : public QWebChannelAbstractTransport {
public:
    void sendMessage(const QJsonObject&) override { ++sent; }
    long long sent = 0;
};

class Echo : public QObject {
    Q_OBJECT
public slots:
    void query(int id, const QString& request) { emit answered(id, request); }
signals:
    void answered(int id, const QString& text);
};

// Drives `object` through a web channel as the page's script does: the handshake, the answer
// signal connected, then one invoke of `query` with `args` per iteration.
void channelRound(benchmark::State& state, QObject* object, const char* signal,
                  const QJsonArray& args) {
    QWebChannel channel;
    Sink sink;
    channel.registerObject(QStringLiteral("o"), object);
    channel.connectTo(&sink);
    const QMetaObject* meta = object->metaObject();
    const auto send = [&](const QJsonObject& message) {
        emit sink.messageReceived(message, &sink);
    };
    send({{"type", 3}, {"id", 0}}); // init
    send({{"type", 7}, {"object", "o"}, {"signal", meta->indexOfSignal(signal)}});
    const int method =
        meta->indexOfMethod(args.size() == 3 ? "query(QString,int,QString)" : "query(int,QString)");
    QJsonArray call = args;
    int id = 1;
    const long long before = sink.sent;
    for (auto _ : state) {
        call[args.size() - 2] = ++id;
        send({{"type", 6}, {"object", "o"}, {"method", method}, {"args", call}, {"id", id}});
    }
    // An answer and the invoke's response per round.
    if (sink.sent - before != 2 * state.iterations())
        state.SkipWithError("not every round was answered");
    state.SetItemsProcessed(state.iterations());
}

void BM_channelPage(benchmark::State& state) {
    Fixture f;
    PageRouter router;
    // The page's router in front of the command table, as the client handler puts it.
    router.setRequestHandler(&f.dispatcher);
    router.attach(QStringLiteral("k2x9f-0abc123xyz"));
    channelRound(state, &router, "answered(int,bool,int,QString)",
                 {"k2x9f-0abc123xyz", 0, "{\"funcname\":\"getConf\"}"});
}

void BM_channelEcho(benchmark::State& state) {
    Echo echo;
    channelRound(state, &echo, "answered(int,QString)", {0, "{\"funcname\":\"getConf\"}"});
}

BENCHMARK(BM_getConf);
BENCHMARK(BM_unknownName);
BENCHMARK(BM_malformed);
BENCHMARK(BM_channelEcho);
BENCHMARK(BM_channelPage);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#include "bench_bridge.moc"
