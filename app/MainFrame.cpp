#include "app/MainFrame.h"
#include "platform/MessageBox.h"

#include "app/AboutBox.h"
#include "app/ViewWidget.h"
#include "game/Product.h"

#include <QAction>
#include <QEvent>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QTimer>
#include <QWindow>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QScreen>

namespace {
const QString APP_TITLE = QStringLiteral(SLABIX_NAME);
}

CMainFrame::CMainFrame(std::unique_ptr<CSlabixDoc> pDoc, std::unique_ptr<CView> pView, QWidget* pParent)
    : QMainWindow(pParent, FrameFlags()), m_pDialogs(std::make_unique<CFrameDialogs>(this)),
      m_pDoc(std::move(pDoc)), m_pView(std::move(pView))
{
    m_pView->SetDocument(m_pDoc.get());
    m_pView->SetDialogParent(this);
    // A print job that fails says so in the frame's message.
    m_pView->SetErrorReport([this](const QString& strText) { m_pDialogs->ReportError(strText); });
    m_pViewWidget = new CViewWidget(m_pView.get(), this);
    m_pViewWidget->SetSizeTest([this] { return TakesClientSize(); });
    setCentralWidget(m_pViewWidget);
    CreateMenu();
    CreateAccelerators();

    m_pDoc->m_fnTitleChanged = [this](const CString& strTitle) { setWindowTitle(FrameTitle(strTitle)); };
    setWindowTitle(FrameTitle(m_pDoc->GetTitle()));
}

QString CFrameDialogs::AskOpenName()
{
    return QFileDialog::getOpenFileName(m_pParent, QStringLiteral("Open"), QString(), QStringLiteral("All Files (*)"));
}

QString CFrameDialogs::AskSaveName(const QString& strDefaultName)
{
    return QFileDialog::getSaveFileName(m_pParent, QStringLiteral("Save As"), strDefaultName,
                                        QStringLiteral("All Files (*)"));
}

void CFrameDialogs::ReportError(const QString& strText)
{
    AfxMessageBox(strText, m_pParent);
}

void CMainFrame::SetDialogs(std::unique_ptr<CFrameDialogs> pDialogs)
{
    if (pDialogs)
        m_pDialogs = std::move(pDialogs);
}

CMainFrame::~CMainFrame()
{
    m_pView->SetErrorReport(nullptr);
    m_pViewWidget->DetachView();
    m_pDoc->m_fnTitleChanged = nullptr;
}

Qt::WindowFlags CMainFrame::FrameFlags()
{
    // A title bar and nothing else: no system menu, no buttons.
    return Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
}

QString CMainFrame::FrameTitle(const CString& strDocTitle)
{
    return APP_TITLE + QStringLiteral(" - ") + strDocTitle;
}

void CMainFrame::CreateMenu()
{
    QMenu* pFile = menuBar()->addMenu(QStringLiteral("&File"));
    pFile->setSeparatorsCollapsible(false);  // the leading separator stays
    // The style draws a separator at the top of its row; without a margin
    // the leading one falls on the popup's border and cannot be seen.
    pFile->setContentsMargins(0, 2, 0, 0);
    pFile->addSeparator();
    QAction* pPrint = pFile->addAction(QStringLiteral("&Print..."), this, &CMainFrame::OnFilePrint);
    pPrint->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    pFile->addSeparator();
    pFile->addAction(QStringLiteral("E&xit"), this, &CMainFrame::OnClose);

    QMenu* pHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    pHelp->addAction(QStringLiteral("&About " SLABIX_NAME "..."), this, &CMainFrame::OnAppAbout);
}

QAction* CMainFrame::AddAccelerator(const QKeySequence& keys, void (CMainFrame::*pfnCommand)())
{
    auto* pAction = new QAction(this);
    pAction->setShortcut(keys);
    pAction->setShortcutContext(Qt::WindowShortcut);
    connect(pAction, &QAction::triggered, this, pfnCommand);
    addAction(pAction);
    return pAction;
}

void CMainFrame::CreateAccelerators()
{
    // Ctrl+P belongs to the Print menu item.
    AddAccelerator(QKeySequence(Qt::CTRL | Qt::Key_N), &CMainFrame::OnFileNew);
    AddAccelerator(QKeySequence(Qt::CTRL | Qt::Key_O), &CMainFrame::OnFileOpen);
    AddAccelerator(QKeySequence(Qt::CTRL | Qt::Key_S), &CMainFrame::OnFileSave);
    // Edit and pane commands that nothing here handles: the keys are used up.
    const QKeySequence unhandled[] = {
        QKeySequence(Qt::CTRL | Qt::Key_Z),     QKeySequence(Qt::ALT | Qt::Key_Backspace),
        QKeySequence(Qt::CTRL | Qt::Key_X),     QKeySequence(Qt::SHIFT | Qt::Key_Delete),
        QKeySequence(Qt::CTRL | Qt::Key_C),     QKeySequence(Qt::CTRL | Qt::Key_Insert),
        QKeySequence(Qt::CTRL | Qt::Key_V),     QKeySequence(Qt::SHIFT | Qt::Key_Insert),
        QKeySequence(Qt::Key_F6),               QKeySequence(Qt::SHIFT | Qt::Key_F6),
    };
    for (const QKeySequence& keys : unhandled)
        AddAccelerator(keys, &CMainFrame::OnNoCommand);
    // Closes the window even where no window manager offers the key.
    AddAccelerator(QKeySequence(Qt::ALT | Qt::Key_F4), &CMainFrame::OnClose);
}

