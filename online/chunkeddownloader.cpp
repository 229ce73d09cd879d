#include "chunkeddownloader.h"

#include "online/nofollow.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QThread>

#include <cstdlib>

namespace {
// The HTTP statuses a ranged download answers to.
constexpr int kHttpOk = 200;
constexpr int kHttpPartialContent = 206;
constexpr int kHttpRangeNotSatisfiable = 416; // the file is complete already
} // namespace

QString ChunkedDownloader::fileNameFromUrl(const QString& url) {
    static const QRegularExpression re(QStringLiteral("/([^/\\?]+)(\\?|$)"));
    const QString name = re.match(url).captured(1);
    // A name that would leave the output folder is no name at all.
    if (name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(QLatin1Char('\\')) || name.contains(QLatin1Char(':')))
        return QString();
    return name;
}

ChunkedDownloader::ChunkedDownloader(QThread* thread, const QString& u, const Variant& variant,
                                     const OnlineSettings& settings, QObject* parent)
    : QObject(thread ? nullptr : parent), url(u), manager(this), m_variant(variant),
      m_stallTimeoutMs(settings.stallTimeoutMs) {
    // A refused download touches no file at all.
    if (variant.refusal.isEmpty())
        prepare(variant);
    if (thread) {
        moveToThread(thread);
        connect(thread, &QThread::started, this, &ChunkedDownloader::start);
    }
}

ChunkedDownloader::Variant
ChunkedDownloader::Variant::housekeeping(const QString& root, const QString& sub,
                                         const QString& fallbackPrefix,
                                         const QLoggingCategory& (*category)()) {
    Variant v;
    v.outputDir = root + sub;
    v.fallbackPrefix = fallbackPrefix;
    v.createDirs << root << v.outputDir;
    v.cleanDirs << root << v.outputDir;
    v.category = category;
    v.removeOnBadStatus = root;
    return v;
}

qint32 ChunkedDownloader::alreadyBytes() {
    QMutexLocker lock(&mutex);
    return already;
}

qint32 ChunkedDownloader::fullBytes() {
    QMutexLocker lock(&mutex);
    return full;
}

void ChunkedDownloader::prepare(const Variant& variant) {
    QString name = fileNameFromUrl(url);
    if (name.isEmpty())
        name = variant.fallbackPrefix + QString::number(std::rand());
    const QString path = variant.outputDir + name;
    outFile.setFileName(path);
    const QString validator = validatorPath();

    for (const QString& dir : variant.createDirs) {
        // Our own folders are real folders: a link planted in their place would lead the
        // cleaning below, and the download, somewhere else.
        if (isLinkEntry(dir))
            removeTreeNoFollow(dir);
        QDir().mkpath(dir);
    }
    for (const QString& dir : variant.cleanDirs) {
        if (isLinkEntry(dir))
            continue;
        const QFileInfoList files = QDir(dir).entryInfoList(QDir::Files | QDir::Hidden);
        for (const QFileInfo& f : files)
            if (f.absoluteFilePath() != QFileInfo(path).absoluteFilePath() &&
                f.absoluteFilePath() != QFileInfo(validator).absoluteFilePath())
                QFile::remove(f.absoluteFilePath());
    }
    // Resizing a link would cut the file it points to.
    if (isLinkEntry(path))
        QFile::remove(path);

    QFileInfo info(path);
    if (info.exists()) {
        const qint64 size = info.size();
        if (size < kMaxFileSize) {
            const qint64 rounded = size - size % kBlock;
            if (rounded == size) {
                already = static_cast<qint32>(size);
            } else if (rounded != 0 && outFile.resize(rounded)) {
                already = static_cast<qint32>(rounded);
            }
        }
        // Anything not trusted (including a file too large to count) starts over.
        if (already == 0)
            QFile::remove(path);
    }
    if (already > 0) {
        QFile f(validator);
        if (!isLinkEntry(validator) && f.open(QIODevice::ReadOnly))
            m_validator = f.read(kMaxValidatorSize).trimmed();
    } else {
        QFile::remove(validator);
    }
}

QString ChunkedDownloader::validatorPath() const {
    return outFile.fileName() + QStringLiteral(".validator");
}

void ChunkedDownloader::keepValidator() {
    if (!reply)
        return;
    // A strong ETag names the file's version; Last-Modified is the weaker fallback.
    QByteArray value = reply->rawHeader("ETag");
    if (value.isEmpty() || value.startsWith("W/"))
        value = reply->rawHeader("Last-Modified");
    m_validator = value.left(kMaxValidatorSize);
    const QString path = validatorPath();
    QFile::remove(path);
    if (m_validator.isEmpty())
        return;
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(m_validator);
}

void ChunkedDownloader::dropValidator() {
    m_validator.clear();
    QFile::remove(validatorPath());
}

