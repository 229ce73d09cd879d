// The framework stand-in itself: misuse the real framework punishes (a bug check, or a removal
// that never ends) must stop the process here too, or driver faults would pass unseen. Each
// misuse runs in a child process, which must die by abort; the same steps done right must not.
#include "kmdfhost.h"

#include <hidport.h>

#include <QtTest>

#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// What the test driver does with each internal request.
enum class Act {
    CompleteOnce,
    CompleteTwice,
    TouchAfterCompletion,
    CompleteAfterForward,
    Forward,
    KeepRequest,
    PagedCodeInDispatch,
    PagedPoolInDispatch,
    NonPagedPoolInDispatch,
    RetrieveOutput,
};

Act g_act = Act::CompleteOnce;
WDFQUEUE g_manual = nullptr;
NTSTATUS g_retrieveStatus = STATUS_PENDING;

VOID testInternalControl(WDFQUEUE, WDFREQUEST request, size_t, size_t, ULONG) {
    switch (g_act) {
    case Act::CompleteOnce:
        WdfRequestComplete(request, STATUS_SUCCESS);
        break;
    case Act::CompleteTwice:
        WdfRequestComplete(request, STATUS_SUCCESS);
        WdfRequestComplete(request, STATUS_SUCCESS);
        break;
    case Act::TouchAfterCompletion:
        WdfRequestComplete(request, STATUS_SUCCESS);
        WdfRequestSetInformation(request, 1);
        break;
    case Act::CompleteAfterForward:
        if (NT_SUCCESS(WdfRequestForwardToIoQueue(request, g_manual)))
            WdfRequestComplete(request, STATUS_SUCCESS);
        break;
    case Act::Forward:
        if (!NT_SUCCESS(WdfRequestForwardToIoQueue(request, g_manual)))
            WdfRequestComplete(request, STATUS_UNSUCCESSFUL);
        break;
    case Act::KeepRequest:
        break;
    case Act::PagedCodeInDispatch:
        PAGED_CODE();
        WdfRequestComplete(request, STATUS_SUCCESS);
        break;
    case Act::PagedPoolInDispatch:
    case Act::NonPagedPoolInDispatch: {
        const POOL_TYPE type = g_act == Act::PagedPoolInDispatch ? PagedPool : NonPagedPool;
        PVOID block = ExAllocatePoolWithTag(type, 8, 0x74736554);
        if (block)
            ExFreePool(block);
        WdfRequestComplete(request, STATUS_SUCCESS);
        break;
    }
    case Act::RetrieveOutput: {
        PVOID buffer = nullptr;
        g_retrieveStatus = WdfRequestRetrieveOutputBuffer(request, 1, &buffer, nullptr);
        WdfRequestComplete(request, g_retrieveStatus);
        break;
    }
    }
}

NTSTATUS testDeviceAdd(WDFDRIVER, PWDFDEVICE_INIT init) {
    PAGED_CODE();
    WDFDEVICE device;
    NTSTATUS status = WdfDeviceCreate(&init, WDF_NO_OBJECT_ATTRIBUTES, &device);
    if (!NT_SUCCESS(status))
        return status;
    WDF_IO_QUEUE_CONFIG config;
    WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(&config, WdfIoQueueDispatchParallel);
    config.EvtIoInternalDeviceControl = testInternalControl;
    status = WdfIoQueueCreate(device, &config, WDF_NO_OBJECT_ATTRIBUTES, WDF_NO_HANDLE);
    if (!NT_SUCCESS(status))
        return status;
    WDF_IO_QUEUE_CONFIG_INIT(&config, WdfIoQueueDispatchManual);
    return WdfIoQueueCreate(device, &config, WDF_NO_OBJECT_ATTRIBUTES, &g_manual);
}

NTSTATUS testDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    WDF_DRIVER_CONFIG config;
    WDF_DRIVER_CONFIG_INIT(&config, testDeviceAdd);
    return WdfDriverCreate(driver, registryPath, WDF_NO_OBJECT_ATTRIBUTES, &config, WDF_NO_HANDLE);
}

// Starts the test driver, sends one request with `act`, removes the device.
void runOnce(Act act, ULONG code = IOCTL_HID_READ_REPORT) {
    g_act = act;
    kmdfhost::DeviceStack stack(testDriverEntry);
    if (!NT_SUCCESS(stack.start()))
        std::_Exit(3);
    uint8_t buffer[8] = {};
    stack.sendInternal({code, buffer, 0, sizeof buffer, nullptr});
}

// Runs `body` in a child process: true when the child ended by abort().
bool aborts(const std::function<void()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // The host's own message says why; the test's output need not carry it.
        std::freopen("/dev/null", "w", stderr);
        body();
        std::_Exit(0);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return false;
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT;
}

} // namespace

Q_DECLARE_METATYPE(Act)

class KmdfHostTest : public QObject {
    Q_OBJECT

private slots:
    void misuseStopsTheProcess_data() {
        QTest::addColumn<Act>("act");
        QTest::addColumn<bool>("fatal");
        QTest::newRow("completed once") << Act::CompleteOnce << false;
        QTest::newRow("completed twice") << Act::CompleteTwice << true;
        QTest::newRow("touched after completion") << Act::TouchAfterCompletion << true;
        QTest::newRow("forwarded, cancelled at removal") << Act::Forward << false;
        QTest::newRow("completed while in a queue") << Act::CompleteAfterForward << true;
        QTest::newRow("never completed") << Act::KeepRequest << true;
        QTest::newRow("pageable code at dispatch level") << Act::PagedCodeInDispatch << true;
        QTest::newRow("paged pool at dispatch level") << Act::PagedPoolInDispatch << true;
        QTest::newRow("non-paged pool at dispatch level") << Act::NonPagedPoolInDispatch << false;
    }
    void misuseStopsTheProcess() {
        QFETCH(Act, act);
        QFETCH(bool, fatal);
        QCOMPARE(aborts([act] { runOnce(act); }), fatal);
    }

    // Device add runs at PASSIVE_LEVEL, where its pageable code belongs.
    void deviceAddIsPassive() {
        QCOMPARE(KeGetCurrentIrql(), KIRQL(PASSIVE_LEVEL));
        g_act = Act::CompleteOnce;
        kmdfhost::DeviceStack stack(testDriverEntry);
        QCOMPARE(stack.start(), STATUS_SUCCESS);
        QCOMPARE(KeGetCurrentIrql(), KIRQL(PASSIVE_LEVEL));
    }

    // The framework has an output buffer only for neither-method requests: the HID class
    // sends its direct-method ones without an MDL, their packet is in the user buffer.
    void outputBufferByTransferMethod_data() {
        QTest::addColumn<ULONG>("code");
        QTest::addColumn<NTSTATUS>("expected");
        QTest::newRow("read report") << ULONG(IOCTL_HID_READ_REPORT) << STATUS_SUCCESS;
        QTest::newRow("get input report")
            << ULONG(IOCTL_HID_GET_INPUT_REPORT) << STATUS_INVALID_DEVICE_REQUEST;
        QTest::newRow("get feature")
            << ULONG(IOCTL_HID_GET_FEATURE) << STATUS_INVALID_DEVICE_REQUEST;
    }
    void outputBufferByTransferMethod() {
        QFETCH(ULONG, code);
        QFETCH(NTSTATUS, expected);
        g_retrieveStatus = STATUS_PENDING;
        runOnce(Act::RetrieveOutput, code);
        QCOMPARE(g_retrieveStatus, expected);
    }
};

QTEST_GUILESS_MAIN(KmdfHostTest)
#include "tst_kmdfhost.moc"
