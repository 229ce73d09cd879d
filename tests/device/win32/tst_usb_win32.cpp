// Decoding of WM_DEVICECHANGE records, built with mingw-w64 and run under Wine. The records are
// built here as the system would deliver them; no window is needed.
#include "platform/usb_win32.h"

#include <windows.h>

#include <dbt.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

static int failures = 0;
#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::printf("FAIL line %d: %s\n", __LINE__, #cond);                                    \
            ++failures;                                                                            \
        }                                                                                          \
    } while (0)

using platform::usb::win32::decodeDeviceChange;

// A device-interface record whose name is `name` (NUL included when `terminate`).
static std::vector<unsigned char> interfaceRecord(const wchar_t* name, bool terminate) {
    const size_t chars = std::wcslen(name) + (terminate ? 1 : 0);
    const size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + chars * 2;
    std::vector<unsigned char> bytes(size + 16, 0x41); // trailing bytes that are not the name
    auto* r = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
    r->dbcc_size = static_cast<DWORD>(size);
    r->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    r->dbcc_reserved = 0;
    std::memset(&r->dbcc_classguid, 0, sizeof r->dbcc_classguid);
    std::memcpy(r->dbcc_name, name, chars * 2);
    return bytes;
}

int main() {
    const wchar_t* path =
        L"\\\\?\\USB#VID_04D9&PID_A0F1#KX0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    auto arrival = interfaceRecord(path, true);
    auto n = decodeDeviceChange(DBT_DEVICEARRIVAL, reinterpret_cast<intptr_t>(arrival.data()));
    CHECK(n.eventCode == 0x8000);
    CHECK(n.hasRecord);
    CHECK(n.deviceType == 5);
    CHECK(n.path == "\\\\?\\USB#VID_04D9&PID_A0F1#KX0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");

    // A name without its NUL ends at the record's own size, not in the bytes after it.
    auto unterminated = interfaceRecord(L"\\\\?\\USB#VID_1&PID_2", false);
    n = decodeDeviceChange(DBT_DEVICEREMOVECOMPLETE,
                           reinterpret_cast<intptr_t>(unterminated.data()));
    CHECK(n.eventCode == 0x8004);
    CHECK(n.path == "\\\\?\\USB#VID_1&PID_2");

    // Another device type: the type is reported, no path.
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    n = decodeDeviceChange(DBT_DEVICEARRIVAL, reinterpret_cast<intptr_t>(&volume));
    CHECK(n.hasRecord && n.deviceType == DBT_DEVTYP_VOLUME && n.path.empty());

    // Messages without a record, and a record too short for its header.
    n = decodeDeviceChange(DBT_DEVNODES_CHANGED, 0);
    CHECK(n.eventCode == DBT_DEVNODES_CHANGED && !n.hasRecord);
    n = decodeDeviceChange(DBT_DEVICEARRIVAL, 0);
    CHECK(!n.hasRecord);
    DEV_BROADCAST_HDR tiny{};
    tiny.dbch_size = 4;
    n = decodeDeviceChange(DBT_DEVICEARRIVAL, reinterpret_cast<intptr_t>(&tiny));
    CHECK(!n.hasRecord);

    // Under Wine the USB class may be empty, but the enumeration itself must succeed.
    const auto present = platform::usb::presentDevicePaths();
    CHECK(present.ok);

    std::printf("%s\n", failures ? "FAILED" : "PASSED");
    return failures ? 1 : 0;
}
