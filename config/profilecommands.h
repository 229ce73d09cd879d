#pragma once

#include "bridge/routercallback.h"

#include <QString>
#include <QVariantMap>

#include <memory>

class ProfileCache;
class QObject;

// The page's XPath operations on profile files, and their export and import as package files.
// Every edit works on the cache; only savexml (and the main window when it quits, hides or
// minimises) puts the changed files on disk.
//
// A command may take long (an XPath query over a large profile can run for minutes), so the
// program gives them a worker thread of their own (startWorker), to which the command table
// queues them: one at a time, in the order they were sent, each answered on the thread that sent
// it, while that thread stays free for everything else. A command called directly runs and
// answers inside the call.
class ProfileCommands {
public:
    // Relative path arguments are taken under `programFolder`.
    ProfileCommands(ProfileCache& cache, const QString& programFolder);
    // Runs the commands still queued, then stops the worker.
    ~ProfileCommands();

    // Starts the worker thread. Call once.
    void startWorker();
    // An object living on the worker thread, to queue the commands to; null without one.
    QObject* worker() const;

    // Writes the pending files, as the main window does when it hides, minimises or quits: after
    // every command queued before this call, on the worker (at once without it). Never blocks.
    void writePending();

    void queryProfile(const QVariantMap& args, const RouterCallback& cb);
    void nodeCounterProfile(const QVariantMap& args, const RouterCallback& cb);
    void modifyProfile(const QVariantMap& args, const RouterCallback& cb);
    void modifyProfileEx(const QVariantMap& args, const RouterCallback& cb);
    void modifyRemoveProfile(const QVariantMap& args, const RouterCallback& cb);
    void modifyAddProfile(const QVariantMap& args, const RouterCallback& cb);
    void modifyReplaceProfile(const QVariantMap& args, const RouterCallback& cb);
    void modifyReplaceSubNode(const QVariantMap& args, const RouterCallback& cb);
    void modifyReplaceProfileEx(const QVariantMap& args, const RouterCallback& cb);
    void resetProfile(const QVariantMap& args, const RouterCallback& cb);
    void queryHexByte(const QVariantMap& args, const RouterCallback& cb);
    void savexml(const QVariantMap& args, const RouterCallback& cb);
    void saveXmlAs(const QVariantMap& args, const RouterCallback& cb);

    // The absolute cache key of a page-relative path; empty when the path climbs out of the
    // program folder.
    QString resolve(const QString& relative) const;

private:
    class Worker;

    ProfileCache& m_cache;
    QString m_folder;
    std::unique_ptr<Worker> m_worker;
};
