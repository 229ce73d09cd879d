#pragma once

#include "online/chunkeddownloader.h"

// Downloads an update package of one kind ("client", "html", "firmware") into a work folder of
// its own under "tupdates/<kind>/" and unpacks it there. A program or firmware update then waits
// in "tupdates/<kind>/ready"; a page update waits in the work folder's "ready" (readyFolder())
// for its owner to install it (updateinstall::PageInstaller), and the folder stays the
// download's for as long as the downloader lives.
class PsUpdateDownloader : public ChunkedDownloader {
    Q_OBJECT
public:
    // `runningVersion`: a program package must be newer than it.
    PsUpdateDownloader(QThread* thread, const QString& url, const QString& kind,
                       const OnlineSettings& settings, const QString& runningVersion = QString());

    QString kind() const { return m_kind; }
    // Where the unpacked package waits.
    QString readyFolder() const;

signals:
    void unpressFinished(QString version);
    // The package arrived but was refused or did not unpack (its work folder is gone then);
    // `code` is package::kRefusedSignature, package::kRefusedVersion or 0.
    void unpackFailed(int code);

protected:
    void afterComplete() override;

private:
    QString m_kind;
    QString m_programFolder;
    QString m_runningVersion;
};
