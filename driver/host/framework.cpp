// User-mode implementation of the KMDF/WDM subset in include/. Object handles are pointers to
// the host objects below, except request handles: those are serial numbers never reused, so a
// request touched after its completion is recognised for certain. Misuse the real framework
// would catch with a bug check, or that would hang the device's removal, aborts here so tests
// cannot miss it: completing a request twice, touching a completed request or one that sits in
// a queue, a request the driver never completes, paged code or paged pool above APC_LEVEL.
#include "kmdfhost.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

[[noreturn]] void hostBugCheck(const char* what) {
    std::fprintf(stderr, "kmdf host: %s\n", what);
    std::abort();
}

// ----- pool -----

struct PoolBlock {
    ULONG tag;
    size_t size;
};
// Never destroyed: a device stack torn down at process exit still frees into the pool.
std::mutex& g_poolMutex = *new std::mutex;
std::unordered_map<const void*, PoolBlock>& g_pool =
    *new std::unordered_map<const void*, PoolBlock>;
std::atomic<int> g_failAllocations{0};

// ----- objects -----

enum class Kind { Driver, Device, Queue, Request, Memory };

struct HostObject {
    explicit HostObject(Kind k) : kind(k) {}
    virtual ~HostObject() = default;
    Kind kind;
    PCWDF_OBJECT_CONTEXT_TYPE_INFO contextType = nullptr;
    std::unique_ptr<std::max_align_t[]> context;

    void allocateContext(PWDF_OBJECT_ATTRIBUTES attributes) {
        if (!attributes || !attributes->ContextTypeInfo)
            return;
        contextType = attributes->ContextTypeInfo;
        size_t size = attributes->ContextSizeOverride ? attributes->ContextSizeOverride
                                                      : contextType->ContextSize;
        const size_t n = (size + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
        context.reset(new std::max_align_t[n ? n : 1]()); // zeroed, as the framework does
    }
};

struct HostDriver;
struct HostQueue;

// What device add sets up before the device exists; the device keeps it.
struct DeviceSetup {
    HostDriver* driver = nullptr;
    bool filter = false;
    PFN_WDFDEVICE_WDM_IRP_PREPROCESS preprocess = nullptr;
    UCHAR preprocessMajor = 0;
    std::vector<UCHAR> preprocessMinors;
    PDEVICE_OBJECT lower = nullptr;
};

struct HostDevice : HostObject {
    HostDevice() : HostObject(Kind::Device) {}
    DEVICE_OBJECT wdm{};
    DeviceSetup setup;
    HostQueue* defaultQueue = nullptr;
    std::vector<std::unique_ptr<HostQueue>> queues;
};

struct HostRequest;

struct HostQueue : HostObject {
    HostQueue() : HostObject(Kind::Queue) {}
    WDF_IO_QUEUE_CONFIG config{};
    HostDevice* device = nullptr;
    mutable std::mutex mutex;
    std::deque<HostRequest*> waiting; // manual queues only
};

struct HostMemory : HostObject {
    HostMemory() : HostObject(Kind::Memory) {}
    void* buffer = nullptr;
    size_t length = 0;
};

struct HostRequest : HostObject {
    HostRequest() : HostObject(Kind::Request) {}
    uintptr_t handle = 0;
    HostDevice* device = nullptr;
    std::atomic<HostQueue*> queuedIn{nullptr}; // set while a manual queue, not the driver, owns it
    std::vector<IO_STACK_LOCATION> stack;
    IRP irp{};
    HostMemory outputMemory;
    kmdfhost::Completion onComplete;
    // Shared with the sender so it can tell a synchronous completion from a pending one.
    std::shared_ptr<std::atomic<bool>> doneFlag;
    std::shared_ptr<NTSTATUS> doneStatus;
    std::shared_ptr<ULONG_PTR> doneInformation;
};

struct HostDriver : HostObject {
    HostDriver() : HostObject(Kind::Driver) {}
    WDF_DRIVER_CONFIG config{};
    PDRIVER_OBJECT wdm = nullptr;
};

} // namespace

