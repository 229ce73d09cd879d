#include "hidreportparser.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

namespace hidclass {
namespace {

struct GlobalState {
    uint16_t usagePage = 0;
    int32_t logicalMin = 0;
    int32_t logicalMax = 0;
    uint32_t reportSize = 0;
    uint32_t reportCount = 0;
    uint8_t reportId = 0;
};

struct LocalState {
    std::vector<uint32_t> usages;
    bool haveMin = false;
    bool haveMax = false;
    uint32_t usageMin = 0;
    uint32_t usageMax = 0;
};

constexpr size_t kMaxPushDepth = 16;
constexpr size_t kMaxCollectionDepth = 32;
constexpr uint64_t kMaxReportBits = 0xFFFEull * 8; // the length must fit a 16-bit field with id

uint32_t unsignedData(const uint8_t* p, size_t n) {
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i)
        v |= uint32_t(p[i]) << (8 * i);
    return v;
}

int32_t signedData(const uint8_t* p, size_t n) {
    const uint32_t v = unsignedData(p, n);
    switch (n) {
    case 1:
        return int8_t(v);
    case 2:
        return int16_t(v);
    case 4:
        return int32_t(v);
    default:
        return 0;
    }
}

uint32_t extendedUsage(uint32_t value, size_t dataSize, uint16_t page) {
    return dataSize == 4 ? value : (uint32_t(page) << 16) | (value & 0xFFFF);
}

ParsedDescriptor refuse(std::string why, size_t offset) {
    ParsedDescriptor result;
    result.error = std::move(why) + " at byte " + std::to_string(offset);
    return result;
}

} // namespace

uint32_t ReportField::usageAt(uint32_t index) const {
    if (usageRange) {
        const uint64_t u = uint64_t(usageMin) + index;
        return u > usageMax ? usageMax : uint32_t(u);
    }
    if (usages.empty())
        return 0;
    return index < usages.size() ? usages[index] : usages.back();
}

bool TopLevelCollection::hasReportId(uint8_t id) const {
    return std::find(reportIds.begin(), reportIds.end(), id) != reportIds.end();
}

int ParsedDescriptor::collectionForReport(uint8_t reportId) const {
    if (!usesReportIds)
        return collections.empty() ? -1 : 0;
    for (size_t i = 0; i < collections.size(); ++i)
        if (collections[i].hasReportId(reportId))
            return int(i);
    return -1;
}

