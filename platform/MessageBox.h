// The old desktop's message box: a warning with the program's name as its
// title and an OK button. Ctrl+C copies the box, title, text and buttons, to
// the clipboard, as the old desktop's boxes do.
#pragma once

#include <QString>

class QWidget;

// Shows the box modally over the parent (or on its own) until it is closed.
// Without a title, the application's name.
void AfxMessageBox(const QString& strText, QWidget* pParent = nullptr, const QString& strTitle = QString());
