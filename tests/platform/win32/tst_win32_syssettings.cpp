// The Win32 system settings against the real API (under Wine here): what is set reads back.

#include "check.h"
#include "platform/syssettings.h"

#include <cstdio>

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

void speedIsStored() {
    const auto before = ss::mouseSpeed();
    CHECK(before.ok);
    // Windows keeps 1..20; Wine accepts the speed but keeps nothing and always reads 0.
    const bool kept = before.value != 0;
    if (!kept)
        std::printf(
            "note: this system does not keep the mouse speed; only the calls are checked\n");
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
