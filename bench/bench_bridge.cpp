// Requests per second through the request parser and the dispatcher, answer included.
#include "app/dispatcher.h"
#include "config/confcommands.h"
#include "config/configstore.h"
#include "countingcallback.h"
#include "recordingcallback.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

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

BENCHMARK(BM_getConf);
BENCHMARK(BM_unknownName);
BENCHMARK(BM_malformed);

} // namespace

BENCHMARK_MAIN();
