// The crash handler for Linux. Everything below `handleSignal` runs inside a signal handler on
// an alternate stack with the rest of the process in any state: only system calls and code of
// our own, no heap, no stdio, no locks. That rules out fork() (it runs the atfork handlers, which
// take malloc's and stdio's locks, held for ever when the crash came inside them) and
// backtrace() (the unwinder takes the loader's lock): the reporter starts from a vfork-style
// clone, and the stack is scanned for return addresses against the memory map.

#include "platform/crash.h"
#include "platform/devio_evdev.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

extern char** environ;

namespace platform::crash {

namespace {

const int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};
constexpr std::size_t kAltStackSize = 64 * 1024;
constexpr int kMaxFrames = 64;
// How far up the stack the scan for return addresses goes.
constexpr std::uintptr_t kStackScanBytes = 256 * 1024;

const char* g_dumpFolder = nullptr;
const char* g_reporter = nullptr;
// The thread writing the dump; any other thread that crashes meanwhile waits for the end.
std::atomic<long> g_dumpingThread{0};
char g_dumpPath[kPathCapacity + 64];

// A small fixed-size text builder.
struct Line {
    char text[512];
    std::size_t size = 0;

    void add(const char* s, std::size_t n = ~std::size_t(0)) {
        while (n-- > 0 && *s && size < sizeof(text))
            text[size++] = *s++;
    }
    void addHex(std::uintptr_t value, int digits = 2 * static_cast<int>(sizeof(value))) {
        add("0x");
        for (int i = digits - 1; i >= 0; --i) {
            if (size < sizeof(text))
                text[size++] = "0123456789abcdef"[(value >> (4 * i)) & 0xf];
        }
    }
    void addShortHex(std::uintptr_t value) {
        int digits = 1;
        while (digits < 2 * static_cast<int>(sizeof(value)) && (value >> (4 * digits)) != 0)
            ++digits;
        addHex(value, digits);
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

// --- the memory map, read once per crash into fixed buffers ---

struct Mapping {
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    std::uintptr_t offset = 0;
    bool readable = false;
    bool executable = false;
    const char* path = nullptr; // into g_mapsText, not terminated
    std::size_t pathSize = 0;
};

constexpr std::size_t kMapsCapacity = 1024 * 1024;
constexpr std::size_t kMaxMappings = 8192;
char g_mapsText[kMapsCapacity];
Mapping g_mappings[kMaxMappings];
std::size_t g_mappingCount = 0;

bool hexDigit(char c, unsigned* value) {
    if (c >= '0' && c <= '9')
        *value = unsigned(c - '0');
    else if (c >= 'a' && c <= 'f')
        *value = unsigned(c - 'a' + 10);
    else
        return false;
    return true;
}

// "start-end perms offset dev inode   path", one line.
bool parseMapping(const char* p, const char* end, Mapping* m) {
    unsigned digit = 0;
    m->start = 0;
    for (; p < end && hexDigit(*p, &digit); ++p)
        m->start = (m->start << 4) | digit;
    if (p >= end || *p++ != '-')
        return false;
    m->end = 0;
    for (; p < end && hexDigit(*p, &digit); ++p)
        m->end = (m->end << 4) | digit;
    if (end - p < 6 || *p++ != ' ')
        return false;
    m->readable = p[0] == 'r';
    m->executable = p[2] == 'x';
    p += 4;
    while (p < end && *p == ' ')
        ++p;
    m->offset = 0;
    for (; p < end && hexDigit(*p, &digit); ++p)
        m->offset = (m->offset << 4) | digit;
    // Device and inode, then the path (if any) after blanks.
    for (int field = 0; field < 2; ++field) {
        while (p < end && *p == ' ')
            ++p;
        while (p < end && *p != ' ')
            ++p;
    }
    while (p < end && *p == ' ')
        ++p;
    m->path = p;
    m->pathSize = static_cast<std::size_t>(end - p);
    return m->end > m->start;
}

void readMemoryMap() {
    g_mappingCount = 0;
    std::size_t size = 0;
    const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    while (size < kMapsCapacity) {
        const ssize_t n = ::read(fd, g_mapsText + size, kMapsCapacity - size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        size += static_cast<std::size_t>(n);
    }
    ::close(fd);
    const char* p = g_mapsText;
    const char* end = g_mapsText + size;
    while (p < end && g_mappingCount < kMaxMappings) {
        const char* lineEnd = p;
        while (lineEnd < end && *lineEnd != '\n')
            ++lineEnd;
        if (lineEnd == end)
            break; // cut off by the buffer
        if (parseMapping(p, lineEnd, &g_mappings[g_mappingCount]))
            ++g_mappingCount;
        p = lineEnd + 1;
    }
}

// The mapping holding `address`, or the first one above it; null past the last.
const Mapping* mappingAtOrAbove(std::uintptr_t address) {
    std::size_t low = 0, high = g_mappingCount;
    while (low < high) {
        const std::size_t mid = low + (high - low) / 2;
        if (g_mappings[mid].end <= address)
            low = mid + 1;
        else
            high = mid;
    }
    return low < g_mappingCount ? &g_mappings[low] : nullptr;
}

const Mapping* mappingOf(std::uintptr_t address) {
    const Mapping* m = mappingAtOrAbove(address);
    return m && m->start <= address ? m : nullptr;
}

// --- the stack walk ---

#if defined(__x86_64__) || defined(__i386__)
// A return address follows a call: "E8 rel32", or "FF /2" with a register or memory operand of
// 0 to 5 further bytes. Reads only inside the code mapping of `address`.
bool followsCall(std::uintptr_t address, const Mapping& code) {
    if (address - code.start < 7)
        return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(address);
    if (bytes[-5] == 0xE8)
        return true;
    for (int length : {2, 3, 4, 6, 7}) {
        if (bytes[-length] == 0xFF && (bytes[-length + 1] & 0x38) == 0x10)
            return true;
    }
    return false;
}
#endif

// Registers and stack are read on x86 processors only.
[[maybe_unused]] void writeNotRecorded(int fd, Line& line) {
    line.add("  (not recorded on this processor)");
    writeLine(fd, line);
}

void addFrame(Line& line, int index, std::uintptr_t address) {
    line.add("  #");
    line.addDecimal(index);
    line.add(" ");
    line.addHex(address);
    const Mapping* m = mappingOf(address);
    if (m) {
        line.add(" ");
        if (m->pathSize > 0)
            line.add(m->path, m->pathSize);
        else
            line.add("?");
        line.add("+");
        line.addShortHex(address - m->start + m->offset);
    }
}

// Frame 0 is the faulting instruction; the ones after it are the words on the stack that point
// into code just behind a call. A scan finds more than the true frames now and then, but it
// reads only memory the map shows readable and needs no unwinding tables.
#if defined(__GNUC__)
__attribute__((no_sanitize_address))
#endif
void writeBacktrace(int fd, const void* context) {
    Line line;
    line.add("backtrace:");
    writeLine(fd, line);
#if defined(__x86_64__) || defined(__i386__)
    const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    const auto pc = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
    const auto sp = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
#else
    const auto pc = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]);
    const auto sp = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_ESP]);
#endif
    addFrame(line, 0, pc);
    writeLine(fd, line);

