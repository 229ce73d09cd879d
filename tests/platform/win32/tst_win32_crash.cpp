// The Win32 crash handler against the real API (under Wine here). The test starts itself as a
// child that installs the handler and crashes; the same program, started as the reporter, writes
// the argument it was given next to the dump.

#include "check.h"
#include "platform/crash.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include <windows.h>

namespace crash = platform::crash;

namespace {

std::string narrow(const std::wstring& text) {
    if (text.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::wstring selfPath() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, n);
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string readFile(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string out;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &n, nullptr) && n > 0)
        out.append(buffer, n);
    CloseHandle(file);
    return out;
}

std::vector<std::wstring> dumpsIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const HANDLE find = FindFirstFileW((folder + L"\\*.dmp").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

struct ChildEnd {
    DWORD exitCode = 0;
    bool finished = false;
    std::string output; // standard output and error
};

// Starts this program as "crash <how> <folder> <reporter>" and collects what it writes.
ChildEnd crashChild(const std::wstring& folder, const std::wstring& reporter,
                    const std::wstring& how = L"fault") {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ChildEnd end;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return end;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::wstring line =
        L"\"" + selfPath() + L"\" crash " + how + L" \"" + folder + L"\" \"" + reporter + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return end;
    }
    char buffer[512];
    DWORD n = 0;
    while (ReadFile(readEnd, buffer, sizeof(buffer), &n, nullptr) && n > 0)
        end.output.append(buffer, n);
    CloseHandle(readEnd);
    end.finished = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0;
    GetExitCodeProcess(process.hProcess, &end.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return end;
}

std::wstring freshFolder(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + name;
    for (const std::wstring& dump : dumpsIn(folder))
        DeleteFileW((folder + L"\\" + dump).c_str());
    DeleteFileW((folder + L"\\reported.txt").c_str());
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

// The dump folder as the program gives it: '/' separators.
std::wstring forwardSlashes(std::wstring path) {
    for (wchar_t& c : path) {
        if (c == L'\\')
            c = L'/';
    }
    return path;
}

// Crashes as `how` says, and checks the dump, the reporter and the process's exit code.
void crashWritesMinidumpAndStartsReporter(const wchar_t* how, DWORD exitCode) {
    // A blank in the folder: the reporter must still get the dump path as one argument.
    const std::wstring folder = freshFolder((std::wstring(L"tavix crash ") + how).c_str());
    const ChildEnd end = crashChild(forwardSlashes(folder), selfPath(), how);
    std::printf("  %ls\n", how);
    CHECK(end.finished);
    // Handled: the process ends with the crash's code, without a dialog.
    CHECK(end.exitCode == exitCode);
    if (end.exitCode != exitCode)
        std::printf("exit code %lx\n", end.exitCode);
    CHECK(end.output.find("CreateProcess failed") == std::string::npos);

    const std::vector<std::wstring> dumps = dumpsIn(folder);
    CHECK(dumps.size() == 1);
    if (dumps.size() != 1)
        return;
    const std::string content = readFile(folder + L"\\" + dumps[0]);
    CHECK(content.size() > 32);
    CHECK(content.compare(0, 4, "MDMP") == 0);
    CHECK(dumps[0].size() == 36 + 4);

    const std::wstring reported = folder + L"\\reported.txt";
    for (int i = 0; i < 300 && !exists(reported); ++i)
        Sleep(100);
    const std::string expected = narrow(forwardSlashes(folder) + L"/" + dumps[0]) + "\n" + "1\n";
    CHECK(readFile(reported) == expected);
    if (readFile(reported) != expected)
        std::printf("reported: [%s] expected: [%s]\n", readFile(reported).c_str(),
                    expected.c_str());
}

void missingReporterIsReportedAndDumpStays() {
    const std::wstring folder = freshFolder(L"tavix-crash-two");
    const ChildEnd end = crashChild(forwardSlashes(folder), folder + L"\\CrashReporter.exe");
    CHECK(end.finished);
    CHECK(end.exitCode == EXCEPTION_ACCESS_VIOLATION);
    CHECK(end.output == "CreateProcess failed (2).\n");
    if (end.output != "CreateProcess failed (2).\n")
        std::printf("output: [%s]\n", end.output.c_str());
    CHECK(dumpsIn(folder).size() == 1);
}

void everyWayOfCrashingIsReported() {
    crashWritesMinidumpAndStartsReporter(L"fault", EXCEPTION_ACCESS_VIOLATION);
    crashWritesMinidumpAndStartsReporter(L"abort", 3);
    crashWritesMinidumpAndStartsReporter(L"terminate", 3);
    crashWritesMinidumpAndStartsReporter(L"purecall", 3);
    crashWritesMinidumpAndStartsReporter(L"invalidparameter", 0xC0000417);
}

// The C++ runtime's report of a call to a pure virtual function (what a call through a vtable
// slot of an abstract class reaches; the compiler may turn such a call, undefined as it is, into
// anything else when it sees it).
extern "C" void __cxa_pure_virtual();

// The crash itself, by name.
void crashAs(const std::wstring& how) {
    if (how == L"abort")
        std::abort();
    if (how == L"terminate")
        std::terminate();
    if (how == L"purecall")
        __cxa_pure_virtual();
    if (how == L"invalidparameter") {
        // Wine's msvcrt reports no invalid parameter to the handler; call the registered one as
        // the runtime's own report does.
        if (const _invalid_parameter_handler report = _get_invalid_parameter_handler())
            report(nullptr, nullptr, nullptr, 0, 0);
    }
    crash::crashNow();
}

// The reporter side: "<self> <folder>/<id>.dmp". Writes its arguments to reported.txt.
int actAsReporter(int argc, wchar_t** argv) {
    const std::wstring dump = argv[1];
    const std::wstring folder = dump.substr(0, dump.find_last_of(L'/'));
    const std::string text = narrow(dump) + "\n" + std::to_string(argc - 1) + "\n";
    const std::wstring temp = folder + L"\\reported.tmp";
    const HANDLE file =
        CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    MoveFileW(temp.c_str(), (folder + L"\\reported.txt").c_str());
    return 0;
}

} // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc == 5 && std::wstring(argv[1]) == L"crash") {
        if (!crash::setReporterPath(narrow(argv[4])) || !crash::install(narrow(argv[3])))
            return 2;
        crashAs(argv[2]);
    }
    if (argc >= 2 && std::wstring(argv[1]).size() > 4 &&
        std::wstring(argv[1]).substr(std::wstring(argv[1]).size() - 4) == L".dmp")
        return actAsReporter(argc, argv);

    RUN(everyWayOfCrashingIsReported);
    RUN(missingReporterIsReportedAndDumpStays);
    return finish();
}
