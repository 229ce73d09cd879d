#pragma once

#include "online/chunkeddownloader.h"

#include <QStringList>

// Downloads the configuration sync package into a work folder of its own under
// "tupload/download/" and stages it beside the files it replaces (package::stageSyncPackage):
// only names of `listed` that a sync may write. The owner commits the stage. A package that is
// refused is reported with downLoadFailed.
class PsynfileDownLoader : public ChunkedDownloader {
    Q_OBJECT
public:
    PsynfileDownLoader(QThread* thread, const QString& url, const OnlineSettings& settings,
                       const QStringList& listed);

signals:
    // The names staged; emitted just before unpressFinished.
    void staged(QStringList names);
    void unpressFinished();

protected:
    void afterComplete() override;

private:
    QString m_programFolder;
    QStringList m_listed;
};
