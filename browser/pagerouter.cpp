#include "pagerouter.h"

#include "bridge/handoff.h"
#include "clientapp.h"
#include "weblog/startuptrace.h"

#include <QDebug>
#include <QPointer>
#include <QThread>
#include <QWebEnginePage>

// One query's callback. Success and Failure may come from any thread; the answer is handed to
// the router's thread and reaches the page only while the query is still pending there.
class RouterQuery : public CefMessageRouterBrowserSide::Callback {
public:
    RouterQuery(PageRouter* router, int id, std::shared_ptr<std::atomic<bool>> dropped)
        : m_router(router), m_id(id), m_dropped(std::move(dropped)) {}

    void Success(const QString& response) override { answer(true, 0, response); }
    void Failure(int errorCode, const QString& errorMessage) override {
        answer(false, errorCode, errorMessage);
    }

private:
    void answer(bool success, int code, const QString& text) {
        if (m_answered.exchange(true) || m_dropped->load())
            return;
        QPointer<PageRouter> router = m_router;
        if (!router)
            return;
        const int id = m_id;
        const std::shared_ptr<std::atomic<bool>> dropped = m_dropped;
        // Most commands answer at once, on the router's thread: no need to go through a queue.
        if (QThread::currentThread() == router->thread()) {
            router->deliver(id, dropped, success, code, text);
            return;
        }
        handoff::post(router.data(), [router, id, dropped, success, code, text] {
            if (router)
                router->deliver(id, dropped, success, code, text);
        });
    }

    QPointer<PageRouter> m_router;
    int m_id;
    std::shared_ptr<std::atomic<bool>> m_dropped;
    std::atomic<bool> m_answered{false};
};

PageRouter::PageRouter(QObject* parent) : QObject(parent) {
    registerRouterCallbackType();
}

PageRouter::~PageRouter() {
    cancelAll();
}

void PageRouter::cancelAll() {
    for (const Pending& p : qAsConst(m_pending))
        p.dropped->store(true);
    m_pending.clear();
}

bool PageRouter::showsProgramPage() const {
    const auto* page = qobject_cast<const QWebEnginePage*>(parent());
    return page && ClientApp::isProgramPage(page->url());
}

void PageRouter::sendMessage(const QString& name, const QVariantList& args) {
    if (showsProgramPage())
        emit message(name, args);
}

void PageRouter::attach(const QString& context) {
    // A new script context in this page: whatever the previous one asked is gone with it.
    if (context == m_context)
        return;
    cancelAll();
    if (m_contextTrusted) {
        m_trustedBefore.append(m_context);
        if (m_trustedBefore.size() > 8)
            m_trustedBefore.removeFirst();
    }
    m_context = context;
    m_contextTrusted = showsProgramPage();
}

void PageRouter::query(const QString& context, int id, const QString& request) {
    if (context.isEmpty())
        return;
    const bool trusted = context == m_context ? m_contextTrusted && showsProgramPage()
                                              : m_trustedBefore.contains(context);
    if (!trusted) {
        // Another file, a web address, an error page: the bridge is not theirs.
        qDebug() << "tavix: a request of a page that is not the program's is ignored";
        return;
    }
    auto dropped = std::make_shared<std::atomic<bool>>(false);
    if (context != m_context) {
        // Sent by a script context that has gone (its message came late): the request still
        // runs, as the page meant it to, but nobody is left to take its answer.
        dropped->store(true);
    } else if (m_pending.contains(id)) {
        return; // a page may not reuse a pending id
    } else {
        m_pending.insert(id, Pending{dropped});
    }
    startuptrace::markOnce("first page request received");
    auto callback = std::make_shared<RouterQuery>(this, id, std::move(dropped));
    if (m_handler)
        m_handler->onJsMessage(request, std::move(callback));
}

void PageRouter::queryMany(const QString& context, const QVariantList& items) {
    for (int i = 0; i + 1 < items.size(); i += 2) {
        bool isNumber = false;
        const int id = items.at(i).toInt(&isNumber);
        if (isNumber && items.at(i + 1).userType() == QMetaType::QString)
            query(context, id, items.at(i + 1).toString());
    }
}

void PageRouter::cancel(const QString& context, int id) {
    if (context != m_context)
        return;
    const auto it = m_pending.find(id);
    if (it == m_pending.end())
        return;
    it->dropped->store(true);
    m_pending.erase(it);
}

void PageRouter::focusChanged(bool editable) {
    emit editableFocusChanged(editable);
}

void PageRouter::deliver(int id, const std::shared_ptr<std::atomic<bool>>& dropped, bool success,
                         int code, const QString& text) {
    // The flag tells this query from a later one of the same id.
    const auto it = m_pending.find(id);
    if (it == m_pending.end() || it->dropped != dropped || dropped->load())
        return;
    m_pending.erase(it);
    emit answered(id, success, code, text);
    startuptrace::markOnce("first page request answered");
}