void ChunkedDownloader::start() {
    if (!m_variant.refusal.isEmpty()) {
        qCInfo(category()).noquote() << m_variant.refusal;
        emit downLoadFailed();
        return;
    }
    sendRequestCore();
}

void ChunkedDownloader::sendRequest() {
    start();
}

void ChunkedDownloader::sendRequestCore() {
    QNetworkRequest request{QUrl(url)};
    qint32 from;
    {
        QMutexLocker lock(&mutex);
        from = already;
    }
    request.setRawHeader("Range", "bytes=" + QByteArray::number(from) + '-');
    // The rest is only wanted from the version the partial file came from; a server whose
    // file changed answers 200 with the whole new file instead.
    if (from > 0 && !m_validator.isEmpty())
        request.setRawHeader("If-Range", m_validator);
    request.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, true);
    // A server that stops sending would otherwise hold the download (and the thread) forever.
    request.setTransferTimeout(m_stallTimeoutMs);
    releaseReply();
    m_requestedFrom = from;
    m_statusChecked = false;
    m_rangeChecked = false;
    m_receivedThisReply = 0;
    reply = manager.get(request);
    QNetworkReply* r = reply;
    connect(r, &QNetworkReply::downloadProgress, this, &ChunkedDownloader::partFinished);
    connect(r, &QNetworkReply::errorOccurred, this, &ChunkedDownloader::partFailed);
    connect(r, &QNetworkReply::metaDataChanged, this, &ChunkedDownloader::partMetaGot);
    connect(r, &QNetworkReply::finished, this, &ChunkedDownloader::replyEnded);
    // Progress is reported at most every 100 ms; taking data as it arrives keeps the buffers
    // small on fast links.
    connect(r, &QNetworkReply::readyRead, this, &ChunkedDownloader::dataArrived);
}

void ChunkedDownloader::releaseReply(bool abort) {
    if (reply) {
        QNetworkReply* r = reply;
        reply = nullptr;
        r->disconnect(this);
        if (abort && r->isRunning())
            r->abort();
        r->deleteLater();
    }
}

void ChunkedDownloader::partMetaGot() {
    if (!reply || !rangeMatches())
        return;
    static const QRegularExpression re(QStringLiteral("/(\\d+)([^\\d]|$)"));
    for (const auto& pair : reply->rawHeaderPairs()) {
        if (pair.first.toLower() != "content-range")
            continue;
        const QRegularExpressionMatch m = re.match(QString::fromLatin1(pair.second));
        if (m.hasMatch()) {
            bool ok = false;
            const qint64 value = m.captured(1).toLongLong(&ok);
            if (ok && value <= kMaxFileSize) {
                QMutexLocker lock(&mutex);
                full = static_cast<qint32>(value);
            }
        }
    }
}

void ChunkedDownloader::partFinished(qint64 got, qint64 total) {
    if (!reply)
        return;
    const QVariant statusAttr = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttr.isValid() ? statusAttr.toInt() : 0;
    if (statusAttr.isValid() && status != kHttpOk && status != kHttpPartialContent &&
        status != kHttpRangeNotSatisfiable) {
        releaseReply();
        rejectStatus(status);
        return;
    }
    // A 416 body is the server's error text, not file data; the error path completes it.
    if (status == kHttpRangeNotSatisfiable || !rangeMatches())
        return;
    restartIfRangeIgnored(status);
    {
        QMutexLocker lock(&mutex);
        if (already == 0 && full == 0 && total >= 0)
            full = static_cast<qint32>(qMin(total, kMaxFileSize));
    }
    qCInfo(category()).noquote() << QStringLiteral("Update Info:part %1 of %2").arg(got).arg(total);
    emit finishPart(got, total);

    if (!openOutput(status)) {
        qCInfo(category()).noquote()
            << QStringLiteral("Update Error: Could not open output file '%1' for appending")
                   .arg(outFile.errorString());
        releaseReply();
        badStatusPath();
        return;
    }
    if (!appendReply())
        return;
    // Without a known length the end is the end of the reply (replyEnded).
    if (total >= 0 && got >= total) {
        releaseReply();
        outFile.close();
        dropValidator();
        emit downLoadFinished();
        afterComplete();
    }
}

void ChunkedDownloader::restartIfRangeIgnored(int status) {
    if (!m_statusChecked) {
        m_statusChecked = true;
        // A server that ignores the range (or whose file changed) sends the whole file again:
        // appending it to the partial file would corrupt it, so start over from byte 0.
        const bool restart = status == kHttpOk && m_requestedFrom > 0;
        if (restart) {
            outFile.close();
            outFile.resize(0);
            m_receivedThisReply = 0;
            QMutexLocker lock(&mutex);
            already = 0;
            full = 0;
        }
        if (restart || m_requestedFrom == 0)
            keepValidator();
    }
}

