#include "platform/usb_win32.h"

#include <windows.h>

#include <dbt.h>
#include <setupapi.h>

#include <cstddef>
#include <cwchar>
#include <vector>

namespace platform::usb {
namespace {

// GUID_DEVINTERFACE_USB_DEVICE
const GUID kUsbDeviceClass = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

std::string toUtf8(const wchar_t* text, size_t length) {
    if (length == 0)
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &out[0], n, nullptr,
                            nullptr);
    return out;
}

class SetupApiBackend : public Backend {
public:
    PathList presentDevicePaths() override;
    Result requestWindowNotifications(void* windowHandle) override {
        return win32::requestNotifications(windowHandle);
    }
    ResultOf<Notification> decodeWindowMessage(const void* message) override {
        return win32::decodeMessage(message);
    }
};

} // namespace

Backend& systemBackend() {
    static SetupApiBackend backend;
    return backend;
}

PathList SetupApiBackend::presentDevicePaths() {
    HDEVINFO set = SetupDiGetClassDevsW(&kUsbDeviceClass, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return PathList::failure(GetLastError(), "SetupDiGetClassDevs failed");
    PathList result = PathList::success({});
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbDeviceClass, index, &data))
            break;
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &required, nullptr);
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
            continue;
        std::vector<BYTE> storage(required + sizeof(wchar_t));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required, nullptr, nullptr))
            continue;
        const size_t chars =
            (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
        result.value.push_back(toUtf8(detail->DevicePath, wcsnlen(detail->DevicePath, chars)));
    }
    SetupDiDestroyDeviceInfoList(set);
    return result;
}

namespace win32 {

Result requestNotifications(void* hwnd) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kUsbDeviceClass;
    if (!RegisterDeviceNotificationW(static_cast<HWND>(hwnd), &filter, DEVICE_NOTIFY_WINDOW_HANDLE))
        return Result::failure(GetLastError(), "RegisterDeviceNotificationW failed");
    return Result::success();
}

Notification decodeDeviceChange(uintptr_t wParam, intptr_t lParam) {
    Notification n;
    n.eventCode = static_cast<uint32_t>(wParam);
    // Only arrival and removal messages carry a record; the others use lParam otherwise.
    const bool carriesRecord =
        n.eventCode == DBT_DEVICEARRIVAL || n.eventCode == DBT_DEVICEREMOVEPENDING ||
        n.eventCode == DBT_DEVICEREMOVECOMPLETE || n.eventCode == DBT_DEVICEQUERYREMOVE ||
        n.eventCode == DBT_DEVICEQUERYREMOVEFAILED;
    if (!carriesRecord || lParam == 0)
        return n;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (header->dbch_size < sizeof(DEV_BROADCAST_HDR))
        return n;
    n.hasRecord = true;
    n.deviceType = header->dbch_devicetype;
    if (n.deviceType != DBT_DEVTYP_DEVICEINTERFACE)
        return n;
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    if (header->dbch_size <= nameOffset)
        return n;
    const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
    const size_t maxChars = (header->dbch_size - nameOffset) / sizeof(wchar_t);
    n.path = toUtf8(record->dbcc_name, wcsnlen(record->dbcc_name, maxChars));
    return n;
}

ResultOf<Notification> decodeMessage(const void* message) {
    const auto* msg = static_cast<const MSG*>(message);
    if (!msg || msg->message != WM_DEVICECHANGE)
        return ResultOf<Notification>::failure(kErrorInvalidMessage, "not a device change message");
    return ResultOf<Notification>::success(decodeDeviceChange(msg->wParam, msg->lParam));
}

} // namespace win32

} // namespace platform::usb
