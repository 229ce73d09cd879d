/*
 * pelta: a virtual HID device with an absolute mouse, a relative mouse, a keyboard and two
 * vendor collections. The program writes a vendor "control" output report that wraps an input
 * report of one of the other collections; the driver completes a pending HID read with it, so
 * the system sees a real click or key press coming from this device.
 *
 * KMDF 1.9, filter below the HID pass-through function driver. No hardware, no timer: the only
 * state is the manual queue of pending reads and one byte of device mode.
 */
#include <ntddk.h>
#include <wdf.h>

/* After the kernel headers: it relies on their types. */
#include <hidport.h>

#include "peltaids.h"

/* Pool tag "VMul" as it shows in pool dumps (first byte in memory first). */
#define PELTA_POOL_TAG ((ULONG)'V' | ((ULONG)'M' << 8) | ((ULONG)'u' << 16) | ((ULONG)'l' << 24))

#define PELTA_MAX_CONTACT_COUNT 20

typedef struct _DOVAZA_CONTEXT {
    WDFQUEUE ReportQueue; /* HID reads wait here for a vendor write */
    UCHAR DeviceMode;
} DOVAZA_CONTEXT, *PDOVAZA_CONTEXT;

WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(DOVAZA_CONTEXT, GetDovazaContext)

typedef UCHAR HID_REPORT_DESCRIPTOR, *PHID_REPORT_DESCRIPTOR;

