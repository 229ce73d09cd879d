#include "platform/syssettings.h"
#include "platform/win32/wide.h"

#include <windows.h>

namespace platform::syssettings {
namespace {

Result lastError(const char* what) {
    const DWORD code = GetLastError();
    return Result::failure(code,
                           std::string(what) + " failed: system error " + std::to_string(code));
}

// Written to the user profile only: no setting-change message goes to other windows.
constexpr UINT kStore = SPIF_UPDATEINIFILE;

class Win32Backend : public Backend {
public:
    ResultOf<MouseAcceleration> mouseAcceleration() override {
        int triple[3] = {};
        if (!SystemParametersInfoW(SPI_GETMOUSE, 0, triple, 0)) {
            const Result r = lastError("SPI_GETMOUSE");
            return ResultOf<MouseAcceleration>::failure(r.code, r.text);
        }
        return ResultOf<MouseAcceleration>::success({triple[0], triple[1], triple[2]});
    }

    Result setMouseAcceleration(const MouseAcceleration& value) override {
        int triple[3] = {value.threshold1, value.threshold2, value.acceleration};
        if (!SystemParametersInfoW(SPI_SETMOUSE, 0, triple, kStore))
            return lastError("SPI_SETMOUSE");
        return Result::success();
    }

    ResultOf<int> mouseSpeed() override {
        int speed = 0;
        if (!SystemParametersInfoW(SPI_GETMOUSESPEED, 0, &speed, 0)) {
            const Result r = lastError("SPI_GETMOUSESPEED");
            return ResultOf<int>::failure(r.code, r.text);
        }
        return ResultOf<int>::success(speed);
    }

    Result setMouseSpeed(int speed) override {
        // The speed travels in the pointer argument itself.
        if (!SystemParametersInfoW(SPI_SETMOUSESPEED, 0,
                                   reinterpret_cast<void*>(static_cast<intptr_t>(speed)), kStore))
            return lastError("SPI_SETMOUSESPEED");
        return Result::success();
    }

    ResultOf<int> wheelScrollLines() override {
        UINT lines = 0;
        if (!SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0)) {
            const Result r = lastError("SPI_GETWHEELSCROLLLINES");
            return ResultOf<int>::failure(r.code, r.text);
        }
        return ResultOf<int>::success(static_cast<int>(lines));
    }

    Result setWheelScrollLines(int lines) override {
        if (!SystemParametersInfoW(SPI_SETWHEELSCROLLLINES, static_cast<UINT>(lines), nullptr,
                                   kStore))
            return lastError("SPI_SETWHEELSCROLLLINES");
        return Result::success();
    }

    Result activateKeyboardLayout(const std::string& name) override {
        const HKL layout = LoadKeyboardLayoutW(win32::widen(name).c_str(), KLF_ACTIVATE);
        if (!layout)
            return lastError("LoadKeyboardLayout");
        if (ActivateKeyboardLayout(layout, KLF_SETFORPROCESS))
            return Result::success();
        // Systems without whole-process switching still switch the calling (GUI) thread.
        if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED || !ActivateKeyboardLayout(layout, 0))
            return lastError("ActivateKeyboardLayout");
        return Result::success();
    }

    ResultOf<std::string> keyboardLayout() override {
        wchar_t name[KL_NAMELENGTH] = {};
        if (!GetKeyboardLayoutNameW(name)) {
            const Result r = lastError("GetKeyboardLayoutName");
            return ResultOf<std::string>::failure(r.code, r.text);
        }
        std::string out;
        for (const wchar_t* p = name; *p; ++p)
            out += static_cast<char>(*p);
        return ResultOf<std::string>::success(out);
    }
};

} // namespace

Backend& systemBackend() {
    static Win32Backend backend;
    return backend;
}

} // namespace platform::syssettings
