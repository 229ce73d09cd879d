#pragma once

#include "platform/result.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

// The failures of the online services: a Result with the text, and the same logged under the
// service's category as it happens (where the log has always shown it).
namespace online {

platform::Result failure(const QString& text);
platform::Result loggedFailure(const QLoggingCategory& category, const QString& text);

// A server's answer as the log shows it: the first few kilobytes, and how long it was when it
// was longer.
QString logExcerpt(const QByteArray& answer);

} // namespace online
