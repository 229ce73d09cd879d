// The Win32 system settings against the real API (under Wine here): what is set reads back.

#include "check.h"
#include "platform/syssettings.h"

#include <cstdio>

#include <windows.h>

namespace ss = platform::syssettings;

namespace {

void accelerationTriplesReadBack() {
    // The rows the mouse-speed command writes.
    const ss::MouseAcceleration cases[] = {{0, 0, 0}, {7, 0, 1}, {4, 6, 2}, {4, 0, 1}};
    for (const ss::MouseAcceleration& value : cases) {
        CHECK(ss::setMouseAcceleration(value).ok);
        const auto read = ss::mouseAcceleration();
        CHECK(read.ok);
        CHECK(read.value == value);
    }
}

// Wine accepts the mouse speed but does not keep it (it reads back its default).
bool underWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

void speedIsStored() {
    const bool kept = !underWine();
    if (!kept)
        std::printf("note: Wine does not keep the mouse speed; only the calls are checked\n");
    for (int speed : {1, 20, 3}) {
        CHECK(ss::setMouseSpeed(speed).ok);
        const auto read = ss::mouseSpeed();
        CHECK(read.ok);
        if (kept)
            CHECK(read.value == speed);
    }
}

void wheelLinesReadBack() {
    for (int lines : {1, 10, 0, 3}) {
        CHECK(ss::setWheelScrollLines(lines).ok);
        const auto read = ss::wheelScrollLines();
        CHECK(read.ok && read.value == lines);
    }
}

void keyboardLayoutActivates() {
    // Wine loads only the layout it runs with; the US layout is the one both systems have.
    CHECK(ss::activateKeyboardLayout("0x0409").ok);
    const auto layout = ss::keyboardLayout();
    CHECK(layout.ok && layout.value == "00000409");
}

} // namespace

int main() {
    RUN(accelerationTriplesReadBack);
    RUN(speedIsStored);
    RUN(wheelLinesReadBack);
    RUN(keyboardLayoutActivates);
    return finish();
}
