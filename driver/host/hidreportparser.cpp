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

namespace {

// Short items: a prefix byte (tag in the high four bits, type in the next two, data size code in
// the low two) and 0, 1, 2 or 4 data bytes. The long item prefix is followed by its data size
// and its tag.
constexpr uint8_t kLongItemPrefix = 0xFE;
constexpr size_t kLongItemHeader = 2;
constexpr uint8_t kSizeMask = 0x03;
constexpr uint8_t kTypeShift = 2;
constexpr uint8_t kTypeMask = 0x03;
constexpr uint8_t kTagShift = 4;

enum ItemType : unsigned { Main = 0, Global = 1, Local = 2 };

enum MainTag : unsigned {
    Input = 8,
    Output = 9,
    Collection = 10,
    Feature = 11,
    EndCollection = 12,
};

enum GlobalTag : unsigned {
    UsagePage = 0,
    LogicalMinimum = 1,
    LogicalMaximum = 2,
    ReportSize = 7,
    ReportId = 8,
    ReportCount = 9,
    Push = 10,
    Pop = 11,
    // physical range, unit and unit exponent do not change the layout
};

enum LocalTag : unsigned { Usage = 0, UsageMinimum = 1, UsageMaximum = 2 };

constexpr uint32_t kMainConstantFlag = 0x01; // data bit 0 of input, output and feature items
constexpr uint32_t kMaxReportId = 0xFF;
constexpr uint32_t kMaxFieldBits = 32;

struct Item {
    size_t start = 0; // offset of the prefix
    unsigned type = 0;
    unsigned tag = 0;
    size_t size = 0; // data bytes
    uint32_t u = 0;  // the data, unsigned
    int32_t s = 0;   // ...and sign-extended
};

// Walks a descriptor item by item, keeping the parser's state; the first refusal ends it.
class Parser {
public:
    ParsedDescriptor run(const uint8_t* data, size_t size);

private:
    // Reads the item at `pos`; false with the refusal set when it is cut off. Long items are
    // skipped (nothing defines one): `item->size` is then the whole item and `isLong` true.
    bool readItem(const uint8_t* data, size_t size, size_t* pos, Item* item, bool* isLong);
    bool global(const Item& item);
    void local(const Item& item);
    bool main(const Item& item);
    bool collection(const Item& item);
    bool reportItem(const Item& item);
    bool refuse(const char* why, size_t offset);

