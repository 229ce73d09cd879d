#include "platform/process_native_p.h"
#include "platform/win32/wide.h"

#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <map>
#include <mutex>

namespace platform {
namespace {

using platform::win32::widen;

// Quoting as the C runtime's argument parser reads it back.
void appendQuoted(std::wstring& line, const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    for (size_t i = 0;; ++i) {
        size_t slashes = 0;
        while (i < arg.size() && arg[i] == L'\\') {
            ++i;
            ++slashes;
        }
        if (i == arg.size()) {
            line.append(slashes * 2, L'\\');
            break;
        }
        if (arg[i] == L'"') {
            line.append(slashes * 2 + 1, L'\\');
            line += L'"';
        } else {
            line.append(slashes, L'\\');
            line += arg[i];
        }
    }
    line += L'"';
}

std::wstring argumentLine(const ProcessStart& start) {
    std::wstring line;
    for (const std::string& a : start.arguments) {
        if (!line.empty())
            line += L' ';
        appendQuoted(line, widen(a));
    }
    return line;
}

std::string errorText(DWORD code) {
    return "system error " + std::to_string(code);
}

} // namespace

namespace process {

Result native::SystemBackend::startDetached(const ProcessStart& start) {
    std::wstring line;
    appendQuoted(line, widen(start.program));
    const std::wstring args = argumentLine(start);
    if (!args.empty())
        line += L' ' + args;
    const std::wstring program = widen(start.program);
    const std::wstring dir = widen(start.workingDirectory);
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW | DETACHED_PROCESS | CREATE_UNICODE_ENVIRONMENT, nullptr,
                        dir.empty() ? nullptr : dir.c_str(), &si, &pi)) {
        const DWORD e = GetLastError();
        return Result::failure(e, "cannot start " + start.program + ": " + errorText(e));
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return Result::success();
}

Result native::SystemBackend::startWithShell(const ProcessStart& start, bool elevated) {
    const std::wstring program = widen(start.program);
    const std::wstring args = argumentLine(start);
    const std::wstring dir = widen(start.workingDirectory);
    const HINSTANCE h = ShellExecuteW(nullptr, elevated ? L"runas" : L"open", program.c_str(),
                                      args.empty() ? nullptr : args.c_str(),
                                      dir.empty() ? nullptr : dir.c_str(), SW_SHOWNORMAL);
    const INT_PTR code = reinterpret_cast<INT_PTR>(h);
    if (code > 32) // the shell's success values
        return Result::success();
    return Result::failure(uint32_t(code), "shell could not start " + start.program + ": result " +
                                               std::to_string(long(code)));
}

ResultOf<bool> native::SystemBackend::claimInstance(const std::string& name) {
    // The mutexes this process made, open for its life; the system closes them at the end.
    static std::mutex lock;
    static std::map<std::string, HANDLE> held;
    std::lock_guard<std::mutex> guard(lock);
    if (held.count(name))
        return ResultOf<bool>::success(true);
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, widen(name).c_str());
    const DWORD e = GetLastError();
    if (!mutex) {
        // Made by a process of other rights: held all the same.
        if (e == ERROR_ACCESS_DENIED)
            return ResultOf<bool>::success(false);
        return ResultOf<bool>::failure(e, "cannot claim " + name + ": " + errorText(e));
    }
    if (e == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return ResultOf<bool>::success(false);
    }
    held[name] = mutex;
    return ResultOf<bool>::success(true);
}

} // namespace process
} // namespace platform

namespace platform {

const char* programSuffix() {
    return ".exe";
}

} // namespace platform
