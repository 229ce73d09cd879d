#pragma once

#include "online/chunkeddownloader.h"

// Downloads the configuration sync package into "tupload/download/" and unpacks it over the
// program folder. A package that does not unpack is reported with downLoadFailed.
class PsynfileDownLoader : public ChunkedDownloader {
    Q_OBJECT
public:
    PsynfileDownLoader(QThread* thread, const QString& url, const OnlineSettings& settings);

signals:
    void unpressFinished();

protected:
    void afterComplete() override;

private:
    QString m_programFolder;
};