/* clang-format off */
static const HID_REPORT_DESCRIPTOR PeltaReportDescriptor[] = {
    /* absolute mouse, report 3 */
    0x05, 0x01,       /* Usage Page (Generic Desktop) */
    0x09, 0x02,       /* Usage (Mouse) */
    0xA1, 0x01,       /* Collection (Application) */
    0x85, 0x03,       /*   Report ID (3) */
    0x09, 0x01,       /*   Usage (Pointer) */
    0xA1, 0x00,       /*   Collection (Physical) */
    0x05, 0x09,       /*     Usage Page (Button) */
    0x19, 0x01,       /*     Usage Minimum (1) */
    0x29, 0x05,       /*     Usage Maximum (5) */
    0x15, 0x00,       /*     Logical Minimum (0) */
    0x25, 0x01,       /*     Logical Maximum (1) */
    0x75, 0x01,       /*     Report Size (1) */
    0x95, 0x05,       /*     Report Count (5) */
    0x81, 0x02,       /*     Input (Data, Variable, Absolute) */
    0x95, 0x03,       /*     Report Count (3) */
    0x81, 0x03,       /*     Input (Constant) */
    0x05, 0x01,       /*     Usage Page (Generic Desktop) */
    0x26, 0xFF, 0x7F, /*     Logical Maximum (32767) */
    0x75, 0x10,       /*     Report Size (16) */
    0x95, 0x01,       /*     Report Count (1) */
    0x55, 0x0F,       /*     Unit Exponent (-1) */
    0x65, 0x11,       /*     Unit (SI linear, centimetre) */
    0x35, 0x00,       /*     Physical Minimum (0) */
    0x45, 0x00,       /*     Physical Maximum (0) */
    0x09, 0x30,       /*     Usage (X) */
    0x81, 0x02,       /*     Input (Data, Variable, Absolute) */
    0x09, 0x31,       /*     Usage (Y) */
    0x81, 0x02,       /*     Input (Data, Variable, Absolute) */
    0x05, 0x01,       /*     Usage Page (Generic Desktop) */
    0x09, 0x38,       /*     Usage (Wheel) */
    0x15, 0x81,       /*     Logical Minimum (-127) */
    0x25, 0x7F,       /*     Logical Maximum (127) */
    0x75, 0x08,       /*     Report Size (8) */
    0x95, 0x01,       /*     Report Count (1) */
    0x81, 0x06,       /*     Input (Data, Variable, Relative) */
    0xC0,             /*   End Collection */
    0xC0,             /* End Collection */

    /* relative mouse, report 4 */
    0x05, 0x01, /* Usage Page (Generic Desktop) */
    0x09, 0x02, /* Usage (Mouse) */
    0xA1, 0x01, /* Collection (Application) */
    0x85, 0x04, /*   Report ID (4) */
    0x09, 0x01, /*   Usage (Pointer) */
    0xA1, 0x00, /*   Collection (Physical) */
    0x05, 0x09, /*     Usage Page (Button) */
    0x19, 0x01, /*     Usage Minimum (1) */
    0x29, 0x05, /*     Usage Maximum (5) */
    0x15, 0x00, /*     Logical Minimum (0) */
    0x25, 0x01, /*     Logical Maximum (1) */
    0x75, 0x01, /*     Report Size (1) */
    0x95, 0x05, /*     Report Count (5) */
    0x81, 0x02, /*     Input (Data, Variable, Absolute) */
    0x95, 0x03, /*     Report Count (3) */
    0x81, 0x03, /*     Input (Constant) */
    0x05, 0x01, /*     Usage Page (Generic Desktop) */
    0x09, 0x30, /*     Usage (X) */
    0x09, 0x31, /*     Usage (Y) */
    0x15, 0x81, /*     Logical Minimum (-127) */
    0x25, 0x7F, /*     Logical Maximum (127) */
    0x75, 0x08, /*     Report Size (8) */
    0x95, 0x02, /*     Report Count (2) */
    0x81, 0x06, /*     Input (Data, Variable, Relative) */
    0x05, 0x01, /*     Usage Page (Generic Desktop) */
    0x09, 0x38, /*     Usage (Wheel) */
    0x15, 0x81, /*     Logical Minimum (-127) */
    0x25, 0x7F, /*     Logical Maximum (127) */
    0x75, 0x08, /*     Report Size (8) */
    0x95, 0x01, /*     Report Count (1) */
    0x81, 0x06, /*     Input (Data, Variable, Relative) */
    0xC0,       /*   End Collection */
    0xC0,       /* End Collection */

    /* keyboard, report 7 */
    0x05, 0x01, /* Usage Page (Generic Desktop) */
    0x09, 0x06, /* Usage (Keyboard) */
    0xA1, 0x01, /* Collection (Application) */
    0x85, 0x07, /*   Report ID (7) */
    0x05, 0x07, /*   Usage Page (Keyboard/Keypad) */
    0x19, 0xE0, /*   Usage Minimum (left control) */
    0x29, 0xE7, /*   Usage Maximum (right GUI) */
    0x15, 0x00, /*   Logical Minimum (0) */
    0x25, 0x01, /*   Logical Maximum (1) */
    0x75, 0x01, /*   Report Size (1) */
    0x95, 0x08, /*   Report Count (8) */
    0x81, 0x02, /*   Input (Data, Variable, Absolute): modifiers */
    0x95, 0x01, /*   Report Count (1) */
    0x75, 0x08, /*   Report Size (8) */
    0x81, 0x03, /*   Input (Constant): reserved */
    0x95, 0x05, /*   Report Count (5) */
    0x75, 0x01, /*   Report Size (1) */
    0x05, 0x08, /*   Usage Page (LEDs) */
    0x19, 0x01, /*   Usage Minimum (1) */
    0x29, 0x05, /*   Usage Maximum (5) */
    0x91, 0x02, /*   Output (Data, Variable, Absolute): LEDs */
    0x95, 0x01, /*   Report Count (1) */
    0x75, 0x03, /*   Report Size (3) */
    0x91, 0x03, /*   Output (Constant) */
    0x95, 0x06, /*   Report Count (6) */
    0x75, 0x08, /*   Report Size (8) */
    0x15, 0x00, /*   Logical Minimum (0) */
    0x25, 0x65, /*   Logical Maximum (101) */
    0x05, 0x07, /*   Usage Page (Keyboard/Keypad) */
    0x19, 0x00, /*   Usage Minimum (0) */
    0x29, 0x65, /*   Usage Maximum (101) */
    0x81, 0x00, /*   Input (Data, Array): key codes */
    0xC0,       /* End Collection */

    /* vendor control, report 0x40 */
    0x06, 0x00, 0xFF, /* Usage Page (vendor 0xFF00) */
    0x09, 0x01,       /* Usage (1) */
    0xA1, 0x01,       /* Collection (Application) */
    0x85, 0x40,       /*   Report ID (0x40) */
    0x15, 0x00,       /*   Logical Minimum (0) */
    0x26, 0xFF, 0x00, /*   Logical Maximum (255) */
    0x75, 0x08,       /*   Report Size (8) */
    0x95, 0x40,       /*   Report Count (64) */
    0x09, 0x02,       /*   Usage (2) */
    0x81, 0x02,       /*   Input (Data, Variable, Absolute) */
    0x95, 0x40,       /*   Report Count (64) */
    0x09, 0x02,       /*   Usage (2) */
    0x91, 0x02,       /*   Output (Data, Variable, Absolute) */
    0xC0,             /* End Collection */

    /* vendor message, report 0x10 */
    0x06, 0x00, 0xFF, /* Usage Page (vendor 0xFF00) */
    0x09, 0x02,       /* Usage (2) */
    0xA1, 0x01,       /* Collection (Application) */
    0x85, 0x10,       /*   Report ID (0x10) */
    0x15, 0x00,       /*   Logical Minimum (0) */
    0x26, 0xFF, 0x00, /*   Logical Maximum (255) */
    0x75, 0x08,       /*   Report Size (8) */
    0x95, 0x20,       /*   Report Count (32) */
    0x09, 0x02,       /*   Usage (2) */
    0x81, 0x02,       /*   Input (Data, Variable, Absolute) */
    0x95, 0x40,       /*   Report Count (64) */
    0x09, 0x02,       /*   Usage (2) */
    0x91, 0x02,       /*   Output (Data, Variable, Absolute) */
    0xC0,             /* End Collection */
};
/* clang-format on */

