#pragma once

#include "online/firmwarewriter.h"
#include "online/onlinehost.h"
#include "online/onlinesettings.h"
#include "online/onlinethreads.h"
#include "online/psupdatedownloader.h"

#include <QDialog>
#include <QJsonObject>
#include <QPointer>
#include <QStringList>

#include <map>
#include <memory>

class QLabel;

namespace Ui {
class updateDlg;
}

// The update dialog: offers the update, downloads the listed kinds ("client", "html",
// "firmware") at the same time with progress, installs pages and firmware at once and prepares
// a program update for the updater that runs when the program quits. A program package must be
// newer than the program, a firmware image at least as new as the device's; what is refused is
// said in words.
class updateDlg : public QDialog {
    Q_OBJECT
public:
    enum Page { PageFirst = 0, PageThird = 1, PageInfo = 2 };

    updateDlg(OnlineHost& host, const OnlineSettings& settings, QWidget* parent = nullptr);
    ~updateDlg() override;

    // The server's "ret" object and the kinds to download, in the server's order. Without
    // program updates (OnlineSettings) "client" is left out and the first page says why.
    void setUpdate(const QJsonObject& ret, const QStringList& deployment);
    void showPage(Page page);
    Page currentPage() const;

    // The status label of the download page, for tests.
    QString installText() const;
    QString firstPageText() const;
    int progressValue() const;
    // The firmware writing under way, if any.
    FirmwareWriter* firmwareWriter() const { return m_firmware; }

public slots:
    void on_btn_closeSetuper_clicked();
    void on_uninstallButton_clicekd();
    void on_pb_ok_clicked();
    void on_finishPart(qint64 part, qint64 total);
    void on_downLoadFaild();
    void updateNow();
    void on_clientPackageDownLoadFinished(QString version);
    void on_htmlPackageDownLoadFinished(QString version);
    void on_firmPackageDownLoadFinished(QString version);

private:
    void startDownload(const QString& kind, const QString& url);
    void settle(const QString& kind);
    // A package that was refused: the user is told why.
    void refused(const QString& kind, int code);

    Ui::updateDlg* ui;
    OnlineHost& m_host;
    OnlineSettings m_settings;
    QJsonObject m_ret;
    QStringList m_deployment;
    // One download per kind; the downloads end with the dialog, nobody listening.
    std::map<QString, std::unique_ptr<online::DownloadThread<PsUpdateDownloader>>> m_downloads;
    QStringList m_pending; // kinds whose work has not ended
    QString m_pagesReady;  // where the page package waits once unpacked
    QPointer<FirmwareWriter> m_firmware;
};