ParsedDescriptor parseReportDescriptor(const uint8_t* data, size_t size) {
    ParsedDescriptor result;
    GlobalState global;
    std::vector<GlobalState> pushed;
    LocalState local;
    size_t depth = 0;
    bool sawMainWithoutId = false;
    // Bits so far per (report type, report id), and which collection owns each report id.
    std::map<std::pair<int, uint8_t>, uint64_t> bits;
    std::map<uint8_t, size_t> owner;

    size_t pos = 0;
    while (pos < size) {
        const size_t itemStart = pos;
        const uint8_t prefix = data[pos++];
        if (prefix == 0xFE) { // long item: skipped, as nothing defines one
            if (pos + 2 > size)
                return refuse("truncated long item", itemStart);
            const size_t n = data[pos];
            pos += 2;
            if (pos + n > size)
                return refuse("truncated long item", itemStart);
            pos += n;
            continue;
        }
        size_t n = prefix & 3u;
        if (n == 3)
            n = 4;
        const unsigned type = (prefix >> 2) & 3u;
        const unsigned tag = prefix >> 4;
        if (pos + n > size)
            return refuse("truncated item", itemStart);
        const uint8_t* itemData = data + pos;
        pos += n;
        const uint32_t u = unsignedData(itemData, n);
        const int32_t s = signedData(itemData, n);

        if (type == 1) { // global
            switch (tag) {
            case 0:
                global.usagePage = uint16_t(u);
                break;
            case 1:
                global.logicalMin = s;
                break;
            case 2:
                global.logicalMax = s;
                break;
            case 7:
                global.reportSize = u;
                break;
            case 8:
                if (u == 0 || u > 0xFF)
                    return refuse("report id out of range", itemStart);
                global.reportId = uint8_t(u);
                result.usesReportIds = true;
                if (sawMainWithoutId)
                    return refuse("report id after reports without one", itemStart);
                break;
            case 9:
                global.reportCount = u;
                break;
            case 10:
                if (pushed.size() >= kMaxPushDepth)
                    return refuse("push nested too deep", itemStart);
                pushed.push_back(global);
                break;
            case 11:
                if (pushed.empty())
                    return refuse("pop without push", itemStart);
                global = pushed.back();
                pushed.pop_back();
                break;
            default: // physical range, unit and exponent do not change the layout
                break;
            }
            continue;
        }
        if (type == 2) { // local
            switch (tag) {
            case 0:
                local.usages.push_back(extendedUsage(u, n, global.usagePage));
                break;
            case 1:
                local.usageMin = extendedUsage(u, n, global.usagePage);
                local.haveMin = true;
                break;
            case 2:
                local.usageMax = extendedUsage(u, n, global.usagePage);
                local.haveMax = true;
                break;
            default:
                break;
            }
            continue;
        }
        if (type != 0)
            return refuse("reserved item type", itemStart);

        // main items
        switch (tag) {
        case 10: { // collection
            if (depth == 0) {
                TopLevelCollection tlc;
                uint32_t usage = 0;
                if (!local.usages.empty())
                    usage = local.usages.front();
                else if (local.haveMin)
                    usage = local.usageMin;
                tlc.usagePage = uint16_t(usage >> 16);
                tlc.usage = uint16_t(usage & 0xFFFF);
                result.collections.push_back(std::move(tlc));
            }
            if (++depth > kMaxCollectionDepth)
                return refuse("collections nested too deep", itemStart);
            break;
        }
        case 12: // end collection
            if (depth == 0)
                return refuse("end collection without collection", itemStart);
            --depth;
            break;
        case 8:
        case 9:
        case 11: {
            if (depth == 0)
                return refuse("report item outside a collection", itemStart);
            const ReportType rt = tag == 8   ? ReportType::Input
                                  : tag == 9 ? ReportType::Output
                                             : ReportType::Feature;
            if (global.reportId == 0)
                sawMainWithoutId = true;
            const size_t current = result.collections.size() - 1;
            TopLevelCollection& tlc = result.collections.back();
            if (global.reportId != 0) {
                auto it = owner.find(global.reportId);
                if (it == owner.end())
                    owner[global.reportId] = current;
                else if (it->second != current)
                    return refuse("report id shared by two collections", itemStart);
                if (!tlc.hasReportId(global.reportId))
                    tlc.reportIds.push_back(global.reportId);
            }
            const uint64_t fieldBits = uint64_t(global.reportSize) * global.reportCount;
            uint64_t& total = bits[{int(rt), global.reportId}];
            if (fieldBits > kMaxReportBits || total + fieldBits > kMaxReportBits)
                return refuse("report too long", itemStart);
            if (global.reportSize > 32 && !(u & 1u))
                return refuse("data field wider than 32 bits", itemStart);
            ReportField field;
            field.type = rt;
            field.reportId = global.reportId;
            field.bitOffset = uint32_t(total);
            field.bitSize = global.reportSize;
            field.count = global.reportCount;
            field.flags = u;
            field.logicalMin = global.logicalMin;
            field.logicalMax = global.logicalMax;
            // A maximum written in fewer bytes than its sign bit needs (25 FF for 255).
            if (field.logicalMin >= 0 && field.logicalMax < 0)
                field.logicalMax = int32_t(uint32_t(field.logicalMax) & (n == 1   ? 0xFFu
                                                                         : n == 2 ? 0xFFFFu
                                                                                  : 0xFFFFFFFFu));
            if (local.haveMin || local.haveMax) {
                field.usageRange = true;
                field.usageMin = local.usageMin;
                field.usageMax = local.haveMax ? local.usageMax : local.usageMin;
            } else {
                field.usages = local.usages;
            }
            total += fieldBits;
            const uint16_t bytes = uint16_t((total + 7) / 8 + 1);
            uint16_t& length = rt == ReportType::Input    ? tlc.inputLength
                               : rt == ReportType::Output ? tlc.outputLength
                                                          : tlc.featureLength;
            length = std::max(length, bytes);
            tlc.fields.push_back(std::move(field));
            break;
        }
        default:
            return refuse("reserved main item", itemStart);
        }
        local = LocalState{}; // local items end with every main item
    }
    if (depth != 0)
        return refuse("collection not ended", size);
    if (result.collections.empty())
        return refuse("no top-level collection", size);
    result.ok = true;
    return result;
}

