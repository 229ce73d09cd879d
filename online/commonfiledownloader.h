#pragma once

#include "online/chunkeddownloader.h"

// Plain download of one file into program folder + a relative directory.
class commonFileDownloader : public ChunkedDownloader {
    Q_OBJECT
public:
    commonFileDownloader(QThread* thread, const QString& url, const QString& relativeDir,
                         const OnlineSettings& settings, QObject* parent = nullptr);
};
