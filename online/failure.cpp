#include "failure.h"

namespace online {

platform::Result failure(const QString& text) {
    return platform::Result::failure(0, text.toStdString());
}

platform::Result loggedFailure(const QLoggingCategory& category, const QString& text) {
    qCInfo(category).noquote() << text;
    return failure(text);
}

} // namespace online
