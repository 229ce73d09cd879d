#pragma once

#include "online/chunkeddownloader.h"

// Downloads an update package of one kind ("client", "html", "firmware") into
// "tupdates/<kind>/" and unpacks it into "tupdates/<kind>/ready".
class PsUpdateDownloader : public ChunkedDownloader {
    Q_OBJECT
public:
    PsUpdateDownloader(QThread* thread, const QString& url, const QString& kind);

    QString kind() const { return m_kind; }

signals:
    void finishPart(qint64 got, qint64 total);
    void downLoadFinished();
    void downLoadFailed();
    void unpressFinished(QString version);

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

private:
    QString m_kind;
};
