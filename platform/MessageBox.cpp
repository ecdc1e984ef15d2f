#include "platform/MessageBox.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>

namespace {

class CCopyingMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void keyPressEvent(QKeyEvent* pEvent) override
    {
        if (pEvent != QKeySequence::Copy) {
            QMessageBox::keyPressEvent(pEvent);
            return;
        }
        const QString strRule = QStringLiteral("---------------------------\n");
        QString strButtons;
        for (QAbstractButton* pButton : buttons())
            strButtons += pButton->text().remove(u'&') + QStringLiteral("   ");
        QGuiApplication::clipboard()->setText(strRule + windowTitle() + u'\n' + strRule + text() + u'\n' + strRule
                                              + strButtons.trimmed() + u'\n' + strRule);
        pEvent->accept();
    }
};

}  // namespace

void AfxMessageBox(const QString& strText, QWidget* pParent, const QString& strTitle)
{
    CCopyingMessageBox box(QMessageBox::Warning, strTitle.isEmpty() ? QCoreApplication::applicationName() : strTitle,
                           strText, QMessageBox::Ok, pParent);
    box.exec();
}
