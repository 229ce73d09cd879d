#include "onlinesettings.h"

OnlineSettings::OnlineSettings(const QString& folder)
    : programFolder(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/')) {}
