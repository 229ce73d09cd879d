#include "tavixwebview.h"

#include "browserpage.h"
#include "clientapp.h"
#include "clienthandler.h"

#include <QChildEvent>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QWebEngineProfile>
#include <QWebEngineView>

TavixWebView::TavixWebView(QWidget* parent) : QWidget(parent) {
    registerRouterCallbackType();
    setContextMenuPolicy(Qt::NoContextMenu);
}

TavixWebView::~TavixWebView() {
    // The page goes first so that the handler forgets it while the view still exists.
    delete m_view;
    delete m_page;
}

void TavixWebView::loadUrl(const QString& url) {
    if (url.isEmpty())
        return;
    m_url = url;
    switch (m_state) {
    case BrowserState::NotRequested:
        createBrowser();
        if (m_state == BrowserState::NotRequested)
            m_loadPending = true; // no size yet: the first resize creates it with this address
        break;
    case BrowserState::Creating:
        m_loadPending = true;
        break;
    case BrowserState::Created:
        m_page->load(QUrl(url));
        break;
    }
}

void TavixWebView::createBrowser() {
    if (m_state != BrowserState::NotRequested || width() <= 0 || height() <= 0)
        return;
    ClientHandler* handler = ClientHandler::instance();
    if (!handler)
        return;
    m_state = BrowserState::Creating;
    m_loadPending = false;

    QWebEngineProfile* profile = QWebEngineProfile::defaultProfile();
    ClientApp::initialize(profile);
    m_view = new QWebEngineView(this);
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
    m_page = new BrowserPage(profile, nullptr);
    m_view->setPage(m_page);
    m_view->setGeometry(0, 0, width(), height());
    watchKeys(m_view);
    m_view->show();

    if (!m_url.isEmpty())
        m_page->load(QUrl(m_url));
    handler->OnAfterCreated(m_page);
    m_state = BrowserState::Created;
    // An address asked for while the handler took the browser in.
    if (m_loadPending) {
        m_loadPending = false;
        m_page->load(QUrl(m_url));
    }
}

void TavixWebView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_state == BrowserState::NotRequested) {
        createBrowser();
        return;
    }
    if (m_view)
        m_view->setGeometry(0, 0, width(), height());
}

void TavixWebView::closeEvent(QCloseEvent* event) {
    if (m_page)
        m_page->triggerAction(QWebEnginePage::Stop);
    event->accept();
}

void TavixWebView::watchKeys(QObject* object) {
    object->installEventFilter(this);
    for (QObject* child : object->children()) {
        if (child->isWidgetType())
            watchKeys(child);
    }
}

bool TavixWebView::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ChildAdded: {
        // The engine adds the widget that takes the keys once it renders.
        QObject* child = static_cast<QChildEvent*>(event)->child();
        if (child && child->isWidgetType())
            watchKeys(child);
        break;
    }
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride: {
        // Backspace never navigates: it reaches the page only inside an editable element.
        auto* key = static_cast<QKeyEvent*>(event);
        ClientHandler* handler = ClientHandler::instance();
        if (key->key() == Qt::Key_Backspace && !(handler && handler->editableFocus()))
            return true;
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}
