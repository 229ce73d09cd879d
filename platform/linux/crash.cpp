// The crash handler for Linux. Everything below `handleSignal` runs inside a signal handler on
// an alternate stack: only async-signal-safe calls (open, read, write, fork, execve, ...), no
// heap, no stdio, no locks.

#include "platform/crash.h"
#include "platform/devio_evdev.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>

#include <execinfo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

extern char** environ;

namespace platform::crash {

namespace {

const int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};
constexpr std::size_t kAltStackSize = 256 * 1024;
constexpr int kMaxFrames = 128;

const char* g_dumpFolder = nullptr;
const char* g_reporter = nullptr;
std::atomic<int> g_handling{0};
char g_dumpPath[kPathCapacity + 64];

// A small fixed-size text builder.
struct Line {
    char text[512];
    std::size_t size = 0;

    void add(const char* s) {
        while (*s && size < sizeof(text))
            text[size++] = *s++;
    }
    void addHex(std::uintptr_t value, int digits = 2 * static_cast<int>(sizeof(value))) {
        add("0x");
        for (int i = digits - 1; i >= 0; --i) {
            if (size < sizeof(text))
                text[size++] = "0123456789abcdef"[(value >> (4 * i)) & 0xf];
        }
    }
    void addDecimal(long value) {
        char digits[24];
        int n = 0;
        const bool negative = value < 0;
        unsigned long v =
            negative ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v);
        if (negative)
            add("-");
        while (n > 0 && size < sizeof(text))
            text[size++] = digits[--n];
    }
};

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void writeLine(int fd, Line& line) {
    line.add("\n");
    writeAll(fd, line.text, line.size);
    line.size = 0;
}

const char* signalName(int sig) {
    switch (sig) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    case SIGABRT:
        return "SIGABRT";
    case SIGTRAP:
        return "SIGTRAP";
    case SIGSYS:
        return "SIGSYS";
    default:
        return "signal";
    }
}

// A random id in the usual 8-4-4-4-12 form, from the kernel's generator.
void makeDumpId(char (&id)[37]) {
    unsigned char bytes[16] = {};
    long got = -1;
#ifdef SYS_getrandom
    got = ::syscall(SYS_getrandom, bytes, sizeof(bytes), 0);
#endif
    if (got != static_cast<long>(sizeof(bytes))) {
        const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            got = ::read(fd, bytes, sizeof(bytes));
            ::close(fd);
        }
    }
    if (got != static_cast<long>(sizeof(bytes))) {
        // Without randomness the process id and the clock still keep dumps apart.
        const std::uint64_t a = static_cast<std::uint64_t>(::getpid());
        const std::uint64_t b = static_cast<std::uint64_t>(::time(nullptr));
        for (int i = 0; i < 8; ++i) {
            bytes[i] = static_cast<unsigned char>(a >> (8 * i));
            bytes[8 + i] = static_cast<unsigned char>(b >> (8 * i));
        }
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
    std::size_t at = 0;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            id[at++] = '-';
        id[at++] = "0123456789abcdef"[bytes[i] >> 4];
        id[at++] = "0123456789abcdef"[bytes[i] & 0xf];
    }
    id[at] = '\0';
}

void writeRegisters(int fd, const void* context) {
    Line line;
    line.add("registers:");
    writeLine(fd, line);
#if defined(__x86_64__)
    const auto* uc = static_cast<const ucontext_t*>(context);
    static const struct {
        const char* name;
        int index;
    } regs[] = {{"rax", REG_RAX}, {"rbx", REG_RBX}, {"rcx", REG_RCX}, {"rdx", REG_RDX},
                {"rsi", REG_RSI}, {"rdi", REG_RDI}, {"rbp", REG_RBP}, {"rsp", REG_RSP},
                {"r8", REG_R8},   {"r9", REG_R9},   {"r10", REG_R10}, {"r11", REG_R11},
                {"r12", REG_R12}, {"r13", REG_R13}, {"r14", REG_R14}, {"r15", REG_R15},
                {"rip", REG_RIP}, {"efl", REG_EFL}};
    for (const auto& r : regs) {
        line.add("  ");
        line.add(r.name);
        line.add(" ");
        line.addHex(static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[r.index]));
        writeLine(fd, line);
    }
#elif defined(__i386__)
    const auto* uc = static_cast<const ucontext_t*>(context);
    static const struct {
        const char* name;
        int index;
    } regs[] = {{"eax", REG_EAX}, {"ebx", REG_EBX}, {"ecx", REG_ECX}, {"edx", REG_EDX},
                {"esi", REG_ESI}, {"edi", REG_EDI}, {"ebp", REG_EBP}, {"esp", REG_ESP},
                {"eip", REG_EIP}, {"efl", REG_EFL}};
    for (const auto& r : regs) {
        line.add("  ");
        line.add(r.name);
        line.add(" ");
        line.addHex(static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[r.index]));
        writeLine(fd, line);
    }
#else
    (void)context;
    line.add("  (not recorded on this processor)");
    writeLine(fd, line);
#endif
}

void copyFile(int out, const char* path) {
    const int in = ::open(path, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        writeAll(out, buffer, static_cast<std::size_t>(n));
    }
    ::close(in);
}

