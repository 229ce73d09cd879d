#pragma once

// The simulated USB bus file, read by the simulated USB backend (platform/sim/usb.cpp) and by the
// emulated device library (kx/), which learns from it whether its devices are plugged. Header
// only and standard C++ only, so the library includes it without linking the platform layer.
//
// One device interface path per line; "-" in front marks a known but unplugged path, "#" starts
// a comment; blanks around a line are not part of it.

#include <cstddef>
#include <string>
#include <vector>

namespace platform::usb::sim {

// The file's name, in the program folder (which is also the library's folder).
constexpr const char kBusFileName[] = "sim-usb.txt";
// A list, not a dump: what lies past the first MiB is not read.
constexpr std::size_t kMaxBusBytes = 1024 * 1024;

struct Entry {
    std::string path;
    bool present = false;
};

// The entries of a bus file's text, in file order.
inline std::vector<Entry> parseBusText(const std::string& text) {
    std::vector<Entry> entries;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        line.erase(0, first);
        Entry e;
        e.present = line[0] != '-';
        e.path = e.present ? line : line.substr(1);
        if (!e.path.empty())
            entries.push_back(std::move(e));
    }
    return entries;
}

} // namespace platform::usb::sim
