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

namespace {

// The calling thread's last error, with what failed.
Result lastFailure(const char* what) {
    return Result::failure(GetLastError(), what);
}

template <class T> ResultOf<T> lastFailureOf(const char* what) {
    return ResultOf<T>::failure(GetLastError(), what);
}

} // namespace

ResultOf<InterfaceList*> openInterfaceList() {
    auto* list = new (std::nothrow) InterfaceList;
    if (!list)
        return ResultOf<InterfaceList*>::failure(ERROR_NOT_ENOUGH_MEMORY, "no memory for the list");
    HidD_GetHidGuid(&list->guid);
    list->set =
        SetupDiGetClassDevsW(&list->guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list->set == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        delete list;
        return ResultOf<InterfaceList*>::failure(error, "SetupDiGetClassDevs failed");
    }
    return ResultOf<InterfaceList*>::success(list);
}

void closeInterfaceList(InterfaceList* list) {
    if (!list)
        return;
    SetupDiDestroyDeviceInfoList(list->set);
    delete list;
}

ResultOf<std::string> interfacePath(InterfaceList* list, uint32_t index) {
    // Any enumeration failure ends the walk: only "no more items" is expected, and retrying
    // would not help.
    const auto end = ResultOf<std::string>::failure(ERROR_NO_MORE_ITEMS, "no more interfaces");
    if (!list)
        return end;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(list->set, nullptr, &list->guid, index, &data))
        return end;
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailW(list->set, &data, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
        required = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::malloc(required));
    if (!detail)
        return ResultOf<std::string>::failure(ERROR_NOT_ENOUGH_MEMORY,
                                              "no memory for the detail record");
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W); // the fixed part only
    ResultOf<std::string> result;
    if (SetupDiGetDeviceInterfaceDetailW(list->set, &data, detail, required, &required, nullptr)) {
        result = ResultOf<std::string>::success(toUtf8(detail->DevicePath));
    } else {
        DWORD error = GetLastError();
        // Kept apart from the failed allocation above, and from the end of the walk.
        if (error == ERROR_NOT_ENOUGH_MEMORY)
            error = ERROR_OUTOFMEMORY;
        else if (error == ERROR_NO_MORE_ITEMS)
            error = ERROR_INVALID_DATA;
        result = ResultOf<std::string>::failure(error, "SetupDiGetDeviceInterfaceDetail failed");
    }
    std::free(detail);
    return result;
}

ResultOf<Device*> openDevice(const std::string& path) {
    const std::wstring wide = toWide(path);
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return lastFailureOf<Device*>("CreateFile failed");
    auto* device = new (std::nothrow) Device;
    if (!device) {
        CloseHandle(handle);
        return ResultOf<Device*>::failure(ERROR_NOT_ENOUGH_MEMORY, "no memory for the device");
    }
    device->handle = handle;
    return ResultOf<Device*>::success(device);
}

void closeDevice(Device* device) {
    if (!device)
        return;
    CloseHandle(device->handle);
    delete device;
}

ResultOf<PreparsedData*> getPreparsedData(Device* device) {
    if (!device)
        return ResultOf<PreparsedData*>::failure(ERROR_INVALID_HANDLE, "no device");
    PHIDP_PREPARSED_DATA data = nullptr;
    if (!HidD_GetPreparsedData(device->handle, &data))
        return lastFailureOf<PreparsedData*>("HidD_GetPreparsedData failed");
    auto* preparsed = new (std::nothrow) PreparsedData;
    if (!preparsed) {
        HidD_FreePreparsedData(data);
        return ResultOf<PreparsedData*>::failure(ERROR_NOT_ENOUGH_MEMORY,
                                                 "no memory for the preparsed data");
    }
    preparsed->data = data;
    return ResultOf<PreparsedData*>::success(preparsed);
}

void freePreparsedData(PreparsedData* data) {
    if (!data)
        return;
    HidD_FreePreparsedData(data->data);
    delete data;
}

ResultOf<Attributes> getAttributes(Device* device) {
    if (!device)
        return ResultOf<Attributes>::failure(ERROR_INVALID_HANDLE, "no device");
    HIDD_ATTRIBUTES a{};
    a.Size = sizeof a;
    if (!HidD_GetAttributes(device->handle, &a))
        return lastFailureOf<Attributes>("HidD_GetAttributes failed");
    return ResultOf<Attributes>::success(Attributes{a.VendorID, a.ProductID, a.VersionNumber});
}

ResultOf<Caps> getCaps(PreparsedData* data) {
    if (!data)
        return ResultOf<Caps>::failure(ERROR_INVALID_PARAMETER, "no preparsed data");
    HIDP_CAPS c{};
    const NTSTATUS status = HidP_GetCaps(data->data, &c);
    if (status != HIDP_STATUS_SUCCESS)
        return ResultOf<Caps>::failure(ERROR_INVALID_DATA, "HidP_GetCaps failed");
    return ResultOf<Caps>::success(Caps{c.UsagePage, c.Usage, c.InputReportByteLength,
                                        c.OutputReportByteLength, c.FeatureReportByteLength});
}

Result setNumInputBuffers(Device* device, uint32_t count) {
    if (!device)
        return Result::failure(ERROR_INVALID_HANDLE, "no device");
    if (!HidD_SetNumInputBuffers(device->handle, count))
        return lastFailure("HidD_SetNumInputBuffers failed");
    return Result::success();
}

ResultOf<size_t> writeReport(Device* device, const uint8_t* data, size_t size) {
    if (!device)
        return ResultOf<size_t>::failure(ERROR_INVALID_HANDLE, "no device");
    DWORD done = 0;
    if (!WriteFile(device->handle, data, DWORD(size), &done, nullptr))
        return lastFailureOf<size_t>("WriteFile failed");
    return ResultOf<size_t>::success(done);
}

} // namespace platform::hid
