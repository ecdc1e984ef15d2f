// The About box: the program's icon, its version and a rights notice, and an
// OK button. Modal; laid out in dialog units of its own font.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class CAboutBox : public QDialog {
    Q_OBJECT

public:
    explicit CAboutBox(QWidget* pParent = nullptr);

    QLabel* IconLabel() const { return m_pIcon; }
    QLabel* VersionLabel() const { return m_pVersion; }
    QLabel* NoticeLabel() const { return m_pNotice; }
    QPushButton* OkButton() const { return m_pOk; }

private:
    QLabel* m_pIcon;
    QLabel* m_pVersion;
    QLabel* m_pNotice;
    QPushButton* m_pOk;
};
