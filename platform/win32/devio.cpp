// Device I/O on Windows: the driver's control devices are files opened with CreateFileW and
// spoken to with DeviceIoControl; their events are plain manual-reset events.
#include "platform/devio.h"

#include "platform/win32/wide.h"

#include <string>

#include <windows.h>

namespace platform::devio {
namespace {

std::string systemText(const char* what, DWORD code) {
    return std::string(what) + " failed (error " + std::to_string(code) + ")";
}

HANDLE toNative(Handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

class Win32Backend : public Backend {
public:
    ResultOf<Handle> open(const std::string& path) override {
        const std::wstring wide = win32::widen(path);
        HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE || h == nullptr) {
            const DWORD code = GetLastError();
            return ResultOf<Handle>::failure(code, systemText("CreateFileW", code));
        }
        return ResultOf<Handle>::success(reinterpret_cast<Handle>(h));
    }

    ResultOf<Handle> createEvent() override {
        HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!h) {
            const DWORD code = GetLastError();
            return ResultOf<Handle>::failure(code, systemText("CreateEventW", code));
        }
        return ResultOf<Handle>::success(reinterpret_cast<Handle>(h));
    }

    void close(Handle handle) override { CloseHandle(toNative(handle)); }

    ResultOf<uint32_t> control(Handle device, uint32_t code, const void* in, size_t inSize,
                               void* out, size_t outSize) override {
        DWORD returned = 0;
        if (!DeviceIoControl(toNative(device), code, const_cast<void*>(in), DWORD(inSize), out,
                             DWORD(outSize), &returned, nullptr)) {
            const DWORD error = GetLastError();
            return ResultOf<uint32_t>::failure(error, systemText("DeviceIoControl", error));
        }
        return ResultOf<uint32_t>::success(returned);
    }

    Result signalEvent(Handle event) override {
        if (SetEvent(toNative(event)))
            return Result::success();
        const DWORD error = GetLastError();
        return Result::failure(error, systemText("SetEvent", error));
    }

    ResultOf<size_t> waitAny(const std::vector<Handle>& events) override {
        HANDLE handles[MAXIMUM_WAIT_OBJECTS];
        for (size_t i = 0; i < events.size(); ++i)
            handles[i] = toNative(events[i]);
        const DWORD rc = WaitForMultipleObjects(DWORD(events.size()), handles, FALSE, INFINITE);
        if (rc < WAIT_OBJECT_0 + events.size())
            return ResultOf<size_t>::success(size_t(rc - WAIT_OBJECT_0));
        if (rc == WAIT_FAILED) {
            const DWORD error = GetLastError();
            return ResultOf<size_t>::failure(error, systemText("WaitForMultipleObjects", error));
        }
        // An abandoned mutex or a time-out: neither is a signalled event here.
        return ResultOf<size_t>::failure(kErrorWaitTimeout, "the wait ended without an event");
    }
};

} // namespace

Backend& systemBackend() {
    static Win32Backend backend;
    return backend;
}

} // namespace platform::devio
