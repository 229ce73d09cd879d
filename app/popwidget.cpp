#include "popwidget.h"

#include "browser/clienthandler.h"
#include "browser/tavixwebview.h"

#include <QEvent>
#include <QResizeEvent>

PopWidget::PopWidget(QWidget* parent, const QString& url, const QSize& size)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_url(url),
      m_view(new TavixWebView(this)) {
    resize(size);
    m_view->resize(size);
    m_view->loadUrl(url);
    installEventFilter(this);
}

void PopWidget::makeWindowCommandTarget() {
    if (ClientHandler* handler = ClientHandler::instance())
        handler->setMainWindowHandle(this);
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
}
