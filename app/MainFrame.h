// The main window: title bar, menu, accelerators and the view widget.
//
// It owns the document and the view for its whole life. Its title follows the
// document's title ("Slabix - " and the title), which the view sets at every
// paint. It has no system menu, no minimise, maximise or close button, no
// toolbar and no status bar.
//
// It keeps the size and the place it was shown at. Window managers still
// offer to restore, maximise or resize it; whatever they do, the frame puts
// itself back, and the game hears of no client size on the way.
#pragma once

#include "app/SlabixDoc.h"
#include "platform/View.h"

#include <QKeySequence>
#include <QMainWindow>
#include <memory>

class CViewWidget;
class QAction;

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

    // The widest and the tallest client area the game takes.
    static constexpr int MAX_CLIENT_WIDTH = 1600;
    static constexpr int MAX_CLIENT_HEIGHT = 1200;

    // Shows the window maximised over the screen's available area, which it
    // also fills where no window manager maximises it. Where the maximised
    // client area would be wider than the game takes, shows instead a window
    // with the largest client area the game takes that fits the available
    // area, centred on the screen.
    void ShowMaximised();
    // Shows a normal window of this size that the player cannot resize.
    void ShowSized(const QSize& size);
    // Asked by the view widget when its client size is not the view's:
    // whether the frame's size now is one to hand the game. It is, before the
    // player's first key or click, and then only the size the frame keeps
    // (or any, where no window manager lets the frame keep one).
    bool TakesClientSize();

    // Commands.
    void OnFileNew();
    void OnFileOpen();
    void OnFileSave();
    void OnFilePrint();
    void OnAppAbout();

    // The dialogs of Open, Save and of a failed command (printing too).
    CFrameDialogs& Dialogs() { return *m_pDialogs; }
    void SetDialogs(std::unique_ptr<CFrameDialogs> pDialogs);

protected:
    bool event(QEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;
    void moveEvent(QMoveEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    enum class EPlacement { Free, Maximised, Window };

    // The window of ShowMaximised on a large screen: its size and centred
    // place on the available area, with room for the window manager's frame
    // around it. Returns the geometry asked for.
    QRect PlaceWindow(const QMargins& decoration);
    // The window manager's frame around the window, as far as it is known.
    QMargins Decoration() const;
    // After every change of state, place or size: notes what the window
    // manager granted, and when the frame is not where it belongs, puts it
    // back once the events of the moment are handled.
    void CheckPlacement();
    void RestorePlacement();
    void OnScreenChanged();

    // Restores in a row that may fail before the frame gives in.
    static constexpr int MAX_RESTORES = 4;

    void CreateMenu();
    void CreateAccelerators();
    QAction* AddAccelerator(const QKeySequence& keys, void (CMainFrame::*pfnCommand)());
    void OnNoCommand() {}
    void OnClose();

    std::unique_ptr<CFrameDialogs> m_pDialogs;
    std::unique_ptr<CSlabixDoc> m_pDoc;
    std::unique_ptr<CView> m_pView;  // destroyed before the document
    CViewWidget* m_pViewWidget;

    EPlacement m_ePlacement = EPlacement::Free;
    bool m_bMaximisedOnce = false;   // the window manager has granted the maximised state
    bool m_bCentred = false;         // the window is centred on its screen
    bool m_bPlaced = false;          // the window's place is known and kept
    bool m_bRestoreQueued = false;
    int m_nRestores = 0;             // restores in a row so far
    int m_nPlacings = 0;             // placings again to fit a frame made known late
    QMargins m_decorationPlaced;     // the frame the window was last placed for
    QRect m_rcWindow;                // the window's geometry, once placed
    QSize m_sizeKept;                // the frame's size when the view last took one
};
