#pragma once

#include "online/httpexchange.h"
#include "online/onlinesettings.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QMutex>
#include <QNetworkReply>
#include <QObject>
#include <QStringList>

#include <optional>

class QThread;

// The resumable ranged download that the three downloaders share. It resumes a partial file
// from its last whole 100 KiB block, asks for the rest with "Range: bytes=N-" (and "If-Range"
// with the version the partial file holds) and appends what arrives. A download is complete
// only when the file holds every byte the server declared: a 206 must cover exactly the range
// asked, to the end of the file; anything else fails and keeps what is good for a resume. What
// differs between the downloaders is data (`Variant`) and what follows the last byte
// (`afterComplete`).
class ChunkedDownloader : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kBlock = 102400;
    // Sizes are counted in 32-bit signed integers: no file may reach this many bytes.
    static constexpr qint64 kMaxFileSize = 2147483647;

    // Output file name from a URL: the last path segment before any query, or empty.
    static QString fileNameFromUrl(const QString& url);

    struct Variant {
        // Where the file is written while it arrives (absolute, trailing "/"); with `workParent`
        // set, a work folder of the download's own under it instead.
        QString outputDir;
        QString workParent;
        // When set, the partial file is the name plus ".part", and only the complete file takes
        // the name itself, in this folder (absolute, trailing "/").
        QString finalDir;
        QString fallbackPrefix; // "file-", "tupdate-", "tupload-"
        QStringList createDirs; // created when missing, in order
        QStringList cleanDirs;  // plain files removed, except the download's own
        const QLoggingCategory& (*category)() = nullptr;
        // No file of this download may grow beyond it.
        qint64 maxFileSize = kMaxFileSize;
        // When set, start() logs it and fails instead of sending anything.
        QString refusal;

        // The update and sync layout: a work folder of its own under root/sub/, whose stray
        // files (and the work folders no running download holds) are cleaned.
        static Variant housekeeping(const QString& root, const QString& sub,
                                    const QString& fallbackPrefix,
                                    const QLoggingCategory& (*category)());
    };

    ~ChunkedDownloader() override;

    // Where the complete file is (for the update and sync downloads, inside their work folder).
    QString outputPath() const;
    // Where the file is while it arrives.
    QString partialPath() const { return outFile.fileName(); }
    // The download's own folder: removed whole on a failure (update and sync downloads only).
    QString workFolder() const { return m_workFolder; }
    qint32 alreadyBytes();
    qint32 fullBytes();

signals:
    void finishPart(qint64 got, qint64 total);
    void downLoadFinished();
    void downLoadFailed();

public slots:
    void start();
    void partMetaGot();
    void partFinished(qint64 got, qint64 total);
    void partFailed(QNetworkReply::NetworkError e);
    void sendRequest();

protected:
    // With a thread the object has no parent (Qt cannot move a child) and starts when the
    // thread starts; without one it lives on the caller's thread and `parent` owns it. Of the
    // settings it takes the time-outs.
    ChunkedDownloader(QThread* thread, const QString& url, const Variant& variant,
                      const OnlineSettings& settings, QObject* parent);

    // After the last byte (file closed, downLoadFinished emitted).
    virtual void afterComplete() {}
    // The work folder goes, and the folders above it when that leaves them empty.
    void dropWorkFolder();

    QString url;
    HttpExchange* reply = nullptr;
    qint32 already = 0;
    qint32 full = 0;
    QFile outFile;
    QMutex mutex;

private slots:
    void replyEnded();
    void dataArrived();

private:
    void prepare(const Variant& variant);
    void claimWorkFolder(const Variant& variant);
    void sendRequestCore();
    // Opens the output for appending.
    bool openOutput();
    // The 206 covers the range asked to the end of a file of a size that can be counted; its
    // total then. Nothing, with the download given up, otherwise.
    std::optional<qint64> judgeRange();
    // Appends what the reply holds and counts it. False when the download has been given up
    // (the output cannot take the bytes); the failure is reported then.
    bool appendReply();
    void releaseReply();
    const QLoggingCategory& category() const { return m_variant.category(); }
    void badStatusPath();
    // The whole file is there: moved to its name, reported, and handed on.
    void finishComplete();
    void answered416();
    // The validator (ETag, else Last-Modified) of the version the partial file holds is kept
    // beside it, so that a resume can ask for the rest of that version only (If-Range).
    QString validatorPath() const;
    void keepValidator();
    void dropValidator();
    static constexpr qint64 kMaxValidatorSize = 512;
    // Logs the bad HTTP status and takes the bad-status path.
    void rejectStatus(int status);
    // Logs that the output cannot take more and takes the bad-status path.
    void failWrite(const QString& why);
    // Logs the failure of the part that started at `already` and emits downLoadFailed.
    void reportFailure(int code);

    Variant m_variant;
    HttpLimits m_limits;
    QString m_workFolder;
    QString m_finalPath;

    qint32 m_requestedFrom = 0;
    bool m_judged = false; // the answer was found to be file data, and the output is open
    QByteArray m_buffer;
    QByteArray m_validator;
    QElapsedTimer m_lastProgress;
};
