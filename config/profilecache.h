#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace pugi {
class xml_document;
}
class ChildIndex;
class QThread;

// The profile files the page works on, kept in memory from their first use until the program
// ends, and the ordered list of those changed since they were last written.
//
// Texts are held as UTF-8 (invalid bytes of a file are replaced when it is read), so the XML
// library parses them without a conversion per command. Every member takes the cache's lock: the
// pending writes may be written out from a thread other than the one that fills the cache.
//
// Beside a text the cache may keep the document parsed from it, so that a command need not parse
// the text again. A kept document always answers as a fresh parse of its text would. Documents
// cost several times their text, so only the most recently used ones, up to kDocumentBudget
// bytes of text, are kept; the others are parsed again when next used.
class ProfileCache {
public:
    enum class WriteResult {
        NothingCached, // the cache is empty; nothing was written
        Written,       // every pending file was written and pending is empty
        Stopped,       // a file could not be written; the ones before it were, pending is whole
    };

    // Far above any real profile; the commands refuse texts past this size anyway.
    static constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;

    // Total size of the texts whose documents are kept: a few large profiles, or every profile
    // of a usual size.
    static constexpr qint64 kDocumentBudget = 32 * 1024 * 1024;

    // A kept document. `settled` means also that saving the document gives its text byte for
    // byte, so an edit of attribute values alone leaves a document that its saved text parses to.
    // `index` serves the path lookups on `doc` (the commands give every document they keep one).
    struct Document {
        std::shared_ptr<pugi::xml_document> doc;
        bool settled = false;
        std::shared_ptr<ChildIndex> index;
    };

    // The text of `path`, read from disk the first time and taken from memory ever after, even
    // if the file changes on disk. Empty when the file is not cached and cannot be opened, is no
    // regular file or is larger than kMaxFileSize (both logged).
    std::optional<QByteArray> load(const QString& path);

    bool contains(const QString& path) const;
    QByteArray text(const QString& path) const;
    bool isEmpty() const;

    // Replaces the text of `path` and marks it pending (once, in the order of first change).
    // Without `document` (a document parsed from `text`, or one that answers as such) a kept
    // document of the path is dropped.
    void store(const QString& path, const QByteArray& text);
    void store(const QString& path, const QByteArray& text, const Document& document);

    // The kept document of `path`, marked as used; none when there is none.
    Document document(const QString& path);
    // Keeps `document`, parsed from the current text of `path`.
    void keepDocument(const QString& path, const Document& document);
    // Drops the kept document of `path` (a command changed it and then could not store it).
    void dropDocument(const QString& path);
    // The file of `path` was replaced on disk (a sync, an installed page): its text, document
    // and any pending write give way, and the next use reads the file.
    void forget(const QString& path);
    // The size of the texts whose documents are kept.
    qint64 keptDocumentText() const;

    QStringList pending() const;

    // Program exit with the profile worker still in a command: from now on nothing it stores or
    // writes is taken, so it cannot undo what the exit writes.
    void shutOut(const QThread* thread);
    // Forgets every kept document (each is parsed again when next used).
    void dropDocuments();

    // Writes the pending files in order, each as the old or the new file on disk, never a
    // truncated one. The first file that cannot be written stops the rest. Holds the lock while
    // writing, so a command on another thread never sees a half-cleared pending list.
    WriteResult writePending();

private:
    struct Kept {
        Document document;
        qint64 textSize = 0;
        quint64 lastUse = 0;
    };

    void keep(const QString& path, const Document& document, qint64 textSize);
    // Called with the lock held.
    bool shutOutCaller() const;

    mutable QMutex m_mutex;
    QHash<QString, QByteArray> m_texts;
    QHash<QString, Kept> m_documents;
    quint64 m_uses = 0;
    QStringList m_pending;
    const QThread* m_shutOut = nullptr;
};
