// Device commands per second through dispatchCommand against the emulated adapter, beside the
// library's own read and write entries called directly (the baseline: what the command path
// adds on top). Writes include the adapter saving the device's state durably.
#include "app/dispatcher.h"
#include "buildpaths.h"
#include "config/configstore.h"
#include "countingcallback.h"
#include "device/devicecommands.h"

#include <QDir>
#include <QFile>
#include <QLibrary>
#include <QStringList>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

const QString kId = QStringLiteral("HID\\Vid_04d9&Pid_a001");

struct Fixture {
    QTemporaryDir dir;
    ConfigStore store{dir.path()};
    std::unique_ptr<devices_handler> devices;
    std::unique_ptr<DeviceCommands> commands;
    Dispatcher dispatcher;

    Fixture() {
        QFile json(dir.path() + "/kx.json");
        json.open(QIODevice::WriteOnly);
        json.write(
            R"({"devices":[{"DeviceID":"04D9A001","SN":"B1","HardwareID":"HID\\Vid_04d9&Pid_a001",
                    "DevicePath":"p","VendorId":1241,"ProductId":40961,"MemorySize":65536}]})");
        json.close();
        QFile::copy(buildpaths::resolve(KX_LIBRARY_PATH), dir.path() + "/libkx.so");
        QDir().mkpath(dir.path() + "/Resources/profiles");
        QFile conf(dir.path() + "/Resources/profiles/conf.xml");
        conf.open(QIODevice::WriteOnly);
        conf.write("<root/>");
        conf.close();
        store.load();
        devices = std::make_unique<devices_handler>(nullptr, dir.path() + "/libkx.so");
        commands = std::make_unique<DeviceCommands>(*devices, store);
        dispatcher.context().device = commands.get();
    }
};

QString byteList(int n) {
    QStringList items;
    for (int i = 0; i < n; ++i)
        items << QStringLiteral("0x%1").arg(i & 0xFF, 2, 16, QLatin1Char('0'));
    return items.join(',');
}

void command(benchmark::State& state, const char* name, bool withData) {
    Fixture f;
    const int n = static_cast<int>(state.range(0));
    QVariantMap args{{"HardwareID", kId},
                     {"DevicePath", "p"},
                     {"PARAMADDRESS", "0x100"},
                     {"PARAMSIZE", QString::number(n)}};
    if (withData)
        args["PARAMDATA"] = byteList(n);
    auto cb = std::make_shared<CountingCallback>();
    for (auto _ : state)
        f.dispatcher.dispatchCommand(QLatin1String(name), args, cb);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * n);
    if (cb->failures)
        state.SkipWithError("the adapter refused a command");
}

void BM_readByAddr(benchmark::State& state) {
    command(state, "readByAddr", false);
}
void BM_writeByAddr(benchmark::State& state) {
    command(state, "writeByAddr", true);
}

void direct(benchmark::State& state, bool write) {
    Fixture f;
    // The entries of the copy the device manager loaded.
    QLibrary library(f.dir.path() + "/libkx.so");
    const auto kxRead = reinterpret_cast<decltype(&::kxRead)>(library.resolve("kxRead"));
    const auto kxWrite = reinterpret_cast<decltype(&::kxWrite)>(library.resolve("kxWrite"));
    if (!kxRead || !kxWrite) {
        state.SkipWithError("the library has no kxRead or kxWrite");
        return;
    }
    const int n = static_cast<int>(state.range(0));
    const std::u16string id = kId.toStdU16String(), sub;
    TransferBuffer buffer{};
    for (auto _ : state) {
        const int r = write ? kxWrite(reinterpret_cast<const kxchar*>(id.c_str()),
                                      reinterpret_cast<const kxchar*>(sub.c_str()), KX_KEY,
                                      buffer.data(), n, 0x100)
                            : kxRead(reinterpret_cast<const kxchar*>(id.c_str()),
                                     reinterpret_cast<const kxchar*>(sub.c_str()), KX_KEY,
                                     buffer.data(), n, 0x100);
        benchmark::DoNotOptimize(r);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * n);
}

void BM_kxRead_direct(benchmark::State& state) {
    direct(state, false);
}
void BM_kxWrite_direct(benchmark::State& state) {
    direct(state, true);
}

BENCHMARK(BM_kxRead_direct)->Arg(64)->Arg(2048);
BENCHMARK(BM_readByAddr)->Arg(64)->Arg(2048);
BENCHMARK(BM_kxWrite_direct)->Arg(64)->Arg(2048)->UseRealTime();
BENCHMARK(BM_writeByAddr)->Arg(64)->Arg(2048)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