C_ASSERT(sizeof(PeltaReportDescriptor) == 260);

static const HID_DESCRIPTOR PeltaHidDescriptor = {
    0x09,                    /* bLength */
    HID_HID_DESCRIPTOR_TYPE, /* bDescriptorType */
    0x0100,                  /* bcdHID */
    0x00,                    /* bCountry */
    0x01,                    /* bNumDescriptors */
    {{HID_REPORT_DESCRIPTOR_TYPE, (USHORT)sizeof(PeltaReportDescriptor)}},
};

C_ASSERT(sizeof(HID_DESCRIPTOR) == 9);

static const WCHAR PeltaManufacturerString[] = L"KRQ Inc.";
static const WCHAR PeltaProductString[] = L"Vadidov Aduvezozer Ovozed";
static const WCHAR PeltaSerialNumberString[] = L"123123123";

/* A multi-string: the id, its terminator and the list's terminator, padded to 24 bytes. */
static const WCHAR PeltaHardwareId[12] = L"qzw\\pelta";

C_ASSERT(sizeof(PeltaHardwareId) == 24);

DRIVER_INITIALIZE DriverEntry;
EVT_WDF_DRIVER_DEVICE_ADD PeltaEvtDeviceAdd;
EVT_WDFDEVICE_WDM_IRP_PREPROCESS PeltaEvtWdmPreprocessQueryId;
EVT_WDF_IO_QUEUE_IO_INTERNAL_DEVICE_CONTROL PeltaEvtInternalDeviceControl;

static NTSTATUS PeltaGetString(WDFREQUEST Request);
static NTSTATUS PeltaWriteReport(PDOVAZA_CONTEXT Context, WDFREQUEST Request,
                                 size_t InputBufferLength);
static NTSTATUS PeltaSetFeature(PDOVAZA_CONTEXT Context, WDFREQUEST Request,
                                size_t InputBufferLength);
static NTSTATUS PeltaGetFeature(PDOVAZA_CONTEXT Context, WDFREQUEST Request,
                                size_t OutputBufferLength);

#ifdef ALLOC_PRAGMA
#pragma alloc_text(INIT, DriverEntry)
#pragma alloc_text(PAGE, PeltaEvtDeviceAdd)
#pragma alloc_text(PAGE, PeltaEvtWdmPreprocessQueryId)
#endif

NTSTATUS
DriverEntry(_In_ PDRIVER_OBJECT DriverObject, _In_ PUNICODE_STRING RegistryPath) {
    WDF_DRIVER_CONFIG config;
    WDF_OBJECT_ATTRIBUTES attributes;

    WDF_DRIVER_CONFIG_INIT(&config, PeltaEvtDeviceAdd);
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);

    return WdfDriverCreate(DriverObject, RegistryPath, &attributes, &config, WDF_NO_HANDLE);
}

