#pragma once

#include "online/onlinehost.h"
#include "online/onlinesettings.h"
#include "online/onlinethreads.h"
#include "online/psupdatedownloader.h"
#include "online/serveranswers.h"

#include <QObject>
#include <QPointer>
#include <QString>

class HttpRequestWorker;

// Makes sure that one device model's product information is recorded in conf.xml and its pages
// are installed under "view/device/<productNO>": asks the vendor API when either is missing,
// records the answer and downloads and installs the page package. One per device id. A request
// or download that fails, times out or ends without pages lets the next arrival ask again.
class DeviceProductClient : public QObject {
    Q_OBJECT
public:
    DeviceProductClient(OnlineHost& host, const OnlineSettings& settings, const QString& deviceId,
                        QObject* parent = nullptr);

    // The device-arrival step with the device's current record. Starts at most one request and
    // one page download at a time.
    void arrived(const OnlineDevice& device);

    QString deviceId() const { return m_deviceId; }

public slots:
    void handle_dogetInfo(HttpRequestWorker* worker);
    void on_htmlPackageDownLoadFinished(QString version);
    void on_htmlPackageDownLoadFailed();

private:
    void sendRequest();
    bool record(const serveranswers::Product& product);
    void fetchPages(const QString& productNO, const QString& url);
    QString pageFolder(const QString& productNO) const;

    OnlineHost& m_host;
    OnlineSettings m_settings;
    QString m_deviceId;
    OnlineDevice m_device;
    QPointer<HttpRequestWorker> m_worker;
    online::DownloadThread<PsUpdateDownloader> m_pages;
    QString m_pagesReady; // where the page package waits once unpacked
};