    // The stack: the readable mapping at the stack pointer, or, when the stack ran over into its
    // guard, the one just above.
    const Mapping* stack = mappingAtOrAbove(sp);
    if (stack && !stack->readable && stack + 1 < g_mappings + g_mappingCount &&
        stack[1].start == stack->end)
        ++stack;
    if (!stack || !stack->readable || stack->start > sp + 64 * 1024)
        return;
    std::uintptr_t at = (stack->start > sp ? stack->start : sp) & ~(sizeof(void*) - 1);
    const std::uintptr_t end =
        stack->end - at > kStackScanBytes ? at + kStackScanBytes : stack->end;
    int frames = 1;
    for (; at + sizeof(void*) <= end && frames < kMaxFrames; at += sizeof(void*)) {
        const std::uintptr_t word = *reinterpret_cast<const std::uintptr_t*>(at);
        const Mapping* code = mappingOf(word);
        if (!code || !code->executable || !code->readable || !followsCall(word, *code))
            continue;
        addFrame(line, frames++, word);
        writeLine(fd, line);
    }
#else
    (void)context;
    writeNotRecorded(fd, line);
#endif
}

void writeRegisters(int fd, const void* context) {
    Line line;
    line.add("registers:");
    writeLine(fd, line);
    struct Register {
        const char* name;
        int index;
    };
#if defined(__x86_64__)
    static const Register regs[] = {
        {"rax", REG_RAX}, {"rbx", REG_RBX}, {"rcx", REG_RCX}, {"rdx", REG_RDX}, {"rsi", REG_RSI},
        {"rdi", REG_RDI}, {"rbp", REG_RBP}, {"rsp", REG_RSP}, {"r8", REG_R8},   {"r9", REG_R9},
        {"r10", REG_R10}, {"r11", REG_R11}, {"r12", REG_R12}, {"r13", REG_R13}, {"r14", REG_R14},
        {"r15", REG_R15}, {"rip", REG_RIP}, {"efl", REG_EFL}};
#elif defined(__i386__)
    static const Register regs[] = {
        {"eax", REG_EAX}, {"ebx", REG_EBX}, {"ecx", REG_ECX}, {"edx", REG_EDX}, {"esi", REG_ESI},
        {"edi", REG_EDI}, {"ebp", REG_EBP}, {"esp", REG_ESP}, {"eip", REG_EIP}, {"efl", REG_EFL}};
#endif
#if defined(__x86_64__) || defined(__i386__)
    const auto* uc = static_cast<const ucontext_t*>(context);
    for (const Register& r : regs) {
        line.add("  ");
        line.add(r.name);
        line.add(" ");
        line.addHex(static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[r.index]));
        writeLine(fd, line);
    }
