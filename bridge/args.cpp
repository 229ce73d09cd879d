#include "args.h"

#include <cmath>

namespace args {

QString str(const QVariantMap& a, const char* key) {
    const QVariant v = a.value(QLatin1String(key));
    if (v.type() == QVariant::Double) {
        const double d = v.toDouble();
        // Whole numbers read as "12", not "12.0" or "1.2e+01".
        if (std::isfinite(d) && std::fabs(d) < 9.0e15 && d == std::trunc(d))
            return QString::number(static_cast<qint64>(d));
        return QString::number(d, 'g', 17);
    }
    return v.toString();
}

int integer(const QVariantMap& a, const char* key) {
    const QVariant v = a.value(QLatin1String(key));
    if (v.type() == QVariant::String) {
        bool ok = false;
        const int n = v.toString().toInt(&ok, 10);
        return ok ? n : 0;
    }
    return v.toInt();
}

} // namespace args
