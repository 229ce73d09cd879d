#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <optional>

// The profile files the page works on, kept in memory from their first use until the program
// ends, and the ordered list of those changed since they were last written.
//
// Texts are held as UTF-8 (invalid bytes of a file are replaced when it is read), so the XML
// library parses them without a conversion per command. Every member takes the cache's lock: the
// pending writes may be written out from a thread other than the one that fills the cache.
class ProfileCache {
public:
    enum class WriteResult {
        NothingCached, // the cache is empty; nothing was written
        Written,       // every pending file was written and pending is empty
        Stopped,       // a file could not be written; the ones before it were, pending is whole
    };

    // Far above any real profile; the commands refuse texts past this size anyway.
    static constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;

    // The text of `path`, read from disk the first time and taken from memory ever after, even
    // if the file changes on disk. Empty when the file is not cached and cannot be opened, is no
    // regular file or is larger than kMaxFileSize (both logged).
    std::optional<QByteArray> load(const QString& path);

    bool contains(const QString& path) const;
    QByteArray text(const QString& path) const;
    bool isEmpty() const;

    // Replaces the text of `path` and marks it pending (once, in the order of first change).
    void store(const QString& path, const QByteArray& text);

    QStringList pending() const;

    // Writes the pending files in order, each as the old or the new file on disk, never a
    // truncated one. The first file that cannot be written stops the rest. Holds the lock while
    // writing, so a command on another thread never sees a half-cleared pending list.
    WriteResult writePending();

private:
    mutable QMutex m_mutex;
    QHash<QString, QByteArray> m_texts;
    QStringList m_pending;
};
