// The Win32 backends of input redirection against the real API (under Wine here): device I/O
// without the filter driver, events and waits, the low-level keyboard hook, the priority.

#include "check.h"
#include "input/filterclient.h"
#include "platform/devio.h"
#include "platform/keyhook.h"
#include "platform/priority.h"
#include "platform/windows.h"

#include <set>
#include <vector>

#include <windows.h>

namespace io = platform::devio;
namespace fc = filterclient;

namespace {

// Forwards to the system backend and remembers what is open.
class TrackingBackend : public io::Backend {
public:
    platform::ResultOf<io::Handle> open(const std::string& path) override {
        ++opens;
        auto r = io::systemBackend().open(path);
        if (r.ok)
            live.insert(r.value);
        return r;
    }
    platform::ResultOf<io::Handle> createEvent() override {
        auto r = io::systemBackend().createEvent();
        if (r.ok)
            live.insert(r.value);
        return r;
    }
    void close(io::Handle h) override {
        live.erase(h);
        io::systemBackend().close(h);
    }
    platform::ResultOf<uint32_t> control(io::Handle d, uint32_t code, const void* in, size_t inSize,
                                         void* out, size_t outSize) override {
        return io::systemBackend().control(d, code, in, inSize, out, outSize);
    }
    platform::Result signalEvent(io::Handle h) override {
        return io::systemBackend().signalEvent(h);
    }
    platform::ResultOf<size_t> waitAny(const std::vector<io::Handle>& e) override {
        return io::systemBackend().waitAny(e);
    }
    int opens = 0;
    std::set<io::Handle> live;
};

void withoutTheDriverNoContextAndNothingOpen() {
    TrackingBackend tracking;
    io::installBackend(&tracking);
    const auto direct = io::open("\\\\.\\interception00");
    CHECK(!direct.ok);
    CHECK(!direct.text.empty());
    CHECK(fc::createContext() == nullptr);
    CHECK(tracking.opens == 2);
    CHECK(tracking.live.empty());
    io::installBackend(nullptr);
}

void eventsAndWaits() {
    std::vector<io::Handle> events;
    for (int i = 0; i < 3; ++i) {
        const auto e = io::createEvent();
        CHECK(e.ok);
        events.push_back(e.value);
    }
    SetEvent(reinterpret_cast<HANDLE>(events[2]));
    SetEvent(reinterpret_cast<HANDLE>(events[1]));
    auto signalled = io::waitAny(events);
    CHECK(signalled.ok && signalled.value == 1); // the lowest signalled
    // Manual reset: it stays signalled until reset.
    signalled = io::waitAny(events);
    CHECK(signalled.ok && signalled.value == 1);
    ResetEvent(reinterpret_cast<HANDLE>(events[1]));
    signalled = io::waitAny(events);
    CHECK(signalled.ok && signalled.value == 2);
    // A control request to something that is not a device fails with the system's code.
    uint8_t mask[2] = {0xff, 0xff};
    const auto control =
        io::control(events[0], platform::filterdriver::kIoctlSetFilter, mask, 2, nullptr, 0);
    CHECK(!control.ok);
    CHECK(control.code != 0);
    for (io::Handle h : events)
        io::close(h);
    // A closed handle fails the wait instead of blocking.
    CHECK(!io::waitAny({events[0]}).ok);
    CHECK(!io::waitAny({}).ok);
}

std::vector<platform::keyhook::KeyEvent> g_seen;

void pump(int rounds) {
    for (int i = 0; i < rounds; ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}

void sendScan(WORD scan, bool extended, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wScan = scan;
    input.ki.dwFlags =
        KEYEVENTF_SCANCODE | (extended ? KEYEVENTF_EXTENDEDKEY : 0) | (up ? KEYEVENTF_KEYUP : 0);
    SendInput(1, &input, sizeof input);
}

void keyboardHookSeesInjectedKeys() {
    g_seen.clear();
    const platform::Result installed = platform::keyhook::install(
        [](const platform::keyhook::KeyEvent& e) { g_seen.push_back(e); });
    CHECK(installed.ok);
    if (!installed.ok)
        return;
    sendScan(0x1e, false, false);
    sendScan(0x1e, false, true);
    sendScan(0x1d, true, false);
    sendScan(0x1d, true, true);
    pump(30);
    platform::keyhook::remove();
    CHECK(g_seen.size() == 4);
    if (g_seen.size() == 4) {
        CHECK(g_seen[0].scanCode == 0x1e && g_seen[0].down && !g_seen[0].extended);
        CHECK(g_seen[1].scanCode == 0x1e && !g_seen[1].down);
        CHECK(g_seen[2].scanCode == 0x1d && g_seen[2].down && g_seen[2].extended);
        CHECK(g_seen[3].scanCode == 0x1d && !g_seen[3].down && g_seen[3].extended);
        CHECK(g_seen[3].timeMs >= g_seen[0].timeMs);
    }
    // Removed: nothing more arrives.
    g_seen.clear();
    sendScan(0x1e, false, false);
    sendScan(0x1e, false, true);
    pump(10);
    CHECK(g_seen.empty());
}

void charactersArePostedOneUnitEach() {
    HWND window = CreateWindowExW(0, L"STATIC", L"target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50,
                                  300, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    CHECK(window != nullptr);
    pump(5);
    const std::uintptr_t handle = reinterpret_cast<std::uintptr_t>(window);
    CHECK(platform::windows::postCharacters(handle, u"h\u00e9\U0001F600").ok);
    std::vector<WPARAM> chars;
    MSG msg;
    while (PeekMessageW(&msg, window, WM_CHAR, WM_CHAR, PM_REMOVE)) {
        chars.push_back(msg.wParam);
        CHECK(msg.lParam == 0);
    }
    CHECK((chars == std::vector<WPARAM>{0x68, 0xe9, 0xd83d, 0xde00}));
    // A window that is gone refuses the text.
    DestroyWindow(window);
    const platform::Result gone = platform::windows::postCharacters(handle, u"x");
    CHECK(!gone.ok && gone.code != 0);
    CHECK(!platform::windows::postCharacters(0, u"x").ok);
    // Where the cursor is, some window answers (Wine's desktop at least) unless there is no
    // cursor position at all.
    POINT p;
    if (GetCursorPos(&p))
        CHECK(platform::windows::windowUnderCursor().value != 0);
}

void priorityIsRaised() {
    CHECK(platform::priority::raiseProcessPriority().ok);
    CHECK(GetPriorityClass(GetCurrentProcess()) == HIGH_PRIORITY_CLASS);
}

} // namespace

int main() {
    RUN(withoutTheDriverNoContextAndNothingOpen);
    RUN(eventsAndWaits);
    RUN(keyboardHookSeesInjectedKeys);
    RUN(charactersArePostedOneUnitEach);
    RUN(priorityIsRaised);
    return finish();
}
