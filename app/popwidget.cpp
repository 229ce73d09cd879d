#include "popwidget.h"

#include "browser/clienthandler.h"
#include "browser/tavixwebview.h"

#include <QCloseEvent>
#include <QEvent>
#include <QResizeEvent>
#include <QToolButton>

namespace {
constexpr int kCloseSize = 30;
constexpr int kCloseMargin = 4;
} // namespace

PopWidget::PopWidget(QWidget* parent, const QString& url, const QSize& size)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_url(url),
      m_view(new TavixWebView(this)), m_close(new QToolButton(this)) {
    resize(size);
    m_view->resize(size);
    m_view->loadUrl(url);
    installEventFilter(this);

    m_close->setObjectName(QStringLiteral("popupClose"));
    m_close->setText(QStringLiteral("\u00d7"));
    m_close->setToolTip(tr("关闭"));
    m_close->setAccessibleName(tr("关闭"));
    m_close->setFocusPolicy(Qt::NoFocus);
    m_close->setCursor(Qt::PointingHandCursor);
    m_close->setStyleSheet(QStringLiteral(
        "QToolButton { border: none; border-radius: 4px; font-size: 20px; color: #e8e8e8;"
        " background: rgba(31, 34, 38, 200); }"
        "QToolButton:hover { background: #c4413a; color: white; }"));
    connect(m_close, &QToolButton::clicked, this, &PopWidget::reject);
    placeCloseControl();
}

void PopWidget::makeWindowCommandTarget() {
    if (ClientHandler* handler = ClientHandler::instance())
        handler->setMainWindowHandle(this);
}

void PopWidget::reject() {
    emit closeRequested(this);
}

bool PopWidget::eventFilter(QObject* watched, QEvent* event) {
    if (watched == this && event->type() == QEvent::WindowActivate) {
        makeWindowCommandTarget();
        emit popupActivated(this);
    }
    return QDialog::eventFilter(watched, event);
}

void PopWidget::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    m_view->resize(event->size());
    placeCloseControl();
}

void PopWidget::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        m_close->setToolTip(tr("关闭"));
        m_close->setAccessibleName(tr("关闭"));
    }
    QDialog::changeEvent(event);
}

void PopWidget::closeEvent(QCloseEvent* event) {
    event->ignore();
    reject();
}

// Above the page, in its top right corner, where a window's close button is looked for.
void PopWidget::placeCloseControl() {
    m_close->setGeometry(width() - kCloseSize - kCloseMargin, kCloseMargin, kCloseSize, kCloseSize);
    m_close->raise();
}