struct WDFDEVICE_INIT {
    DeviceSetup setup;
    HostDevice* created = nullptr;
};

namespace {

template <typename T> T* as(void* handle, Kind kind) {
    auto* object = static_cast<HostObject*>(handle);
    if (!object || object->kind != kind)
        hostBugCheck("wrong or null framework handle");
    return static_cast<T*>(object);
}

// Live requests by handle. Handles are odd serial numbers, so they never look like an object
// pointer and a completed request's handle never comes back.
std::mutex& g_requestsMutex = *new std::mutex;
std::unordered_map<uintptr_t, HostRequest*>& g_requests =
    *new std::unordered_map<uintptr_t, HostRequest*>;
std::atomic<uintptr_t> g_nextRequest{0};

WDFREQUEST registerRequest(HostRequest* request) {
    request->handle = (g_nextRequest.fetch_add(1) << 1) | 1u;
    std::lock_guard<std::mutex> lock(g_requestsMutex);
    g_requests[request->handle] = request;
    return reinterpret_cast<WDFREQUEST>(request->handle);
}

HostRequest* lookupRequest(WDFREQUEST r) {
    const auto handle = reinterpret_cast<uintptr_t>(r);
    if (!(handle & 1u))
        hostBugCheck("not a request handle");
    std::lock_guard<std::mutex> lock(g_requestsMutex);
    auto it = g_requests.find(handle);
    if (it == g_requests.end())
        hostBugCheck("request used after its completion");
    return it->second;
}

// A request the driver owns: one that sits in a manual queue belongs to the queue until the
// driver retrieves it again.
HostRequest* requestOf(WDFREQUEST r) {
    HostRequest* request = lookupRequest(r);
    if (request->queuedIn)
        hostBugCheck("request used while it sits in a queue");
    return request;
}
HostQueue* queueOf(WDFQUEUE q) {
    return as<HostQueue>(q, Kind::Queue);
}
HostDevice* deviceOf(WDFDEVICE d) {
    return as<HostDevice>(d, Kind::Device);
}

WDFREQUEST handleOf(HostRequest* r) {
    return reinterpret_cast<WDFREQUEST>(r->handle);
}

void completeRequest(HostRequest* request, NTSTATUS status, ULONG_PTR information) {
    if (status == STATUS_PENDING)
        hostBugCheck("request completed with STATUS_PENDING");
    {
        std::lock_guard<std::mutex> lock(g_requestsMutex);
        if (g_requests.erase(request->handle) == 0)
            hostBugCheck("request completed twice");
    }
    request->irp.IoStatus.Status = status;
    request->irp.IoStatus.Information = information;
    *request->doneStatus = status;
    *request->doneInformation = information;
    kmdfhost::Completion callback = std::move(request->onComplete);
    std::shared_ptr<std::atomic<bool>> flag = request->doneFlag;
    delete request; // the driver may not touch a completed request
    flag->store(true);
    if (callback)
        callback(status, information);
}

// What the bus driver below the device saw of the last PnP request it got.
struct BusRecord {
    bool called = false;
    IO_STACK_LOCATION seen{};
};

// The bus driver below the device: answers PnP requests with their current status.
NTSTATUS busDispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
    auto* record = static_cast<BusRecord*>(device->DeviceExtension);
    record->called = true;
    record->seen = *IoGetCurrentIrpStackLocation(irp);
    const NTSTATUS status = irp->IoStatus.Status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

constexpr ULONG kIrpCompletedFlag = 0x80000000u;

// The calling thread's IRQL as the system would have it while the driver runs.
thread_local KIRQL t_irql = PASSIVE_LEVEL;

class IrqlScope {
public:
    explicit IrqlScope(KIRQL irql) : m_saved(t_irql) { t_irql = irql; }
    ~IrqlScope() { t_irql = m_saved; }
    IrqlScope(const IrqlScope&) = delete;
    IrqlScope& operator=(const IrqlScope&) = delete;

private:
    KIRQL m_saved;
};

} // namespace

