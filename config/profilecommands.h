#pragma once

#include "bridge/commandlane.h"
#include "bridge/routercallback.h"

#include <QString>
#include <QVariantMap>

class ConfigStore;
class ProfileCache;

// The page's XPath operations on profile files, and their export and import as package files.
// Every edit works on the cache; only savexml (and the main window when it quits, hides or
// minimises) puts the changed files on disk. conf.xml is the configuration store's: a command
// on it reads the store's text and an edit of it is committed through the store at once, so the
// two never write older copies over each other.
//
// A command may take long (an XPath query over a large profile can run for minutes), so the
// program gives them a worker thread of their own (startWorker) in the lane of commands that use
// the profiles, to which the command table queues them: one at a time, in the order they were
// sent, each answered on the thread that sent it, while that thread stays free for everything
// else. The other commands that read or write the profiles or their files queue their steps in
// the same lane. A command called directly runs and answers inside the call.
class ProfileCommands {
public:
    // Relative path arguments are taken under `programFolder`.
    ProfileCommands(ProfileCache& cache, const QString& programFolder);
    // Runs the commands still queued that change something, then stops the worker.
    ~ProfileCommands();

    // The configuration store that owns conf.xml; the commands on conf.xml use it from the
    // lane's home thread. Without one, conf.xml is a profile like any other.
    void setConfigStore(ConfigStore* store) { m_conf = store; }
    // Whether a command with these arguments names conf.xml, so it must run where the store
    // lives.
    bool namesConfig(const QVariantMap& args) const;
    // The store when `path` (a cache key) is its file.
    ConfigStore* configOwning(const QString& path) const;

    // Starts the worker thread. Call once.
    void startWorker();
    handoff::CommandLane& lane() { return m_lane; }

    // Writes the pending files, as the main window does when it hides, minimises or quits: after
    // every command queued before this call, on the worker (at once without it). Never blocks.
    void writePending();

    // Program exit: the commands still queued that change something run, without waiting more
    // than kExitWaitMs for one that runs on the worker. A worker still in its command then is
    // abandoned: the cache no longer takes anything from it and the commands left use
    // documents of their own. False when the worker was abandoned: it may still use this object
    // and the cache, which must then outlive the process.
    bool finishForExit();
    static constexpr int kExitWaitMs = 3000;

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
    ProfileCache& m_cache;
    QString m_folder;
    ConfigStore* m_conf = nullptr;
    // Last: its steps use the members above until it has finished.
    handoff::CommandLane m_lane;
};