    ParsedDescriptor m_result;
    std::string m_error;
    GlobalState m_global;
    std::vector<GlobalState> m_pushed;
    LocalState m_local;
    size_t m_depth = 0;
    bool m_sawMainWithoutId = false;
    // Bits so far per (report type, report id), and which collection owns each report id.
    std::map<std::pair<int, uint8_t>, uint64_t> m_bits;
    std::map<uint8_t, size_t> m_owner;
};

bool Parser::refuse(const char* why, size_t offset) {
    m_error = std::string(why) + " at byte " + std::to_string(offset);
    return false;
}

bool Parser::readItem(const uint8_t* data, size_t size, size_t* pos, Item* item, bool* isLong) {
    item->start = *pos;
    const uint8_t prefix = data[(*pos)++];
    *isLong = prefix == kLongItemPrefix;
    if (*isLong) {
        if (*pos + kLongItemHeader > size)
            return refuse("truncated long item", item->start);
        const size_t n = data[*pos];
        *pos += kLongItemHeader;
        if (*pos + n > size)
            return refuse("truncated long item", item->start);
        *pos += n;
        return true;
    }
    const size_t sizeCode = prefix & kSizeMask;
    item->size = sizeCode == 3 ? 4 : sizeCode;
    item->type = (prefix >> kTypeShift) & kTypeMask;
    item->tag = prefix >> kTagShift;
    if (*pos + item->size > size)
        return refuse("truncated item", item->start);
    item->u = unsignedData(data + *pos, item->size);
    item->s = signedData(data + *pos, item->size);
    *pos += item->size;
    return true;
}

bool Parser::global(const Item& item) {
    switch (item.tag) {
    case UsagePage:
        m_global.usagePage = uint16_t(item.u);
        break;
    case LogicalMinimum:
        m_global.logicalMin = item.s;
        break;
    case LogicalMaximum:
        m_global.logicalMax = item.s;
        break;
    case ReportSize:
        m_global.reportSize = item.u;
        break;
    case ReportId:
        if (item.u == 0 || item.u > kMaxReportId)
            return refuse("report id out of range", item.start);
        m_global.reportId = uint8_t(item.u);
        m_result.usesReportIds = true;
        if (m_sawMainWithoutId)
            return refuse("report id after reports without one", item.start);
        break;
    case ReportCount:
        m_global.reportCount = item.u;
        break;
    case Push:
        if (m_pushed.size() >= kMaxPushDepth)
            return refuse("push nested too deep", item.start);
        m_pushed.push_back(m_global);
        break;
    case Pop:
        if (m_pushed.empty())
            return refuse("pop without push", item.start);
        m_global = m_pushed.back();
        m_pushed.pop_back();
        break;
    default:
        break;
    }
    return true;
}

void Parser::local(const Item& item) {
    switch (item.tag) {
    case Usage:
        m_local.usages.push_back(extendedUsage(item.u, item.size, m_global.usagePage));
        break;
    case UsageMinimum:
        m_local.usageMin = extendedUsage(item.u, item.size, m_global.usagePage);
        m_local.haveMin = true;
        break;
    case UsageMaximum:
        m_local.usageMax = extendedUsage(item.u, item.size, m_global.usagePage);
        m_local.haveMax = true;
        break;
    default:
        break;
    }
}

bool Parser::main(const Item& item) {
    bool ok = true;
    switch (item.tag) {
    case Collection:
        ok = collection(item);
        break;
    case EndCollection:
        if (m_depth == 0)
            return refuse("end collection without collection", item.start);
        --m_depth;
        break;
    case Input:
    case Output:
    case Feature:
        ok = reportItem(item);
        break;
    default:
        return refuse("reserved main item", item.start);
    }
    m_local = LocalState{}; // local items end with every main item
    return ok;
}

bool Parser::collection(const Item& item) {
    if (m_depth == 0) {
        TopLevelCollection tlc;
        uint32_t usage = 0;
        if (!m_local.usages.empty())
            usage = m_local.usages.front();
        else if (m_local.haveMin)
            usage = m_local.usageMin;
        tlc.usagePage = uint16_t(usage >> 16);
        tlc.usage = uint16_t(usage & 0xFFFF);
        m_result.collections.push_back(std::move(tlc));
    }
    if (++m_depth > kMaxCollectionDepth)
        return refuse("collections nested too deep", item.start);
    return true;
}

bool Parser::reportItem(const Item& item) {
    if (m_depth == 0)
        return refuse("report item outside a collection", item.start);
    const ReportType rt = item.tag == Input    ? ReportType::Input
                          : item.tag == Output ? ReportType::Output
                                               : ReportType::Feature;
    if (m_global.reportId == 0)
        m_sawMainWithoutId = true;
    const size_t current = m_result.collections.size() - 1;
    TopLevelCollection& tlc = m_result.collections.back();
    if (m_global.reportId != 0) {
        auto it = m_owner.find(m_global.reportId);
        if (it == m_owner.end())
            m_owner[m_global.reportId] = current;
        else if (it->second != current)
            return refuse("report id shared by two collections", item.start);
        if (!tlc.hasReportId(m_global.reportId))
            tlc.reportIds.push_back(m_global.reportId);
    }
    const uint64_t fieldBits = uint64_t(m_global.reportSize) * m_global.reportCount;
    uint64_t& total = m_bits[{int(rt), m_global.reportId}];
    if (fieldBits > kMaxReportBits || total + fieldBits > kMaxReportBits)
        return refuse("report too long", item.start);
    // Elements of no size take no room but are still walked one by one when a report is
    // decoded: a count no report could hold is refused whatever the size.
    if (m_global.reportCount > kMaxReportBits)
        return refuse("report count too large", item.start);
    if (m_global.reportSize > kMaxFieldBits && !(item.u & kMainConstantFlag))
        return refuse("data field wider than 32 bits", item.start);
    ReportField field;
    field.type = rt;
    field.reportId = m_global.reportId;
    field.bitOffset = uint32_t(total);
    field.bitSize = m_global.reportSize;
    field.count = m_global.reportCount;
    field.flags = item.u;
    field.logicalMin = m_global.logicalMin;
    field.logicalMax = m_global.logicalMax;
    // A maximum written in fewer bytes than its sign bit needs (25 FF for 255).
    if (field.logicalMin >= 0 && field.logicalMax < 0)
        field.logicalMax = int32_t(uint32_t(field.logicalMax) & (item.size == 1   ? 0xFFu
                                                                 : item.size == 2 ? 0xFFFFu
                                                                                  : 0xFFFFFFFFu));
    if (m_local.haveMin || m_local.haveMax) {
        field.usageRange = true;
        field.usageMin = m_local.usageMin;
        field.usageMax = m_local.haveMax ? m_local.usageMax : m_local.usageMin;
    } else {
        field.usages = m_local.usages;
    }
    total += fieldBits;
    const uint16_t bytes = uint16_t((total + 7) / 8 + 1); // with the report id byte
    uint16_t& length = rt == ReportType::Input    ? tlc.inputLength
                       : rt == ReportType::Output ? tlc.outputLength
                                                  : tlc.featureLength;
    length = std::max(length, bytes);
    tlc.fields.push_back(std::move(field));
    return true;
}

ParsedDescriptor Parser::run(const uint8_t* data, size_t size) {
    size_t pos = 0;
    bool ok = true;
    while (ok && pos < size) {
        Item item;
        bool isLong = false;
        ok = readItem(data, size, &pos, &item, &isLong);
        if (!ok || isLong)
            continue;
        switch (item.type) {
        case Global:
            ok = global(item);
            break;
        case Local:
            local(item);
            break;
        case Main:
            ok = main(item);
            break;
        default:
            ok = refuse("reserved item type", item.start);
        }
    }
    if (ok && m_depth != 0)
        ok = refuse("collection not ended", size);
    if (ok && m_result.collections.empty())
        ok = refuse("no top-level collection", size);
    if (!ok) {
        ParsedDescriptor refused;
        refused.error = m_error;
        return refused;
    }
    m_result.ok = true;
    return std::move(m_result);
}

} // namespace

ParsedDescriptor parseReportDescriptor(const uint8_t* data, size_t size) {
    return Parser().run(data, size);
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
