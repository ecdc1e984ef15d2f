// A whole session of the game in one process, for the leak checker: the shell
// starts with its main window, the player plays a game through the window's
// key and mouse events, the job is scored, the page is printed to PDF, a second
// game starts and ends, a random-input run follows, and the program quits.
// Built in the sanitizer build, where LeakSanitizer reports at exit every
// block of the program's own that is still allocated (tools/lsan.supp names
// the few that system libraries keep).
//
// Exit status: 0 when every step did what it should (the leak checker then
// decides), 1 otherwise. With --leak-on-purpose it also leaks a view, to show
// that the checker and its suppressions still catch the program's own leaks.
#include "app/MainFrame.h"
#include "app/SlabixApp.h"
#include "app/ViewWidget.h"
#include "game/SlabixView.h"
#include "platform/Sound.h"
#include "tests/Isolation.h"
#include "tests/fuzz_driver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPrinter>
#include <QTemporaryDir>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

int g_nFailures = 0;

void Check(bool bOk, const char* pszWhat)
{
    if (!bOk) {
        std::fprintf(stderr, "leak session: FAILED: %s\n", pszWhat);
        ++g_nFailures;
    }
}

void Pump(int nMilliseconds)
{
    QElapsedTimer timer;
    timer.start();
    do
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    while (timer.elapsed() < nMilliseconds);
}

// Key and mouse input as the window system delivers it to the view widget, at
// client coordinates.
void Key(QWidget* pWidget, int nKey)
{
    QKeyEvent press(QEvent::KeyPress, nKey, Qt::NoModifier);
    QCoreApplication::sendEvent(pWidget, &press);
    QKeyEvent release(QEvent::KeyRelease, nKey, Qt::NoModifier);
    QCoreApplication::sendEvent(pWidget, &release);
}