// ===== kernel =====

extern "C" KIRQL KeGetCurrentIrql(void) {
    return t_irql;
}

// Code in a pageable section may fault its page in, which is fatal above APC_LEVEL.
extern "C" VOID HostCheckPagedCode(void) {
    if (t_irql > APC_LEVEL)
        hostBugCheck("pageable code called above APC_LEVEL");
}

extern "C" PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag) {
    if (PoolType == PagedPool && t_irql > APC_LEVEL)
        hostBugCheck("paged pool allocated above APC_LEVEL");
    int pending = g_failAllocations.load();
    while (pending > 0 && !g_failAllocations.compare_exchange_weak(pending, pending - 1)) {
    }
    if (pending > 0)
        return nullptr;
    void* block = std::malloc(NumberOfBytes ? NumberOfBytes : 1);
    if (!block)
        return nullptr;
    std::lock_guard<std::mutex> lock(g_poolMutex);
    g_pool[block] = PoolBlock{Tag, NumberOfBytes};
    return block;
}

extern "C" VOID ExFreePool(PVOID P) {
    {
        std::lock_guard<std::mutex> lock(g_poolMutex);
        if (g_pool.erase(P) == 0)
            hostBugCheck("ExFreePool of a block not from the pool");
    }
    std::free(P);
}

extern "C" VOID ExFreePoolWithTag(PVOID P, ULONG) {
    ExFreePool(P);
}

extern "C" VOID IoCompleteRequest(PIRP Irp, CCHAR) {
    if (Irp->Flags & kIrpCompletedFlag)
        hostBugCheck("IRP completed twice");
    Irp->Flags |= kIrpCompletedFlag;
}

extern "C" NTSTATUS IoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    if (Irp->CurrentLocation <= 1)
        hostBugCheck("no stack location left for IoCallDriver");
    Irp->CurrentLocation--;
    Irp->Tail.Overlay.CurrentStackLocation--;
    IoGetCurrentIrpStackLocation(Irp)->DeviceObject = DeviceObject;
    PDRIVER_DISPATCH dispatch =
        DeviceObject->DriverObject->MajorFunction[IoGetCurrentIrpStackLocation(Irp)->MajorFunction];
    if (!dispatch)
        hostBugCheck("no dispatch routine below");
    return dispatch(DeviceObject, Irp);
}

// ===== framework =====

extern "C" PVOID WdfObjectGetTypedContextWorker(WDFOBJECT Handle,
                                                PCWDF_OBJECT_CONTEXT_TYPE_INFO TypeInfo) {
    const bool request = reinterpret_cast<uintptr_t>(Handle) & 1u;
    HostObject* object =
        request ? lookupRequest(static_cast<WDFREQUEST>(Handle)) : static_cast<HostObject*>(Handle);
    if (!object || object->contextType != TypeInfo)
        return nullptr;
    return object->context.get();
}

namespace {
// Which host driver belongs to which driver object (set by WdfDriverCreate).
std::mutex& g_driversMutex = *new std::mutex;
std::unordered_map<PDRIVER_OBJECT, HostDriver*>& g_drivers =
    *new std::unordered_map<PDRIVER_OBJECT, HostDriver*>;
} // namespace

extern "C" NTSTATUS WdfDriverCreate(PDRIVER_OBJECT DriverObject, PCUNICODE_STRING,
                                    PWDF_OBJECT_ATTRIBUTES DriverAttributes,
                                    PWDF_DRIVER_CONFIG DriverConfig, WDFDRIVER* Driver) {
    if (!DriverObject || !DriverConfig || DriverConfig->Size != sizeof(WDF_DRIVER_CONFIG))
        return STATUS_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(g_driversMutex);
    if (g_drivers.count(DriverObject))
        return STATUS_INVALID_DEVICE_STATE;
    auto* driver = new HostDriver;
    driver->config = *DriverConfig;
    driver->wdm = DriverObject;
    driver->allocateContext(DriverAttributes);
    g_drivers[DriverObject] = driver;
    if (Driver)
        *Driver = reinterpret_cast<WDFDRIVER>(static_cast<HostObject*>(driver));
    return STATUS_SUCCESS;
}

