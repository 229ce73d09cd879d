#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The no-device dialog: "no device detected", closed by either button.
class infoDlg : public QDialog {
    Q_OBJECT
public:
    explicit infoDlg(QWidget* parent = nullptr);

    QString text() const;

public slots:
    void on_btn_closeSetuper_clicked();
    void on_pb_ok_clicked();

private:
    QLabel* m_text;
    QPushButton* m_close;
    QPushButton* m_ok;
};
