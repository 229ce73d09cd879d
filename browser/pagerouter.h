#pragma once

#include "bridge/requesthandler.h"
#include "bridge/routercallback.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <atomic>
#include <memory>

// The browser end of one page's message router, published to the page script as "cefRouter".
// A query gets a counted callback that answers at most once. The page's script context (one at a
// time: the one that attached last) owns the pending queries; those of a context that went away
// (navigation, reload) or were cancelled are dropped, so a late answer never reaches a newer
// page, and answers need not name their context. Only a context that attached while the page
// showed one of the program's pages is heard, and only while it does (or, late, after it left).
class PageRouter : public QObject {
    Q_OBJECT
public:
    explicit PageRouter(QObject* parent = nullptr);
    ~PageRouter() override;

    // Where the page's queries go (borrowed; none: they stay pending until cancelled).
    void setRequestHandler(PageRequestHandler* handler) { m_handler = handler; }

    // Drops every pending query (the frame navigates or its renderer ended).
    void cancelAll();
    int pendingCount() const { return m_pending.size(); }

    // Sends a named event with its arguments to the page's functions; not to a page that is not
    // one of the program's (ClientApp::isProgramPage).
    void sendMessage(const QString& name, const QVariantList& args);

public slots:
    // Called by the page script.
    void attach(const QString& context);
    void query(const QString& context, int id, const QString& request);
    // Several queries in one call: id, request, id, request, ... (a pair of another kind is
    // skipped). Each is taken as `query` takes it, in order.
    void queryMany(const QString& context, const QVariantList& items);
    void cancel(const QString& context, int id);
    void focusChanged(bool editable);

signals:
    void answered(int id, bool success, int code, const QString& text);
    void message(const QString& name, const QVariantList& args);
    void editableFocusChanged(bool editable);

private:
    friend class RouterQuery;
    struct Pending {
        std::shared_ptr<std::atomic<bool>> dropped;
    };
    void deliver(int id, const std::shared_ptr<std::atomic<bool>>& dropped, bool success, int code,
                 const QString& text);

    // Whether the page (the router's parent) shows one of the program's pages now.
    bool showsProgramPage() const;

    PageRequestHandler* m_handler = nullptr;
    QString m_context;
    bool m_contextTrusted = false; // the context attached while a program page was shown
    QStringList m_trustedBefore;   // the last few trusted contexts before it, for late requests
    QHash<int, Pending> m_pending;
};
