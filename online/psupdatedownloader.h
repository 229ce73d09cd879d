#pragma once

#include "online/chunkeddownloader.h"

// Downloads an update package of one kind ("client", "html", "firmware") into
// "tupdates/<kind>/" and unpacks it into "tupdates/<kind>/ready".
class PsUpdateDownloader : public ChunkedDownloader {
    Q_OBJECT
public:
    PsUpdateDownloader(QThread* thread, const QString& url, const QString& kind,
                       const OnlineSettings& settings);

    QString kind() const { return m_kind; }

signals:
    void unpressFinished(QString version);
    // The package arrived but did not unpack ("tupdates" is gone then).
    void unpackFailed();

protected:
    void afterComplete() override;

private:
    QString m_kind;
    QString m_programFolder;
};
