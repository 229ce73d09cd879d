#include "infodlg.h"

#include <QLabel>
#include <QPushButton>

infoDlg::infoDlg(QWidget* parent) : QDialog(parent) {
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setFixedSize(600, 380);
    setObjectName(QStringLiteral("infoDlg"));
    setStyleSheet(QStringLiteral("#infoDlg { border-image: url(:/image/background); }"));
    m_close = new QPushButton(QStringLiteral("×"), this);
    m_close->setObjectName(QStringLiteral("btn_closeSetuper"));
    m_close->setGeometry(572, 10, 18, 18);
    m_text = new QLabel(tr("   当前未检测到设备"), this);
    m_text->setObjectName(QStringLiteral("lb_info"));
    m_text->setGeometry(50, 140, 500, 60);
    m_ok = new QPushButton(tr("确定"), this);
    m_ok->setObjectName(QStringLiteral("pb_ok"));
    m_ok->setGeometry(240, 280, 120, 36);
    connect(m_close, &QPushButton::clicked, this, &infoDlg::on_btn_closeSetuper_clicked);
    connect(m_ok, &QPushButton::clicked, this, &infoDlg::on_pb_ok_clicked);
}

QString infoDlg::text() const {
    return m_text->text();
}

void infoDlg::on_btn_closeSetuper_clicked() {
    reject();
}

void infoDlg::on_pb_ok_clicked() {
    accept();
}
