// The HID class model's report descriptor parser, as the simulated HID bus runs it on what the
// driver returns. The first input byte says how many of the following bytes are the descriptor
// (times four, so descriptors up to about 1 KiB); the rest is an input report, decoded by every
// collection the descriptor yields.
#include "driver/host/hidreportparser.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const size_t length = std::min(size - 1, size_t(data[0]) * 4);
    const uint8_t* descriptor = data + 1;
    const uint8_t* report = descriptor + length;
    const size_t reportLength = size - 1 - length;

    const hidclass::ParsedDescriptor parsed = hidclass::parseReportDescriptor(descriptor, length);
    if (!parsed.ok) {
        if (parsed.error.empty()) {
            std::fprintf(stderr, "fuzz: a refused descriptor without a reason\n");
            std::abort();
        }
        return 0;
    }
    if (reportLength > 0)
        parsed.collectionForReport(report[0]);
    for (const hidclass::TopLevelCollection& collection : parsed.collections) {
        const hidclass::DecodedReport decoded =
            hidclass::decodeInputReport(collection, parsed.usesReportIds, report, reportLength);
        for (const hidclass::UsageValue& u : decoded.on)
            hidclass::usageName(u.page, u.id);
        for (const hidclass::ReportField& field : collection.fields)
            field.usageAt(field.count);
    }
    return 0;
}
