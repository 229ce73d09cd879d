// The simulation control commands of the HID bus: its collections and what the system saw.
#include "platform/sim/hidbus.h"

#include "platform/simcontrol.h"

#include <cstdio>
#include <cstdlib>

namespace platform::hid::sim {

namespace {

std::string joinNames(const std::vector<std::string>& names) {
    if (names.empty())
        return "(none)";
    std::string t;
    for (const auto& n : names)
        t += (t.empty() ? "" : " ") + n;
    return t;
}

// "hid-keyboard [COUNT]": what is held now, then the last COUNT events of that kind.
std::string showEvents(const std::vector<std::string>& args, const char* heading,
                       std::vector<std::string> held, bool (*wanted)(const InputEvent&)) {
    size_t count = 20;
    if (!args.empty()) {
        char* end = nullptr;
        const long n = std::strtol(args[0].c_str(), &end, 10);
        if (args.size() > 1 || !end || *end || n < 0)
            return "error: COUNT must be a number of events";
        count = size_t(n);
    }
    std::vector<InputEvent> events;
    for (const auto& e : inputEvents())
        if (wanted(e))
            events.push_back(e);
    std::string text = std::string(heading) + ": " + joinNames(held) + "\n";
    const size_t first = events.size() > count ? events.size() - count : 0;
    for (size_t i = first; i < events.size(); ++i)
        text += "#" + std::to_string(events[i].sequence) + " " + events[i].text() + "\n";
    return text;
}

} // namespace

void registerControlCommands() {
    using platform::simcontrol::registerCommand;
    registerCommand("hid-devices", "hid-devices    HID collections on the simulated bus",
                    [](const std::vector<std::string>&) {
                        std::string text;
                        for (const auto& c : collections()) {
                            char line[160];
                            std::snprintf(
                                line, sizeof line,
                                " vid=%04x pid=%04x usage=%04x:%04x in=%u out=%u "
                                "feature=%u%s%s\n",
                                c.attributes.vendorId, c.attributes.productId, c.caps.usagePage,
                                c.caps.usage, c.caps.inputReportByteLength,
                                c.caps.outputReportByteLength, c.caps.featureReportByteLength,
                                c.systemOwned ? " system" : "", c.openHandles ? " open" : "");
                            text += c.path + line;
                        }
                        return text.empty() ? std::string("no HID devices\n") : text;
                    });
    registerCommand("hid-keyboard", "hid-keyboard [COUNT]    keys the virtual keyboard reported",
                    [](const std::vector<std::string>& args) {
                        return showEvents(args, "keys down", keysDown(), [](const InputEvent& e) {
                            return e.device == "keyboard";
                        });
                    });
    registerCommand(
        "hid-mouse", "hid-mouse [COUNT]    buttons and movement the virtual mice reported",
        [](const std::vector<std::string>& args) {
            return showEvents(args, "buttons down", buttonsDown(),
                              [](const InputEvent& e) { return e.device != "keyboard"; });
        });
    registerCommand("hid-events", "hid-events [COUNT]    every input report, in order",
                    [](const std::vector<std::string>& args) {
                        std::vector<std::string> held = keysDown();
                        for (const auto& b : buttonsDown())
                            held.push_back(b);
                        return showEvents(args, "held", held,
                                          [](const InputEvent&) { return true; });
                    });
    registerCommand("hid-clear", "hid-clear    forget the recorded input reports",
                    [](const std::vector<std::string>&) {
                        clearInputEvents();
                        return std::string("cleared\n");
                    });
}

} // namespace platform::hid::sim