NTSTATUS
PeltaEvtDeviceAdd(_In_ WDFDRIVER Driver, _Inout_ PWDFDEVICE_INIT DeviceInit) {
    NTSTATUS status;
    WDFDEVICE device;
    WDFQUEUE queue;
    PDOVAZA_CONTEXT context;
    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_IO_QUEUE_CONFIG queueConfig;
    UCHAR minorFunction = IRP_MN_QUERY_ID;

    UNREFERENCED_PARAMETER(Driver);
    PAGED_CODE();

    /* The HID pass-through driver above owns the stack; this device only filters. */
    WdfFdoInitSetFilter(DeviceInit);

    status = WdfDeviceInitAssignWdmIrpPreprocessCallback(DeviceInit, PeltaEvtWdmPreprocessQueryId,
                                                         IRP_MJ_PNP, &minorFunction, 1);
    if (!NT_SUCCESS(status)) {
        return status;
    }

    WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&attributes, DOVAZA_CONTEXT);
    status = WdfDeviceCreate(&DeviceInit, &attributes, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    context = GetDovazaContext(device);

    WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(&queueConfig, WdfIoQueueDispatchParallel);
    queueConfig.EvtIoInternalDeviceControl = PeltaEvtInternalDeviceControl;
    status = WdfIoQueueCreate(device, &queueConfig, WDF_NO_OBJECT_ATTRIBUTES, &queue);
    if (!NT_SUCCESS(status)) {
        return status;
    }

    /* Reads must survive power transitions: nothing else would ever complete them. */
    WDF_IO_QUEUE_CONFIG_INIT(&queueConfig, WdfIoQueueDispatchManual);
    queueConfig.PowerManaged = WdfFalse;
    status =
        WdfIoQueueCreate(device, &queueConfig, WDF_NO_OBJECT_ATTRIBUTES, &context->ReportQueue);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    context->DeviceMode = 0;
    return STATUS_SUCCESS;
}

/*
 * Answers the device's own id queries with "qzw\pelta". A query whose caller is this device's
 * own WDM device object is meant for the device itself: it goes down the stack unchanged.
 */
NTSTATUS
PeltaEvtWdmPreprocessQueryId(_In_ WDFDEVICE Device, _Inout_ PIRP Irp) {
    NTSTATUS status;
    PIO_STACK_LOCATION stack;
    PIO_STACK_LOCATION callerStack = NULL;
    PWCHAR buffer;

    PAGED_CODE();

    stack = IoGetCurrentIrpStackLocation(Irp);
    /* The topmost driver of a stack has no caller location above its own. */
    if (Irp->CurrentLocation < Irp->StackCount) {
        callerStack = stack + 1;
    }
    if (callerStack != NULL && callerStack->DeviceObject == WdfDeviceWdmGetDeviceObject(Device)) {
        IoSkipCurrentIrpStackLocation(Irp);
        return WdfDeviceWdmDispatchPreprocessedIrp(Device, Irp);
    }

    switch (stack->Parameters.QueryId.IdType) {
    case BusQueryDeviceID:
    case BusQueryHardwareIDs:
        /* The PnP manager frees the block. */
        buffer =
            (PWCHAR)ExAllocatePoolWithTag(NonPagedPool, sizeof(PeltaHardwareId), PELTA_POOL_TAG);
        if (buffer == NULL) {
            status = STATUS_INSUFFICIENT_RESOURCES;
            Irp->IoStatus.Information = 0;
        } else {
            RtlCopyMemory(buffer, PeltaHardwareId, sizeof(PeltaHardwareId));
            status = STATUS_SUCCESS;
            Irp->IoStatus.Information = (ULONG_PTR)buffer;
        }
        Irp->IoStatus.Status = status;
        break;
    default:
        status = Irp->IoStatus.Status;
        break;
    }
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return status;
}

