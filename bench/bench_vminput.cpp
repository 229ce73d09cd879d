// Input redirection on the kernel's real devices, in the qemu guest of scripts/vmtest (it does
// nothing elsewhere). Each figure is the time from a report of a uhid keyboard until the event
// is readable where it ends up:
//   (1) a mapped key, read from its grabbed node by the capture loop, until pelta's report of
//       the macro's key is readable on pelta's event node (GUI thread's queue, a task thread,
//       the virtual device, uhid, the kernel's HID input);
//   (2) an unmapped key, until the capture loop's given-back stroke is readable on the mirror;
//   (3) the baseline: a bare loop that reads the grabbed node and writes the same events to a
//       uinput device, until readable there.
// All three include the same kernel path from the uhid keyboard to its event node.
#include "input/redirection.h"
#include "input/virtualdeviceclient.h"
#include "platform/devio_evdev.h"
#include "platform/linux/evdevnode.h"
#include "weblog/weblog.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include <benchmark/benchmark.h>
#include <poll.h>

#include "spread.h"
#include "vmdevices.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace ev = platform::evdev;

constexpr uint8_t kUsageX = 0x1B, kUsageCapsLock = 0x39;
constexpr int kIterations = 150;

// The last value read for each key, so that a release read in the same batch as its press
// is not waited for again.
std::map<uint16_t, int32_t> g_lastRead;

// Waits in the event loop (which also starts the tasks) until one of `fds` reports key `code`
// with `value`, or reported it last already.
bool waitKey(const std::vector<int>& fds, uint16_t code, int32_t value) {
    const auto last = g_lastRead.find(code);
    if (last != g_lastRead.end() && last->second == value)
        return true;
    QEventLoop loop;
    bool found = false;
    std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
    for (int fd : fds) {
        auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [&, fd] {
            input_event e[16];
            ssize_t n;
            while ((n = ::read(fd, e, sizeof e)) > 0)
                for (size_t i = 0; i < size_t(n) / sizeof e[0]; ++i) {
                    if (e[i].type != EV_KEY)
                        continue;
                    g_lastRead[e[i].code] = e[i].value;
                    found = found || (e[i].code == code && e[i].value == value);
                }
            if (found)
                loop.quit();
        });
        notifiers.push_back(std::move(notifier));
    }
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    return found;
}

void drain(const std::vector<int>& fds) {
    input_event e[16];
    for (int fd : fds)
        while (::read(fd, e, sizeof e) > 0) {
        }
    g_lastRead.clear();
}

