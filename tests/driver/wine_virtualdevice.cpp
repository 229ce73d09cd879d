// Runs under Wine: the Win32 HID facility and the virtual device client against a system that
// has no virtual HID device. A plain program (no Qt): exit code 0 means every check held.
#include "input/virtualdeviceclient.h"
#include "platform/hid.h"

#include <cstdio>
#include <string>

namespace {

int g_failures = 0;

void check(bool condition, const char* what) {
    std::printf("%s: %s\n", condition ? "PASS" : "FAIL", what);
    if (!condition)
        ++g_failures;
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

} // namespace

int main() {
    namespace hid = platform::hid;

    const auto opened = hid::openInterfaceList();
    check(opened.ok && opened.value != nullptr, "the HID interface set can be had");
    uint32_t present = 0;
    while (opened && present < 1000) {
        const auto path = hid::interfacePath(opened.value, present);
        if (!path && path.code == hid::kErrorNoMoreItems)
            break;
        ++present;
    }
    hid::closeInterfaceList(opened.value);
    std::printf("HID interfaces present: %u\n", present);

    const auto none =
        hid::openDevice("\\\\?\\hid#nothing#1&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}");
    check(!none && none.value == nullptr, "a path nobody has does not open");
    check(none.code != 0 && !none.text.empty(), "...and says why");

    std::string out;
    VirtualDeviceClient client([&](const std::string& s) { out += s; });
    check(!client.openVirtualDevice(), "opening fails without the driver");
    check(!client.isOpen(), "no handle stays open");
    const std::string looking = "Virtual device: 001f:ba1c (usage page 0xff00, usage 0x1) is not "
                                "among ";
    check(out.compare(0, looking.size(), looking) == 0, "the search says what it looked for");
    check(countOf(out, "Virtual device:") == 1, "in one line, printed once");

    out.clear();
    check(!client.sendKeys({0x04, 0, 0, 0, 0, 0}), "a write without a device fails");
    check(out == "failed WriteFile 6\n", "...with the invalid-handle text");
    std::fputs(g_failures ? "FAILED\n" : "OK\n", stdout);
    return g_failures ? 1 : 0;
}
