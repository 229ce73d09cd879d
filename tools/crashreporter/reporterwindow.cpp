#include "reporterwindow.h"

#include "platform/process.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

CrashReporterWindow::CrashReporterWindow(const QString& dumpPath, const QString& programFolder,
                                         QWidget* parent)
    : QWidget(parent), m_dumpPath(dumpPath),
      m_programPath(programFolder + QStringLiteral("/tavix") +
                    QString::fromLatin1(platform::programSuffix())) {
    setObjectName(QStringLiteral("CrashReporter"));
    setWindowTitle(QStringLiteral("CrashReporter"));

    auto* heading = new QLabel(tr("tavix 意外停止运行。"), this);
    heading->setObjectName(QStringLiteral("lb_heading"));
    m_dumpLabel = new QLabel(dumpText(), this);
    m_dumpLabel->setObjectName(QStringLiteral("lb_dump"));
    m_dumpLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_dumpLabel->setWordWrap(true);
    m_errorLabel = new QLabel(this);
    m_errorLabel->setObjectName(QStringLiteral("lb_error"));
    m_errorLabel->setWordWrap(true);
    m_errorLabel->hide();

    auto* openFolder = new QPushButton(tr("打开所在文件夹"), this);
    openFolder->setObjectName(QStringLiteral("pb_openFolder"));
    openFolder->setEnabled(QFileInfo::exists(m_dumpPath));
    auto* restart = new QPushButton(tr("重新启动 tavix"), this);
    restart->setObjectName(QStringLiteral("pb_restart"));
    restart->setDefault(true);
    auto* close = new QPushButton(tr("关闭"), this);
    close->setObjectName(QStringLiteral("pb_close"));
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(openFolder);
    buttons->addStretch();
    buttons->addWidget(restart);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(m_dumpLabel);
    layout->addWidget(m_errorLabel);
    layout->addLayout(buttons);

    QMetaObject::connectSlotsByName(this);
}

QString CrashReporterWindow::dumpText() const {
    if (m_dumpPath.isEmpty() || !QFileInfo::exists(m_dumpPath))
        return tr("没有写出转储文件。");
    return tr("转储文件：%1").arg(QDir::toNativeSeparators(m_dumpPath));
}

QString CrashReporterWindow::restartProgram() {
    platform::ProcessStart start;
    start.program = m_programPath.toStdString();
    start.workingDirectory = QFileInfo(m_programPath).absolutePath().toStdString();
    const platform::Result result = platform::startDetached(start);
    if (result.ok) {
        close();
        return {};
    }
    return QString::fromStdString(result.text);
}

void CrashReporterWindow::on_pb_restart_clicked() {
    const QString error = restartProgram();
    if (!error.isEmpty()) {
        m_errorLabel->setText(error);
        m_errorLabel->show();
    }
}

void CrashReporterWindow::on_pb_openFolder_clicked() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(m_dumpPath).absolutePath()));
}
