// The main window: title bar, menu, accelerators and the view widget.
//
// It owns the document and the view for its whole life. Its title follows the
// document's title ("Slabix - " and the title), which the view sets at every
// paint. It has no system menu, no minimise or close button, no toolbar and
// no status bar; its one button maximises it again.
//
// It asks for nothing but the maximised state (or, from the command line, a
// size); the window manager places and sizes it as it likes, and the view
// widget keeps the game's own screen whole inside whatever the window gets.
#pragma once

#include "app/SlabixDoc.h"
#include "platform/View.h"

#include <QKeySequence>
#include <QMainWindow>
#include <functional>
#include <memory>

class CViewWidget;
class QAction;
class QScreen;

class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    CMainFrame(std::unique_ptr<CSlabixDoc> pDoc, std::unique_ptr<CView> pView, QWidget* pParent = nullptr);
    ~CMainFrame() override;

    static Qt::WindowFlags FrameFlags();
    // The window title for a document title.
    static QString FrameTitle(const CString& strDocTitle);

    // Shows the window maximised; the game's screen is chosen inside it once
    // it has settled.
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
    // The screen the window is on, or its size or scale, has changed: the
    // game's screen is chosen again.
    void WatchScreen(QScreen* pScreen);
    void OnScreenChanged();

    void CreateMenu();
    void CreateAccelerators();
    QAction* AddAccelerator(const QKeySequence& keys, void (CMainFrame::*pfnCommand)());
    void OnNoCommand() {}
    void OnClose();

    std::unique_ptr<CSlabixDoc> m_pDoc;
    std::unique_ptr<CView> m_pView;  // destroyed before the document
    CViewWidget* m_pViewWidget;

    bool m_bMaximised = false;   // shown maximised, not at a size of its own
    QScreen* m_pScreen = nullptr;  // the screen whose changes are watched
};
