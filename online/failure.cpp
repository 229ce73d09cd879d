#include "failure.h"

namespace online {

platform::Result failure(const QString& text) {
    return platform::Result::failure(0, text.toStdString());
}

platform::Result loggedFailure(const QLoggingCategory& category, const QString& text) {
    qCInfo(category).noquote() << text;
    return failure(text);
}

QString logExcerpt(const QByteArray& answer) {
    constexpr int kLogged = 4096;
    if (answer.size() <= kLogged)
        return QString::fromUtf8(answer);
    return QString::fromUtf8(answer.left(kLogged)) +
           QStringLiteral(" ... (%1 bytes)").arg(answer.size());
}

} // namespace online