extern "C" VOID WdfFdoInitSetFilter(PWDFDEVICE_INIT DeviceInit) {
    DeviceInit->setup.filter = true;
}

extern "C" NTSTATUS WdfDeviceInitAssignWdmIrpPreprocessCallback(
    PWDFDEVICE_INIT DeviceInit, PFN_WDFDEVICE_WDM_IRP_PREPROCESS EvtDeviceWdmIrpPreprocess,
    UCHAR MajorFunction, PUCHAR MinorFunctions, ULONG NumMinorFunctions) {
    if (!EvtDeviceWdmIrpPreprocess || MajorFunction > IRP_MJ_MAXIMUM_FUNCTION ||
        (NumMinorFunctions > 0 && !MinorFunctions))
        return STATUS_INVALID_PARAMETER;
    DeviceInit->setup.preprocess = EvtDeviceWdmIrpPreprocess;
    DeviceInit->setup.preprocessMajor = MajorFunction;
    DeviceInit->setup.preprocessMinors.assign(MinorFunctions, MinorFunctions + NumMinorFunctions);
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS WdfDeviceCreate(PWDFDEVICE_INIT* DeviceInit,
                                    PWDF_OBJECT_ATTRIBUTES DeviceAttributes, WDFDEVICE* Device) {
    if (!DeviceInit || !*DeviceInit || !Device)
        return STATUS_INVALID_PARAMETER;
    PWDFDEVICE_INIT init = *DeviceInit;
    if (init->created)
        return STATUS_INVALID_DEVICE_STATE;
    auto* device = new HostDevice;
    device->setup = init->setup;
    device->wdm.DriverObject = init->setup.driver->wdm;
    device->wdm.StackSize = 2;
    device->allocateContext(DeviceAttributes);
    init->created = device;
    *DeviceInit = nullptr; // the framework owns the init structure from here on
    *Device = reinterpret_cast<WDFDEVICE>(static_cast<HostObject*>(device));
    return STATUS_SUCCESS;
}

extern "C" PDEVICE_OBJECT WdfDeviceWdmGetDeviceObject(WDFDEVICE Device) {
    return &deviceOf(Device)->wdm;
}

// Re-enters the framework's own handling after a preprocess callback skipped its location. For
// a filter that means: send the request down unchanged.
extern "C" NTSTATUS WdfDeviceWdmDispatchPreprocessedIrp(WDFDEVICE Device, PIRP Irp) {
    HostDevice* device = deviceOf(Device);
    Irp->CurrentLocation--;
    Irp->Tail.Overlay.CurrentStackLocation--;
    if (device->setup.filter && device->setup.lower) {
        IoSkipCurrentIrpStackLocation(Irp);
        return IoCallDriver(device->setup.lower, Irp);
    }
    const NTSTATUS status = Irp->IoStatus.Status;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return status;
}

extern "C" NTSTATUS WdfIoQueueCreate(WDFDEVICE Device, PWDF_IO_QUEUE_CONFIG Config,
                                     PWDF_OBJECT_ATTRIBUTES QueueAttributes, WDFQUEUE* Queue) {
    HostDevice* device = deviceOf(Device);
    if (!Config || Config->Size != sizeof(WDF_IO_QUEUE_CONFIG) ||
        Config->DispatchType == WdfIoQueueDispatchInvalid ||
        Config->DispatchType > WdfIoQueueDispatchManual)
        return STATUS_INVALID_PARAMETER;
    if (Config->DefaultQueue &&
        (device->defaultQueue || Config->DispatchType == WdfIoQueueDispatchManual))
        return STATUS_INVALID_DEVICE_REQUEST;
    auto queue = std::make_unique<HostQueue>();
    queue->config = *Config;
    queue->device = device;
    queue->allocateContext(QueueAttributes);
    if (Config->DefaultQueue)
        device->defaultQueue = queue.get();
    if (Queue)
        *Queue = reinterpret_cast<WDFQUEUE>(static_cast<HostObject*>(queue.get()));
    device->queues.push_back(std::move(queue));
    return STATUS_SUCCESS;
}

extern "C" WDFDEVICE WdfIoQueueGetDevice(WDFQUEUE Queue) {
    return reinterpret_cast<WDFDEVICE>(static_cast<HostObject*>(queueOf(Queue)->device));
}

extern "C" NTSTATUS WdfIoQueueRetrieveNextRequest(WDFQUEUE Queue, WDFREQUEST* OutRequest) {
    HostQueue* queue = queueOf(Queue);
    if (queue->config.DispatchType != WdfIoQueueDispatchManual)
        return STATUS_INVALID_DEVICE_REQUEST;
    std::lock_guard<std::mutex> lock(queue->mutex);
    if (queue->waiting.empty())
        return STATUS_NO_MORE_ENTRIES;
    HostRequest* request = queue->waiting.front();
    queue->waiting.pop_front();
    request->queuedIn = nullptr; // the driver's again
    *OutRequest = handleOf(request);
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS WdfRequestForwardToIoQueue(WDFREQUEST Request, WDFQUEUE DestinationQueue) {
    HostRequest* request = requestOf(Request);
    HostQueue* queue = queueOf(DestinationQueue);
    if (queue->config.DispatchType != WdfIoQueueDispatchManual)
        return STATUS_INVALID_DEVICE_REQUEST; // only manual queues are modelled
    if (queue->device != request->device)
        return STATUS_INVALID_DEVICE_REQUEST; // a request stays with its device
    std::lock_guard<std::mutex> lock(queue->mutex);
    request->queuedIn = queue;
    queue->waiting.push_back(request);
    return STATUS_SUCCESS;
}

extern "C" VOID WdfRequestComplete(WDFREQUEST Request, NTSTATUS Status) {
    HostRequest* request = requestOf(Request);
    completeRequest(request, Status, request->irp.IoStatus.Information);
}

extern "C" VOID WdfRequestCompleteWithInformation(WDFREQUEST Request, NTSTATUS Status,
                                                  ULONG_PTR Information) {
    completeRequest(requestOf(Request), Status, Information);
}

extern "C" VOID WdfRequestSetInformation(WDFREQUEST Request, ULONG_PTR Information) {
    requestOf(Request)->irp.IoStatus.Information = Information;
}

extern "C" PIRP WdfRequestWdmGetIrp(WDFREQUEST Request) {
    return &requestOf(Request)->irp;
}

extern "C" VOID WdfRequestGetParameters(WDFREQUEST Request, PWDF_REQUEST_PARAMETERS Parameters) {
    HostRequest* request = requestOf(Request);
    if (!Parameters || Parameters->Size != sizeof(WDF_REQUEST_PARAMETERS))
        hostBugCheck("request parameters not initialised");
    const IO_STACK_LOCATION& location = request->stack[1];
    WDF_REQUEST_PARAMETERS_INIT(Parameters);
    Parameters->Type = WDF_REQUEST_TYPE(location.MajorFunction);
    Parameters->MinorFunction = location.MinorFunction;
    Parameters->Parameters.DeviceIoControl.OutputBufferLength =
        location.Parameters.DeviceIoControl.OutputBufferLength;
    Parameters->Parameters.DeviceIoControl.InputBufferLength =
        location.Parameters.DeviceIoControl.InputBufferLength;
    Parameters->Parameters.DeviceIoControl.IoControlCode =
        location.Parameters.DeviceIoControl.IoControlCode;
    Parameters->Parameters.DeviceIoControl.Type3InputBuffer =
        location.Parameters.DeviceIoControl.Type3InputBuffer;
}

namespace {
// The framework finds an internal request's output buffer by the control code's transfer
// method: for METHOD_NEITHER it is the IRP's user buffer. The HID class sends its direct-method
// requests (feature, output and input reports) without an MDL, so for those there is none:
// their transfer packet must be read from the user buffer by the driver itself.
NTSTATUS outputBufferOf(HostRequest* request, void** buffer, ULONG* length) {
    const IO_STACK_LOCATION& location = request->stack[1];
    *buffer = nullptr;
    *length = location.Parameters.DeviceIoControl.OutputBufferLength;
    if (*length == 0)
        return STATUS_BUFFER_TOO_SMALL;
    constexpr ULONG kMethodNeither = 3; // the low two bits of a control code
    const ULONG method = location.Parameters.DeviceIoControl.IoControlCode & 3u;
    if (method != kMethodNeither || !request->irp.UserBuffer)
        return STATUS_INVALID_DEVICE_REQUEST;
    *buffer = request->irp.UserBuffer;
    return STATUS_SUCCESS;
}
} // namespace

extern "C" NTSTATUS WdfRequestRetrieveOutputBuffer(WDFREQUEST Request, size_t MinimumRequiredSize,
                                                   PVOID* Buffer, size_t* Length) {
    HostRequest* request = requestOf(Request);
    if (!Buffer)
        return STATUS_INVALID_PARAMETER;
    *Buffer = nullptr;
    if (Length)
        *Length = 0;
    void* buffer = nullptr;
    ULONG length = 0;
    const NTSTATUS status = outputBufferOf(request, &buffer, &length);
    if (status == STATUS_SUCCESS && length < MinimumRequiredSize)
        return STATUS_BUFFER_TOO_SMALL;
    if (!NT_SUCCESS(status))
        return status;
    *Buffer = buffer;
    if (Length)
        *Length = length;
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS WdfRequestRetrieveOutputMemory(WDFREQUEST Request, WDFMEMORY* Memory) {
    HostRequest* request = requestOf(Request);
    if (!Memory)
        return STATUS_INVALID_PARAMETER;
    void* buffer = nullptr;
    ULONG length = 0;
    const NTSTATUS status = outputBufferOf(request, &buffer, &length);
    if (!NT_SUCCESS(status))
        return status;
    request->outputMemory.buffer = buffer;
    request->outputMemory.length = length;
    *Memory = reinterpret_cast<WDFMEMORY>(static_cast<HostObject*>(&request->outputMemory));
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS WdfMemoryCopyFromBuffer(WDFMEMORY DestinationMemory, size_t DestinationOffset,
                                            PVOID Buffer, size_t NumBytesToCopyFrom) {
    auto* memory = as<HostMemory>(DestinationMemory, Kind::Memory);
    if (!Buffer || NumBytesToCopyFrom == 0)
        return STATUS_INVALID_PARAMETER;
    if (DestinationOffset > memory->length ||
        memory->length - DestinationOffset < NumBytesToCopyFrom)
        return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(static_cast<unsigned char*>(memory->buffer) + DestinationOffset, Buffer,
                NumBytesToCopyFrom);
    return STATUS_SUCCESS;
}

// ===== host side =====

namespace kmdfhost {

struct DeviceStack::State {
    PDRIVER_INITIALIZE entry = nullptr;
    DRIVER_OBJECT driverObject{};
    UNICODE_STRING registryPath{};
    DRIVER_OBJECT busDriver{};
    DEVICE_OBJECT busDevice{}; // the root-enumerated PDO below the driver
    BusRecord bus;
    HostDriver* driver = nullptr;
    HostDevice* device = nullptr;
    bool started = false;
};

DeviceStack::DeviceStack(PDRIVER_INITIALIZE driverEntry) : d(std::make_unique<State>()) {
    d->entry = driverEntry;
    d->busDriver.MajorFunction[IRP_MJ_PNP] = busDispatchPnp;
    d->busDevice.DriverObject = &d->busDriver;
    d->busDevice.StackSize = 1;
    d->busDevice.DeviceExtension = &d->bus;
}

DeviceStack::~DeviceStack() {
    cancelQueued();
    // The system would wait for these forever before the device could go.
    if (d->device) {
        std::lock_guard<std::mutex> lock(g_requestsMutex);
        for (const auto& entry : g_requests) {
            if (entry.second->device == d->device)
                hostBugCheck("device removed while the driver still holds a request");
        }
    }
    delete d->device;
    if (d->driver) {
        std::lock_guard<std::mutex> lock(g_driversMutex);
        g_drivers.erase(&d->driverObject);
        delete d->driver;
    }
}

NTSTATUS DeviceStack::start() {
    if (d->started)
        return STATUS_INVALID_DEVICE_STATE;
    IrqlScope passive(PASSIVE_LEVEL);
    NTSTATUS status = d->entry(&d->driverObject, &d->registryPath);
    {
        std::lock_guard<std::mutex> lock(g_driversMutex);
        auto it = g_drivers.find(&d->driverObject);
        d->driver = it == g_drivers.end() ? nullptr : it->second;
    }
    if (!NT_SUCCESS(status))
        return status;
    if (!d->driver || !d->driver->config.EvtDriverDeviceAdd)
        return STATUS_INVALID_DEVICE_STATE;
    WDFDEVICE_INIT init;
    init.setup.driver = d->driver;
    init.setup.lower = &d->busDevice;
    status = d->driver->config.EvtDriverDeviceAdd(
        reinterpret_cast<WDFDRIVER>(static_cast<HostObject*>(d->driver)), &init);
    d->device = init.created; // created even when a later step failed: freed with the stack
    if (!NT_SUCCESS(status))
        return status;
    if (!d->device || !d->device->defaultQueue)
        return STATUS_INVALID_DEVICE_STATE;
    d->device->wdm.AttachedDevice = nullptr;
    d->started = true;
    return STATUS_SUCCESS;
}

bool DeviceStack::started() const {
    return d->started;
}
bool DeviceStack::isFilter() const {
    return d->device && d->device->setup.filter;
}
PDEVICE_OBJECT DeviceStack::deviceObject() const {
    return d->device ? &d->device->wdm : nullptr;
}

NTSTATUS DeviceStack::sendInternal(const InternalIoctl& ioctl, Completion onComplete,
                                   ULONG_PTR* information) {
    if (!d->started)
        return STATUS_INVALID_DEVICE_STATE;
    HostQueue* queue = d->device->defaultQueue;
    auto* request = new HostRequest;
    request->device = d->device;
    request->stack.resize(2); // [1] this device, [0] room below
    IO_STACK_LOCATION& location = request->stack[1];
    location.MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    location.DeviceObject = &d->device->wdm;
    location.Parameters.DeviceIoControl.IoControlCode = ioctl.code;
    location.Parameters.DeviceIoControl.InputBufferLength = ioctl.inputLength;
    location.Parameters.DeviceIoControl.OutputBufferLength = ioctl.outputLength;
    location.Parameters.DeviceIoControl.Type3InputBuffer = ioctl.type3Input;
    request->irp.StackCount = 2;
    request->irp.CurrentLocation = 2;
    request->irp.Tail.Overlay.CurrentStackLocation = &location;
    request->irp.UserBuffer = ioctl.userBuffer;
    request->irp.IoStatus.Status = STATUS_SUCCESS;
    request->onComplete = std::move(onComplete);
    auto flag = std::make_shared<std::atomic<bool>>(false);
    auto status = std::make_shared<NTSTATUS>(STATUS_PENDING);
    auto info = std::make_shared<ULONG_PTR>(0);
    request->doneFlag = flag;
    request->doneStatus = status;
    request->doneInformation = info;

    const WDFREQUEST handle = registerRequest(request);
    if (!queue->config.EvtIoInternalDeviceControl) {
        completeRequest(request, STATUS_INVALID_DEVICE_REQUEST, 0);
    } else {
        // The HID class sends reads from its completion routines: the worst case is
        // DISPATCH_LEVEL, so the driver is always called there.
        IrqlScope dispatch(DISPATCH_LEVEL);
        queue->config.EvtIoInternalDeviceControl(
            reinterpret_cast<WDFQUEUE>(static_cast<HostObject*>(queue)), handle, ioctl.outputLength,
            ioctl.inputLength, ioctl.code);
    }
    if (!flag->load())
        return STATUS_PENDING;
    if (information)
        *information = *info;
    return *status;
}

QueryIdResult DeviceStack::queryId(BUS_QUERY_ID_TYPE type, PDEVICE_OBJECT caller) {
    QueryIdResult result;
    if (!d->started)
        return result;
    // [0] the bus driver, [1] this device, [2] the caller above (absent at the top).
    IO_STACK_LOCATION stack[3]{};
    IRP irp{};
    const CHAR count = caller ? 3 : 2;
    irp.StackCount = count;
    irp.CurrentLocation = 2;
    irp.Tail.Overlay.CurrentStackLocation = &stack[1];
    irp.IoStatus.Status = STATUS_NOT_SUPPORTED; // how the PnP manager sends every PnP request
    stack[1].MajorFunction = IRP_MJ_PNP;
    stack[1].MinorFunction = IRP_MN_QUERY_ID;
    stack[1].Parameters.QueryId.IdType = type;
    stack[1].DeviceObject = &d->device->wdm;
    if (caller) {
        stack[2] = stack[1];
        stack[2].DeviceObject = caller;
    }

    HostDevice* device = d->device;
    d->bus = BusRecord{};
    const DeviceSetup& setup = device->setup;
    const bool hooked = setup.preprocess && setup.preprocessMajor == IRP_MJ_PNP &&
                        (setup.preprocessMinors.empty() ||
                         std::find(setup.preprocessMinors.begin(), setup.preprocessMinors.end(),
                                   UCHAR(IRP_MN_QUERY_ID)) != setup.preprocessMinors.end());
    WDFDEVICE handle = reinterpret_cast<WDFDEVICE>(static_cast<HostObject*>(device));
    IrqlScope passive(PASSIVE_LEVEL); // PnP requests come at PASSIVE_LEVEL
    if (hooked) {
        result.status = setup.preprocess(handle, &irp);
    } else {
        IoSkipCurrentIrpStackLocation(&irp);
        result.status = WdfDeviceWdmDispatchPreprocessedIrp(handle, &irp);
    }
    if (!(irp.Flags & kIrpCompletedFlag))
        hostBugCheck("query-id request left unanswered");
    result.information = irp.IoStatus.Information;
    result.passedDown = d->bus.called;
    result.lowerSawSameId = d->bus.called && d->bus.seen.MajorFunction == IRP_MJ_PNP &&
                            d->bus.seen.MinorFunction == IRP_MN_QUERY_ID &&
                            d->bus.seen.Parameters.QueryId.IdType == type;
    return result;
}

size_t DeviceStack::queuedRequests() const {
    if (!d->device)
        return 0;
    size_t n = 0;
    for (const auto& queue : d->device->queues) {
        std::lock_guard<std::mutex> lock(queue->mutex);
        n += queue->waiting.size();
    }
    return n;
}

void DeviceStack::cancelQueued() {
    if (!d->device)
        return;
    for (const auto& queue : d->device->queues) {
        for (;;) {
            HostRequest* request = nullptr;
            {
                std::lock_guard<std::mutex> lock(queue->mutex);
                if (queue->waiting.empty())
                    break;
                request = queue->waiting.front();
                queue->waiting.pop_front();
            }
            completeRequest(request, STATUS_CANCELLED, 0);
        }
    }
}

bool poolBlockInfo(const void* block, ULONG* tag, size_t* size) {
    std::lock_guard<std::mutex> lock(g_poolMutex);
    auto it = g_pool.find(block);
    if (it == g_pool.end())
        return false;
    if (tag)
        *tag = it->second.tag;
    if (size)
        *size = it->second.size;
    return true;
}

size_t poolLiveBlocks() {
    std::lock_guard<std::mutex> lock(g_poolMutex);
    return g_pool.size();
}

void failNextPoolAllocations(int count) {
    g_failAllocations.store(count);
}

} // namespace kmdfhost