void CMainFrame::ShowMaximised()
{
    const QScreen* pScreen = screen();
    const QRect rcAvailable = pScreen ? pScreen->availableGeometry() : QRect();
    // Maximised, the frame has no side borders: the client area is the
    // available width less the client edge.
    if (pScreen && rcAvailable.width() - 2 * CViewWidget::EDGE > MAX_CLIENT_WIDTH) {
        m_ePlacement = EPlacement::Window;
        m_bCentred = true;
        // The window manager's frame is not known before it has framed the
        // window; room is left meanwhile for a title bar as tall as the menu
        // bar, and the window is placed again once its frame is known.
        PlaceWindow(QMargins(0, menuBar()->sizeHint().height(), 0, 0));
        show();
        windowHandle()->installEventFilter(this);
    } else {
        m_ePlacement = EPlacement::Maximised;
        // The geometry first: where nothing maximises the window, it still
        // covers the screen's available area.
        if (pScreen) {
            setGeometry(rcAvailable);
            connect(pScreen, &QScreen::geometryChanged, this, &CMainFrame::OnScreenChanged);
            connect(pScreen, &QScreen::availableGeometryChanged, this, &CMainFrame::OnScreenChanged);
        }
        showMaximized();
    }
    activateWindow();
}

void CMainFrame::ShowSized(const QSize& size)
{
    m_ePlacement = EPlacement::Window;
    setFixedSize(size);
    show();
    windowHandle()->installEventFilter(this);
    activateWindow();
}

QMargins CMainFrame::Decoration() const
{
    const QRect rcFrame = frameGeometry();
    const QRect rcInside = geometry();
    return QMargins(rcInside.left() - rcFrame.left(), rcInside.top() - rcFrame.top(),
                    rcFrame.right() - rcInside.right(), rcFrame.bottom() - rcInside.bottom());
}

QRect CMainFrame::PlaceWindow(const QMargins& decoration)
{
    m_decorationPlaced = decoration;
    const QScreen* pScreen = screen();
    if (!pScreen)
        return geometry();
    const QRect rcAvailable = pScreen->availableGeometry();
    const int nWidth = MAX_CLIENT_WIDTH + 2 * CViewWidget::EDGE;
    const int nChrome = menuBar()->heightForWidth(nWidth) + 2 * CViewWidget::EDGE;
    const int nRoom = rcAvailable.height() - decoration.top() - decoration.bottom() - nChrome;
    const QSize size(nWidth, std::min(MAX_CLIENT_HEIGHT, nRoom) + nChrome);
    const QSize sizeOuter = size.grownBy(decoration);
    const QPoint ptTopLeft(rcAvailable.left() + (rcAvailable.width() - sizeOuter.width()) / 2 + decoration.left(),
                           rcAvailable.top() + std::max(0, (rcAvailable.height() - sizeOuter.height()) / 2)
                               + decoration.top());
    const QRect rcWindow(ptTopLeft, size);
    setFixedSize(size);
    setGeometry(rcWindow);
    return rcWindow;
}

bool CMainFrame::TakesClientSize()
{
    // Until the player's first key or click the window manager is still
    // placing the frame, and every size counts; from then on only the size
    // the frame keeps, or one a new screen brings.
    const bool bTakes = m_ePlacement == EPlacement::Free || !m_pViewWidget->InputSeen() || m_sizeKept.isEmpty()
                        || size() == m_sizeKept;
    if (bTakes)
        m_sizeKept = size();
    return bTakes;
}

void CMainFrame::changeEvent(QEvent* pEvent)
{
    QMainWindow::changeEvent(pEvent);
    if (pEvent->type() == QEvent::WindowStateChange)
        CheckPlacement();
}

void CMainFrame::moveEvent(QMoveEvent* pEvent)
{
    QMainWindow::moveEvent(pEvent);
    CheckPlacement();
}

void CMainFrame::resizeEvent(QResizeEvent* pEvent)
{
    QMainWindow::resizeEvent(pEvent);
    CheckPlacement();
}

void CMainFrame::OnScreenChanged()
{
    // A new screen size is no window manager's whim: the size the frame gets
    // for it stands, and the game's own check judges it.
    m_sizeKept = QSize();
    m_nRestores = 0;
    m_pViewWidget->update();
}

