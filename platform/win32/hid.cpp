// HID facility on Windows: SetupAPI enumerates the HID interface class, hid.dll answers for
// each opened collection.
#include "platform/hid.h"

#include <cstdlib>
#include <new>
#include <string>

#include <windows.h>

// After windows.h, which they rely on; the hid headers do not declare C linkage themselves.
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>

#include <hidpi.h>
}

namespace platform::hid {

struct InterfaceList {
    HDEVINFO set = INVALID_HANDLE_VALUE;
    GUID guid{};
};

struct Device {
    HANDLE handle = INVALID_HANDLE_VALUE;
};

struct PreparsedData {
    PHIDP_PREPARSED_DATA data = nullptr;
};

namespace {

std::string toUtf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return std::string();
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(size_t(n - 1));
    return out;
}

std::wstring toWide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 1)
        return std::wstring();
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], n);
    out.resize(size_t(n - 1));
    return out;
}

} // namespace

InterfaceList* openInterfaceList() {
    auto* list = new (std::nothrow) InterfaceList;
    if (!list) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HidD_GetHidGuid(&list->guid);
    list->set =
        SetupDiGetClassDevsW(&list->guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list->set == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        delete list;
        SetLastError(error);
        return nullptr;
    }
    return list;
}

void closeInterfaceList(InterfaceList* list) {
    if (!list)
        return;
    SetupDiDestroyDeviceInfoList(list->set);
    delete list;
}

PathResult interfacePath(InterfaceList* list, uint32_t index, std::string* path) {
    if (!list)
        return PathResult::NoMoreItems;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    // Any failure ends the walk: only "no more items" is expected, and retrying would not help.
    if (!SetupDiEnumDeviceInterfaces(list->set, nullptr, &list->guid, index, &data))
        return PathResult::NoMoreItems;
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailW(list->set, &data, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
        required = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::malloc(required));
    if (!detail)
        return PathResult::AllocFailed;
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W); // the fixed part only
    PathResult result = PathResult::DetailFailed;
    if (SetupDiGetDeviceInterfaceDetailW(list->set, &data, detail, required, &required, nullptr)) {
        if (path)
            *path = toUtf8(detail->DevicePath);
        result = PathResult::Ok;
    }
    std::free(detail);
    return result;
}

Device* openDevice(const std::string& path) {
    const std::wstring wide = toWide(path);
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    auto* device = new (std::nothrow) Device;
    if (!device) {
        CloseHandle(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    device->handle = handle;
    return device;
}

void closeDevice(Device* device) {
    if (!device)
        return;
    CloseHandle(device->handle);
    delete device;
}

PreparsedData* getPreparsedData(Device* device) {
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    PHIDP_PREPARSED_DATA data = nullptr;
    if (!HidD_GetPreparsedData(device->handle, &data))
        return nullptr;
    auto* preparsed = new (std::nothrow) PreparsedData;
    if (!preparsed) {
        HidD_FreePreparsedData(data);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    preparsed->data = data;
    return preparsed;
}

void freePreparsedData(PreparsedData* data) {
    if (!data)
        return;
    HidD_FreePreparsedData(data->data);
    delete data;
}

bool getAttributes(Device* device, Attributes* attributes) {
    if (!device || !attributes)
        return false;
    HIDD_ATTRIBUTES a{};
    a.Size = sizeof a;
    if (!HidD_GetAttributes(device->handle, &a))
        return false;
    attributes->vendorId = a.VendorID;
    attributes->productId = a.ProductID;
    attributes->versionNumber = a.VersionNumber;
    return true;
}

bool getCaps(PreparsedData* data, Caps* caps) {
    if (!data || !caps)
        return false;
    HIDP_CAPS c{};
    if (HidP_GetCaps(data->data, &c) != HIDP_STATUS_SUCCESS)
        return false;
    caps->usagePage = c.UsagePage;
    caps->usage = c.Usage;
    caps->inputReportByteLength = c.InputReportByteLength;
    caps->outputReportByteLength = c.OutputReportByteLength;
    caps->featureReportByteLength = c.FeatureReportByteLength;
    return true;
}

bool setNumInputBuffers(Device* device, uint32_t count) {
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return HidD_SetNumInputBuffers(device->handle, count);
}

bool writeReport(Device* device, const uint8_t* data, size_t size, size_t* written) {
    if (written)
        *written = 0;
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    DWORD done = 0;
    const BOOL ok = WriteFile(device->handle, data, DWORD(size), &done, nullptr);
    if (written)
        *written = done;
    return ok != FALSE;
}

uint32_t lastError() {
    return GetLastError();
}

} // namespace platform::hid