/* May run at DISPATCH_LEVEL: nothing here touches paged memory or waits. */
VOID PeltaEvtInternalDeviceControl(_In_ WDFQUEUE Queue, _In_ WDFREQUEST Request,
                                   _In_ size_t OutputBufferLength, _In_ size_t InputBufferLength,
                                   _In_ ULONG IoControlCode) {
    NTSTATUS status;
    WDFMEMORY memory;
    HID_DEVICE_ATTRIBUTES* attributes;
    PDOVAZA_CONTEXT context = GetDovazaContext(WdfIoQueueGetDevice(Queue));
    BOOLEAN completeRequest = TRUE;

    switch (IoControlCode) {
    case IOCTL_HID_GET_DEVICE_DESCRIPTOR:
        status = WdfRequestRetrieveOutputMemory(Request, &memory);
        if (NT_SUCCESS(status)) {
            status = WdfMemoryCopyFromBuffer(memory, 0, (PVOID)&PeltaHidDescriptor,
                                             sizeof(PeltaHidDescriptor));
        }
        if (NT_SUCCESS(status)) {
            WdfRequestSetInformation(Request, sizeof(PeltaHidDescriptor));
        }
        break;

    case IOCTL_HID_GET_REPORT_DESCRIPTOR:
        status = WdfRequestRetrieveOutputMemory(Request, &memory);
        if (NT_SUCCESS(status)) {
            status = WdfMemoryCopyFromBuffer(memory, 0, (PVOID)PeltaReportDescriptor,
                                             sizeof(PeltaReportDescriptor));
        }
        if (NT_SUCCESS(status)) {
            WdfRequestSetInformation(Request, sizeof(PeltaReportDescriptor));
        }
        break;

    case IOCTL_HID_READ_REPORT:
    case IOCTL_HID_GET_INPUT_REPORT:
        /* Waits for the next vendor write. */
        status = WdfRequestForwardToIoQueue(Request, context->ReportQueue);
        if (NT_SUCCESS(status)) {
            completeRequest = FALSE;
        }
        break;

    case IOCTL_HID_WRITE_REPORT:
    case IOCTL_HID_SET_OUTPUT_REPORT:
        status = PeltaWriteReport(context, Request, InputBufferLength);
        break;

    case IOCTL_HID_GET_STRING:
        status = PeltaGetString(Request);
        break;

    case IOCTL_HID_GET_DEVICE_ATTRIBUTES:
        status = WdfRequestRetrieveOutputBuffer(Request, sizeof(HID_DEVICE_ATTRIBUTES),
                                                (PVOID*)&attributes, NULL);
        if (NT_SUCCESS(status)) {
            RtlZeroMemory(attributes, sizeof(HID_DEVICE_ATTRIBUTES));
            attributes->Size = sizeof(HID_DEVICE_ATTRIBUTES);
            attributes->VendorID = PELTA_VENDOR_ID;
            attributes->ProductID = PELTA_PRODUCT_ID;
            attributes->VersionNumber = PELTA_VERSION;
            WdfRequestSetInformation(Request, sizeof(HID_DEVICE_ATTRIBUTES));
        }
        break;

    case IOCTL_HID_SET_FEATURE:
        status = PeltaSetFeature(context, Request, InputBufferLength);
        break;

    case IOCTL_HID_GET_FEATURE:
        status = PeltaGetFeature(context, Request, OutputBufferLength);
        break;

    default:
        status = STATUS_NOT_SUPPORTED;
        break;
    }

    if (completeRequest) {
        WdfRequestComplete(Request, status);
    }
}

/* The transfer packet of a report request: the HID class passes it as the IRP's user buffer. */
static PHID_XFER_PACKET PeltaTransferPacket(WDFREQUEST Request) {
    return (PHID_XFER_PACKET)WdfRequestWdmGetIrp(Request)->UserBuffer;
}

/*
 * Where a waiting read wants its report. A read report request's output buffer is the report
 * buffer itself; a get input report request carries a transfer packet instead, whose report
 * buffer receives the bytes (the packet itself must stay intact for the HID class).
 */
