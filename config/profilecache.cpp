#include "profilecache.h"

#include "textfile.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutexLocker>
#include <QThread>

#include <pugixml.hpp>

namespace {

Q_LOGGING_CATEGORY(lcProfiles, "profilecache")

// Whether `path` may be read whole: a regular file (a pipe or device would block the command
// for ever or never end) of at most kMaxFileSize bytes.
bool readable(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return true; // the open fails
    if (!info.isFile()) {
        qCInfo(lcProfiles, "profile '%s' is no regular file", qUtf8Printable(path));
        return false;
    }
    if (info.size() > ProfileCache::kMaxFileSize) {
        qCInfo(lcProfiles, "profile '%s' is larger than %lld bytes: %lld", qUtf8Printable(path),
               static_cast<long long>(ProfileCache::kMaxFileSize),
               static_cast<long long>(info.size()));
        return false;
    }
    return true;
}

} // namespace

std::optional<QByteArray> ProfileCache::load(const QString& path) {
    {
        QMutexLocker lock(&m_mutex);
        const auto it = m_texts.constFind(path);
        if (it != m_texts.cend())
            return it.value();
    }
    // Read without the lock: a large file must not hold up a writer on another thread.
    if (!readable(path))
        return std::nullopt;
    bool opened = false;
    const QString text = textfile::read(path, &opened);
    if (!opened)
        return std::nullopt;
    QMutexLocker lock(&m_mutex);
    // Whoever cached it meanwhile wins, as if they had been first.
    auto it = m_texts.find(path);
    if (it == m_texts.end())
        it = m_texts.insert(path, text.toUtf8());
    return it.value();
}

bool ProfileCache::contains(const QString& path) const {
    QMutexLocker lock(&m_mutex);
    return m_texts.contains(path);
}

QByteArray ProfileCache::text(const QString& path) const {
    QMutexLocker lock(&m_mutex);
    return m_texts.value(path);
}

bool ProfileCache::isEmpty() const {
    QMutexLocker lock(&m_mutex);
    return m_texts.isEmpty();
}

void ProfileCache::store(const QString& path, const QByteArray& text) {
    store(path, text, Document());
}

void ProfileCache::store(const QString& path, const QByteArray& text, const Document& document) {
    QMutexLocker lock(&m_mutex);
    if (shutOutCaller())
        return;
    m_texts.insert(path, text);
    if (!m_pending.contains(path))
        m_pending.append(path);
    if (document.doc)
        keep(path, document, text.size());
    else
        m_documents.remove(path);
}

ProfileCache::Document ProfileCache::document(const QString& path) {
    QMutexLocker lock(&m_mutex);
    const auto it = m_documents.find(path);
    if (it == m_documents.end())
        return {};
    it->lastUse = ++m_uses;
    return it->document;
}

void ProfileCache::keepDocument(const QString& path, const Document& document) {
    QMutexLocker lock(&m_mutex);
    if (shutOutCaller())
        return;
    const auto text = m_texts.constFind(path);
    if (text != m_texts.cend() && document.doc)
        keep(path, document, text->size());
}

void ProfileCache::dropDocument(const QString& path) {
    QMutexLocker lock(&m_mutex);
    m_documents.remove(path);
}

void ProfileCache::forget(const QString& path) {
    QMutexLocker lock(&m_mutex);
    m_texts.remove(path);
    m_documents.remove(path);
    m_pending.removeAll(path);
}

qint64 ProfileCache::keptDocumentText() const {
    QMutexLocker lock(&m_mutex);
    qint64 total = 0;
    for (const Kept& kept : m_documents)
        total += kept.textSize;
    return total;
}

void ProfileCache::keep(const QString& path, const Document& document, qint64 textSize) {
    m_documents.insert(path, Kept{document, textSize, ++m_uses});
    // The least recently used documents go until the rest fit; the new one always stays, so a
    // profile larger than the budget still gets the benefit while it is being worked on.
    qint64 total = 0;
    for (const Kept& kept : qAsConst(m_documents))
        total += kept.textSize;
    while (total > kDocumentBudget && m_documents.size() > 1) {
        auto oldest = m_documents.end();
        for (auto it = m_documents.begin(); it != m_documents.end(); ++it) {
            if (it.key() != path && (oldest == m_documents.end() || it->lastUse < oldest->lastUse))
                oldest = it;
        }
        total -= oldest->textSize;
        m_documents.erase(oldest);
    }
}

QStringList ProfileCache::pending() const {
    QMutexLocker lock(&m_mutex);
    return m_pending;
}

void ProfileCache::shutOut(const QThread* thread) {
    QMutexLocker lock(&m_mutex);
    m_shutOut = thread;
}

bool ProfileCache::shutOutCaller() const {
    return m_shutOut && QThread::currentThread() == m_shutOut;
}

void ProfileCache::dropDocuments() {
    QMutexLocker lock(&m_mutex);
    m_documents.clear();
}

ProfileCache::WriteResult ProfileCache::writePending() {
    QMutexLocker lock(&m_mutex);
    if (shutOutCaller())
        return WriteResult::Stopped;
    if (m_texts.isEmpty())
        return WriteResult::NothingCached;
    for (const QString& path : qAsConst(m_pending)) {
        if (!textfile::writeAtomically(path, QString::fromUtf8(m_texts.value(path))))
            return WriteResult::Stopped;
    }
    m_pending.clear();
    return WriteResult::Written;
}
