#pragma once

// Device I/O with a kernel driver's control devices: open a device path, send control requests
// (buffered I/O: code, input bytes, output room, bytes returned), manual-reset events, a wait
// for any of several events, and closing what was opened. The filter-driver client is its user.
//
// Handles are the system's own values (0 is never a valid handle), so a request may carry an
// event handle to the driver in its input bytes.
//
// Win32 backend: CreateFileW, DeviceIoControl, CreateEventW, WaitForMultipleObjects. Other
// systems: the simulated filter driver (platform/sim/filterdriver.h).

#include "platform/result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::devio {

using Handle = std::uintptr_t;

// Win32 error codes the backends report.
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorBadFormat = 11;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorWaitTimeout = 258;
constexpr uint32_t kErrorInvalidFunction = 1;

// The most events one wait takes (the system's limit).
constexpr size_t kMaxWaitObjects = 64;

class Backend {
public:
    virtual ~Backend() = default;
    // Opens for generic read, no sharing, existing devices only.
    virtual ResultOf<Handle> open(const std::string& path) = 0;
    // A manual-reset, unnamed event, created non-signalled.
    virtual ResultOf<Handle> createEvent() = 0;
    // Closes a device or an event handle.
    virtual void close(Handle handle) = 0;
    // One synchronous control request; the value is the number of bytes returned.
    virtual ResultOf<uint32_t> control(Handle device, uint32_t code, const void* in, size_t inSize,
                                       void* out, size_t outSize) = 0;
    // Signals an event (manual reset: it stays signalled until a wait's owner resets it).
    virtual Result signalEvent(Handle event) = 0;
    // Waits for any of `events` (at most kMaxWaitObjects) without a time limit; the value is
    // the index of the signalled event (the lowest one when several are).
    virtual ResultOf<size_t> waitAny(const std::vector<Handle>& events) = 0;
};

// The build's own backend; installBackend() puts another (not owned) in its place, nullptr
// puts it back. Swap only while nothing is open. The simulated filter driver:
// sim/filterdriver.h.
Backend& systemBackend();
void installBackend(Backend* backend);

ResultOf<Handle> open(const std::string& path);
ResultOf<Handle> createEvent();
void close(Handle handle);
ResultOf<uint32_t> control(Handle device, uint32_t code, const void* in, size_t inSize, void* out,
                           size_t outSize);
Result signalEvent(Handle event);
ResultOf<size_t> waitAny(const std::vector<Handle>& events);

} // namespace platform::devio
