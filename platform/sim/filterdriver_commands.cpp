#include "platform/sim/filterdriver_p.h"

#include "platform/simcontrol.h"

#include <cstdio>

namespace platform::devio::sim {
namespace {

namespace drv = platform::filterdriver;
using filter::kSystemKept;
using filter::parseNumber;

std::string hex(unsigned value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*x", digits, value);
    return buf;
}

// By button flag, lowest bit first.
const char* const kButtonNames[drv::kButtonFlagCount] = {
    "left-down",    "left-up",    "right-down",   "right-up",   "middle-down", "middle-up",
    "button4-down", "button4-up", "button5-down", "button5-up", "wheel",       "hwheel"};

std::string setHardwareId(const std::vector<std::string>& args) {
    long slot = 0;
    if (args.size() < 2 || !parseNumber(args[0], 1, drv::kSlots, &slot))
        return "error: usage: filter-id SLOT ID|-";
    std::string id;
    for (size_t i = 1; i < args.size(); ++i)
        id += (i > 1 ? " " : "") + args[i];
    filter::State& st = filter::state();
    std::lock_guard<std::mutex> lock(st.mutex);
    st.slots[slot - 1].hardwareId = id == "-" ? std::string() : id;
    st.options.hardwareIds[size_t(slot - 1)] = st.slots[slot - 1].hardwareId;
    return "slot " + std::to_string(slot) + ": " + st.slots[slot - 1].hardwareId + "\n";
}

std::string pressKey(const std::vector<std::string>& args) {
    const char* usage = "error: usage: filter-key SLOT SCANCODE [e0] down|up|press";
    long slot = 0, scan = 0;
    if (args.size() < 3 || args.size() > 4 ||
        !parseNumber(args[0], 1, drv::kKeyboardSlots, &slot) ||
        !parseNumber(args[1], 0, 0xFFFF, &scan))
        return usage;
    bool e0 = false;
    if (args.size() == 4) {
        if (args[2] != "e0")
            return usage;
        e0 = true;
    }
    const std::string& what = args.back();
    if (what != "down" && what != "up" && what != "press")
        return usage;
    if (what != "up")
        keyStroke(int(slot), uint16_t(scan), e0, false);
    if (what != "down")
        keyStroke(int(slot), uint16_t(scan), e0, true);
    return "ok\n";
}

std::string pressButton(const std::vector<std::string>& args) {
    const char* usage =
        "error: usage: filter-button SLOT left|right|middle|button4|button5 down|up|click";
    static const std::map<std::string, uint16_t> downs = {{"left", drv::kLeftDown},
                                                          {"right", drv::kRightDown},
                                                          {"middle", drv::kMiddleDown},
                                                          {"button4", drv::kButton4Down},
                                                          {"button5", drv::kButton5Down}};
    long slot = 0;
    if (args.size() != 3 || !parseNumber(args[0], drv::kFirstMouseSlot, drv::kSlots, &slot))
        return usage;
    const auto it = downs.find(args[1]);
    const std::string& what = args[2];
    if (it == downs.end() || (what != "down" && what != "up" && what != "click"))
        return usage;
    if (what != "up")
        mouseStroke(int(slot), it->second);
    if (what != "down")
        mouseStroke(int(slot), drv::upFlagOf(it->second));
    return "ok\n";
}

std::string showSystem(const std::vector<std::string>& args) {
    size_t count = kSystemKept;
    long n = 0;
    if (args.size() > 1 || (args.size() == 1 && !parseNumber(args[0], 0, 1000000, &n)))
        return "error: usage: filter-system [COUNT]";
    if (args.size() == 1)
        count = size_t(n);
    const std::vector<SystemStroke> all = systemStrokes();
    std::string text;
    for (size_t i = all.size() > count ? all.size() - count : 0; i < all.size(); ++i)
        text += "#" + std::to_string(all[i].sequence) + " " + all[i].stroke.text() +
                (all[i].givenBack ? " (given back)" : "") + "\n";
    return text.empty() ? std::string("nothing reached the system\n") : text;
}

std::string showSlots(const std::vector<std::string>&) {
    std::string text;
    for (const SlotInfo& s : slotStates()) {
        char line[96];
        std::snprintf(line, sizeof line, "%2d %-8s mask=0x%04x%s%s%s ", s.slot,
                      s.slot < drv::kFirstMouseSlot ? "keyboard" : "mouse", s.mask,
                      s.present ? "" : " missing", s.open ? " open" : "",
                      s.queued ? " queued" : "");
        text += line + (s.hardwareId.empty() ? "-" : s.hardwareId) + "\n";
    }
    return text;
}

} // namespace

std::string Stroke::text() const {
    std::string t;
    if (keyboard()) {
        t = "keyboard " + std::to_string(slot) + " scan=" + hex(code, 2);
        if (state & drv::kKeyE0)
            t += " e0";
        if (state & drv::kKeyE1)
            t += " e1";
        t += (state & drv::kKeyUp) ? " up" : " down";
    } else {
        t = "mouse " + std::to_string(slot);
        if (!state)
            t += " move";
        for (int bit = 0; bit < drv::kButtonFlagCount; ++bit)
            if (state & (1u << bit))
                t += std::string(" ") + kButtonNames[bit];
        if (wheelData)
            t += " data=" + std::to_string(wheelData);
        if (x || y)
            t += " x=" + std::to_string(x) + " y=" + std::to_string(y);
    }
    return t;
}

void registerControlCommands() {
    using platform::simcontrol::registerCommand;
    registerCommand("filter-slots", "filter-slots    the filter driver's 20 slots", showSlots);
    registerCommand("filter-id", "filter-id SLOT ID|-    set a slot's hardware id", setHardwareId);
    registerCommand("filter-key",
                    "filter-key SLOT SCANCODE [e0] down|up|press    a key on a keyboard slot",
                    pressKey);
    registerCommand(
        "filter-button",
        "filter-button SLOT left|right|middle|button4|button5 down|up|click    a mouse button",
        pressButton);
    registerCommand("filter-system", "filter-system [COUNT]    strokes that reached the system",
                    showSystem);
    registerCommand("filter-clear", "filter-clear    forget what reached the system",
                    [](const std::vector<std::string>&) {
                        clearSystemStrokes();
                        return std::string("cleared\n");
                    });
}

} // namespace platform::devio::sim
