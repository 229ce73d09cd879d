// The Win32 backends of autostart and hotkeys against the real API (under Wine here).

#include "check.h"
#include "platform/autostart.h"
#include "platform/hotkeys.h"
#include "platform/win32/wide.h"

#include <string>
#include <vector>

#include <windows.h>

namespace as = platform::autostart;
namespace hk = platform::hotkeys;

namespace {

const wchar_t kRunKey[] = L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";

bool runKeyExists() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The raw value as the system holds it: type, size in bytes and data.
bool readRunValue(DWORD* type, std::vector<BYTE>* data) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    LONG rc = RegQueryValueExW(key, L"zentavo", nullptr, type, nullptr, &size);
    if (rc == ERROR_SUCCESS) {
        data->assign(size, 0);
        rc = RegQueryValueExW(key, L"zentavo", nullptr, type, data->data(), &size);
        data->resize(size);
    }
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

void autostartWithoutTheRunKeyIsSilent() {
    // A machine without the key (or without rights to it): nothing is created, nothing breaks.
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kRunKey);
    CHECK(!runKeyExists());
    const platform::Result on = as::setEnabled("C:/Program Files (x86)/tavix", true);
    CHECK(!on.ok && on.code == ERROR_FILE_NOT_FOUND && !on.text.empty());
    CHECK(!runKeyExists());
    CHECK(!as::isEnabled("C:/Program Files (x86)/tavix"));
    CHECK(as::setEnabled("C:/Program Files (x86)/tavix", false).ok); // off already
    CHECK(!runKeyExists());
}

void autostartWritesAndDeletesTheRunValue() {
    HKEY key = nullptr;
    CHECK(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                          nullptr) == ERROR_SUCCESS);
    RegCloseKey(key);

    struct Case {
        const char* folder;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {"C:/Program Files (x86)/tavix",
         L"\"C:\\Program Files (x86)\\tavix\\tavix.exe\" -autostart"},
        // Size counts UTF-16 units, not UTF-8 bytes.
        {"D:/Programme/t\xC3\xA4vix \xE7\xA8\x8B\xE5\xBA\x8F",
         L"\"D:\\Programme\\t\u00e4vix \u7a0b\u5e8f\\tavix.exe\" -autostart"},
    };
    for (const Case& c : cases) {
        as::setEnabled(c.folder, true);
        CHECK(as::isEnabled(c.folder));
        DWORD type = 0;
        std::vector<BYTE> data;
        CHECK(readRunValue(&type, &data));
        const std::wstring expected = c.expected;
        CHECK(type == REG_SZ);
        CHECK(data.size() == (expected.size() + 1) * sizeof(wchar_t));
        if (data.size() == (expected.size() + 1) * sizeof(wchar_t)) {
            const wchar_t* text = reinterpret_cast<const wchar_t*>(data.data());
            CHECK(std::wstring(text, expected.size()) == expected);
            CHECK(text[expected.size()] == L'\0');
        }
        CHECK(platform::win32::widen(as::windowsCommandLine(c.folder)) == expected);
    }

    as::setEnabled("C:/tavix", false);
    CHECK(!as::isEnabled("C:/tavix"));
    DWORD type = 0;
    std::vector<BYTE> data;
    CHECK(!readRunValue(&type, &data));
    CHECK(runKeyExists());             // only the value goes
    as::setEnabled("C:/tavix", false); // a missing value is silent
    CHECK(!as::isEnabled("C:/tavix"));
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kRunKey);
}

// Whether another holder could take the combination now (it is free when it can).
bool freeForOthers(UINT mods, UINT vk) {
    if (!RegisterHotKey(nullptr, 0xB000, mods, vk))
        return false;
    UnregisterHotKey(nullptr, 0xB000);
    return true;
}

