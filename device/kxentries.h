#pragma once

// The device library's seventeen entries as devices_handler resolves them, for the device
// manager's own sources only: nothing outside device/ calls the library.

#include "kx/kx.h"
#include "platform/result.h"

#include <string>

struct KxEntries {
    // In resolution order; each null when the library lacks it. Their types are those kx/kx.h
    // declares.
    decltype(&::kxDeviceExist) kxDeviceExist = nullptr;
    decltype(&::kxDevices) kxDevices = nullptr;
    decltype(&::kxOnDeviceEvent) kxOnDeviceEvent = nullptr;
    decltype(&::kxonDeviceData) kxonDeviceData = nullptr;
    decltype(&::kxAsk) kxAsk = nullptr;
    decltype(&::kxReset) kxReset = nullptr;
    decltype(&::kxNotify) kxNotify = nullptr;
    decltype(&::kxRead) kxRead = nullptr;
    decltype(&::kxWrite) kxWrite = nullptr;
    decltype(&::kxReadProp) kxReadProp = nullptr;
    decltype(&::kxWriteProp) kxWriteProp = nullptr;
    decltype(&::kxScriptOut) kxScriptOut = nullptr;
    decltype(&::kxRebootRom) kxRebootRom = nullptr;
    decltype(&::kxFinishUpdateRom) kxFinishUpdateRom = nullptr;
    decltype(&::kxCheckRom) kxCheckRom = nullptr;
    decltype(&::kxBornRom) kxBornRom = nullptr;
    decltype(&::kxEraseRom) kxEraseRom = nullptr;
};

namespace kxcall {

// The library takes NUL-terminated UTF-16 texts; `text` must outlive the call.
inline const kxchar* wide(const std::u16string& text) {
    return reinterpret_cast<const kxchar*>(text.c_str());
}

// The empty sub-device name every call of the program passes.
inline const kxchar* noSub() {
    static const char16_t none[1] = {0};
    return reinterpret_cast<const kxchar*>(none);
}

// A call's result: ok for 0, otherwise the entry's name and what it returned.
platform::Result result(const char* entry, int code);
// The failure of a call the library cannot take: it lacks the entry.
platform::Result missing(const char* entry);

} // namespace kxcall