int openNonBlocking(const std::string& node) {
    return ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

struct Rig {
    VirtualDeviceClient client{VirtualDeviceClient::Printer{}};
    std::unique_ptr<InputRedirection> mode;
    std::unique_ptr<vm::FakeDevice> keyboard;
    std::vector<int> pelta;
    std::string error;

    Rig() {
        if (!client.openVirtualDevice()) {
            error = "the virtual HID device did not open";
            return;
        }
        const std::string node =
            vm::waitForNode("pelta Vadidov Aduvezozer Ovozed Keyboard", "pelta");
        if (!node.empty())
            pelta.push_back(openNonBlocking(node));
        keyboard = vm::FakeDevice::keyboard(0x1234, 0x0005, "vmbench keyboard");
        if (pelta.empty() || !keyboard) {
            error = "no pelta node or no keyboard";
            return;
        }
        mode = std::make_unique<InputRedirection>(&client);
        KeyMaps maps;
        KeyAction a;
        a.playCount = 1;
        a.commands = {{QStringLiteral("down"), QStringLiteral("04")},
                      {QStringLiteral("up"), QString()}};
        maps.defaultMap.insert({0x3a, 0}, a);
        mode->setKeyMaps(maps);
    }

    // The mirror, once the keyboard is grabbed and filtered by the capture loop.
    std::string mirror() const {
        for (const auto& s : platform::devio::evdev::slotStates())
            if (s.node == keyboard->node() && s.grabbed && s.mask)
                return s.mirror;
        return std::string();
    }
    bool on() {
        if (!mode->filterRunning())
            mode->switchOn();
        return vm::waitUntil([&] { return !mirror().empty(); });
    }
    void off() {
        mode->switchOff();
        vm::waitUntil([&] { return mirror().empty() && !vm::grabbed(keyboard->node()); });
    }
};

Rig& rig() {
    static Rig* r = new Rig; // torn down with the process
    return *r;
}

// Times each press of `usage` on the keyboard until `fds` report `code` going down; the release
// and what follows it are not timed.
void timeStrokes(benchmark::State& state, vm::FakeDevice& keyboard, const std::vector<int>& fds,
                 uint8_t usage, uint16_t code) {
    // Untimed: the first stroke of a capture thread pays for set-up once (its first log line
    // takes tens of milliseconds under emulation), which would swamp the mean.
    drain(fds);
    keyboard.hold({usage});
    waitKey(fds, code, 1);
    keyboard.hold({});
    waitKey(fds, code, 0);
    std::vector<double> samples;
    for (auto _ : state) {
        drain(fds);
        const auto start = Clock::now();
        keyboard.hold({usage});
        if (!waitKey(fds, code, 1)) {
            state.SkipWithError("nothing was reported");
            break;
        }
        samples.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        state.SetIterationTime(samples.back());
        keyboard.hold({});
        waitKey(fds, code, 0);
    }
    reportSpread(state, std::move(samples));
}

void BM_MappedStrokeToPeltaNode(benchmark::State& state) {
    Rig& r = rig();
    if (!r.error.empty() || !r.on()) {
        state.SkipWithError(r.error.empty() ? "the keyboard was not grabbed" : r.error.c_str());
        return;
    }
    timeStrokes(state, *r.keyboard, r.pelta, kUsageCapsLock, KEY_A);
}

void BM_GivenBackStrokeToMirror(benchmark::State& state) {
    Rig& r = rig();
    if (!r.error.empty() || !r.on()) {
        state.SkipWithError(r.error.empty() ? "the keyboard was not grabbed" : r.error.c_str());
        return;
    }
    const int mirror = openNonBlocking(r.mirror());
    timeStrokes(state, *r.keyboard, {mirror}, kUsageX, KEY_X);
    ::close(mirror);
}

// The floor: one thread, one grabbed node, one uinput device, nothing else.
class BareLoop {
public:
    explicit BareLoop(const std::string& node) : m_source(openNonBlocking(node)) {
        ev::NodeInfo info;
        if (m_source < 0 || !ev::describe(m_source, node, &info))
            return;
        const ResultOfMirror mirror = ev::createMirror(m_source, info, &m_mirrorNode);
        if (!mirror || ::ioctl(m_source, EVIOCGRAB, 1) < 0)
            return;
        m_mirror = mirror.value;
        m_thread = std::thread([this] { run(); });
    }
    ~BareLoop() {
        m_wake.signal();
        if (m_thread.joinable())
            m_thread.join();
        if (m_mirror >= 0)
            ::close(m_mirror);
        if (m_source >= 0)
            ::close(m_source);
    }
    const std::string& mirrorNode() const { return m_mirrorNode; }
    bool running() const { return m_thread.joinable(); }

private:
    using ResultOfMirror = platform::ResultOf<int>;
    void run() {
        for (;;) {
            pollfd fds[2] = {{m_source, POLLIN, 0}, {m_wake.fd(), POLLIN, 0}};
            ::poll(fds, 2, -1);
            if (fds[1].revents)
                return;
            input_event e[64];
            const ssize_t n = ::read(m_source, e, sizeof e);
            if (n > 0)
                (void)!::write(m_mirror, e, size_t(n));
        }
    }

    int m_source;
    int m_mirror = -1;
    std::string m_mirrorNode;
    ev::Wake m_wake;
    std::thread m_thread;
};

void BM_BareGrabLoopToUinput(benchmark::State& state) {
    Rig& r = rig();
    if (!r.error.empty()) {
        state.SkipWithError(r.error.c_str());
        return;
    }
    r.off();
    BareLoop bare(r.keyboard->node());
    const int mirror = bare.running() ? openNonBlocking(bare.mirrorNode()) : -1;
    if (mirror < 0) {
        state.SkipWithError("the bare loop did not start");
        return;
    }
    timeStrokes(state, *r.keyboard, {mirror}, kUsageX, KEY_X);
    ::close(mirror);
}

BENCHMARK(BM_BareGrabLoopToUinput)
    ->UseManualTime()
    ->Iterations(kIterations)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GivenBackStrokeToMirror)
    ->UseManualTime()
    ->Iterations(kIterations)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MappedStrokeToPeltaNode)
    ->UseManualTime()
    ->Iterations(kIterations)
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (::access("/dev/uhid", W_OK) != 0 || ::access("/dev/uinput", W_OK) != 0) {
        std::puts("bench_vminput: needs /dev/uhid and /dev/uinput (scripts/vmtest runs it)");
        return 0;
    }
    // The program's own logging: information lines to web.log, not to the console.
    weblog::install(QStringLiteral("/tmp/bench-web.log"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    rig().mode.reset();
    return 0;
}
