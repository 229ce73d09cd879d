#pragma once

#include "buildpaths.h"
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QtTest>

// Runs the reference vendor server on a free loopback port for one test. The test certificate
// of its HTTPS mode and the authority that signed it live in its source folder.
class ServerProcess {
public:
    ServerProcess(const QString& dataFolder, const QStringList& extra = {}) {
        m_process.setProgram(buildpaths::resolve(VENDOR_SERVER_PATH));
        m_process.setArguments(QStringList{QStringLiteral("--data"), dataFolder,
                                           QStringLiteral("--port"), QStringLiteral("0")} +
                               extra);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return;
        QByteArray line;
        while (!line.contains('\n') && m_process.waitForReadyRead(5000))
            line += m_process.readAllStandardOutput();
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("(https?)://[^:]+:(\\d+)\\s*$"))
                .match(QString::fromLatin1(line));
        if (m.hasMatch()) {
            m_scheme = m.captured(1);
            m_port = m.captured(2).toInt();
        }
    }
    ~ServerProcess() {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    bool ok() const { return m_port > 0; }
    // With --verbose: how many requests so far had a target starting with `path`.
    int requestCount(const QString& path) {
        m_log += QString::fromUtf8(m_process.readAllStandardError());
        int n = 0;
        for (const QString& line : m_log.split(QLatin1Char('\n')))
            if (line.section(QLatin1Char(' '), 1).startsWith(path))
                ++n;
        return n;
    }
    QString base() const { return QStringLiteral("%1://127.0.0.1:%2").arg(m_scheme).arg(m_port); }
    int port() const { return m_port; }

private:
    QProcess m_process;
    int m_port = 0;
    QString m_scheme = QStringLiteral("http");
    QString m_log;
};
