#include "chunkeddownloader.h"

#include "online/nofollow.h"
#include "online/replacefile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSet>
#include <QThread>

#include <cstdlib>

namespace {
// The HTTP statuses a ranged download answers to.
constexpr int kHttpOk = 200;
constexpr int kHttpPartialContent = 206;
constexpr int kHttpRangeNotSatisfiable = 416; // the file may be complete already
// Progress is reported (and logged) at most this often, and at the end.
constexpr qint64 kProgressEveryMs = 100;

// The work folders that running downloads hold, so that two downloads of one file at the same
// time never share one, and cleaning leaves the other's alone.
QMutex& claimsMutex() {
    static QMutex m;
    return m;
}
QSet<QString>& claims() {
    static QSet<QString> set;
    return set;
}
const QRegularExpression& workFolderName() {
    static const QRegularExpression re(QStringLiteral("^[0-9a-f]{16}-\\d+$"));
    return re;
}
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
    : QObject(thread ? nullptr : parent), url(u), m_variant(variant),
      m_limits(settings.downloadLimits()) {
    // A refused download touches no file at all.
    if (variant.refusal.isEmpty())
        prepare(variant);
    if (thread) {
        moveToThread(thread);
        connect(thread, &QThread::started, this, &ChunkedDownloader::start);
    }
}

ChunkedDownloader::~ChunkedDownloader() {
    releaseReply();
    if (!m_workFolder.isEmpty()) {
        QMutexLocker lock(&claimsMutex());
        claims().remove(m_workFolder);
    }
}

ChunkedDownloader::Variant
ChunkedDownloader::Variant::housekeeping(const QString& root, const QString& sub,
                                         const QString& fallbackPrefix,
                                         const QLoggingCategory& (*category)()) {
    Variant v;
    v.workParent = root + sub;
    v.fallbackPrefix = fallbackPrefix;
    v.createDirs << root << v.workParent;
    v.cleanDirs << root << v.workParent;
    v.category = category;
    return v;
}

QString ChunkedDownloader::outputPath() const {
    return m_finalPath.isEmpty() ? outFile.fileName() : m_finalPath;
}

qint32 ChunkedDownloader::alreadyBytes() {
    QMutexLocker lock(&mutex);
    return already;
}

qint32 ChunkedDownloader::fullBytes() {
    QMutexLocker lock(&mutex);
    return full;
}

void ChunkedDownloader::claimWorkFolder(const Variant& variant) {
    // Named after the URL, so that a later download of the same file finds its partial file.
    const QString base = QString::fromLatin1(
        QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
    QMutexLocker lock(&claimsMutex());
    for (int n = 0;; ++n) {
        const QString folder = variant.workParent + base + QLatin1Char('-') + QString::number(n);
        if (!claims().contains(folder)) {
            claims().insert(folder);
            m_workFolder = folder;
            break;
        }
    }
    // What no running download holds is left from earlier runs.
    const QFileInfoList folders =
        QDir(variant.workParent).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo& f : folders) {
        const QString path = QDir::cleanPath(f.absoluteFilePath());
        if (workFolderName().match(f.fileName()).hasMatch() && !claims().contains(path) &&
            path != QDir::cleanPath(m_workFolder))
            removeTreeNoFollow(path);
    }
}

void ChunkedDownloader::prepare(const Variant& variant) {
    for (const QString& dir : variant.createDirs) {
        // Our own folders are real folders: a link planted in their place would lead the
        // cleaning below, and the download, somewhere else.
        if (isLinkEntry(dir))
            removeTreeNoFollow(dir);
        QDir().mkpath(dir);
    }
    QString dir = variant.outputDir;
    if (!variant.workParent.isEmpty()) {
        claimWorkFolder(variant);
        if (isLinkEntry(m_workFolder))
            removeTreeNoFollow(m_workFolder);
        QDir().mkpath(m_workFolder);
        dir = m_workFolder + QLatin1Char('/');
    }
    QString name = fileNameFromUrl(url);
    if (name.isEmpty())
        name = variant.fallbackPrefix + QString::number(std::rand());
    if (variant.finalDir.isEmpty()) {
        outFile.setFileName(dir + name);
    } else {
        m_finalPath = variant.finalDir + name;
        outFile.setFileName(variant.finalDir + name + QStringLiteral(".part"));
    }
    const QString path = outFile.fileName();
    const QString validator = validatorPath();

    for (const QString& clean : variant.cleanDirs) {
        if (isLinkEntry(clean))
            continue;
        const QFileInfoList files = QDir(clean).entryInfoList(QDir::Files | QDir::Hidden);
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
    QByteArray value = reply->header("ETag");
    if (value.isEmpty() || value.startsWith("W/"))
        value = reply->header("Last-Modified");
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
    qint32 from;
    {
        QMutexLocker lock(&mutex);
        from = already;
    }
    HttpExchange::Request request;
    request.url = QUrl(url);
    request.headers.append(
        qMakePair(QByteArray("Range"), "bytes=" + QByteArray::number(from) + '-'));
    // The rest is only wanted from the version the partial file came from; a server whose
    // file changed answers 200 with the whole new file instead.
    if (from > 0 && !m_validator.isEmpty())
        request.headers.append(qMakePair(QByteArray("If-Range"), m_validator));
    releaseReply();
    m_requestedFrom = from;
    m_judged = false;
    m_lastProgress.invalidate();
    reply = new HttpExchange(request, m_limits, this);
    connect(reply, &HttpExchange::headReceived, this, &ChunkedDownloader::partMetaGot);
    connect(reply, &HttpExchange::readyRead, this, &ChunkedDownloader::dataArrived);
    connect(reply, &HttpExchange::finished, this, &ChunkedDownloader::replyEnded);
}

void ChunkedDownloader::releaseReply() {
    if (reply) {
        HttpExchange* r = reply;
        reply = nullptr;
        r->disconnect(this);
        r->abort();
        r->deleteLater();
    }
}

void ChunkedDownloader::partMetaGot() {
    if (!reply)
        return;
    const int status = reply->status();
    // From 400 on the end reports the error; a 416 is judged at the end, its body is no data.
    if (status >= 400)
        return;
    if (status != kHttpOk && status != kHttpPartialContent) {
        releaseReply();
        rejectStatus(status);
        return;
    }
    qint64 total = -1;
    if (status == kHttpPartialContent) {
        const std::optional<qint64> range = judgeRange();
        if (!range)
            return;
        total = *range;
    } else {
        total = reply->contentLength();
        // A server that ignores the range (or whose file changed) sends the whole file again:
        // appending it to the partial file would corrupt it, so start over from byte 0.
        if (m_requestedFrom > 0) {
            outFile.close();
            outFile.resize(0);
            QMutexLocker lock(&mutex);
            already = 0;
        }
    }
    if (m_requestedFrom == 0 || status == kHttpOk)
        keepValidator();
    if (total > m_variant.maxFileSize) {
        failWrite(QStringLiteral("file too large"));
        return;
    }
    {
        QMutexLocker lock(&mutex);
        full = total > 0 ? static_cast<qint32>(total) : 0;
    }
    if (!openOutput()) {
        qCInfo(category()).noquote()
            << QStringLiteral("Update Error: Could not open output file '%1' for appending")
                   .arg(outFile.errorString());
        releaseReply();
        badStatusPath();
        return;
    }
    m_judged = true;
}

std::optional<qint64> ChunkedDownloader::judgeRange() {
    static const QRegularExpression re(QStringLiteral("^\\s*bytes\\s+(\\d+)-(\\d+)/(\\d+)\\s*$"));
    const QByteArray text = reply->header("Content-Range");
    const QRegularExpressionMatch m = re.match(QString::fromLatin1(text));
    const qint64 start = m.hasMatch() ? m.captured(1).toLongLong() : -1;
    const qint64 end = m.captured(2).toLongLong();
    const qint64 total = m.captured(3).toLongLong();
    if (m.hasMatch() && start != m_requestedFrom) {
        // Bytes of another range appended here would corrupt the file without a trace.
        qCInfo(category()).noquote()
            << QStringLiteral("Update Error: server sent the range from %1, asked from %2")
                   .arg(start)
                   .arg(m_requestedFrom);
    } else if (!m.hasMatch() || end != total - 1 ||
               (reply->contentLength() >= 0 && reply->contentLength() != end - start + 1)) {
        // Only the rest of the file to its end was asked for: a part of it would be taken for
        // the whole.
        qCInfo(category()).noquote()
            << QStringLiteral("Update Error: server sent the range '%1', asked from %2 to the end")
                   .arg(QString::fromLatin1(text))
                   .arg(m_requestedFrom);
    } else {
        return total;
    }
    releaseReply();
    reportFailure(QNetworkReply::ProtocolFailure);
    return std::nullopt;
}

void ChunkedDownloader::partFinished(qint64 got, qint64 total) {
    if (!reply)
        return;
    // Progress steps come with every read; the log and the owner hear of a few a second.
    if (m_lastProgress.isValid() && m_lastProgress.elapsed() < kProgressEveryMs && got != total)
        return;
    m_lastProgress.start();
    qCInfo(category()).noquote() << QStringLiteral("Update Info:part %1 of %2").arg(got).arg(total);
    emit finishPart(got, total);
}

bool ChunkedDownloader::openOutput() {
    // Unbuffered, so that a failing write shows at once rather than at a close nobody checks.
    return outFile.isOpen() ||
           outFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

void ChunkedDownloader::dataArrived() {
    if (!reply)
        return;
    // The body of an answer that is not file data (an error page, a 416) is not kept.
    if (!m_judged) {
        reply->readAll();
        return;
    }
    if (appendReply())
        partFinished(reply->bytesReceived(), reply->contentLength());
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
            room = m_variant.maxFileSize - qint64(already);
        }
        // Sizes are counted in 32 bits; a file that would pass its bound cannot be taken, and
        // bytes that are not all written would leave a hole in the file.
        if (n > room) {
            failWrite(QStringLiteral("file too large"));
            return false;
        }
        if (outFile.write(m_buffer.constData(), n) != n) {
            failWrite(outFile.errorString());
            return false;
        }
        QMutexLocker lock(&mutex);
        already += static_cast<qint32>(n);
    }
}

void ChunkedDownloader::replyEnded() {
    if (!reply)
        return;
    if (reply->status() == kHttpRangeNotSatisfiable && !m_judged) {
        answered416();
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        partFailed(reply->error());
        return;
    }
    if (!m_judged)
        return; // given up, and said so, when the head came
    if (reply->bytesAvailable() > 0 && !appendReply())
        return;
    partFinished(reply->bytesReceived(), reply->contentLength());
    qint64 have, want;
    {
        QMutexLocker lock(&mutex);
        have = already;
        want = full;
    }
    // Only an answer of unknown length ends where the server stops.
    if (want > 0 && have != want) {
        outFile.flush();
        releaseReply();
        reportFailure(QNetworkReply::RemoteHostClosedError);
        return;
    }
    finishComplete();
}

void ChunkedDownloader::answered416() {
    // "bytes */N": the file is whole here exactly when N bytes are.
    static const QRegularExpression re(QStringLiteral("^\\s*bytes\\s+\\*/(\\d+)\\s*$"));
    const QRegularExpressionMatch m = re.match(QString::fromLatin1(reply->header("Content-Range")));
    qint64 have;
    {
        QMutexLocker lock(&mutex);
        have = already;
    }
    if (have > 0 && m.hasMatch() && m.captured(1).toLongLong() == have) {
        {
            QMutexLocker lock(&mutex);
            full = static_cast<qint32>(have);
        }
        finishComplete();
        return;
    }
    // The partial file is not part of what the server holds: it goes, and so does the try.
    qCInfo(category()).noquote() << QStringLiteral("Update Error: server has no range from %1 (%2)")
                                        .arg(have)
                                        .arg(QString::fromLatin1(reply->header("Content-Range")));
    releaseReply();
    outFile.close();
    outFile.remove();
    dropValidator();
    reportFailure(QNetworkReply::ProtocolFailure);
}

void ChunkedDownloader::finishComplete() {
    releaseReply();
    outFile.close();
    dropValidator();
    if (!m_finalPath.isEmpty() && !replaceByRename(outFile.fileName(), m_finalPath)) {
        qCInfo(category()).noquote() << QStringLiteral("Update Error: could not move '%1' to '%2'")
                                            .arg(outFile.fileName(), m_finalPath);
        badStatusPath();
        return;
    }
    emit downLoadFinished();
    afterComplete();
}

void ChunkedDownloader::partFailed(QNetworkReply::NetworkError e) {
    if (!reply)
        return;
    // Bytes that arrived before the connection broke are good file data (they were appended
    // as they came); keeping them lets the next start resume after them.
    if (m_judged && reply->bytesAvailable() > 0 && !appendReply())
        return;
    outFile.flush();
    releaseReply();
    reportFailure(e);
}

void ChunkedDownloader::reportFailure(int code) {
    qint32 from;
    {
        QMutexLocker lock(&mutex);
        from = already;
    }
    outFile.close();
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

void ChunkedDownloader::failWrite(const QString& why) {
    qCInfo(category()).noquote() << QStringLiteral(
                                        "Update Error: could not write output file '%1': %2")
                                        .arg(outFile.fileName(), why);
    releaseReply();
    badStatusPath();
}

void ChunkedDownloader::badStatusPath() {
    outFile.close();
    if (m_workFolder.isEmpty()) {
        outFile.remove();
        dropValidator();
        emit downLoadFailed();
    } else {
        dropWorkFolder();
        emit downLoadFailed();
    }
}

void ChunkedDownloader::dropWorkFolder() {
    outFile.close();
    removeTreeNoFollow(m_workFolder);
    // The kind's folder and the root go when nothing else is left in them.
    QDir().rmdir(m_variant.workParent);
    if (!m_variant.createDirs.isEmpty())
        QDir().rmdir(m_variant.createDirs.first());
}
