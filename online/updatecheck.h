#pragma once

#include "online/onlinehost.h"
#include "online/onlinesettings.h"

#include <QObject>
#include <QPointer>

class HttpRequestWorker;
class updateDlg;

// Asks the vendor API whether newer program, page or firmware packages exist for a device, and
// offers them in the update dialog.
class UpdateCheck : public QObject {
    Q_OBJECT
public:
    UpdateCheck(OnlineHost& host, const OnlineSettings& settings, bool manual,
                QObject* parent = nullptr);

    // Sends the check for `device`.
    void send(const OnlineDevice& device);

    // The update dialog shown last, while it is open.
    static updateDlg* currentDialog();

    char manual;

signals:
    void cantFindNewVersion();
    void FindNewVersion();
    // How the check ended, in a word the page knows: "found" (an update is offered), "none"
    // (the answer offers nothing this program installs), "latest", "unreachable" (no answer
    // from the server) or "badAnswer".
    void checkEnded(const QString& outcome);

public slots:
    void handle_doCheckUpdate(HttpRequestWorker* worker);

private:
    updateDlg* freshDialog();

    OnlineHost& m_host;
    OnlineSettings m_settings;
    QPointer<HttpRequestWorker> m_worker;
};
