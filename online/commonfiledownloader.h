#pragma once

#include "online/chunkeddownloader.h"

// Plain download of one file into program folder + a relative directory.
class commonFileDownloader : public ChunkedDownloader {
    Q_OBJECT
public:
    commonFileDownloader(QThread* thread, const QString& url, const QString& relativeDir,
                         QObject* parent = nullptr);

signals:
    void finishPart(qint64 got, qint64 total);
    void downLoadFinished();
    void downLoadFailed();

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
    void afterComplete() override {}

private:
    bool m_insideProgramFolder = true;
};
