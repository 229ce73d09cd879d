#pragma once

#include <QString>
#include <QVariantMap>

// Argument access as every command does it: a presence test, then a conversion.
namespace args {

inline bool has(const QVariantMap& a, const char* key) {
    return a.contains(QLatin1String(key));
}

// A JSON number becomes its decimal text.
QString str(const QVariantMap& a, const char* key);

// Decimal; 0 when the value does not parse.
int integer(const QVariantMap& a, const char* key);

} // namespace args
