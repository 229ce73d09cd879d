#include "pagerouter.h"

#include "weblog/startuptrace.h"

#include <QMetaObject>
#include <QPointer>

// One query's callback. Success and Failure may come from any thread; the answer is handed to
// the router's thread and reaches the page only while the query is still pending there.
class RouterQuery : public CefMessageRouterBrowserSide::Callback {
public:
    RouterQuery(PageRouter* router, const QString& context, int id,
                std::shared_ptr<std::atomic<bool>> dropped)
        : m_router(router), m_context(context), m_id(id), m_dropped(std::move(dropped)) {}

    void Success(const QString& response) override { answer(true, 0, response); }
    void Failure(int errorCode, const QString& errorMessage) override {
        answer(false, errorCode, errorMessage);
    }

private:
    void answer(bool success, int code, const QString& text) {
        if (m_answered.exchange(true) || m_dropped->load())
            return;
        QPointer<PageRouter> router = m_router;
        const QString context = m_context;
        const int id = m_id;
        if (!router)
            return;
        QMetaObject::invokeMethod(
            router.data(),
            [router, context, id, success, code, text] {
                if (router)
                    router->deliver(context, id, success, code, text);
            },
            Qt::AutoConnection);
    }

    QPointer<PageRouter> m_router;
    QString m_context;
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

QString PageRouter::keyOf(const QString& context, int id) {
    return context + QLatin1Char('/') + QString::number(id);
}

void PageRouter::cancelAll() {
    for (const Pending& p : qAsConst(m_pending))
        p.dropped->store(true);
    m_pending.clear();
}

void PageRouter::attach(const QString& context) {
    // A new script context in this page: whatever the previous one asked is gone with it.
    const QString prefix = context + QLatin1Char('/');
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (!it.key().startsWith(prefix)) {
            it->dropped->store(true);
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
}

void PageRouter::query(const QString& context, int id, const QString& request) {
    const QString key = keyOf(context, id);
    if (context.isEmpty() || m_pending.contains(key))
        return; // a page may not reuse a pending id
    startuptrace::markOnce("first page request received");
    Pending pending{std::make_shared<std::atomic<bool>>(false)};
    m_pending.insert(key, pending);
    auto callback = std::make_shared<RouterQuery>(this, context, id, pending.dropped);
    if (m_handler)
        m_handler->OnQuery(request, std::move(callback));
}

void PageRouter::cancel(const QString& context, int id) {
    const auto it = m_pending.find(keyOf(context, id));
    if (it == m_pending.end())
        return;
    it->dropped->store(true);
    m_pending.erase(it);
}

void PageRouter::focusChanged(bool editable) {
    emit editableFocusChanged(editable);
}

void PageRouter::deliver(const QString& context, int id, bool success, int code,
                         const QString& text) {
    const auto it = m_pending.find(keyOf(context, id));
    if (it == m_pending.end() || it->dropped->load())
        return;
    m_pending.erase(it);
    emit answered(context, id, success, code, text);
    startuptrace::markOnce("first page request answered");
}
