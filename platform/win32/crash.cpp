// The crash handler for Win32: an unhandled-exception filter hands the crash to a thread made at
// install time (the crashing thread's own stack may be used up), which writes a minidump with
// dbghelp and starts the reporter. Only fixed buffers are used after the crash. The C runtime's
// own ends (abort(), std::terminate, a pure virtual call, an invalid-parameter report) never reach
// the filter: their handlers describe the place as an exception of their own and take the same
// road.

#include "platform/crash.h"

#include <windows.h>
// dbghelp.h and objbase.h need windows.h first.
#include <dbghelp.h>
#include <objbase.h>

#include <csignal>
#include <cstdlib>
#include <exception>

namespace platform::crash {

namespace {

constexpr DWORD kReporterFlags = CREATE_DEFAULT_ERROR_MODE | CREATE_NO_WINDOW | DETACHED_PROCESS;
static_assert(kReporterFlags == 0x0C000008, "the reporter's creation flags");

const char* g_dumpFolder = nullptr;
const char* g_reporter = nullptr;
HANDLE g_crashEvent = nullptr;
HANDLE g_doneEvent = nullptr;
EXCEPTION_POINTERS* g_exception = nullptr;
DWORD g_crashThread = 0;
volatile LONG g_handling = 0;

// How long a crashed thread waits for the dump: a dump thread that hangs (or crashed itself) must
// not keep the process for ever.
constexpr DWORD kDumpTimeoutMs = 60000;
// What the C runtime's ends are recorded as, and the codes the process then ends with (those the
// runtime itself would give).
constexpr DWORD kAbortException = 0x40000015;   // STATUS_FATAL_APP_EXIT
constexpr DWORD kInvalidParameter = 0xC0000417; // STATUS_INVALID_CRUNTIME_PARAMETER
constexpr UINT kAbortExitCode = 3;

wchar_t g_folderW[kPathCapacity];
wchar_t g_dumpPath[kPathCapacity + 64];
wchar_t g_commandLine[3 * kPathCapacity];

// A fixed-size wide text builder.
template <size_t N> struct Text {
    wchar_t (&buffer)[N];
    size_t size = 0;

    explicit Text(wchar_t (&b)[N]) : buffer(b) { buffer[0] = L'\0'; }
    void add(const wchar_t* s) {
        while (*s && size + 1 < N)
            buffer[size++] = *s++;
        buffer[size] = L'\0';
    }
    // Paths with blanks are quoted, so a path like "C:\Program Files (x86)\..." stays one item.
    void addArgument(const wchar_t* s) {
        bool blank = false;
        for (const wchar_t* p = s; *p; ++p)
            blank = blank || *p == L' ' || *p == L'\t';
        if (blank)
            add(L"\"");
        add(s);
        if (blank)
            add(L"\"");
    }
};

void writeStd(DWORD which, const char* text) {
    const HANDLE out = GetStdHandle(which);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(out, text, lstrlenA(text), &written, nullptr);
}

void makeDumpId(wchar_t (&id)[37]) {
    GUID guid{};
    if (CoCreateGuid(&guid) != S_OK) {
        // Without a GUID the process and the clock still keep dumps apart.
        guid.Data1 = GetCurrentProcessId();
        guid.Data2 = static_cast<WORD>(GetTickCount());
    }
    const wchar_t* hex = L"0123456789abcdef";
    unsigned char bytes[16];
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(guid.Data1 >> (24 - 8 * i));
    bytes[4] = static_cast<unsigned char>(guid.Data2 >> 8);
    bytes[5] = static_cast<unsigned char>(guid.Data2);
    bytes[6] = static_cast<unsigned char>(guid.Data3 >> 8);
    bytes[7] = static_cast<unsigned char>(guid.Data3);
    for (int i = 0; i < 8; ++i)
        bytes[8 + i] = guid.Data4[i];
    size_t at = 0;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            id[at++] = L'-';
        id[at++] = hex[bytes[i] >> 4];
        id[at++] = hex[bytes[i] & 0xf];
    }
    id[at] = L'\0';
}

// Starts the reporter with "<reporter> <dump folder>/<dump id>.dmp".
void startReporter(const wchar_t* id) {
    wchar_t reporter[kPathCapacity];
    if (MultiByteToWideChar(CP_UTF8, 0, g_reporter, -1, reporter, kPathCapacity) <= 0)
        reporter[0] = L'\0';
    wchar_t dumpArgument[kPathCapacity + 64];
    Text<kPathCapacity + 64> argument(dumpArgument);
    argument.add(g_folderW);
    argument.add(L"/");
    argument.add(id);
    argument.add(L".dmp");
    Text<3 * kPathCapacity> line(g_commandLine);
    line.addArgument(reporter);
    line.add(L" ");
    line.addArgument(dumpArgument);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (CreateProcessW(nullptr, g_commandLine, nullptr, nullptr, FALSE, kReporterFlags, nullptr,
                       nullptr, &startup, &process)) {
        if (PostThreadMessageW(process.dwThreadId, WM_QUIT, 0, 0))
            writeStd(STD_OUTPUT_HANDLE, "Request to terminate process has been sent!");
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        return;
    }
    char text[64];
    wsprintfA(text, "CreateProcess failed (%lu).\n", GetLastError());
    writeStd(STD_ERROR_HANDLE, text);
}

void writeDumpAndReport() {
    wchar_t id[37];
    makeDumpId(id);
    // Named "<folder>\<id>.dmp", as the folder was given.
    Text<kPathCapacity + 64> path(g_dumpPath);
    path.add(g_folderW);
    path.add(L"\\");
    path.add(id);
    path.add(L".dmp");

    const HANDLE file = CreateFileW(g_dumpPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        MINIDUMP_EXCEPTION_INFORMATION info{};
        info.ThreadId = g_crashThread;
        info.ExceptionPointers = g_exception;
        info.ClientPointers = FALSE;
        MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal,
                          g_exception ? &info : nullptr, nullptr, nullptr);
        CloseHandle(file);
    }
    // The reporter starts whether the dump was written or not.
    startReporter(id);
}

