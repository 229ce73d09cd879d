#pragma once

#include <QSystemTrayIcon>

class QAction;
class QMenu;

// The tray icon: its menu opens the client or quits. Where the desktop has no tray the icon is
// simply not shown and the program runs on.
class SystemTray : public QSystemTrayIcon {
    Q_OBJECT
public:
    explicit SystemTray(QObject* parent = nullptr);
    ~SystemTray() override;

    QAction* showAction() const { return m_showAction; }
    QAction* quitAction() const { return m_quitAction; }

signals:
    void showWidget();
    void closeApp();

public slots:
    void doshowWidget();
    void docloseApp();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The menu's texts in the language now installed.
    void retranslate();

    QMenu* m_menu;
    QAction* m_showAction;
    QAction* m_quitAction;
};