#else
    (void)context;
    writeNotRecorded(fd, line);
#endif
}

void copyFile(int out, const char* path) {
    const int in = ::open(path, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return;
    static char buffer[4096]; // one dumping thread at a time
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
    readMemoryMap();
    writeBacktrace(fd, context);
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

// --- the reporter ---

// The reporter's child runs on this stack, in our memory, until its exec.
alignas(16) char g_childStack[64 * 1024];
volatile int g_execError = 0;

// The child of the clone below shares our memory and thread state: raw system calls only, no
// wrapper that a sanitizer or the C library might intercept. Detached like a process without a
// console: its own session, the standard streams on /dev/null (the crashed program's output may
// be a pipe that closes once it is gone), no blocked signals.
#if defined(__GNUC__)
__attribute__((no_sanitize_address))
#endif
int reporterChild(void*) {
    ::syscall(SYS_setsid);
    const long null = ::syscall(SYS_openat, AT_FDCWD, "/dev/null", O_RDWR);
    if (null >= 0) {
        for (long fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
            if (null != fd)
                ::syscall(SYS_dup3, null, fd, 0);
        }
        if (null > STDERR_FILENO)
            ::syscall(SYS_close, null);
    }
    const unsigned long noSignals[2] = {0, 0};
    ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, noSignals, nullptr, 64 / 8); // the kernel's set
    char* argv[] = {const_cast<char*>(g_reporter), g_dumpPath, nullptr};
    ::syscall(SYS_execve, g_reporter, argv, environ);
    g_execError = errno != 0 ? errno : ENOEXEC;
    ::syscall(SYS_exit, 127);
    return 127;
}

// Starts "<reporter> <dump path>". The clone shares our memory and suspends us until the child
// has called exec, as vfork does: nothing is copied, no atfork handler runs, and the child's exec
// error is simply there to read afterwards.
void startReporter() {
    g_execError = 0;
    const int pid = ::clone(reporterChild, g_childStack + sizeof(g_childStack),
                            CLONE_VM | CLONE_VFORK | SIGCHLD, nullptr);
    if (pid < 0) {
        writeError(errno);
        return;
    }
    if (g_execError != 0) {
        writeError(g_execError);
        // The failed child is ours to collect.
        ::syscall(SYS_wait4, pid, nullptr, 0, nullptr);
    }
}

void handleSignal(int sig, siginfo_t* info, void* context) {
    // The keyboards come back to the system before anything that could hang.
    devio::evdev::releaseAfterCrash();
    const long self = ::syscall(SYS_gettid);
    long nobody = 0;
    if (!g_dumpingThread.compare_exchange_strong(nobody, self)) {
        // Another thread writes the dump and then ends the process. (This thread cannot be that
        // one: the crash signals stay blocked while it dumps, and the kernel ends a process whose
        // thread faults with its fault signal blocked.)
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

    // Handled: the default action ends the process with this signal, delivered as soon as the
    // handler returns (the signal is blocked until then), so also a trap or a sent signal that
    // would not come back by itself ends it.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(sig, &fallback, nullptr);
    ::raise(sig);
}

// --- alternate signal stacks ---

pthread_key_t g_stackKey;
pthread_once_t g_stackKeyOnce = PTHREAD_ONCE_INIT;

std::size_t pageSize() {
    const long page = ::sysconf(_SC_PAGESIZE);
    return page > 0 ? static_cast<std::size_t>(page) : 4096;
}

std::size_t altStackSize() {
    // Processors with large register files need more room for the signal frame.
    const std::size_t minimum = static_cast<std::size_t>(::getauxval(AT_MINSIGSTKSZ));
    return minimum * 4 > kAltStackSize ? minimum * 4 : kAltStackSize;
}

// Runs when a thread that was given a stack ends.
void releaseAltStack(void* mapping) {
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    ::sigaltstack(&off, nullptr);
    ::munmap(mapping, altStackSize() + pageSize());
}

void makeStackKey() {
    ::pthread_key_create(&g_stackKey, releaseAltStack);
}

class LinuxBackend : public Backend {
public:
    Result install(const char* dumpFolder, const char* reporter) override {
        g_dumpFolder = dumpFolder;
        g_reporter = reporter;

        const Result stack = prepareThread();
        if (!stack)
            return stack;

        // Not SA_RESETHAND: a second thread crashing while the first writes the dump must find
        // the handler still there, or the default action would end the process half way.
        struct sigaction action {};
        action.sa_sigaction = handleSignal;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
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

Result prepareThread() {
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) &&
        current.ss_size >= altStackSize())
        return Result::success();
    const std::size_t guard = pageSize();
    const std::size_t size = altStackSize();
    void* mapping = ::mmap(nullptr, size + guard, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (mapping == MAP_FAILED)
        return Result::failure(8, std::string("no memory for the signal stack: ") +
                                      std::strerror(errno));
    // The lowest page stays inaccessible: a handler that overran its stack faults there instead
    // of writing over whatever lies below.
    ::mprotect(mapping, guard, PROT_NONE);
    stack_t altStack{};
    altStack.ss_sp = static_cast<char*>(mapping) + guard;
    altStack.ss_size = size;
    if (::sigaltstack(&altStack, nullptr) != 0) {
        const int error = errno;
        ::munmap(mapping, size + guard);
        return Result::failure(8, std::string("sigaltstack: ") + std::strerror(error));
    }
    ::pthread_once(&g_stackKeyOnce, makeStackKey);
    ::pthread_setspecific(g_stackKey, mapping);
    return Result::success();
}

Backend& systemBackend() {
    static LinuxBackend backend;
    return backend;
}

} // namespace platform::crash
