#include "clienthandler.h"

#include "bridge/handoff.h"
#include "browserpage.h"
#include "messageevent.h"
#include "pagerouter.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QThread>

namespace {
ClientHandler* g_handler = nullptr;
}

ClientHandler::ClientHandler(const QStringList& arguments, QObject* parent) : QObject(parent) {
    // Any value works: the main window replaces it before the first browser exists.
    m_mainUrl = QStringLiteral("about:blank");
    for (const QString& arg : arguments) {
        if (arg.startsWith(QLatin1String("--url=")))
            m_mainUrl = arg.mid(6);
        else if (arg == QLatin1String("--mouse-cursor-change-disabled"))
            m_cursorChangeDisabled = true;
    }
    g_handler = this;
}

ClientHandler::~ClientHandler() {
    if (g_handler == this)
        g_handler = nullptr;
}

ClientHandler* ClientHandler::instance() {
    return g_handler;
}

bool ClientHandler::isWindowCommand(const QString& request) {
    return request.startsWith(QLatin1String("moveWindow")) ||
           request == QLatin1String("{\"funcname\":\"minisizeWindow\"}");
}

void ClientHandler::onJsMessage(const QString& request, RouterCallback callback) {
    if (isWindowCommand(request)) {
        // Never answered.
        if (m_windowCommand)
            m_windowCommand(request);
        return;
    }
    // A posted event would only add a turn of the event loop to every round trip; only a
    // request from another thread needs it to cross over.
    if (QThread::currentThread() != thread()) {
        QCoreApplication::postEvent(this, new MessageEvent(request, std::move(callback)),
                                    Qt::HighEventPriority);
        return;
    }
    if (m_requestHandler)
        m_requestHandler->onJsMessage(request, std::move(callback));
}

void ClientHandler::customEvent(QEvent* event) {
    if (event->type() != MessageEvent::eventType())
        return;
    auto* message = static_cast<MessageEvent*>(event);
    if (m_requestHandler)
        m_requestHandler->onJsMessage(message->request(), message->callback());
}

void ClientHandler::OnAfterCreated(BrowserPage* browser) {
    browser->router()->setRequestHandler(this);
    connect(browser, &BrowserPage::aboutToClose, this, &ClientHandler::OnBeforeClose);
    connect(browser, &BrowserPage::navigationStateChanged, this,
            [this](bool canGoBack, bool canGoForward) {
                sendProcessMessage(QStringLiteral("navStateChanged"), {canGoBack, canGoForward});
            });
    connect(browser->router(), &PageRouter::editableFocusChanged, this,
            &ClientHandler::setEditableFocus);
    {
        QMutexLocker lock(&m_lock);
        if (!m_currentBrowser) {
            m_currentBrowser = browser;
            m_currentBrowserId = browser->identifier();
        }
    }
}

void ClientHandler::OnBeforeClose(BrowserPage* browser) {
    QMutexLocker lock(&m_lock);
    if (m_currentBrowser == browser) {
        m_currentBrowser = nullptr;
        m_currentBrowserId = 0;
    }
}

BrowserPage* ClientHandler::currentBrowser() const {
    QMutexLocker lock(&m_lock);
    return m_currentBrowser;
}

int ClientHandler::currentBrowserId() const {
    QMutexLocker lock(&m_lock);
    return m_currentBrowserId;
}

void ClientHandler::sendProcessMessage(const QString& name, const QVariantList& args) {
    if (QThread::currentThread() != thread()) {
        // Device callbacks arrive on threads of their own; the page is reached from ours.
        handoff::post(this, [this, name, args] { pushEvent(name, args); });
        return;
    }
    pushEvent(name, args);
}

void ClientHandler::pushEvent(const QString& name, const QVariantList& args) {
    BrowserPage* browser = currentBrowser();
    if (!browser)
        return;
    browser->router()->sendMessage(name, args);
}