void hotkeysMapToTheirNativeCombination() {
    struct Case {
        unsigned mods;
        uint32_t key;
        UINT nativeMods;
        UINT vk;
    };
    const Case cases[] = {
        {hk::Control | hk::Alt, hk::KeyF1 + 8, MOD_CONTROL | MOD_ALT, VK_F9},
        {hk::Control | hk::Shift, 'A', MOD_CONTROL | MOD_SHIFT, 'A'},
        {hk::Alt, '7', MOD_ALT, '7'},
        {hk::Meta | hk::Shift, hk::KeyPageDown, MOD_WIN | MOD_SHIFT, VK_NEXT},
        {hk::Control, hk::KeyKeypad0 + 5, MOD_CONTROL, VK_NUMPAD5},
        {hk::Control | hk::Alt, hk::KeyDelete, MOD_CONTROL | MOD_ALT, VK_DELETE},
    };
    for (const Case& c : cases) {
        CHECK(freeForOthers(c.nativeMods, c.vk));
        const hk::Id id = hk::add(c.mods, c.key, [] {}).value;
        CHECK(id != 0);
        CHECK(!freeForOthers(c.nativeMods, c.vk));
        hk::remove(id);
        CHECK(freeForOthers(c.nativeMods, c.vk));
    }
    // Nothing to register for a key the layer does not know.
    const auto unknown = hk::add(hk::Control, 0x10FFFF, [] {});
    CHECK(unknown.value == 0 && unknown.code == hk::kErrorInvalidParameter);
}

void hotkeyHeldElsewhereIsRefused() {
    // Another holder first: the system refuses us.
    CHECK(RegisterHotKey(nullptr, 0xB001, MOD_CONTROL | MOD_ALT, VK_F10));
    const auto held = hk::add(hk::Control | hk::Alt, hk::KeyF1 + 9, [] {});
    CHECK(held.value == 0 && held.code != 0 && !held.text.empty());
    UnregisterHotKey(nullptr, 0xB001);
    const hk::Id id = hk::add(hk::Control | hk::Alt, hk::KeyF1 + 9, [] {}).value;
    CHECK(id != 0);
    // Ours first: a duplicate is refused, by the layer and by the system.
    CHECK(hk::add(hk::Control | hk::Alt, hk::KeyF1 + 9, [] {}).value == 0);
    CHECK(!RegisterHotKey(nullptr, 0xB002, MOD_CONTROL | MOD_ALT, VK_F10));
    hk::remove(id);
}

void hotkeyMessagesAreDelivered() {
    int fired = 0;
    const hk::Id id = hk::add(hk::Control | hk::Alt, hk::KeyF1 + 10, [&] { ++fired; }).value;
    CHECK(id != 0);

    // As the event loop's native filter sees it.
    MSG msg{};
    msg.message = WM_HOTKEY;
    msg.wParam = static_cast<WPARAM>(id);
    CHECK(hk::handleNativeMessage(&msg));
    CHECK(fired == 1);
    msg.wParam = static_cast<WPARAM>(id + 1); // not ours
    CHECK(!hk::handleNativeMessage(&msg));
    msg.wParam = static_cast<WPARAM>(id);
    msg.message = WM_KEYDOWN;
    CHECK(!hk::handleNativeMessage(&msg));
    msg.message = WM_HOTKEY;
    msg.hwnd = GetDesktopWindow(); // a window's hotkey, not a thread hotkey of ours
    CHECK(!hk::handleNativeMessage(&msg));
    CHECK(fired == 1);

    // Through the thread's queue, as the system posts it.
    CHECK(PostThreadMessageW(GetCurrentThreadId(), WM_HOTKEY, static_cast<WPARAM>(id),
                             MAKELPARAM(MOD_CONTROL | MOD_ALT, VK_F11)));
    hk::dispatchPending();
    CHECK(fired == 2);

    // A key press through the input system: the system itself turns it into WM_HOTKEY.
    INPUT in[6] = {};
    const WORD keys[3] = {VK_CONTROL, VK_MENU, VK_F11};
    for (int i = 0; i < 3; ++i) {
        in[i].type = INPUT_KEYBOARD;
        in[i].ki.wVk = keys[i];
        in[5 - i].type = INPUT_KEYBOARD;
        in[5 - i].ki.wVk = keys[i];
        in[5 - i].ki.dwFlags = KEYEVENTF_KEYUP;
    }
    CHECK(SendInput(6, in, sizeof(INPUT)) == 6);
    for (int i = 0; i < 50 && fired < 3; ++i) {
        Sleep(20);
        hk::dispatchPending();
    }
    CHECK(fired == 3);
    hk::remove(id);
}

} // namespace

int main() {
    // Thread hotkeys need the thread's message queue.
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);

    RUN(autostartWithoutTheRunKeyIsSilent);
    RUN(autostartWritesAndDeletesTheRunValue);
    RUN(hotkeysMapToTheirNativeCombination);
    RUN(hotkeyHeldElsewhereIsRefused);
    RUN(hotkeyMessagesAreDelivered);
    return finish();
}
