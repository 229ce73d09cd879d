#pragma once

// Report descriptor parsing as the HID class does it: the descriptor's top-level collections,
// each with its usage page and usage, its report ids and its input, output and feature report
// lengths (in bytes, the report id byte included, 0 when the collection has no such report).
// Completed input reports are decoded by the same parse.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hidclass {

enum class ReportType { Input, Output, Feature };

struct ReportField {
    ReportType type = ReportType::Input;
    uint8_t reportId = 0;
    uint32_t bitOffset = 0; // from the first data bit after the report id byte
    uint32_t bitSize = 0;   // of one element
    uint32_t count = 0;
    uint32_t flags = 0; // main item data: bit 0 constant, bit 1 variable, bit 2 relative
    int32_t logicalMin = 0;
    int32_t logicalMax = 0;
    // Extended usages (page << 16 | id): one per element for variables (the last repeats), or
    // the range usageMin..usageMax.
    std::vector<uint32_t> usages;
    uint32_t usageMin = 0;
    uint32_t usageMax = 0;
    bool usageRange = false;

    bool isConstant() const { return flags & 1u; }
    bool isVariable() const { return flags & 2u; }
    bool isRelative() const { return flags & 4u; }
    uint32_t usageAt(uint32_t index) const; // 0 when there is none
};

struct TopLevelCollection {
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    std::vector<uint8_t> reportIds; // in order of first appearance; empty without report ids
    uint16_t inputLength = 0;
    uint16_t outputLength = 0;
    uint16_t featureLength = 0;
    std::vector<ReportField> fields;

    bool hasReportId(uint8_t id) const;
};

struct ParsedDescriptor {
    bool ok = false;
    std::string error; // why the descriptor was refused
    bool usesReportIds = false;
    std::vector<TopLevelCollection> collections;

    // The collection that carries input/output reports with this id (first byte of a report).
    int collectionForReport(uint8_t reportId) const;
};

ParsedDescriptor parseReportDescriptor(const uint8_t* data, size_t size);

// One usage of a decoded report: extended usage (page << 16 | id) and its value.
struct UsageValue {
    uint16_t page = 0;
    uint16_t id = 0;
    int32_t value = 0;
};

struct DecodedReport {
    uint8_t reportId = 0;
    std::vector<UsageValue> on;     // buttons, keys and other on/off usages that are set
    std::vector<UsageValue> values; // multi-bit variable data (axes, wheel)
};

// Decodes an input report of `collection` (the bytes as the read delivered them, report id
// first). Missing bytes read as zero.
DecodedReport decodeInputReport(const TopLevelCollection& collection, bool usesReportIds,
                                const uint8_t* report, size_t length);

// "a", "enter", "left-shift", "left", "x", ...; "0x07:0x99" for anything unnamed.
std::string usageName(uint16_t page, uint16_t id);

} // namespace hidclass
