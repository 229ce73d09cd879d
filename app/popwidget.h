#pragma once

#include <QDialog>
#include <QSize>
#include <QString>

class TavixWebView;

// A frameless popup dialog filled by one browser view. Activating it makes it the window that
// window commands act on.
class PopWidget : public QDialog {
    Q_OBJECT
public:
    PopWidget(QWidget* parent, const QString& url, const QSize& size);

    TavixWebView* view() const { return m_view; }
    QString url() const { return m_url; }

    // Makes this window the window-command target.
    void makeWindowCommandTarget();

signals:
    // This popup became the active window.
    void popupActivated(PopWidget* popup);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QString m_url;
    TavixWebView* m_view;
};