namespace {

uint32_t extractBits(const uint8_t* data, size_t length, uint64_t bitOffset, uint32_t bitCount) {
    uint32_t value = 0;
    for (uint32_t i = 0; i < bitCount && i < 32; ++i) {
        const uint64_t bit = bitOffset + i;
        const size_t byte = size_t(bit / 8);
        if (byte < length && (data[byte] >> (bit % 8)) & 1u)
            value |= 1u << i;
    }
    return value;
}

int32_t toLogical(uint32_t raw, const ReportField& field) {
    if (field.logicalMin < 0 && field.bitSize > 0 && field.bitSize < 32 &&
        (raw >> (field.bitSize - 1)) & 1u)
        return int32_t(raw | (~0u << field.bitSize));
    return int32_t(raw);
}

} // namespace

DecodedReport decodeInputReport(const TopLevelCollection& collection, bool usesReportIds,
                                const uint8_t* report, size_t length) {
    DecodedReport decoded;
    const uint8_t* body = report;
    size_t bodyLength = length;
    if (usesReportIds) {
        if (length == 0)
            return decoded;
        decoded.reportId = report[0];
        ++body;
        --bodyLength;
    }
    for (const ReportField& field : collection.fields) {
        if (field.type != ReportType::Input || field.reportId != decoded.reportId ||
            field.isConstant())
            continue;
        for (uint32_t i = 0; i < field.count; ++i) {
            const uint64_t offset = uint64_t(field.bitOffset) + uint64_t(i) * field.bitSize;
            const int32_t value =
                toLogical(extractBits(body, bodyLength, offset, field.bitSize), field);
            if (field.isVariable()) {
                const uint32_t usage = field.usageAt(i);
                const UsageValue uv{uint16_t(usage >> 16), uint16_t(usage & 0xFFFF), value};
                if (field.bitSize == 1 && field.logicalMin == 0 && field.logicalMax == 1) {
                    if (value)
                        decoded.on.push_back(uv);
                } else {
                    decoded.values.push_back(uv);
                }
            } else {
                // An array element is an index into the usages; out of range means none.
                if (value < field.logicalMin || value > field.logicalMax)
                    continue;
                const uint32_t usage = field.usageAt(uint32_t(value - field.logicalMin));
                if ((usage & 0xFFFF) == 0)
                    continue; // usage 0: no event in this slot
                decoded.on.push_back(
                    UsageValue{uint16_t(usage >> 16), uint16_t(usage & 0xFFFF), 1});
            }
        }
    }
    return decoded;
}

std::string usageName(uint16_t page, uint16_t id) {
    if (page == 0x07) {
        if (id >= 0x04 && id <= 0x1D)
            return std::string(1, char('a' + (id - 0x04)));
        if (id >= 0x1E && id <= 0x26)
            return std::string(1, char('1' + (id - 0x1E)));
        if (id >= 0x3A && id <= 0x45)
            return "f" + std::to_string(id - 0x3A + 1);
        static const std::map<uint16_t, const char*> names = {
            {0x27, "0"},           {0x28, "enter"},
            {0x29, "escape"},      {0x2A, "backspace"},
            {0x2B, "tab"},         {0x2C, "space"},
            {0x2D, "-"},           {0x2E, "="},
            {0x2F, "["},           {0x30, "]"},
            {0x31, "\\"},          {0x32, "#"},
            {0x33, ";"},           {0x34, "'"},
            {0x35, "`"},           {0x36, ","},
            {0x37, "."},           {0x38, "/"},
            {0x39, "capslock"},    {0x46, "printscreen"},
            {0x47, "scrolllock"},  {0x48, "pause"},
            {0x49, "insert"},      {0x4A, "home"},
            {0x4B, "pageup"},      {0x4C, "delete"},
            {0x4D, "end"},         {0x4E, "pagedown"},
            {0x4F, "right"},       {0x50, "left"},
            {0x51, "down"},        {0x52, "up"},
            {0x53, "numlock"},     {0x64, "nonus-\\"},
            {0x65, "application"}, {0xE0, "left-control"},
            {0xE1, "left-shift"},  {0xE2, "left-alt"},
            {0xE3, "left-gui"},    {0xE4, "right-control"},
            {0xE5, "right-shift"}, {0xE6, "right-alt"},
            {0xE7, "right-gui"}};
        auto it = names.find(id);
        if (it != names.end())
            return it->second;
    } else if (page == 0x09) {
        switch (id) {
        case 1:
            return "left";
        case 2:
            return "right";
        case 3:
            return "middle";
        default:
            return "button" + std::to_string(id);
        }
    } else if (page == 0x01) {
        switch (id) {
        case 0x30:
            return "x";
        case 0x31:
            return "y";
        case 0x38:
            return "wheel";
        default:
            break;
        }
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%02x:0x%02x", unsigned(page), unsigned(id));
    return text;
}

} // namespace hidclass