void CMainFrame::CheckPlacement()
{
    if (!isVisible())
        return;
    const Qt::WindowStates state = windowState();
    bool bRestore = false;
    if (state & Qt::WindowMinimized) {
        // Out of sight: nothing to put back.
    } else if (m_ePlacement == EPlacement::Maximised) {
        // The state may be the one the frame has just asked for, not yet the
        // window manager's; the size decides what reaches the view.
        if ((state & Qt::WindowMaximized) && !(state & Qt::WindowFullScreen)) {
            m_bMaximisedOnce = true;
            if (size() == m_sizeKept)
                m_nRestores = 0;
        } else {
            bRestore = m_bMaximisedOnce;
        }
    } else if (m_ePlacement == EPlacement::Window && m_bPlaced && m_bCentred && !m_pViewWidget->InputSeen()
               && Decoration() != m_decorationPlaced && ++m_nPlacings <= MAX_RESTORES) {
        // Some window managers make their frame known only after the window
        // shows, or change it then: placed again to fit, before any play.
        m_rcWindow = PlaceWindow(Decoration());
    } else if (m_ePlacement == EPlacement::Window && m_bPlaced) {
        bRestore = geometry() != m_rcWindow || (state & (Qt::WindowMaximized | Qt::WindowFullScreen));
        if (!bRestore)
            m_nRestores = 0;
    }
    if (bRestore && !m_bRestoreQueued) {
        m_bRestoreQueued = true;
        QTimer::singleShot(0, this, &CMainFrame::RestorePlacement);
    }
    // A size that stays reaches the view at its next paint.
    m_pViewWidget->update();
}

void CMainFrame::RestorePlacement()
{
    m_bRestoreQueued = false;
    const Qt::WindowStates state = windowState();
    if (state & Qt::WindowMinimized)
        return;
    // A window manager that will not have the frame back, try after try, has
    // the last word: the window's place becomes the one it insists on, and a
    // maximised frame takes the size it is given, as where nothing ever
    // maximised it.
    if (++m_nRestores > MAX_RESTORES) {
        m_nRestores = 0;
        if (m_ePlacement == EPlacement::Window)
            m_rcWindow.moveTopLeft(geometry().topLeft());
        else
            m_ePlacement = EPlacement::Free;
        m_pViewWidget->update();
        return;
    }
    if (m_ePlacement == EPlacement::Maximised) {
        if (!(state & Qt::WindowMaximized) || (state & Qt::WindowFullScreen))
            showMaximized();
    } else if (m_ePlacement == EPlacement::Window && m_bPlaced) {
        if (state & (Qt::WindowMaximized | Qt::WindowFullScreen))
            showNormal();
        if (geometry() != m_rcWindow)
            setGeometry(m_rcWindow);
    }
}

bool CMainFrame::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    // The window's first exposure: the window manager has framed and placed
    // it. The window of a large screen is placed once more to fit that frame;
    // then the place is kept.
    if (pWatched == windowHandle() && pEvent->type() == QEvent::Expose && !m_bPlaced
        && m_ePlacement == EPlacement::Window && windowHandle()->isExposed()) {
        m_rcWindow = m_bCentred ? PlaceWindow(Decoration()) : geometry();
        m_bPlaced = true;
    }
    return QMainWindow::eventFilter(pWatched, pEvent);
}

bool CMainFrame::event(QEvent* pEvent)
{
    // When a modal dialog (About, a file dialog, a message, printing) goes
    // away, the keyboard comes back here, even where no window manager hands
    // it back.
    if (pEvent->type() == QEvent::WindowUnblocked && isVisible())
        activateWindow();
    return QMainWindow::event(pEvent);
}

void CMainFrame::OnClose()
{
    close();
}

void CMainFrame::OnFileNew()
{
    if (!m_pDoc->OnNewDocument())
        return;
    m_pDoc->SetTitle(QStringLiteral("Untitled"));
    m_pViewWidget->RequestFullPaint();
}

void CMainFrame::OnFileOpen()
{
    const QString strPath = m_pDialogs->AskOpenName();
    if (strPath.isEmpty())
        return;
    const QString strError = m_pDoc->OnOpenDocument(strPath);
    if (!strError.isEmpty()) {
        m_pDialogs->ReportError(strError);
        return;
    }
    m_pViewWidget->RequestFullPaint();
}

void CMainFrame::OnFileSave()
{
    // The suggested name is the document title up to the first character
    // that cannot be part of a file name.
    QString strName = m_pDoc->GetTitle();
    const qsizetype nBad = strName.indexOf(QRegularExpression(QStringLiteral("[:/\\\\]")));
    if (nBad >= 0)
        strName.truncate(nBad);
    const QString strPath = m_pDialogs->AskSaveName(strName.trimmed());
    if (strPath.isEmpty())
        return;
    const QString strError = m_pDoc->OnSaveDocument(strPath);
    if (!strError.isEmpty())
        m_pDialogs->ReportError(strError);
}

void CMainFrame::OnFilePrint()
{
    m_pView->OnFilePrint();
}

void CMainFrame::OnAppAbout()
{
    CAboutBox box(this);
    box.exec();
}
