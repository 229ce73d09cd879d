#include "platform/autostart.h"
#include "platform/win32/wide.h"

#include <windows.h>

namespace platform::autostart {
namespace {

const wchar_t kRunKey[] = L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kValueName[] = L"zentavo";

class Win32Backend : public Backend {
public:
    void setEnabled(const std::string& programFolder, bool on) override {
        // Without write access to the machine's Run key nothing changes and nothing is said.
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
            return;
        if (on) {
            const std::wstring command = win32::widen(windowsCommandLine(programFolder));
            const DWORD bytes = static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t));
            RegSetValueExW(key, kValueName, 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(command.c_str()), bytes);
        } else {
            RegDeleteValueW(key, kValueName);
        }
        RegCloseKey(key);
    }

    bool isEnabled(const std::string&) override {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
            return false;
        DWORD type = 0;
        const bool found =
            RegQueryValueExW(key, kValueName, nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS;
        RegCloseKey(key);
        return found;
    }
};

} // namespace

Backend& systemBackend() {
    static Win32Backend backend;
    return backend;
}

} // namespace platform::autostart
