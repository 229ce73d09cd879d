// Input redirection. (1) The per-stroke decision of the capture filter, in ns per stroke,
// against a bare lookup of the same key in the same map, also with an application's section
// over the map. (2) The time from a stroke typed on a simulated keyboard to the first report of
// the virtual device decoded on the HID bus, against a stroke of an unmapped key given back to
// the system (the pass-through floor): both cross the filter driver and the capture loop; the
// mapped one also the GUI thread's queue, a new task thread and the virtual device; a remapped
// key goes from the capture loop to the virtual device directly. (3) What asking for the
// application in front adds to a press when the map has sections: one question to the X
// server (skipped without a display).
#include "input/redirection.h"
#include "input/strokedecision.h"
#include "input/virtualdeviceclient.h"
#include "platform/sim/filterdriver.h"
#include "platform/sim/hidbus.h"
#include "platform/windows.h"
#include "weblog/weblog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <vector>

#include <benchmark/benchmark.h>

#include "spread.h"

namespace {

namespace drv = platform::devio::sim;
namespace hid = platform::hid::sim;
using Clock = std::chrono::steady_clock;

KeyAction action(int playType, const QStringList& pairs) {
    KeyAction a;
    a.playType = playType;
    a.playCount = 1;
    for (int i = 0; i + 1 < pairs.size(); i += 2)
        a.commands << CommandItem(pairs.at(i), pairs.at(i + 1));
    return a;
}

// A full keyboard's worth of entries, as a generous key map file would have.
KeyMap bigMap() {
    KeyMap map;
    for (uint16_t code = 1; code < 0x60; ++code)
        map.insert({code, 0}, action(0, {"down", "04", "up", ""}));
    for (uint16_t code : {0x1c, 0x1d, 0x35, 0x38, 0x47, 0x48, 0x49, 0x4b, 0x4d, 0x4f, 0x50})
        map.insert({code, 1}, action(0, {"down", "05", "up", ""}));
    map.insert({0x0004, KeyMapKey::kMouseFlag}, action(1, {"mouseDown", "2", "mouseUp", ""}));
    return map;
}

void BM_BareLookup(benchmark::State& state) {
    const KeyMap map = bigMap();
    const KeyMapKey key{0x3a, 0};
    for (auto _ : state) {
        auto it = map.constFind(key);
        benchmark::DoNotOptimize(it);
    }
    state.SetItemsProcessed(state.iterations());
}

// A mapped key, press and release alternating: the path of every captured stroke.
void BM_DecideMappedStroke(benchmark::State& state) {
    const KeyMap map = bigMap();
    FilterState filter;
    bool up = false;
    for (auto _ : state) {
        StrokeDecision d = decideKeyStroke(map, filter, 0x3a, up ? 0x01 : 0x00);
        benchmark::DoNotOptimize(d);
        up = !up;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_DecideUnmappedStroke(benchmark::State& state) {
    const KeyMap map = bigMap();
    FilterState filter;
    for (auto _ : state) {
        StrokeDecision d = decideKeyStroke(map, filter, 0x70, 0x00);
        benchmark::DoNotOptimize(d);
    }
    state.SetItemsProcessed(state.iterations());
}

// What the loop does per stroke besides the driver: choose the map for the hardware id, take
// the stroke's copy of it, decide.
void BM_ChooseCopyAndDecide(benchmark::State& state) {
    QList<DeviceKeyMap> devices;
    for (int i = 0; i < 4; ++i)
        devices << DeviceKeyMap{QStringLiteral("VID_1234&PID_000%1").arg(i), bigMap(), {}};
    const DeviceKeyMap fallback{QString(), bigMap(), {}};
    const QStringList connected = {QStringLiteral("04D9A0F1")};
    const QString id = QStringLiteral("HID\\VID_0E0F&PID_0003&MI_00");
    FilterState filter;
    bool up = false;
    for (auto _ : state) {
        const DeviceKeyMap chosen = chooseDeviceMap(id, devices, fallback, connected);
        StrokeDecision d = decideKeyStroke(chosen.map, filter, 0x3a, up ? 0x01 : 0x00);
        benchmark::DoNotOptimize(d);
        up = !up;
    }
    state.SetItemsProcessed(state.iterations());
}

// The same, for a device whose map has a section for the application in front.
void BM_DecideWithSection(benchmark::State& state) {
    DeviceKeyMap device{QString(), bigMap(), {}};
    for (int i = 0; i < 8; ++i)
        device.apps << AppKeyMap{QStringLiteral("app%1").arg(i), bigMap()};
    const QString front = QStringLiteral("app7");
    FilterState filter;
    bool up = false;
    for (auto _ : state) {
        const KeyMap* over = up ? nullptr : appSection(device, front);
        StrokeDecision d =
            decideKeyStroke(KeyLookup(device.map, over), filter, 0x3a, up ? 0x01 : 0x00);
        benchmark::DoNotOptimize(d);
        up = !up;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ForegroundQuery(benchmark::State& state) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        state.SkipWithError("no X display");
        return;
    }
    for (auto _ : state) {
        const auto front = platform::windows::foregroundProcessName();
        benchmark::DoNotOptimize(front);
    }
    state.SetItemsProcessed(state.iterations());
}

struct Rig {
    VirtualDeviceClient client{VirtualDeviceClient::Printer{}};
    InputRedirection* mode = nullptr;
    bool ok = false;

    Rig() {
        hid::configure(hid::Options{});
        drv::configure(drv::defaultOptions());
        if (!client.openVirtualDevice())
            return;
        mode = new InputRedirection(&client);
        KeyMaps maps;
        maps.defaultMap.insert({0x3a, 0}, action(0, {"down", "04", "up", ""}));
        KeyAction remapped;
        remapped.remap = {RemapTarget::Key, 0x05};
        maps.defaultMap.insert({0x3b, 0}, remapped);
        mode->setKeyMaps(maps);
        mode->switchOn();
        QElapsedTimer waited;
        waited.start();
        while (drv::slotStates().back().mask != 0x03FC && waited.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ok = drv::slotStates().back().mask == 0x03FC;
    }
    ~Rig() { delete mode; }
};

Rig& rig() {
    static Rig* r = new Rig; // torn down with the process
    return *r;
}

std::atomic<int64_t> g_reportAt{0};
std::atomic<int64_t> g_systemAt{0};

int64_t now() {
    return Clock::now().time_since_epoch().count();
}

double seconds(int64_t ticks) {
    return double(ticks) * Clock::period::num / Clock::period::den;
}

void onSystem(const drv::Stroke&, void*) {
    int64_t expected = 0;
    g_systemAt.compare_exchange_strong(expected, now());
}

// Waits (running this thread's events, which start the tasks) until `flag` was set.
bool waitFor(const std::atomic<int64_t>& flag) {
    QElapsedTimer waited;
    waited.start();
    while (flag.load() == 0) {
        if (waited.elapsed() > 5000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return true;
}

// `scan` pressed until the virtual keyboard reports, released outside the measured time.
void strokeToFirstReport(benchmark::State& state, uint16_t scan) {
    if (!rig().ok) {
        state.SkipWithError("no virtual device or no capture");
        return;
    }
    const int observer = hid::addInputObserver([](const hid::InputEvent& e) {
        int64_t expected = 0;
        if (e.device == "keyboard")
            g_reportAt.compare_exchange_strong(expected, now());
    });
    std::vector<double> samples;
    for (auto _ : state) {
        g_reportAt = 0;
        const int64_t start = now();
        drv::keyStroke(1, scan, false, false);
        if (!waitFor(g_reportAt)) {
            state.SkipWithError("no report");
            break;
        }
        samples.push_back(seconds(g_reportAt.load() - start));
        state.SetIterationTime(samples.back());
        // Release and let the task finish, outside the measured time.
        drv::keyStroke(1, scan, false, true);
        QElapsedTimer settle;
        settle.start();
        while ((!hid::keysDown().empty() || settle.elapsed() < 2) && settle.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    hid::removeInputObserver(observer);
    reportSpread(state, samples);
}

void BM_StrokeToFirstReport(benchmark::State& state) {
    strokeToFirstReport(state, 0x3a);
}

void BM_RemappedStrokeToReport(benchmark::State& state) {
    strokeToFirstReport(state, 0x3b);
}

void BM_PassThroughFloor(benchmark::State& state) {
    if (!rig().ok) {
        state.SkipWithError("no virtual device or no capture");
        return;
    }
    const int observer = drv::addSystemObserver(onSystem, nullptr);
    bool up = false;
    std::vector<double> samples;
    for (auto _ : state) {
        g_systemAt = 0;
        const int64_t start = now();
        drv::keyStroke(1, 0x10, false, up);
        if (!waitFor(g_systemAt)) {
            state.SkipWithError("the stroke did not come back");
            break;
        }
        samples.push_back(seconds(g_systemAt.load() - start));
        state.SetIterationTime(samples.back());
        up = !up;
        // The same pause between strokes as the mapped strokes have (their release and its
        // settling), so both loops wake from the same idle wait.
        QElapsedTimer pause;
        pause.start();
        while (pause.elapsed() < 2)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    drv::removeSystemObserver(observer);
    reportSpread(state, samples);
}

// What the virtual device itself takes: one key report written and decoded on the bus, the
// last step of both the mapped and the remapped path.
void BM_VirtualKeyReport(benchmark::State& state) {
    if (!rig().ok) {
        state.SkipWithError("no virtual device or no capture");
        return;
    }
    bool down = true;
    for (auto _ : state) {
        if (down)
            rig().client.keyDown(0x06);
        else
            rig().client.keyUp(0x06);
        down = !down;
    }
    if (!down)
        rig().client.keyUp(0x06);
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_BareLookup);
BENCHMARK(BM_DecideMappedStroke);
BENCHMARK(BM_DecideUnmappedStroke);
BENCHMARK(BM_ChooseCopyAndDecide);
BENCHMARK(BM_DecideWithSection);
BENCHMARK(BM_ForegroundQuery)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VirtualKeyReport)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PassThroughFloor)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(300);
BENCHMARK(BM_StrokeToFirstReport)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(300);
BENCHMARK(BM_RemappedStrokeToReport)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(300);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // As in the program: the capture loop's lines go to a web.log.
    QTemporaryDir logFolder;
    weblog::install(logFolder.filePath(QStringLiteral("web.log")));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The capture loop is woken and ended before the application goes.
    if (rig().mode)
        rig().mode->shutdown();
    weblog::uninstall();
    return 0;
}
