#include "platform/autostart.h"
#include "platform/win32/wide.h"

#include <windows.h>

namespace platform::autostart {
namespace {

const wchar_t kRunKey[] = L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kValueName[] = L"zentavo";

class Win32Backend : public Backend {
public:
    Result setEnabled(const std::string& programFolder, bool on) override {
        // Without write access to the machine's Run key nothing changes.
        HKEY key = nullptr;
        LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, &key);
        if (rc == ERROR_FILE_NOT_FOUND && !on) // no key, no value: off already
            return Result::success();
        if (rc != ERROR_SUCCESS)
            return Result::failure(DWORD(rc), "cannot open the Run key");
        if (on) {
            const std::wstring command = win32::widen(windowsCommandLine(programFolder));
            const DWORD bytes = static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t));
            rc = RegSetValueExW(key, kValueName, 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(command.c_str()), bytes);
        } else {
            rc = RegDeleteValueW(key, kValueName);
            if (rc == ERROR_FILE_NOT_FOUND) // off already
                rc = ERROR_SUCCESS;
        }
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS)
            return Result::failure(DWORD(rc), on ? "cannot write the Run value"
                                                 : "cannot delete the Run value");
        return Result::success();
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
