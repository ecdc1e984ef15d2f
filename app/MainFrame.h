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
#include <memory>

class CViewWidget;
class QAction;
class QScreen;

// The dialogs behind Open and Save and the message that reports a failure.
// The frame holds one; tests put their own in its place.
class CFrameDialogs {
public:
    explicit CFrameDialogs(QWidget* pParent = nullptr) : m_pParent(pParent) {}
    virtual ~CFrameDialogs() = default;
    // The chosen path, or an empty string when the player cancels.
    virtual QString AskOpenName();
    // The chosen path, suggesting the default name; empty when cancelled.
    // The dialog asks before it replaces an existing file.
    virtual QString AskSaveName(const QString& strDefaultName);
    // A warning message box with the text and an OK button.
    virtual void ReportError(const QString& strText);

private:
    QWidget* m_pParent;
};

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

    // The dialogs of Open, Save and of a failed command (printing too).
    void SetDialogs(std::unique_ptr<CFrameDialogs> pDialogs);

protected:
    bool event(QEvent* pEvent) override;
    bool eventFilter(QObject* pObject, QEvent* pEvent) override;

private:
    // The screen the window is on, or its size or scale, has changed: the
    // game's screen is chosen again.
    void WatchScreen(QScreen* pScreen);
    void AskMaximisedAgain();
    void OnScreenChanged();

    void CreateMenu();
    void CreateAccelerators();
    QAction* AddAccelerator(const QKeySequence& keys, void (CMainFrame::*pfnCommand)());
    void OnNoCommand() {}
    void OnClose();

    std::unique_ptr<CFrameDialogs> m_pDialogs;
    std::unique_ptr<CSlabixDoc> m_pDoc;
    std::unique_ptr<CView> m_pView;  // destroyed before the document
    CViewWidget* m_pViewWidget;

    bool m_bMaximised = false;   // shown maximised, not at a size of its own
    bool m_bAskedAgain = false;  // the maximised state asked for again once shown
    QScreen* m_pScreen = nullptr;  // the screen whose changes are watched
};
