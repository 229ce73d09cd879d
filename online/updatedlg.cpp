#include "updatedlg.h"

#include "ui_updatedlg.h"

#include "online/firmwarewriter.h"
#include "online/package.h"
#include "online/updateinstall.h"
#include "weblog/weblog.h"

#include <QPixmap>

updateDlg::updateDlg(OnlineHost& host, const OnlineSettings& settings, QWidget* parent)
    : QDialog(parent), ui(new Ui::updateDlg), m_host(host), m_settings(settings) {
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setFixedSize(600, 380);
    setStyleSheet(QStringLiteral("#updateDlg { border-image: url(:/image/background); }"));
    ui->lb_logo->setPixmap(QPixmap(QStringLiteral(":/image/logo")));
    connect(ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->uninstallButton, &QPushButton::clicked, this,
            &updateDlg::on_uninstallButton_clicekd);
}

updateDlg::~updateDlg() {
    m_downloads.clear();
    delete ui;
}

void updateDlg::setUpdate(const QJsonObject& ret, const QStringList& deployment) {
    m_ret = ret;
    m_deployment = deployment;
    if (m_settings.programUpdates || m_deployment.removeAll(QStringLiteral("client")) == 0)
        return;
    // The package manager owns an installed copy's files: the program is not downloaded, and
    // the dialog says who updates it.
    const QString line = tr("   程序由软件包管理器更新");
    if (!m_deployment.isEmpty()) {
        ui->lb_text->setText(ui->lb_text->text() + QLatin1Char('\n') + line);
        return;
    }
    ui->lb_text->setText(line);
    ui->uninstallButton->hide();
    ui->cancelButton->setText(tr("确定"));
    ui->cancelButton->move((ui->pageFirst->width() - ui->cancelButton->width()) / 2,
                           ui->cancelButton->y());
}

void updateDlg::showPage(Page page) {
    ui->stackedWidget->setCurrentIndex(page);
}

updateDlg::Page updateDlg::currentPage() const {
    return static_cast<Page>(ui->stackedWidget->currentIndex());
}

QString updateDlg::installText() const {
    return ui->lb_install->text();
}

QString updateDlg::firstPageText() const {
    return ui->lb_text->text();
}

int updateDlg::progressValue() const {
    return ui->pb_install->value();
}

void updateDlg::on_btn_closeSetuper_clicked() {
    reject();
}

void updateDlg::on_pb_ok_clicked() {
    reject();
}

void updateDlg::on_uninstallButton_clicekd() {
    showPage(PageThird);
    ui->pb_install->setTextVisible(true);
    // The button starts the downloads once.
    ui->uninstallButton->disconnect(this);
    struct Kind {
        const char* kind;
        const char* key;
        const char* missing;
    };
    static const Kind kinds[] = {
        {"client", "clientPackage", "can't find clientPackage url"},
        {"html", "devicePackage", "can't find devicePackage url"},
        {"firmware", "firmwarePackage", "can't find firmwarePackage url"},
    };
    for (const Kind& k : kinds) {
        const QString kind = QLatin1String(k.kind);
        if (!m_deployment.contains(kind))
            continue;
        const QString url = m_ret.value(QLatin1String(k.key)).toString();
        if (url.isEmpty()) {
            qCInfo(lcUpdateDlg).noquote() << k.missing;
            continue;
        }
        startDownload(kind, url);
    }
}

void updateDlg::startDownload(const QString& kind, const QString& url) {
    auto download = std::make_unique<online::DownloadThread<PsUpdateDownloader>>();
    PsUpdateDownloader* dl =
        download->create(url, kind, m_settings, m_host.clientSetting(QStringLiteral("version")));
    connect(dl, &PsUpdateDownloader::finishPart, this, &updateDlg::on_finishPart);
    if (kind == QLatin1String("client"))
        connect(dl, &PsUpdateDownloader::unpressFinished, this,
                &updateDlg::on_clientPackageDownLoadFinished);
    else if (kind == QLatin1String("html"))
        connect(dl, &PsUpdateDownloader::unpressFinished, this,
                &updateDlg::on_htmlPackageDownLoadFinished);
    else
        connect(dl, &PsUpdateDownloader::unpressFinished, this,
                &updateDlg::on_firmPackageDownLoadFinished);
    connect(dl, &PsUpdateDownloader::downLoadFailed, this, &updateDlg::on_downLoadFaild);
    connect(dl, &PsUpdateDownloader::downLoadFailed, this, [this, kind] { settle(kind); });
    connect(dl, &PsUpdateDownloader::unpackFailed, this,
            [this, kind](int code) { refused(kind, code); });
    if (kind == QLatin1String("html"))
        m_pagesReady = dl->readyFolder();
    m_pending << kind;
    auto& started = m_downloads[kind] = std::move(download);
    started->start();
}