bool ChunkedDownloader::rangeMatches() {
    if (m_rangeChecked)
        return true;
    m_rangeChecked = true;
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != kHttpPartialContent)
        return true;
    // Bytes of another range appended here would corrupt the file without a trace.
    static const QRegularExpression re(QStringLiteral("^\\s*bytes\\s+(\\d+)-"));
    const QRegularExpressionMatch m =
        re.match(QString::fromLatin1(reply->rawHeader("Content-Range")));
    if (!m.hasMatch() || m.captured(1).toLongLong() == m_requestedFrom)
        return true;
    qCInfo(category()).noquote()
        << QStringLiteral("Update Error: server sent the range from %1, asked from %2")
               .arg(m.captured(1))
               .arg(m_requestedFrom);
    releaseReply();
    reportFailure(QNetworkReply::ProtocolFailure);
    return false;
}

bool ChunkedDownloader::openOutput(int status) {
    restartIfRangeIgnored(status);
    // Unbuffered, so that a failing write shows at once rather than at a close nobody checks.
    return outFile.isOpen() ||
           outFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

void ChunkedDownloader::replyEnded() {
    if (!reply || reply->error() != QNetworkReply::NoError)
        return;
    // Reached for replies whose length was unknown, and for replies that the network layer
    // ends without an error although the connection broke before the stated length.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    const QVariant statusAttr = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttr.toInt();
    // A reply that ends before any progress step (a redirect without a body, say) has not been
    // judged yet.
    if (statusAttr.isValid() && status != kHttpOk && status != kHttpPartialContent) {
        releaseReply(false);
        rejectStatus(status);
        return;
    }
    if (!rangeMatches())
        return;
    if (reply->bytesAvailable() > 0 && openOutput(status) && !appendReply())
        return;
    if (length.isValid() && m_receivedThisReply < length.toLongLong()) {
        outFile.flush();
        releaseReply(false);
        reportFailure(QNetworkReply::RemoteHostClosedError);
        return;
    }
    releaseReply(false);
    outFile.close();
    dropValidator();
    emit downLoadFinished();
    afterComplete();
}

void ChunkedDownloader::dataArrived() {
    if (!reply)
        return;
    // Until the first progress step has judged the status and opened the file, data waits.
    if (outFile.isOpen() && rangeMatches())
        appendReply();
}

bool ChunkedDownloader::appendReply() {
    // Through one reused buffer: fresh large arrays would cost a page fault per page.
    if (m_buffer.isEmpty())
        m_buffer.resize(256 * 1024);
    for (;;) {
        const qint64 n = reply->read(m_buffer.data(), m_buffer.size());
        if (n <= 0)
            return true;
        qint64 room;
        {
            QMutexLocker lock(&mutex);
            room = kMaxFileSize - qint64(already);
        }
        // Sizes are counted in 32 bits; a file that would pass 2 GiB cannot be held, and bytes
        // that are not all written would leave a hole in the file.
        const qint64 written = n <= room ? outFile.write(m_buffer.constData(), n) : -1;
        if (written != n) {
            qCInfo(category()).noquote()
                << QStringLiteral("Update Error: could not write output file '%1': %2")
                       .arg(outFile.fileName(),
                            n > room ? QStringLiteral("file too large") : outFile.errorString());
            releaseReply();
            badStatusPath();
            return false;
        }
        m_receivedThisReply += n;
        QMutexLocker lock(&mutex);
        already += static_cast<qint32>(n);
    }
}

void ChunkedDownloader::partFailed(QNetworkReply::NetworkError e) {
    if (!reply)
        return;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // Bytes that arrived before the connection broke are good file data; keeping them lets the
    // next start resume after them.
    if ((status == kHttpOk || status == kHttpPartialContent) && reply->bytesAvailable() > 0 &&
        rangeMatches() && openOutput(status)) {
        if (!appendReply())
            return;
        outFile.flush();
    }
    if (!reply)
        return;          // given up above
    releaseReply(false); // it has failed already; aborting would report it again
    if (status == kHttpRangeNotSatisfiable) {
        outFile.close();
        dropValidator();
        afterComplete();
        return;
    }
    reportFailure(e);
}

void ChunkedDownloader::reportFailure(int code) {
    qint32 from;
    {
        QMutexLocker lock(&mutex);
        from = already;
    }
    qCInfo(category()).noquote()
        << QStringLiteral("Update Error: failed to download part starting from %1, error %2")
               .arg(from)
               .arg(code);
    emit downLoadFailed();
}

void ChunkedDownloader::rejectStatus(int status) {
    qCInfo(category()).noquote()
        << QStringLiteral("Update Error:Bad HTTP status received in partFinished():%1").arg(status);
    badStatusPath();
}

void ChunkedDownloader::badStatusPath() {
    outFile.close();
    if (m_variant.removeOnBadStatus.isEmpty()) {
        outFile.remove();
        dropValidator();
        emit downLoadFailed();
    } else {
        removeTreeNoFollow(m_variant.removeOnBadStatus);
    }
}
