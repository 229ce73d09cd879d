// System settings on X11. The core pointer control has one ratio and one threshold: movement
// beyond the threshold is multiplied by the ratio. The speed is the ratio in tenths (10 = 1:1);
// acceleration on is the threshold (first threshold of the triple), off is threshold 0 (the ratio
// applies to all movement). X keeps one level and one threshold, so a second threshold and level
// 2 read back as level 1. Keyboard layouts are the XKB groups of the configured layouts.

#include "platform/syssettings.h"

#include "platform/linux/x11_p.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace platform::syssettings {
namespace {

constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kNotSupported = 50;
constexpr uint32_t kNoDisplay = 1400; // invalid window handle: no desktop to talk to

using x11::DisplayPtr;

Result noDisplay() {
    return Result::failure(kNoDisplay, "no X display");
}

// Language ids of the layouts the program names, and their XKB layout names.
const struct {
    unsigned long language;
    const char* layout;
} kLayouts[] = {{0x0409, "us"}, {0x0809, "gb"}, {0x0407, "de"}, {0x040c, "fr"},
                {0x0410, "it"}, {0x040a, "es"}, {0x0419, "ru"}, {0x0411, "jp"},
                {0x0412, "kr"}, {0x0804, "cn"}, {0x0404, "tw"}};

// The configured layouts, in group order, from the root window's rules names.
std::vector<std::string> configuredLayouts(Display* d) {
    const Atom names = XInternAtom(d, "_XKB_RULES_NAMES", True);
    std::vector<std::string> layouts;
    if (names == None)
        return layouts;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, DefaultRootWindow(d), names, 0, 1024, False, XA_STRING, &type,
                           &format, &count, &after, &data) == Success &&
        data && format == 8) {
        // rules, model, layout, variant, options: NUL-separated.
        std::vector<std::string> items;
        std::string item;
        for (unsigned long i = 0; i < count; ++i) {
            if (data[i] == '\0') {
                items.push_back(item);
                item.clear();
            } else {
                item += static_cast<char>(data[i]);
            }
        }
        items.push_back(item);
        if (items.size() > 2) {
            std::string layout;
            for (char c : items[2] + ",") {
                if (c == ',') {
                    layouts.push_back(layout);
                    layout.clear();
                } else {
                    layout += c;
                }
            }
        }
    }
    if (data)
        XFree(data);
    return layouts;
}

DisplayPtr openXkbDisplay() {
    DisplayPtr d(XOpenDisplay(nullptr));
    if (!d)
        return d;
    int opcode = 0, event = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (!XkbQueryExtension(d.get(), &opcode, &event, &error, &major, &minor))
        d.reset();
    return d;
}

class X11Backend : public Backend {
public:
    ResultOf<MouseAcceleration> mouseAcceleration() override {
        DisplayPtr d(XOpenDisplay(nullptr));
        if (!d)
            return ResultOf<MouseAcceleration>::failure(kNoDisplay, "no X display");
        int num = 0, den = 0, threshold = 0;
        XGetPointerControl(d.get(), &num, &den, &threshold);
        MouseAcceleration value;
        if (threshold > 0)
            value = {threshold, 0, 1};
        return ResultOf<MouseAcceleration>::success(value);
    }

    Result setMouseAcceleration(const MouseAcceleration& value) override {
        if (value.acceleration < 0 || value.threshold1 < 0 ||
            (value.acceleration > 0 && value.threshold1 == 0))
            return Result::failure(kInvalidParameter, "no such mouse acceleration");
        DisplayPtr d(XOpenDisplay(nullptr));
        if (!d)
            return noDisplay();
        const int threshold = value.acceleration == 0 ? 0 : value.threshold1;
        XChangePointerControl(d.get(), False, True, 0, 0, threshold);
        XSync(d.get(), False);
        return Result::success();
    }

    ResultOf<int> mouseSpeed() override {
        DisplayPtr d(XOpenDisplay(nullptr));
        if (!d)
            return ResultOf<int>::failure(kNoDisplay, "no X display");
        int num = 0, den = 0, threshold = 0;
        XGetPointerControl(d.get(), &num, &den, &threshold);
        if (den <= 0)
            return ResultOf<int>::failure(kInvalidParameter,
                                          "the pointer ratio has no denominator");
        const int speed = (num * 10 + den / 2) / den;
        return ResultOf<int>::success(speed < 1 ? 1 : speed > 20 ? 20 : speed);
    }

    Result setMouseSpeed(int speed) override {
        // A ratio of 0 would stop the pointer altogether.
        if (speed < 1 || speed > 20)
            return Result::failure(kInvalidParameter, "mouse speed outside 1..20");
        DisplayPtr d(XOpenDisplay(nullptr));
        if (!d)
            return noDisplay();
        XChangePointerControl(d.get(), True, False, speed, 10, 0);
        XSync(d.get(), False);
        return Result::success();
    }

    ResultOf<int> wheelScrollLines() override {
        return ResultOf<int>::failure(kNotSupported, "X11 has no wheel scroll lines setting");
    }

    Result setWheelScrollLines(int) override {
        return Result::failure(kNotSupported, "X11 has no wheel scroll lines setting");
    }

    Result activateKeyboardLayout(const std::string& name) override {
        const ResultOf<unsigned long> parsed = parseLayoutName(name);
        if (!parsed)
            return parsed;
        const unsigned long id = parsed.value;
        const char* wanted = nullptr;
        for (const auto& entry : kLayouts) {
            if (entry.language == (id & 0xffff))
                wanted = entry.layout;
        }
        if (!wanted)
            return Result::failure(kInvalidParameter, "no X layout for " + name);
        DisplayPtr d = openXkbDisplay();
        if (!d)
            return noDisplay();
        const std::vector<std::string> layouts = configuredLayouts(d.get());
        for (size_t group = 0; group < layouts.size() && group < XkbNumKbdGroups; ++group) {
            if (layouts[group] == wanted) {
                XkbLockGroup(d.get(), XkbUseCoreKbd, static_cast<unsigned int>(group));
                XSync(d.get(), False);
                return Result::success();
            }
        }
        return Result::failure(kInvalidParameter,
                               std::string("the layout ") + wanted + " is not configured");
    }

    ResultOf<std::string> keyboardLayout() override {
        DisplayPtr d = openXkbDisplay();
        if (!d)
            return ResultOf<std::string>::failure(kNoDisplay, "no X display");
        XkbStateRec state{};
        if (XkbGetState(d.get(), XkbUseCoreKbd, &state) != Success)
            return ResultOf<std::string>::failure(kNotSupported, "no keyboard state");
        const std::vector<std::string> layouts = configuredLayouts(d.get());
        if (state.locked_group < layouts.size()) {
            for (const auto& entry : kLayouts) {
                if (layouts[state.locked_group] == entry.layout) {
                    char text[9];
                    std::snprintf(text, sizeof(text), "%08lX", entry.language);
                    return ResultOf<std::string>::success(text);
                }
            }
        }
        return ResultOf<std::string>::failure(kNotSupported, "the active layout has no id");
    }
};

} // namespace

Backend& systemBackend() {
    static X11Backend backend;
    return backend;
}

} // namespace platform::syssettings
