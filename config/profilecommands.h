#pragma once

#include "bridge/routercallback.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <optional>

class ProfileCache;

// The page's XPath operations on profile files, and their export and import as package files.
// Every edit works on the cache; only savexml (and the main window when it quits, hides or
// minimises) puts the changed files on disk.
class ProfileCommands {
public:
    // Relative path arguments are taken under `programFolder`.
    ProfileCommands(ProfileCache& cache, const QString& programFolder);

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

    // Resolves and loads a page-relative path. Empty when it cannot be opened (the command then
    // ends without an answer).
    std::optional<QByteArray> load(const QString& relative, QString* path);

    ProfileCache& m_cache;
    QString m_folder;
};
