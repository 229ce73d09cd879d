#pragma once

// The host side of the user-mode framework: loads one KMDF driver on one device node and sends
// it WDM requests the way the system would. Completion may happen on any thread (a write on one
// thread completes a read queued by another), so every call here is thread-safe.

#include <ntddk.h>
#include <wdf.h>

#include <cstdint>
#include <functional>
#include <memory>

namespace kmdfhost {

using Completion = std::function<void(NTSTATUS status, ULONG_PTR information)>;

// One internal device control as the HID class sends it (METHOD_NEITHER: the output buffer or
// the transfer packet is the IRP's user buffer).
struct InternalIoctl {
    ULONG code = 0;
    void* userBuffer = nullptr;
    ULONG inputLength = 0;
    ULONG outputLength = 0;
    void* type3Input = nullptr;
};

struct QueryIdResult {
    NTSTATUS status = STATUS_NOT_SUPPORTED;
    ULONG_PTR information = 0;
    bool passedDown = false;     // the device sent it on to the device below
    bool lowerSawSameId = false; // ...and the device below saw the request unchanged
};

class DeviceStack {
public:
    explicit DeviceStack(PDRIVER_INITIALIZE driverEntry);
    ~DeviceStack(); // cancels whatever the driver still holds, then frees every object
    DeviceStack(const DeviceStack&) = delete;
    DeviceStack& operator=(const DeviceStack&) = delete;

    // DriverEntry, then the driver's device-add callback. The first failure is returned.
    NTSTATUS start();
    bool started() const;
    bool isFilter() const;

    // Dispatches to the default queue on the calling thread. Returns the completion status when
    // the request was completed before the driver returned, else STATUS_PENDING. `onComplete`,
    // when given, runs exactly once, on the completing thread.
    NTSTATUS sendInternal(const InternalIoctl& ioctl, Completion onComplete = {},
                          ULONG_PTR* information = nullptr);

    // IRP_MN_QUERY_ID from above. `caller` is the device object whose stack location sits just
    // above this device's (nullptr: this device is the top of the stack).
    QueryIdResult queryId(BUS_QUERY_ID_TYPE type, PDEVICE_OBJECT caller);

    PDEVICE_OBJECT deviceObject() const;

    // Requests the driver left in its manual queues.
    size_t queuedRequests() const;
    // Completes every queued request with STATUS_CANCELLED (device removal).
    void cancelQueued();

private:
    struct State;
    std::unique_ptr<State> d;
};

// Host pool: tag and size of a live block from ExAllocatePoolWithTag, for checks.
bool poolBlockInfo(const void* block, ULONG* tag, size_t* size);
size_t poolLiveBlocks();
// The next `count` pool allocations fail (insufficient resources paths).
void failNextPoolAllocations(int count);

} // namespace kmdfhost
