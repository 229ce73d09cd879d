// Requests per second through the request parser and the dispatcher, answer included.
#include "bridge/dispatcher.h"
#include "config/confcommands.h"
#include "config/configstore.h"
#include "recordingcallback.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

class CountingCallback : public CefMessageRouterBrowserSide::Callback {
public:
    void Success(const QString& r) override { bytes += r.size(); }
    void Failure(int, const QString& m) override { bytes += m.size(); }
    long long bytes = 0;
};

struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<ConfigStore> store;
    std::unique_ptr<ConfCommands> conf;
    Dispatcher dispatcher;

    Fixture() {
        QDir().mkpath(dir.path() + "/Resources/profiles");
        QFile::copy(QStringLiteral(TAVIX_DATA_DIR "/Resources/profiles/conf.xml"),
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
        benchmark::Counter(static_cast<double>(cb->bytes), benchmark::Counter::kAvgIterations);
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

BENCHMARK(BM_getConf);
BENCHMARK(BM_unknownName);
BENCHMARK(BM_malformed);

} // namespace

BENCHMARK_MAIN();
