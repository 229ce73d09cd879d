#pragma once

#include "online/chunkeddownloader.h"

// Downloads the configuration sync package into "tupload/download/" and unpacks it over the
// program folder.
class PsynfileDownLoader : public ChunkedDownloader {
    Q_OBJECT
public:
    PsynfileDownLoader(QThread* thread, const QString& url);

signals:
    void finishPart(qint64 got, qint64 total);
    void downLoadFinished();
    void downLoadFailed();
    void unpressFinished();

public slots:
    void start();
    void partMetaGot();
    void partFinished(qint64 got, qint64 total);
    void partFailed(QNetworkReply::NetworkError e);
    void sendRequest();

protected:
    const QLoggingCategory& category() const override;
    void emitFinishPart(qint64 got, qint64 total) override { emit finishPart(got, total); }
    void emitFinished() override { emit downLoadFinished(); }
    void emitFailed() override { emit downLoadFailed(); }
    void badStatusPath() override;
    void afterComplete() override;
};
