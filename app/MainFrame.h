// The main window: title bar, menu, accelerators and the view widget.
//
// It owns the document and the view for its whole life. Its title follows the
// document's title ("Slabix - " and the title), which the view sets at every
// paint. It has no system menu, no minimise, maximise or close button, no
// toolbar and no status bar.
#pragma once

#include "app/SlabixDoc.h"
#include "platform/View.h"

#include <QKeySequence>
#include <QMainWindow>
#include <functional>
#include <memory>

class CViewWidget;
class QAction;

class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    CMainFrame(std::unique_ptr<CSlabixDoc> pDoc, std::unique_ptr<CView> pView, QWidget* pParent = nullptr);
    ~CMainFrame() override;

    static Qt::WindowFlags FrameFlags();
    // The window title for a document title.
    static QString FrameTitle(const CString& strDocTitle);

    CSlabixDoc* Document() const { return m_pDoc.get(); }
    CView* View() const { return m_pView.get(); }
    CViewWidget* ViewWidget() const { return m_pViewWidget; }

    // Shows the window maximised over the screen's available area, which it
    // also fills where no window manager maximises it.
    void ShowMaximised();
    // Shows a normal window of this size that the player cannot resize.
    void ShowSized(const QSize& size);

    // Commands.
    void OnFileNew();
    void OnFileOpen();
    void OnFileSave();
    void OnFilePrint();
    void OnAppAbout();

    // The file dialogs and the error report behind Open and Save. They return
    // the chosen path, or an empty string when the player cancels. Tests put
    // their own in place.
    std::function<QString()> m_fnAskOpenName;
    std::function<QString(const QString& strDefaultName)> m_fnAskSaveName;
    std::function<void(const QString& strText)> m_fnReportError;

protected:
    bool event(QEvent* pEvent) override;

private:
    void CreateMenu();
    void CreateAccelerators();
    QAction* AddAccelerator(const QKeySequence& keys, void (CMainFrame::*pfnCommand)());
    void OnNoCommand() {}
    void OnClose();

    std::unique_ptr<CSlabixDoc> m_pDoc;
    std::unique_ptr<CView> m_pView;  // destroyed before the document
    CViewWidget* m_pViewWidget;
};
