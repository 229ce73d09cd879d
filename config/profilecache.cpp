#include "profilecache.h"

#include "textfile.h"

#include <QMutexLocker>

std::optional<QByteArray> ProfileCache::load(const QString& path) {
    {
        QMutexLocker lock(&m_mutex);
        const auto it = m_texts.constFind(path);
        if (it != m_texts.cend())
            return it.value();
    }
    // Read without the lock: a large file must not hold up a writer on another thread.
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
    QMutexLocker lock(&m_mutex);
    m_texts.insert(path, text);
    if (!m_pending.contains(path))
        m_pending.append(path);
}

QStringList ProfileCache::pending() const {
    QMutexLocker lock(&m_mutex);
    return m_pending;
}

ProfileCache::WriteResult ProfileCache::writePending() {
    QMutexLocker lock(&m_mutex);
    if (m_texts.isEmpty())
        return WriteResult::NothingCached;
    for (const QString& path : qAsConst(m_pending)) {
        if (!textfile::writeAtomically(path, QString::fromUtf8(m_texts.value(path))))
            return WriteResult::Stopped;
    }
    m_pending.clear();
    return WriteResult::Written;
}
