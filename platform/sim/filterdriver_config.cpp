#include "platform/sim/filterdriver_p.h"

#include <fstream>
#include <sstream>

namespace platform::devio::sim {

using filter::parseNumber;

namespace {
// Configuration files are a few lines; a huge one is refused, not read.
constexpr size_t kMaxConfigurationBytes = 64 * 1024;
} // namespace

Options defaultOptions() {
    Options o;
    o.hardwareIds.assign(filter::kSlots, std::string());
    o.hardwareIds[0] = "ACPI\\PNP0303";
    o.hardwareIds[1] = "HID\\VID_04D9&PID_A0F1&MI_00";
    o.hardwareIds[2] = "HID\\pelta&Col03";
    o.hardwareIds[10] = "ACPI\\PNP0F13";
    o.hardwareIds[11] = "HID\\VID_04D9&PID_A0F1&MI_01&Col01";
    o.hardwareIds[12] = "HID\\pelta&Col01";
    return o;
}

ResultOf<Options> parseConfiguration(const std::string& text, const Options& base) {
    Options result = base;
    result.hardwareIds.resize(filter::kSlots);
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    auto refuse = [&](const std::string& why) {
        return ResultOf<Options>::failure(kErrorBadFormat,
                                          "line " + std::to_string(number) + ": " + why);
    };
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::string first, second, third;
        words >> first;
        if (first != "filter")
            continue;
        words >> second;
        long slot = 0;
        if (second == "on" || second == "off") {
            result.installed = second == "on";
        } else if (second == "slot" || second == "missing") {
            words >> third;
            if (!parseNumber(third, 1, filter::kSlots, &slot))
                return refuse("the slot must be 1 to 20");
            if (second == "missing") {
                result.missingSlots.push_back(int(slot));
            } else {
                std::string id;
                std::getline(words, id);
                id.erase(0, id.find_first_not_of(" \t"));
                id.erase(id.find_last_not_of(" \t") + 1);
                if (id.empty())
                    return refuse("filter slot N takes a hardware id, or - for none");
                result.hardwareIds[size_t(slot - 1)] = id == "-" ? std::string() : id;
            }
        } else {
            return refuse("expected: filter on|off, filter slot N ID, filter missing N");
        }
    }
    return ResultOf<Options>::success(std::move(result));
}

Result configureFromFile(const std::string& path) {
    Options options = defaultOptions();
    std::ifstream file(path, std::ios::binary);
    if (file) {
        std::string text(kMaxConfigurationBytes + 1, '\0');
        file.read(&text[0], std::streamsize(text.size()));
        text.resize(size_t(file.gcount()));
        if (text.size() > kMaxConfigurationBytes)
            return Result::failure(kErrorBadFormat, "the file is larger than 64 KiB");
        const ResultOf<Options> parsed = parseConfiguration(text, options);
        if (!parsed)
            return parsed;
        options = parsed.value;
    }
    configure(options);
    return Result::success();
}

} // namespace platform::devio::sim
