#include "onlinesettings.h"

OnlineSettings::OnlineSettings(const QString& folder)
    : programFolder(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/')) {}

HttpLimits OnlineSettings::downloadLimits() const {
    HttpLimits limits;
    limits.connectTimeoutMs = connectTimeoutMs;
    limits.idleTimeoutMs = stallTimeoutMs;
    limits.headTimeoutMs = stallTimeoutMs;
    limits.extraCaCertificates = extraCaCertificates;
    return limits;
}

HttpLimits OnlineSettings::apiLimits() const {
    HttpLimits limits = downloadLimits();
    limits.overallTimeoutMs = apiTimeoutMs;
    limits.maxBodyBytes = kMaxApiAnswer;
    return limits;
}
