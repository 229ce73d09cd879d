#pragma once

#include "online/onlinesettings.h"

#include <QFile>
#include <QLoggingCategory>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QStringList>

class QThread;

// The resumable ranged download that the three downloaders share. It resumes a partial file
// from its last whole 100 KiB block, asks for the rest with "Range: bytes=N-" and appends what
// arrives. What differs between the downloaders is data (`Variant`) and what follows the last
// byte (`afterComplete`).
class ChunkedDownloader : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kBlock = 102400;
    // Sizes are counted in 32-bit signed integers: no file may reach this many bytes.
    static constexpr qint64 kMaxFileSize = 2147483647;

    // Output file name from a URL: the last path segment before any query, or empty.
    static QString fileNameFromUrl(const QString& url);

    struct Variant {
        QString outputDir;      // absolute, trailing "/"
        QString fallbackPrefix; // "file-", "tupdate-", "tupload-"
        QStringList createDirs; // created when missing, in order
        QStringList cleanDirs;  // plain files removed, except the output file
        const QLoggingCategory& (*category)() = nullptr;
        // Removed whole on a bad HTTP status or an output file that cannot be opened; when
        // empty, the output file is removed and downLoadFailed emitted instead.
        QString removeOnBadStatus;
        // When set, start() logs it and fails instead of sending anything.
        QString refusal;

        // The update and sync layout: output in root/sub/, both created and cleaned.
        static Variant housekeeping(const QString& root, const QString& sub,
                                    const QString& fallbackPrefix,
                                    const QLoggingCategory& (*category)());
    };

    QString outputPath() const { return outFile.fileName(); }
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
    // settings it takes the stall timeout.
    ChunkedDownloader(QThread* thread, const QString& url, const Variant& variant,
                      const OnlineSettings& settings, QObject* parent);

    // After the last byte (file closed, downLoadFinished emitted) and after a 416.
    virtual void afterComplete() {}

    QString url;
    QNetworkAccessManager manager;
    QNetworkReply* reply = nullptr;
    qint32 already = 0;
    qint32 full = 0;
    QFile outFile;
    QMutex mutex;

private slots:
    void replyEnded();
    void dataArrived();

private:
    void prepare(const Variant& variant);
    void sendRequestCore();
    // Opens the output for appending; a 200 answer to a range request empties it first.
    bool openOutput(int status);
    void restartIfRangeIgnored(int status);
    // Appends what the reply holds and counts it. False when the download has been given up
    // (the output cannot take the bytes); the failure is reported then.
    bool appendReply();
    // False, with the download given up, when a 206 answer covers another range than asked.
    bool rangeMatches();
    void releaseReply(bool abort = true);
    const QLoggingCategory& category() const { return m_variant.category(); }
    void badStatusPath();
    // The validator (ETag, else Last-Modified) of the version the partial file holds is kept
    // beside it, so that a resume can ask for the rest of that version only (If-Range).
    QString validatorPath() const;
    void keepValidator();
    void dropValidator();
    static constexpr qint64 kMaxValidatorSize = 512;
    // Logs the bad HTTP status and takes the bad-status path.
    void rejectStatus(int status);
    // Logs the failure of the part that started at `already` and emits downLoadFailed.
    void reportFailure(int code);

    Variant m_variant;
    int m_stallTimeoutMs;

    qint32 m_requestedFrom = 0;
    bool m_statusChecked = false;
    bool m_rangeChecked = false;
    qint64 m_receivedThisReply = 0;
    QByteArray m_buffer;
    QByteArray m_validator;
};
