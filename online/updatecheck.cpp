#include "updatecheck.h"

#include "online/failure.h"
#include "online/httprequestworker.h"
#include "online/serveranswers.h"
#include "online/updatedlg.h"
#include "weblog/weblog.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {
// One update dialog at a time: a new answer replaces the earlier one.
QPointer<updateDlg> g_dialog;
} // namespace

UpdateCheck::UpdateCheck(OnlineHost& host, const OnlineSettings& settings, bool isManual,
                         QObject* parent)
    : QObject(parent), manual(isManual ? 1 : 0), m_host(host), m_settings(settings) {}

updateDlg* UpdateCheck::currentDialog() {
    return g_dialog;
}

void UpdateCheck::send(const OnlineDevice& device) {
    HttpRequestParams params(m_host.apiServer() + QStringLiteral("/api/system/upgrade"),
                             QStringLiteral("GET"));
    params.addVar(QStringLiteral("deviceid"), device.deviceId);
    params.addVar(QStringLiteral("test"), QStringLiteral("1"));
    params.addVar(QStringLiteral("fwversion"), device.version);
    params.addVar(QStringLiteral("version"), m_host.clientSetting(QStringLiteral("version")));
    params.addVar(QStringLiteral("noencrypt"), QStringLiteral("1"));
    m_worker = new HttpRequestWorker(this, m_settings.apiLimits());
    connect(m_worker, &HttpRequestWorker::on_execution_finished, this,
            &UpdateCheck::handle_doCheckUpdate);
    m_worker->send(params);
}

updateDlg* UpdateCheck::freshDialog() {
    if (g_dialog)
        g_dialog->deleteLater();
    QWidget* window = m_host.mainWindow();
    g_dialog = new updateDlg(m_host, m_settings, window);
    g_dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (window)
        g_dialog->move(window->geometry().center() - g_dialog->rect().center());
    return g_dialog;
}

void UpdateCheck::handle_doCheckUpdate(HttpRequestWorker* worker) {
    worker->deleteLater();
    const platform::ResultOf<QByteArray>& reply = worker->result();
    if (!reply) {
        qCInfo(lcUpdatesystem).noquote() << worker->errorLine();
        emit checkEnded(QStringLiteral("unreachable"));
        return;
    }
    QString outcome = QStringLiteral("badAnswer");
    if (const auto answer = serveranswers::update(reply.value)) {
        if (answer->code == 0 && answer->hasRet) {
            emit FindNewVersion();
            outcome = QStringLiteral("none");
            if (!answer->deployment.isEmpty() && answer->type == QLatin1String("0")) {
                updateDlg* dlg = freshDialog();
                dlg->setUpdate(answer->ret, answer->deployment);
                dlg->showPage(updateDlg::PageFirst);
                dlg->show();
                outcome = QStringLiteral("found");
            }
        } else if (answer->code == 1) {
            outcome = QStringLiteral("latest");
            if (manual) {
                updateDlg* dlg = freshDialog();
                dlg->showPage(updateDlg::PageInfo);
                dlg->show();
            }
        }
    }
    qCInfo(lcUpdatesystem).noquote() << online::logExcerpt(reply.value);
    emit checkEnded(outcome);
}
