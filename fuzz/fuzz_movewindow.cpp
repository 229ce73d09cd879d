// The moveWindow request text. A text that gives four numbers gives the same four when they are
// written back in the plain form, and the numbers stand in the text as written.
#include "fuzzsupport.h"

#include "app/windowcommands.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quiet();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString request =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const auto values = windowcommands::parseMoveWindow(request);
    if (!values)
        return 0;
    QStringList numbers;
    for (int v : *values)
        numbers << QString::number(v);
    const QString plain = QStringLiteral("moveWindow:") + numbers.join(QLatin1Char(','));
    if (windowcommands::parseMoveWindow(plain) != values)
        fuzzsupport::broken("the plain form reads differently:", plain);
    for (int v : *values) {
        const QString digits = QString::number(v).remove(QLatin1Char('-'));
        if (!request.contains(digits))
            fuzzsupport::broken("a number not in the text:", digits);
    }
    return 0;
}
