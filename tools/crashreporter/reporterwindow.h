#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;

// The reporter's window: what happened, where the dump is, and a way back into the program.
class CrashReporterWindow : public QWidget {
    Q_OBJECT
public:
    // `dumpPath` as the crash handler passed it (may be empty or missing); `programFolder` is the
    // folder the program is started from again.
    CrashReporterWindow(const QString& dumpPath, const QString& programFolder,
                        QWidget* parent = nullptr);

    QString dumpText() const;
    QString programPath() const { return m_programPath; }

    // Starts the program again; on success the window closes. The error text otherwise.
    QString restartProgram();

private slots:
    void on_pb_restart_clicked();
    void on_pb_openFolder_clicked();

private:
    QString m_dumpPath;
    QString m_programPath;
    QLabel* m_dumpLabel = nullptr;
    QLabel* m_errorLabel = nullptr;
};
