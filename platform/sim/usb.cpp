#include "platform/sim/usb.h"

#include "platform/simcontrol.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>

#include <unistd.h>

namespace platform::usb {
namespace sim {
namespace {

std::mutex g_mutex;
std::string g_file;
bool g_loaded = false;
std::vector<Entry> g_entries;
std::map<int, Listener> g_listeners;
int g_nextListener = 1;

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string defaultFile() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string folder = ".";
    if (n > 0) {
        const std::string exe(buf, static_cast<size_t>(n));
        const size_t slash = exe.rfind('/');
        if (slash != std::string::npos)
            folder = exe.substr(0, slash);
    }
    return folder + "/" + kBusFileName;
}

void loadLocked() {
    if (g_loaded)
        return;
    g_loaded = true;
    if (g_file.empty())
        g_file = defaultFile();
    std::ifstream file(g_file, std::ios::binary);
    std::string text(kMaxBusBytes, '\0');
    file.read(&text[0], static_cast<std::streamsize>(kMaxBusBytes));
    text.resize(static_cast<size_t>(file.gcount()));
    g_entries = parseBusText(text);
}

// Replaces the file only once the new list is written whole, so the device library polling it
// never reads half a list.
bool saveLocked() {
    const std::string temp = g_file + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << "# Simulated USB bus: one device interface path per line; '-' marks an unplugged "
               "one.\n";
        for (const Entry& e : g_entries)
            out << (e.present ? "" : "-") << e.path << '\n';
        out.flush();
        if (!out)
            return false;
    }
    return std::rename(temp.c_str(), g_file.c_str()) == 0;
}

constexpr int kNoMatch = -1;
constexpr int kAmbiguous = -2;

// Exact match first, then a unique case-insensitive part of one path.
int findLocked(const std::string& what) {
    for (size_t i = 0; i < g_entries.size(); ++i)
        if (g_entries[i].path == what)
            return static_cast<int>(i);
    const std::string needle = lower(what);
    int found = kNoMatch;
    for (size_t i = 0; i < g_entries.size(); ++i) {
        if (lower(g_entries[i].path).find(needle) == std::string::npos)
            continue;
        if (found >= 0)
            return kAmbiguous;
        found = static_cast<int>(i);
    }
    return found;
}

// The list file must read back as the same path: one line, not marked unplugged or taken for a
// comment, nothing the reader trims.
bool fitsTheList(const std::string& what) {
    return what[0] != '-' && what[0] != '#' && what[0] != ' ' && what.back() != ' ' &&
           std::none_of(what.begin(), what.end(),
                        [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

Result change(const std::string& what, bool present) {
    Notification n;
    std::vector<Listener> listeners;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        loadLocked();
        if (what.empty())
            return Result::failure(kErrorInvalidParameter, "no path given");
        int i = findLocked(what);
        if (i == kAmbiguous)
            return Result::failure(kErrorInvalidParameter,
                                   "'" + what + "' names more than one device");
        if (i == kNoMatch && present && what.find('#') != std::string::npos) {
            if (!fitsTheList(what))
                return Result::failure(kErrorInvalidParameter,
                                       "'" + what + "' cannot be a device path");
            g_entries.push_back(Entry{what, false});
            i = static_cast<int>(g_entries.size()) - 1;
        }
        if (i == kNoMatch)
            return Result::failure(kErrorNotFound, "no device '" + what + "' on the bus");
        Entry& e = g_entries[static_cast<size_t>(i)];
        if (e.present == present)
            return Result::failure(kErrorInvalidState,
                                   e.path + (present ? " is already plugged" : " is not plugged"));
        e.present = present;
        if (!saveLocked()) {
            e.present = !present;
            return Result::failure(kErrorWriteFault, "cannot write " + g_file);
        }
        n.eventCode = present ? kDeviceArrival : kDeviceRemoveComplete;
        n.hasRecord = true;
        n.deviceType = kDeviceTypeInterface;
        n.path = e.path;
        for (const auto& [id, listener] : g_listeners)
            listeners.push_back(listener);
    }
    for (const Listener& listener : listeners)
        listener(n);
    return Result::success();
}

} // namespace

PathList Backend::presentDevicePaths() {
    PathList result = PathList::success({});
    for (const Entry& e : entries())
        if (e.present)
            result.value.push_back(lower(e.path));
    return result;
}

int Backend::subscribe(Listener listener) {
    std::lock_guard<std::mutex> lock(g_mutex);
    const int id = g_nextListener++;
    g_listeners[id] = std::move(listener);
    return id;
}

void Backend::unsubscribe(int id) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_listeners.erase(id);
}

void setBusFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_file = path;
    g_loaded = false;
    loadLocked();
}

std::string busFile() {
    std::lock_guard<std::mutex> lock(g_mutex);
    loadLocked();
    return g_file;
}

Result plug(const std::string& path) {
    return change(path, true);
}

Result unplug(const std::string& path) {
    return change(path, false);
}

std::vector<Entry> entries() {
    std::lock_guard<std::mutex> lock(g_mutex);
    loadLocked();
    return g_entries;
}

void registerControlCommands() {
    simcontrol::registerCommand("usb-list", "usb-list                 USB devices on the bus",
                                [](const std::vector<std::string>&) {
                                    std::string text;
                                    for (const Entry& e : entries())
                                        text += (e.present ? "plugged   " : "unplugged ") + e.path +
                                                "\n";
                                    return text.empty() ? std::string("(empty bus)") : text;
                                });
    auto command = [](bool present) {
        return [present](const std::vector<std::string>& args) -> std::string {
            if (args.size() != 1)
                return "error: give one path, or a unique part of one";
            const Result changed = change(args[0], present);
            if (!changed)
                return "error: " + changed.text;
            return present ? "plugged" : "unplugged";
        };
    };
    simcontrol::registerCommand("usb-plug",
                                "usb-plug PATH            plug a USB device (PATH or part of one)",
                                command(true));
    simcontrol::registerCommand(
        "usb-unplug", "usb-unplug PATH          unplug a USB device (PATH or part of one)",
        command(false));
}

} // namespace sim

// The simulated bus is this system's USB bus.
Backend& systemBackend() {
    static sim::Backend* backend = new sim::Backend; // the bus thread may outlive exit
    return *backend;
}

} // namespace platform::usb
