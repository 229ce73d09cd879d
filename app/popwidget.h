#pragma once

#include <QDialog>
#include <QSize>
#include <QString>

class QToolButton;
class TavixWebView;

// A frameless popup dialog filled by one browser view. Activating it makes it the window that
// window commands act on. Having no frame, it carries its own close control; Esc closes it too
// (when its page does not take the key for itself).
class PopWidget : public QDialog {
    Q_OBJECT
public:
    PopWidget(QWidget* parent, const QString& url, const QSize& size);

    TavixWebView* view() const { return m_view; }
    QString url() const { return m_url; }
    QToolButton* closeControl() const { return m_close; }

    // Makes this window the window-command target.
    void makeWindowCommandTarget();

    // The close control, Esc and the system's close ask to close; the owner decides.
    void reject() override;

signals:
    // This popup became the active window.
    void popupActivated(PopWidget* popup);
    // The user asked to close this popup.
    void closeRequested(PopWidget* popup);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void placeCloseControl();

    QString m_url;
    TavixWebView* m_view;
    QToolButton* m_close;
};