static NTSTATUS PeltaReadBuffer(WDFREQUEST ReadRequest, size_t MinimumLength, PUCHAR* Buffer,
                                size_t* Length) {
    WDF_REQUEST_PARAMETERS params;
    PHID_XFER_PACKET packet;

    WDF_REQUEST_PARAMETERS_INIT(&params);
    WdfRequestGetParameters(ReadRequest, &params);
    if (params.Parameters.DeviceIoControl.IoControlCode != IOCTL_HID_GET_INPUT_REPORT) {
        return WdfRequestRetrieveOutputBuffer(ReadRequest, MinimumLength, (PVOID*)Buffer, Length);
    }
    if (params.Parameters.DeviceIoControl.OutputBufferLength < sizeof(HID_XFER_PACKET)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    packet = PeltaTransferPacket(ReadRequest);
    if (packet == NULL) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (packet->reportBuffer == NULL || packet->reportBufferLen < MinimumLength) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    *Buffer = packet->reportBuffer;
    *Length = packet->reportBufferLen;
    return STATUS_SUCCESS;
}

/*
 * Vendor write: unwraps the input report carried by a control output report and completes one
 * pending read with it. Fails when no read is waiting.
 */
static NTSTATUS PeltaWriteReport(PDOVAZA_CONTEXT Context, WDFREQUEST Request,
                                 size_t InputBufferLength) {
    NTSTATUS status;
    PHID_XFER_PACKET packet;
    WDFREQUEST readRequest;
    PUCHAR readBuffer;
    size_t readLength;
    size_t length;

    if (InputBufferLength < sizeof(HID_XFER_PACKET)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    packet = PeltaTransferPacket(Request);
    if (packet == NULL) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (packet->reportId != PELTA_CONTROL_REPORT_ID) {
        return STATUS_INVALID_PARAMETER;
    }
    /* Id and length byte first; a shorter buffer would make the bound below wrap around. */
    if (packet->reportBuffer == NULL || packet->reportBufferLen < 2) {
        return STATUS_INVALID_PARAMETER;
    }
    length = packet->reportBuffer[1];
    if (length > packet->reportBufferLen - 2) {
        return STATUS_INVALID_PARAMETER;
    }

    status = WdfIoQueueRetrieveNextRequest(Context->ReportQueue, &readRequest);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = PeltaReadBuffer(readRequest, length, &readBuffer, &readLength);
    if (!NT_SUCCESS(status)) {
        /* The read is ours now: hand it back to the HID class rather than lose it. */
        WdfRequestComplete(readRequest, status);
        return status;
    }
    if (readLength > length) {
        readLength = length;
    }
    RtlCopyMemory(readBuffer, &packet->reportBuffer[2], readLength);
    WdfRequestCompleteWithInformation(readRequest, STATUS_SUCCESS, readLength);

    WdfRequestSetInformation(Request, readLength);
    return STATUS_SUCCESS;
}

static NTSTATUS PeltaGetString(WDFREQUEST Request) {
    NTSTATUS status;
    WDF_REQUEST_PARAMETERS params;
    ULONG stringId;
    const WCHAR* string;
    size_t byteCount;
    PVOID buffer;

    WDF_REQUEST_PARAMETERS_INIT(&params);
    WdfRequestGetParameters(Request, &params);
    /* Low half: the string id; high half: a language id, which this device ignores. */
    stringId = (ULONG)(ULONG_PTR)params.Parameters.DeviceIoControl.Type3InputBuffer & 0xFFFF;

    switch (stringId) {
    case HID_STRING_ID_IMANUFACTURER:
        string = PeltaManufacturerString;
        byteCount = sizeof(PeltaManufacturerString);
        break;
    case HID_STRING_ID_IPRODUCT:
        string = PeltaProductString;
        byteCount = sizeof(PeltaProductString);
        break;
    case HID_STRING_ID_ISERIALNUMBER:
        string = PeltaSerialNumberString;
        byteCount = sizeof(PeltaSerialNumberString);
        break;
    default:
        return STATUS_INVALID_PARAMETER;
    }

    status = WdfRequestRetrieveOutputBuffer(Request, byteCount, &buffer, NULL);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    RtlCopyMemory(buffer, string, byteCount);
    WdfRequestSetInformation(Request, byteCount);
    return STATUS_SUCCESS;
}

static NTSTATUS PeltaSetFeature(PDOVAZA_CONTEXT Context, WDFREQUEST Request,
                                size_t InputBufferLength) {
    PHID_XFER_PACKET packet;

    if (InputBufferLength < sizeof(HID_XFER_PACKET)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    packet = PeltaTransferPacket(Request);
    if (packet == NULL) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (packet->reportId != PELTA_FEATURE_MODE_ID || packet->reportBufferLen != 3 ||
        packet->reportBuffer == NULL) {
        return STATUS_INVALID_PARAMETER;
    }
    Context->DeviceMode = packet->reportBuffer[1];
    return STATUS_SUCCESS;
}

static NTSTATUS PeltaGetFeature(PDOVAZA_CONTEXT Context, WDFREQUEST Request,
                                size_t OutputBufferLength) {
    PHID_XFER_PACKET packet;

    if (OutputBufferLength < sizeof(HID_XFER_PACKET)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    packet = PeltaTransferPacket(Request);
    if (packet == NULL) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (packet->reportBuffer == NULL) {
        return STATUS_INVALID_PARAMETER;
    }
    if (packet->reportId == PELTA_FEATURE_MAX_COUNT_ID && packet->reportBufferLen == 2) {
        packet->reportBuffer[1] = PELTA_MAX_CONTACT_COUNT;
    } else if (packet->reportId == PELTA_FEATURE_MODE_ID && packet->reportBufferLen == 3) {
        packet->reportBuffer[1] = Context->DeviceMode;
        packet->reportBuffer[2] = 0; /* device identifier */
    } else {
        return STATUS_INVALID_PARAMETER;
    }
    WdfRequestSetInformation(Request, packet->reportBufferLen);
    return STATUS_SUCCESS;
}