void writeDump(int fd, int sig, const siginfo_t* info, const void* context) {
    Line line;
    line.add("tavix crash dump");
    writeLine(fd, line);
    line.add("signal: ");
    line.addDecimal(sig);
    line.add(" ");
    line.add(signalName(sig));
    line.add(" code ");
    line.addDecimal(info->si_code);
    writeLine(fd, line);
    line.add("address: ");
    line.addHex(reinterpret_cast<std::uintptr_t>(info->si_addr));
    writeLine(fd, line);
    line.add("process: ");
    line.addDecimal(::getpid());
    line.add(" thread: ");
    line.addDecimal(::syscall(SYS_gettid));
    writeLine(fd, line);
    writeRegisters(fd, context);

    line.add("backtrace:");
    writeLine(fd, line);
    void* frames[kMaxFrames];
    const int count = ::backtrace(frames, kMaxFrames);
    // Symbol names without the heap: straight into the file.
    ::backtrace_symbols_fd(frames, count, fd);

    line.add("memory map:");
    writeLine(fd, line);
    copyFile(fd, "/proc/self/maps");
}

void writeError(int errorCode) {
    Line line;
    line.add("CreateProcess failed (");
    line.addDecimal(errorCode);
    line.add(").\n");
    writeAll(STDERR_FILENO, line.text, line.size);
}

// Starts "<reporter> <dump path>" in its own session. The child tells an exec failure through a
// close-on-exec pipe, so the parent knows whether the reporter really started.
void startReporter() {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        writeError(errno);
        return;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        writeError(errno);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return;
    }
    if (pid == 0) {
        ::close(pipeFds[0]);
        ::setsid();
        // Detached like a process without a console: the crashed program's output may be a pipe
        // that closes once it is gone, and writing there would end the reporter.
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            if (null > STDERR_FILENO)
                ::close(null);
        }
        char* argv[] = {const_cast<char*>(g_reporter), g_dumpPath, nullptr};
        ::execve(g_reporter, argv, environ);
        const int error = errno;
        writeAll(pipeFds[1], reinterpret_cast<const char*>(&error), sizeof(error));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    int error = 0;
    ssize_t n;
    do {
        n = ::read(pipeFds[0], &error, sizeof(error));
    } while (n < 0 && errno == EINTR);
    ::close(pipeFds[0]);
    if (n == static_cast<ssize_t>(sizeof(error))) {
        writeError(error);
        // The failed child is ours to collect.
        ::waitpid(pid, nullptr, 0);
    }
}

void handleSignal(int sig, siginfo_t* info, void* context) {
    // The keyboards come back to the system before anything that could hang.
    devio::evdev::releaseAfterCrash();
    int expected = 0;
    if (!g_handling.compare_exchange_strong(expected, 1)) {
        // Another thread is writing the dump; its signal ends the process.
        for (;;)
            ::pause();
    }

    char id[37];
    makeDumpId(id);
    // The dump path: folder + "/" + id + ".dmp"; the folder is shorter than kPathCapacity.
    std::size_t at = 0;
    for (const char* s = g_dumpFolder; *s && at < kPathCapacity; ++s)
        g_dumpPath[at++] = *s;
    for (const char* s = "/"; *s; ++s)
        g_dumpPath[at++] = *s;
    for (const char* s = id; *s; ++s)
        g_dumpPath[at++] = *s;
    for (const char* s = ".dmp"; *s; ++s)
        g_dumpPath[at++] = *s;
    g_dumpPath[at] = '\0';

    const int fd = ::open(g_dumpPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        writeDump(fd, sig, info, context);
        ::close(fd);
    }
    if (g_reporter[0] != '\0')
        startReporter();
    else
        writeError(ENOENT);

    // Handled: the default action ends the process with this signal. A fault comes back when
    // the instruction runs again; a sent signal is raised once more.
    ::signal(sig, SIG_DFL);
    if (info->si_code <= 0 || sig == SIGABRT)
        ::raise(sig);
}

class LinuxBackend : public Backend {
public:
    Result install(const char* dumpFolder, const char* reporter) override {
        g_dumpFolder = dumpFolder;
        g_reporter = reporter;

        // backtrace() loads its unwinder on first use; do that now, not in the handler.
        void* warm[1];
        ::backtrace(warm, 1);

        void* stack = ::mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (stack == MAP_FAILED)
            return Result::failure(8, std::string("no memory for the signal stack: ") +
                                          std::strerror(errno));
        stack_t altStack{};
        altStack.ss_sp = stack;
        altStack.ss_size = kAltStackSize;
        if (::sigaltstack(&altStack, nullptr) != 0)
            return Result::failure(8, std::string("sigaltstack: ") + std::strerror(errno));

        struct sigaction action {};
        action.sa_sigaction = handleSignal;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        for (int sig : kSignals)
            sigaddset(&action.sa_mask, sig);
        for (int sig : kSignals) {
            if (::sigaction(sig, &action, nullptr) != 0)
                return Result::failure(87, std::string("sigaction: ") + std::strerror(errno));
        }
        return Result::success();
    }
};

} // namespace

Backend& systemBackend() {
    static LinuxBackend backend;
    return backend;
}

} // namespace platform::crash
