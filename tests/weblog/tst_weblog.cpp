#include "weblog/weblog.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// web.log is written by a thread of its own: no line may be lost or overtaken.
class WeblogTest : public QObject {
    Q_OBJECT

    static QStringList lines(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList out;
        for (const QByteArray& line : file.readAll().split('\n'))
            if (!line.isEmpty())
                out << QString::fromUtf8(line);
        return out;
    }

private slots:
    // Lines of several threads at once: every one is there, each thread's in its order, in
    // the form the log has always had; flush() returns when they are written.
    void everyLineIsKeptInOrder() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("web.log"));
        weblog::install(path);
        constexpr int kThreads = 4;
        constexpr int kLines = 500;
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < kLines; ++i)
                    qCInfo(lcDevicefilter) << "keyboard come" << t << i;
            });
        for (std::thread& t : threads)
            t.join();
        qCInfo(lcTavix, "last");
        weblog::flush();
        const QStringList got = lines(path);
        QCOMPARE(got.size(), kThreads * kLines + 1);
        static const QRegularExpression form(
            QStringLiteral("^\\[\\d{4}/\\d{6}\\.\\d{3}:INFO:devicefilter\\] keyboard come (\\d) "
                           "(\\d+)$"));
        std::vector<int> next(kThreads, 0);
        for (int i = 0; i < got.size() - 1; ++i) {
            const QRegularExpressionMatch m = form.match(got.at(i));
            QVERIFY2(m.hasMatch(), qPrintable(got.at(i)));
            const int t = m.captured(1).toInt();
            QCOMPARE(m.captured(2).toInt(), next[size_t(t)]++);
        }
        QVERIFY(got.last().endsWith(QStringLiteral(":INFO:tavix] last")));
        weblog::uninstall();
    }

    // Lines logged under a HoldWrites reach the file: flush() does not wait for another
    // thread's hold to end, and once a hold goes its lines are written without a flush.
    void heldLinesAreWritten() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("web.log"));
        weblog::install(path);
        std::mutex mutex;
        std::condition_variable changed;
        bool logged = false, release = false;
        std::thread holder([&] {
            const weblog::HoldWrites hold;
            qCInfo(lcDevicefilter) << "held";
            std::unique_lock<std::mutex> lock(mutex);
            logged = true;
            changed.notify_all();
            changed.wait(lock, [&] { return release; });
        });
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return logged; });
        }
        weblog::flush();
        QCOMPARE(lines(path).size(), 1);
        {
            std::lock_guard<std::mutex> lock(mutex);
            release = true;
        }
        changed.notify_all();
        holder.join();
        QTest::qWait(200); // past the writer's lingering: only a wake-up brings it back
        {
            const weblog::HoldWrites hold;
            qCInfo(lcTavix) << "after the hold";
        }
        QTRY_COMPARE(lines(path).size(), 2);
        weblog::uninstall();
    }

    // At exit what was logged last is written before the handler goes; lines after that go to
    // Qt's usual output, not to the file.
    void uninstallWritesWhatIsLeft() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("web.log"));
        weblog::install(path);
        for (int i = 0; i < 2000; ++i)
            qCInfo(lcUpdatesystem) << "line" << i;
        weblog::uninstall();
        QCOMPARE(lines(path).size(), 2000);
        QVERIFY(lines(path).last().endsWith(QStringLiteral("] line 1999")));
        qCInfo(lcUpdatesystem) << "after";
        QCOMPARE(lines(path).size(), 2000);
    }
};

QTEST_GUILESS_MAIN(WeblogTest)
#include "tst_weblog.moc"
