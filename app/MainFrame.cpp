#include "app/MainFrame.h"

#include "app/AboutBox.h"
#include "app/ViewWidget.h"
#include "game/Product.h"
#include "platform/MessageBox.h"

#include <QAction>
#include <QEvent>
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
    AfxMessageBox(strText, m_pParent, APP_TITLE);
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
    // A title bar with no system menu, no minimise and no close button. X
    // window managers grant the maximised state only to a window that offers
    // to be maximised, and a player who restores the window needs the way
    // back: the maximise button stays.
    return Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMaximizeButtonHint;
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
    m_bMaximised = true;
    // The size it has when a window manager restores it: well inside the
    // screen, whatever the window manager's frame around it.
    if (const QScreen* pScreen = screen())
        resize(pScreen->availableGeometry().size() * 3 / 4);
    showMaximized();
    windowHandle()->installEventFilter(this);
    WatchScreen(windowHandle()->screen());
    connect(windowHandle(), &QWindow::screenChanged, this, [this](QScreen* pScreen) {
        WatchScreen(pScreen);
        OnScreenChanged();
    });
    activateWindow();
}

void CMainFrame::ShowSized(const QSize& size)
{
    // The game's screen is the client area of this window; nothing the
    // screen does changes that.
    setFixedSize(size);
    m_pViewWidget->SetScreenIsWholeArea(true);
    show();
    activateWindow();
}

void CMainFrame::WatchScreen(QScreen* pScreen)
{
    if (m_pScreen)
        disconnect(m_pScreen, nullptr, this, nullptr);
    m_pScreen = pScreen;
    if (!m_pScreen)
        return;
    // A new resolution or scale changes the logical geometry.
    connect(m_pScreen, &QScreen::geometryChanged, this, &CMainFrame::OnScreenChanged);
    connect(m_pScreen, &QObject::destroyed, this, [this] { m_pScreen = nullptr; });
}

void CMainFrame::OnScreenChanged()
{
    // The window manager sizes the window for the new screen as it sizes any
    // maximised window; asked again, in case it gave the state up.
    if (!(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        showMaximized();
    m_pViewWidget->ChooseScreenAgain();
}

bool CMainFrame::eventFilter(QObject* pObject, QEvent* pEvent)
{
    if (pObject == windowHandle() && pEvent->type() == QEvent::Expose)
        AskMaximisedAgain();
    return QMainWindow::eventFilter(pObject, pEvent);
}

void CMainFrame::AskMaximisedAgain()
{
    // A window manager may grant no state that a window asks for before it
    // is placed, and show it restored: the maximised state is asked for again,
    // once, when the window is on the screen, restored, and before the game's
    // screen is chosen (a window the player restores shows the game
    // already).
    const QWindow* pWindow = windowHandle();
    if (!m_bMaximised || m_bAskedAgain || m_pViewWidget->ScreenChosen() || !pWindow || !pWindow->isExposed() ||
        (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)))
        return;
    m_bAskedAgain = true;
    QMetaObject::invokeMethod(this, [this] {
        showMaximized();
        // The wait for the window to settle is a wait for this answer.
        m_pViewWidget->ChooseScreenAgain();
    }, Qt::QueuedConnection);
}

bool CMainFrame::event(QEvent* pEvent)
{
    if (pEvent->type() == QEvent::WindowStateChange)
        AskMaximisedAgain();
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
