#pragma once

#include "bridge/routercallback.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>

class ProfileCache;
class QObject;
class QThread;

// The page's XPath operations on profile files, and their export and import as package files.
// Every edit works on the cache; only savexml (and the main window when it quits, hides or
// minimises) puts the changed files on disk.
//
// A command may take long (an XPath query over a large profile can run for minutes), so the
// program runs them on a worker thread of their own (startWorker): one at a time, in the order
// they were called, each answered on the thread that called it, while that thread stays free
// for everything else. Without the worker each command runs and answers inside the call.
class ProfileCommands {
public:
    // Relative path arguments are taken under `programFolder`.
    ProfileCommands(ProfileCache& cache, const QString& programFolder);
    // Runs the commands still queued, then stops the worker.
    ~ProfileCommands();

    // From now on every command called on this thread is queued to the worker. Call once, from
    // the thread that calls the commands (it needs a running event loop for the answers).
    void startWorker();

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
    // The steps the commands are made of (profilecommands.cpp).
    class Request;
    class Worker;
    using Method = void (ProfileCommands::*)(const QVariantMap&, const RouterCallback&);

    // True when the command was queued to the worker (it then runs there and answers here);
    // false when it is to run now, on this thread.
    bool handOver(Method method, const QVariantMap& args, const RouterCallback& cb);

    // Resolves and loads a page-relative path. Empty when it cannot be opened (the command then
    // ends without an answer).
    std::optional<QByteArray> load(const QString& relative, QString* path);

    ProfileCache& m_cache;
    QString m_folder;
    std::unique_ptr<Worker> m_worker;
};
