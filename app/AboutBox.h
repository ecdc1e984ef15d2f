// The About box: the program's icon, its version and a rights notice, and an
// OK button. Modal; laid out in dialog units of its own font.
#pragma once

#include <QDialog>

class CAboutBox : public QDialog {
    Q_OBJECT

public:
    explicit CAboutBox(QWidget* pParent = nullptr);
};
