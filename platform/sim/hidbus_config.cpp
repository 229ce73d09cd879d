// The simulation's configuration text for the HID bus.
#include "platform/sim/hidbus.h"

#include "hidreportparser.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace platform::hid::sim {

namespace {

bool parseHex16(const std::string& word, uint16_t* value) {
    std::string w = word;
    if (w.size() > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X'))
        w = w.substr(2);
    if (w.empty() || w.size() > 4)
        return false;
    unsigned v = 0;
    for (char c : w) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        v = v * 16 + unsigned(std::isdigit(static_cast<unsigned char>(c))
                                  ? c - '0'
                                  : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    *value = uint16_t(v);
    return true;
}

bool parseHexBytes(const std::string& word, std::vector<uint8_t>* bytes) {
    std::string digits;
    for (char c : word)
        if (c != ':' && c != ',' && c != '-')
            digits += c;
    if (digits.empty() || digits.size() % 2)
        return false;
    bytes->clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        uint16_t v = 0;
        if (!parseHex16(digits.substr(i, 2), &v))
            return false;
        bytes->push_back(uint8_t(v));
    }
    return true;
}

} // namespace

ResultOf<Options> parseConfiguration(const std::string& text) {
    Options result = defaultOptions();
    std::istringstream in(text);
    std::string line;
    int number = 0;
    auto refuse = [&](const std::string& why) {
        return ResultOf<Options>::failure(kErrorBadFormat,
                                          "line " + std::to_string(number) + ": " + why);
    };
    while (std::getline(in, line)) {
        ++number;
        const size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string s; words >> s;)
            w.push_back(s);
        if (w.empty())
            continue;
        if (w[0] == "hid") {
            if (w.size() < 4 || w.size() > 5)
                return refuse("expected: hid VID PID HEXBYTES [NAME]");
            SimDevice wanted;
            if (!parseHex16(w[1], &wanted.vendorId) || !parseHex16(w[2], &wanted.productId))
                return refuse("vendor and product ids are 1 to 4 hexadecimal digits");
            if (!parseHexBytes(w[3], &wanted.reportDescriptor))
                return refuse("the report descriptor is an even number of hexadecimal digits");
            const auto parsed = hidclass::parseReportDescriptor(wanted.reportDescriptor.data(),
                                                                wanted.reportDescriptor.size());
            if (!parsed.ok)
                return refuse("report descriptor refused: " + parsed.error);
            if (w.size() == 5) {
                for (char c : w[4])
                    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '&')
                        return refuse("a device name has letters, digits, '_' and '&' only");
                wanted.name = w[4];
            }
            result.devices.push_back(std::move(wanted));
        } else if (w[0] == "pelta") {
            if (w.size() == 2 && (w[1] == "on" || w[1] == "off")) {
                result.hostPelta = w[1] == "on";
            } else if (w.size() == 3 && w[1] == "reads") {
                char* end = nullptr;
                const long n = std::strtol(w[2].c_str(), &end, 10);
                if (!end || *end || n < 1 || n > 64)
                    return refuse("pelta reads takes 1 to 64");
                result.peltaPendingReads = unsigned(n);
            } else {
                return refuse("expected: pelta on|off, or pelta reads N");
            }
        }
    }
    return ResultOf<Options>::success(std::move(result));
}

Result configureFromFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        configure(defaultOptions());
        return Result::success();
    }
    std::ostringstream text;
    text << file.rdbuf();
    const ResultOf<Options> parsed = parseConfiguration(text.str());
    if (!parsed)
        return parsed;
    configure(parsed.value);
    return Result::success();
}

} // namespace platform::hid::sim
