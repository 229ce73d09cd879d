#include "platform/crash.h"

#include "platform/backend.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform::crash {

// The buffers the system backend reads at crash time.
char* reporterBuffer();
char* dumpFolderBuffer();

namespace {
BackendSlot<Backend> g_backend(systemBackend);
std::mutex g_lock;
std::atomic<bool> g_handlerInstalled{false};

bool copyInto(char* buffer, const std::string& text) {
    if (text.size() >= kPathCapacity || text.find('\0') != std::string::npos)
        return false;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}
} // namespace

char* reporterBuffer() {
    static char buffer[kPathCapacity] = {};
    return buffer;
}

char* dumpFolderBuffer() {
    static char buffer[kPathCapacity] = {};
    return buffer;
}

Result setReporterPath(const std::string& path) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!copyInto(reporterBuffer(), path))
        return Result::failure(206, "reporter path does not fit: " + path); // filename too long
    return Result::success();
}

std::string reporterPath() {
    std::lock_guard<std::mutex> guard(g_lock);
    return reporterBuffer();
}

Result install(const std::string& dumpFolder) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_handlerInstalled)
        return Result::success();
    if (!copyInto(dumpFolderBuffer(), dumpFolder))
        return Result::failure(206, "dump folder does not fit: " + dumpFolder);
    Result r = g_backend->install(dumpFolderBuffer(), reporterBuffer());
    if (r)
        g_handlerInstalled = true;
    return r;
}

bool isInstalled() {
    return g_handlerInstalled;
}

namespace {
// Paths with blanks are quoted, so that "C:/Program Files (x86)/..." stays one item.
std::string argument(const std::string& path) {
    if (path.find_first_of(" \t") == std::string::npos)
        return path;
    return "\"" + path + "\"";
}
} // namespace

std::string reporterCommandLine(const std::string& reporter, const std::string& dumpFolder,
                                const std::string& dumpId) {
    return argument(reporter) + " " + argument(dumpFolder + "/" + dumpId + ".dmp");
}

void installBackend(Backend* backend) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_backend.install(backend);
    g_handlerInstalled = false;
}

// The undefined-behaviour sanitizer would stop the process at this write with its own report;
// the point is the real fault that the handler has to catch.
#if defined(__GNUC__)
__attribute__((no_sanitize_undefined))
#endif
void crashNow() {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    // Should the write not fault, end anyway: the caller asked for the process to go.
    std::abort();
}

} // namespace platform::crash
