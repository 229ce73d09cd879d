#include "platform/windows.h"

#include <string>

#include <windows.h>

namespace platform::windows {
namespace {

std::string narrow(const wchar_t* text, int length) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
    return out;
}

ResultOf<std::string> failed(const char* what) {
    const DWORD error = GetLastError();
    return ResultOf<std::string>::failure(error, std::string(what) + " failed (error " +
                                                     std::to_string(error) + ")");
}

class Win32Foreground : public ForegroundBackend {
public:
    ResultOf<std::string> foregroundProcessName() override {
        HWND window = GetForegroundWindow();
        if (!window)
            return ResultOf<std::string>::failure(kErrorInvalidWindowHandle, "no window in front");
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (!pid)
            return failed("GetWindowThreadProcessId");
        // The limited right is enough for the image name, also of elevated processes.
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        if (!process)
            return failed("OpenProcess");
        wchar_t path[1024];
        DWORD length = DWORD(sizeof path / sizeof path[0]);
        const BOOL ok = QueryFullProcessImageNameW(process, 0, path, &length);
        const DWORD error = GetLastError();
        CloseHandle(process);
        if (!ok) {
            SetLastError(error);
            return failed("QueryFullProcessImageNameW");
        }
        int start = int(length);
        while (start > 0 && path[start - 1] != L'\\' && path[start - 1] != L'/')
            --start;
        return ResultOf<std::string>::success(narrow(path + start, int(length) - start));
    }
};

} // namespace

ForegroundBackend& systemForegroundBackend() {
    static Win32Foreground backend;
    return backend;
}

} // namespace platform::windows