void Mouse(QWidget* pWidget, QEvent::Type eType, CPoint point, Qt::MouseButtons buttons)
{
    const QPointF local(point.x + CViewWidget::EDGE, point.y + CViewWidget::EDGE);
    const Qt::MouseButton button = eType == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(eType, local, pWidget->mapToGlobal(local), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(pWidget, &event);
}

void Drag(QWidget* pWidget, CPoint from, CPoint to)
{
    Mouse(pWidget, QEvent::MouseButtonPress, from, Qt::LeftButton);
    Mouse(pWidget, QEvent::MouseMove, CPoint((from.x + to.x) / 2, (from.y + to.y) / 2), Qt::LeftButton);
    Mouse(pWidget, QEvent::MouseMove, to, Qt::LeftButton);
    Mouse(pWidget, QEvent::MouseButtonRelease, to, Qt::NoButton);
}

// The page of the current screen, printed the way the print command prints
// it, into a PDF file. Returns the number of pages in the file.
int PrintToPdf(CSlabixView& view, const QString& strPath)
{
    CPrintInfo info;
    info.m_bPreview = TRUE;  // no dialog
    if (!view.OnPreparePrinting(&info))
        return 0;
    std::unique_ptr<QPrinter> pPrepared(info.m_pPrinter);
    info.m_pPrinter = nullptr;

    QPrinter printer(QPrinter::HighResolution);
    printer.setResolution(300);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(strPath);
    info.m_bPreview = FALSE;
    info.m_pPrinter = &printer;
    const int nPrinted = view.PrintPages(printer, info);
    info.m_pPrinter = nullptr;

    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray pdf = file.readAll();
    if (!pdf.startsWith("%PDF"))
        return 0;
    return pdf.count("/Type /Page\n") == nPrinted ? nPrinted : -1;
}

void PlaySession(const QString& strDir)
{
    CServerSoundOutput sound;
    CSoundOutput* pPreviousSound = SetSoundOutput(&sound);

    CSlabixView* pView = nullptr;
    CSlabixApp theApp([&pView] {
        auto p = std::make_unique<CSlabixView>();
        pView = p.get();
        return p;
    });
    CCommandLineInfo cmdInfo;
    cmdInfo.windowSize = QSize(1024, 768);
    Check(theApp.InitInstance(cmdInfo) == TRUE, "the shell starts");
    CMainFrame* pFrame = nullptr;
    for (QWidget* pTop : QApplication::topLevelWidgets())
        if (auto* pCandidate = qobject_cast<CMainFrame*>(pTop))
            pFrame = pCandidate;
    if (!pFrame)
        return;
    Pump(200);
    QWidget* pWidget = pFrame->findChild<CViewWidget*>();
    Check(pView != nullptr && pWidget != nullptr, "the frame holds the game's view");
    if (!pView || !pWidget)
        return;
    Check(pView->m_nStage == 0 && pView->m_bScreenReady == 1 && pView->m_bHalted == 0,
          "the title screen is painted");

    Check(PrintToPdf(*pView, strDir + QStringLiteral("/title.pdf")) == 1, "the title page prints to PDF");

    // A game: drags, hand steps, the instructions page and back, the score.
    Key(pWidget, Qt::Key_Space);
    Check(pView->m_nStage == 1, "space starts play");
    for (int n = 0; n < 4; ++n) {
        const CRect rc = pView->m_rcStone[n];
        const CPoint from(rc.left + 5, rc.top + 5);
        Drag(pWidget, from, CPoint(from.x + 40 + 30 * n, from.y + 300));
    }
    for (int n = 0; n < 10; ++n)
        Key(pWidget, n % 2 ? Qt::Key_Right : Qt::Key_Down);
    Key(pWidget, Qt::Key_F1);
    Key(pWidget, Qt::Key_Space);
    Check(pView->m_nCost > 0, "the moves cost money");
    Check(PrintToPdf(*pView, strDir + QStringLiteral("/refused.pdf")) == 0, "printing is refused in play");
    Pump(50);
    Key(pWidget, Qt::Key_End);
    Check(pView->m_nStage == 2 || pView->m_nStage == 3, "End scores the job");
    Pump(50);
    Check(PrintToPdf(*pView, strDir + QStringLiteral("/results.pdf")) == 1, "the results page prints to PDF");

    // A second game, ended at once.
    Key(pWidget, Qt::Key_Space);
    Check(pView->m_nStage == 1 && pView->m_nCost == 0, "space starts the next game");
    Key(pWidget, Qt::Key_End);
    Pump(50);

    pFrame->close();
    Pump(50);
    SetSoundOutput(pPreviousSound);
}

// Random input at a view of its own, so the leak checker sees every path the
// driver reaches.
void RandomSession()
{
    CFuzzDriver driver;
    CInputSource src(4242);
    driver.Run(src, 3000);
    Check(driver.Violations() == 0, "the random-input run keeps the rules");
}

// Drops the only pointer to a new view.
[[gnu::noinline]] void LeakAView()
{
    static CSlabixView* volatile s_pView = nullptr;
    s_pView = new CSlabixView;
    Check(s_pView->m_nStage == 0, "a new view starts on the title screen");
    s_pView = nullptr;
}

}  // namespace

int main(int argc, char** argv)
{
    IsolateFromTheMachine();
    std::setlocale(LC_ALL, "C");
    const bool bLeakOnPurpose = argc > 1 && std::strcmp(argv[1], "--leak-on-purpose") == 0;
    {
        int nQtArgc = 1;
        QApplication app(nQtArgc, argv);
        if (bLeakOnPurpose) {
            LeakAView();
        } else {
            QTemporaryDir dir;
            Check(dir.isValid(), "a temporary folder");
            PlaySession(dir.path());
            RandomSession();
        }
    }
    std::printf("leak session: %s\n", g_nFailures == 0 ? "every step passed" : "steps failed");
    return g_nFailures == 0 ? 0 : 1;
}