// The kind's download has ended one way or the other: its thread goes.
void updateDlg::settle(const QString& kind) {
    m_downloads.erase(kind);
    m_pending.removeAll(kind);
}

void updateDlg::refused(const QString& kind, int code) {
    settle(kind);
    if (code == int(package::kRefusedSignature))
        ui->lb_install->setText(tr("更新包签名无效，已拒绝安装"));
    else if (code == int(package::kRefusedVersion))
        ui->lb_install->setText(tr("更新包版本不高于当前版本，已拒绝安装"));
}

void updateDlg::on_finishPart(qint64 part, qint64 total) {
    if (total > 0)
        ui->pb_install->setValue(static_cast<int>(qBound<qint64>(0, part * 100 / total, 100)));
}

void updateDlg::on_downLoadFaild() {
    ui->lb_install->setText(tr("下载失败请检查网络是否异常"));
}

void updateDlg::updateNow() {
    m_host.quitProgram();
}

void updateDlg::on_clientPackageDownLoadFinished(QString version) {
    settle(QStringLiteral("client"));
    if (!updateinstall::checkReadyUpdate(m_settings.programFolder))
        return;
    ui->lb_text->setText(tr("下载完成，是否重启客户端完成更新"));
    ui->uninstallButton->setText(tr("立即重启"));
    ui->uninstallButton->disconnect(this);
    connect(ui->uninstallButton, &QPushButton::clicked, this, &updateDlg::updateNow);
    showPage(PageFirst);
    updateinstall::runUpdaterOnExit = true;
    m_host.commitClientSetting(QStringLiteral("version"), version);
}

void updateDlg::on_htmlPackageDownLoadFinished(QString version) {
    Q_UNUSED(version)
    ui->lb_install->setText(tr("更新完成"));
    // The pages are copied in their turn; the download keeps its folder until they are.
    auto* installer = new updateinstall::PageInstaller(m_host, m_settings.programFolder,
                                                       m_pagesReady, m_settings.installPauseMs,
                                                       updateinstall::messageBoxRetryPrompt, this);
    connect(installer, &updateinstall::PageInstaller::finished, this, [this, installer] {
        installer->deleteLater();
        settle(QStringLiteral("html"));
        // Closing while other kinds are still under way would hide their outcome (and a program
        // update would never be offered for restart): then the user closes the dialog.
        if (m_pending.isEmpty() && !m_firmware && !updateinstall::runUpdaterOnExit)
            accept();
    });
    installer->start();
}

void updateDlg::on_firmPackageDownLoadFinished(QString version) {
    settle(QStringLiteral("firmware"));
    const QList<OnlineDevice> devices = m_host.connectedDevices();
    if (devices.isEmpty()) {
        ui->lb_install->setText(tr("正在更新固件，请勿插拔鼠标"));
        return;
    }
    // An older image would bring back what a newer one mended. An image that names no version
    // is not taken; a device that reports none (a checksum) cannot be compared with.
    const QString current = devices.first().version;
    const bool imageHasVersion = package::compareVersions(version, version).has_value();
    const std::optional<int> order = package::compareVersions(version, current);
    if (!imageHasVersion || (order && *order < 0)) {
        qCInfo(lcUpdateDlg).noquote()
            << QStringLiteral("firmware version '%1' is not taken over the device's '%2'")
                   .arg(version, current);
        ui->lb_install->setText(tr("固件版本低于设备当前版本，已拒绝更新"));
        return;
    }
    ui->lb_install->setText(tr("正在更新固件，请勿插拔鼠标"));
    // Not a child of the dialog: closing the dialog must not stop a device halfway through.
    m_firmware = new FirmwareWriter(m_host.firmwareSession(), m_host.firmwareWaits());
    connect(m_firmware, &FirmwareWriter::status, ui->lb_install, &QLabel::setText);
    connect(m_firmware, &FirmwareWriter::finished, m_firmware, &QObject::deleteLater);
    if (!m_firmware->start(devices.first().devicePath,
                           m_settings.programFolder +
                               QStringLiteral("tupdates/firmware/ready/update.bin"))) {
        delete m_firmware;
        m_firmware = nullptr;
    }
}
