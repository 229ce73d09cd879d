#pragma once

#include "online/chunkeddownloader.h"
#include "online/onlinehost.h"
#include "online/updateinstall.h"

#include <QStringList>

#include <memory>

// Downloads an update package of one kind ("client", "html", "firmware") into a work folder of
// its own under "tupdates/<kind>/" and unpacks it there. A program or firmware update then waits
// in "tupdates/<kind>/ready"; a page update is installed into "view/device/" at once, on the
// download's thread.
class PsUpdateDownloader : public ChunkedDownloader {
    Q_OBJECT
public:
    // `runningVersion`: a program package must be newer than it.
    PsUpdateDownloader(QThread* thread, const QString& url, const QString& kind,
                       const OnlineSettings& settings, const QString& runningVersion = QString());

    QString kind() const { return m_kind; }

signals:
    void unpressFinished(QString version);
    // The package arrived but was refused or did not unpack (its work folder is gone then);
    // `code` is package::kRefusedSignature, package::kRefusedVersion or 0.
    void unpackFailed(int code);
    // A page file stays inaccessible: retryInstall() or cancelInstall() decides.
    void installBlocked(QString target);
    // Page files put in place, relative to the program folder; before unpressFinished (and
    // before unpackFailed when an install was given up half-way).
    void filesInstalled(QStringList names);

public slots:
    void retryInstall();
    void cancelInstall();

protected:
    void afterComplete() override;

private:
    void install();

    QString m_kind;
    QString m_programFolder;
    QString m_runningVersion;
    int m_installPauseMs;
    QString m_version;
    std::unique_ptr<updateinstall::PageInstall> m_install;
};

// What the owner of a page download does while the pages are installed, on its own thread
// (`context`'s): the program hears of the files replaced, and a file that stays inaccessible is
// put to `prompt` (retry or give up).
void followPageInstall(PsUpdateDownloader* downloader, QObject* context, OnlineHost& host,
                       const updateinstall::RetryPrompt& prompt);