DWORD WINAPI handlerThread(void*) {
    if (WaitForSingleObject(g_crashEvent, INFINITE) == WAIT_OBJECT_0) {
        writeDumpAndReport();
        SetEvent(g_doneEvent);
    }
    return 0;
}

// Hands the crash to the dump thread and waits for it, at most kDumpTimeoutMs.
void dumpAndWait(EXCEPTION_POINTERS* exception) {
    if (InterlockedExchange(&g_handling, 1) != 0) {
        // Another thread is writing the dump; the process ends when it is done.
        Sleep(INFINITE);
    }
    g_exception = exception;
    g_crashThread = GetCurrentThreadId();
    SetEvent(g_crashEvent);
    WaitForSingleObject(g_doneEvent, kDumpTimeoutMs);
}

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* exception) {
    dumpAndWait(exception);
    // Handled: no error dialog, the process ends.
    return EXCEPTION_EXECUTE_HANDLER;
}

// The runtime's ends: the caller's registers as the exception's context, then the dump, then the
// end the runtime would have made, without its message box.
[[noreturn]] void dumpHereAndEnd(DWORD code, UINT exitCode) {
    CONTEXT context{};
    RtlCaptureContext(&context);
    EXCEPTION_RECORD record{};
    record.ExceptionCode = code;
    record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
#if defined(_WIN64)
    record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
#else
    record.ExceptionAddress = reinterpret_cast<void*>(context.Eip);
#endif
    EXCEPTION_POINTERS pointers{&record, &context};
    dumpAndWait(&pointers);
    TerminateProcess(GetCurrentProcess(), exitCode);
    ExitProcess(exitCode); // not reached
}

void onAbortSignal(int) {
    dumpHereAndEnd(kAbortException, kAbortExitCode);
}

[[noreturn]] void onTerminate() {
    dumpHereAndEnd(kAbortException, kAbortExitCode);
}

void __cdecl onPureCall() {
    dumpHereAndEnd(kAbortException, kAbortExitCode);
}

void __cdecl onInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                                uintptr_t) {
    dumpHereAndEnd(kInvalidParameter, kInvalidParameter);
}

std::string errorText(const char* what) {
    return std::string(what) + " failed: system error " + std::to_string(GetLastError());
}

class Win32Backend : public Backend {
public:
    Result install(const char* dumpFolder, const char* reporter) override {
        g_dumpFolder = dumpFolder;
        g_reporter = reporter;
        if (MultiByteToWideChar(CP_UTF8, 0, g_dumpFolder, -1, g_folderW, kPathCapacity) <= 0)
            return Result::failure(GetLastError(), errorText("dump folder conversion"));
        // Load dbghelp now: at crash time the loader lock may be out of reach.
        if (!LoadLibraryW(L"dbghelp.dll"))
            return Result::failure(GetLastError(), errorText("LoadLibrary dbghelp"));
        g_crashEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        g_doneEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!g_crashEvent || !g_doneEvent)
            return Result::failure(GetLastError(), errorText("CreateEvent"));
        const HANDLE thread = CreateThread(nullptr, 0, handlerThread, nullptr, 0, nullptr);
        if (!thread)
            return Result::failure(GetLastError(), errorText("CreateThread"));
        CloseHandle(thread);
        SetUnhandledExceptionFilter(onUnhandledException);
        std::signal(SIGABRT, onAbortSignal);
        std::set_terminate(onTerminate);
        _set_purecall_handler(onPureCall);
        _set_invalid_parameter_handler(onInvalidParameter);
        return Result::success();
    }
};

} // namespace

Result prepareThread() {
    return Result::success();
}

Backend& systemBackend() {
    static Win32Backend backend;
    return backend;
}

} // namespace platform::crash
