// The main frame, its menu and accelerators, the document commands, the About
// box and the start-up sequence, with a probe view in place of the game.
#include "app/AboutBox.h"
#include "app/MainFrame.h"
#include "app/SlabixApp.h"
#include "app/ViewWidget.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Counts paints (naming the document after them, as the game does), records
// keys other than lone modifiers, and stops print jobs before any dialog.
class FrameProbeView : public CView {
public:
    void OnDraw(CDC*) override { GetDocument()->SetTitle(QStringLiteral("painted %1").arg(++m_nDraws)); }
    void OnKeyDown(UINT nChar, UINT, UINT) override
    {
        if (nChar < 0x10 || nChar > 0x12)
            m_keys.push_back(nChar);
    }
    BOOL OnPreparePrinting(CPrintInfo*) override
    {
        ++m_nPrints;
        return FALSE;
    }
    int m_nDraws = 0;
    int m_nPrints = 0;
    std::vector<UINT> m_keys;
};

// The main frame the application object made and showed.
CMainFrame* TheFrame()
{
    for (QWidget* pWidget : QApplication::topLevelWidgets())
        if (auto* pFrame = qobject_cast<CMainFrame*>(pWidget); pFrame && pFrame->isVisible())
            return pFrame;
    return nullptr;
}

// Closing the last window must not quit the shared test application.
class NoQuitOnClose {
public:
    NoQuitOnClose() { QGuiApplication::setQuitOnLastWindowClosed(false); }
    ~NoQuitOnClose() { QGuiApplication::setQuitOnLastWindowClosed(true); }
};

class ShellFrame : public ::testing::Test {
protected:
    ShellFrame()
    {
        CSlabixApp::InitResources();
        auto pView = std::make_unique<FrameProbeView>();
        m_pView = pView.get();
        m_pFrame = std::make_unique<CMainFrame>(std::make_unique<CSlabixDoc>(), std::move(pView));
        m_pFrame->m_fnReportError = [this](const QString& strText) { m_errors << strText; };
    }
    void ShowActive()
    {
        m_pFrame->ShowSized(QSize(1024, 768));
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_pFrame.get()));
        ASSERT_TRUE(QTest::qWaitFor([this] { return m_pView->m_nDraws > 0; }));
    }
    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(m_pFrame->findChild<CViewWidget*>(), key, modifiers);
    }
    QAction* MenuItem(int nMenu, int nItem) const
    {
        return m_pFrame->menuBar()->actions()[nMenu]->menu()->actions()[nItem];
    }

    NoQuitOnClose m_noQuit;
    std::unique_ptr<CMainFrame> m_pFrame;
    FrameProbeView* m_pView = nullptr;
    QStringList m_errors;
};

TEST_F(ShellFrame, MenuWindowFlagsAndTitle)
{
    const QList<QAction*> menus = m_pFrame->menuBar()->actions();
    ASSERT_EQ(menus.size(), 2);
    EXPECT_EQ(menus[0]->text(), "&File");
    EXPECT_EQ(menus[1]->text(), "&Help");
    const QList<QAction*> file = menus[0]->menu()->actions();
    ASSERT_EQ(file.size(), 4);
    EXPECT_TRUE(file[0]->isSeparator());
    EXPECT_EQ(file[1]->text(), "&Print...");
    EXPECT_EQ(file[1]->shortcut(), QKeySequence("Ctrl+P"));
    EXPECT_TRUE(file[2]->isSeparator());
    EXPECT_EQ(file[3]->text(), "E&xit");
    // The leading separator is drawn: a line between the popup's border and
    // "Print...", not on the border itself.
    QMenu* pFile = menus[0]->menu();
    pFile->popup(QPoint(0, 0));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(pFile));
    const QImage shot = pFile->grab().toImage();
    pFile->hide();
    const QRect rcPrint = pFile->actionGeometry(file[1]);
    const QRgb crBackground = shot.pixel(shot.width() / 2, rcPrint.bottom());
    int nLineRows = 0;
    for (int y = 1; y < rcPrint.top(); ++y)
        nLineRows += shot.pixel(shot.width() / 2, y) != crBackground;
    EXPECT_GE(nLineRows, 1) << "no line shows above \"Print...\"";
    ASSERT_EQ(menus[1]->menu()->actions().size(), 1);
    EXPECT_EQ(MenuItem(1, 0)->text(), "&About Slabix...");

    // A title bar with the maximise button alone.
    const Qt::WindowFlags flags = m_pFrame->windowFlags();
    EXPECT_EQ(flags & (Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowMaximizeButtonHint),
              Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::FramelessWindowHint));
    EXPECT_EQ(m_pFrame->findChild<QStatusBar*>(), nullptr);

    // Untitled until the view's first paint names the document; a normal
    // window keeps its size.
    EXPECT_EQ(m_pFrame->windowTitle().toStdString(), "Slabix - Untitled");
    ShowActive();
    EXPECT_EQ(m_pFrame->windowTitle().toStdString(), "Slabix - painted " + std::to_string(m_pView->m_nDraws));
    EXPECT_EQ(m_pFrame->minimumSize(), QSize(1024, 768));
    EXPECT_EQ(m_pFrame->maximumSize(), QSize(1024, 768));
}

TEST_F(ShellFrame, AcceleratorsActOrAreUsedUpBeforeTheView)
{
    ShowActive();
    const std::pair<Qt::Key, Qt::KeyboardModifiers> unhandled[] = {
        {Qt::Key_Z, Qt::ControlModifier}, {Qt::Key_Backspace, Qt::AltModifier}, {Qt::Key_X, Qt::ControlModifier},
        {Qt::Key_Delete, Qt::ShiftModifier}, {Qt::Key_C, Qt::ControlModifier}, {Qt::Key_Insert, Qt::ControlModifier},
        {Qt::Key_V, Qt::ControlModifier}, {Qt::Key_Insert, Qt::ShiftModifier}, {Qt::Key_F6, Qt::NoModifier},
        {Qt::Key_F6, Qt::ShiftModifier}};
    for (const auto& [key, modifiers] : unhandled)
        Press(key, modifiers);
    EXPECT_TRUE(m_pView->m_keys.empty());

    Press(Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(m_pView->m_nPrints, 1);
    MenuItem(0, 1)->trigger();
    EXPECT_EQ(m_pView->m_nPrints, 2);

    const int nDraws = m_pView->m_nDraws;
    Press(Qt::Key_N, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_pView->m_nDraws == nDraws + 1; })) << "New repaints the view";

    // Other keys reach the game, with Ctrl or without.
    Press(Qt::Key_Space);
    Press(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(m_pView->m_keys, (std::vector<UINT>{VK_SPACE, VK_END}));

    Press(Qt::Key_F4, Qt::AltModifier);
    EXPECT_FALSE(m_pFrame->isVisible());
    ShowActive();
    MenuItem(0, 3)->trigger();
    EXPECT_FALSE(m_pFrame->isVisible()) << "Exit";
}

TEST_F(ShellFrame, OpenAndSaveGoThroughFilesAndReportFailures)
{
    QTemporaryDir dir;
    const QString strPath = dir.filePath("job.sld");
    QFile old(strPath);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("previous contents");
    old.close();
    QString strSuggested;
    QString strChoice = strPath;
    m_pFrame->m_fnAskSaveName = [&](const QString& strDefault) {
        strSuggested = strDefault;
        return strChoice;
    };
    m_pFrame->m_fnAskOpenName = [&] { return strChoice; };

    m_pView->GetDocument()->SetTitle("Slabix 12/01/02 10:00");
    m_pFrame->OnFileSave();
    EXPECT_EQ(strSuggested.toStdString(), "Slabix 12") << "cut at the first character unfit for a file name";
    EXPECT_EQ(QFileInfo(strPath).size(), 0);
    EXPECT_TRUE(m_errors.isEmpty());

    strChoice = dir.filePath("no/such/folder/job.sld");
    m_pFrame->OnFileSave();
    m_pFrame->OnFileOpen();
    ASSERT_EQ(m_errors.size(), 2);
    EXPECT_TRUE(m_errors[0].contains("job.sld") && m_errors[1].contains("job.sld"));

    ShowActive();
    const int nDraws = m_pView->m_nDraws;
    strChoice.clear();  // cancelled
    m_pFrame->OnFileOpen();
    m_pFrame->OnFileSave();
    QTest::qWait(20);
    EXPECT_EQ(m_pView->m_nDraws, nDraws);
    strChoice = strPath;
    m_pFrame->OnFileOpen();
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_pView->m_nDraws == nDraws + 1; }));
    EXPECT_EQ(m_errors.size(), 2);
}

TEST_F(ShellFrame, AboutBoxIsModalWithIconTextsAndDefaultOk)
{
    QString strTitle;
    QTimer::singleShot(0, [&] {
        auto* pBox = qobject_cast<CAboutBox*>(QApplication::activeModalWidget());
        if (!pBox)
            return;
        strTitle = pBox->windowTitle();
        // The icon, then the two lines of text, in plain text.
        const QList<QLabel*> labels = pBox->findChildren<QLabel*>();
        ASSERT_EQ(labels.size(), 3);
        QLabel* pIcon = labels[0];
        QLabel* pVersion = labels[1];
        EXPECT_EQ(pVersion->text(), "Slabix Version D605");
        EXPECT_EQ(pVersion->textFormat(), Qt::PlainText);
        EXPECT_TRUE(labels[2]->text().contains("2002"));
        EXPECT_EQ(labels[2]->textFormat(), Qt::PlainText);
        EXPECT_FALSE(pIcon->pixmap().isNull());
        EXPECT_LT(pIcon->geometry().right(), pVersion->geometry().left());
        EXPECT_GE(pVersion->width(), pVersion->sizeHint().width());
        EXPECT_LT(pVersion->geometry().bottom(), labels[2]->geometry().top());
        EXPECT_NEAR(pBox->width(), 350, 60);
        EXPECT_NEAR(pBox->height(), 90, 25);
        auto* pOk = pBox->findChild<QPushButton*>();
        ASSERT_NE(pOk, nullptr);
        EXPECT_EQ(pOk->text(), "OK");
        EXPECT_TRUE(pOk->isDefault());
        QTest::mouseClick(pOk, Qt::LeftButton);
    });
    MenuItem(1, 0)->trigger();
    EXPECT_EQ(strTitle, "About Slabix");
    EXPECT_TRUE(m_pFrame->findChildren<CAboutBox*>().isEmpty()) << "destroyed once closed";
}

TEST(ShellApp, StartsMaximisedUnlessAWindowSizeIsAsked)
{
    NoQuitOnClose noQuit;
    FrameProbeView* pView = nullptr;
    auto makeView = [&pView] {
        auto p = std::make_unique<FrameProbeView>();
        pView = p.get();
        return p;
    };
    {
        CSlabixApp app(makeView);
        ASSERT_TRUE(app.InitInstance(CCommandLineInfo()));
        EXPECT_EQ(QCoreApplication::organizationName(), "Local AppWizard-Generated Applications");
        EXPECT_EQ(QCoreApplication::applicationName(), "Slabix");
        EXPECT_FALSE(QGuiApplication::windowIcon().isNull());
        CMainFrame* pFrame = TheFrame();
        ASSERT_NE(pFrame, nullptr);
        EXPECT_TRUE(pFrame->isVisible() && pFrame->isMaximized());
        const QRect rcAvailable = pFrame->screen()->availableGeometry();
        EXPECT_TRUE(QTest::qWaitFor([&] { return pFrame->frameGeometry() == rcAvailable; }));
        ASSERT_NE(pView->GetDocument(), nullptr);
        pView->GetDocument()->SetTitle("the view's document");
        EXPECT_EQ(pFrame->windowTitle(), "Slabix - the view's document");
    }
    {
        CSlabixApp sized(makeView);
        CCommandLineInfo info;
        info.windowSize = CCommandLineInfo::WindowSizeFrom({"slabix", "-qwindowgeometry", "700x500+10+20"});
        ASSERT_TRUE(sized.InitInstance(info));
        CMainFrame* pFrame = TheFrame();
        ASSERT_NE(pFrame, nullptr);
        EXPECT_FALSE(pFrame->isMaximized());
        EXPECT_EQ(pFrame->size(), QSize(700, 500));
    }

    EXPECT_EQ(CCommandLineInfo::WindowSizeFrom({"slabix", "--qwindowgeometry", "1024x768"}), QSize(1024, 768));
    EXPECT_EQ(CCommandLineInfo::WindowSizeFrom({"slabix", "-qwindowgeometry", "+10+10"}), std::nullopt);
    EXPECT_EQ(CCommandLineInfo::WindowSizeFrom({"slabix", "-qwindowgeometry"}), std::nullopt);
    EXPECT_EQ(CCommandLineInfo::FileNameFrom({"slabix", "-x", "job.sld", "other"}), "job.sld");
}

// Whatever is done to the window, the game's screen stays as it was chosen;
// the frame does not fight back. A new screen asks for the maximised state
// again, and a screen of the same size changes nothing.
TEST(ShellApp, TheWindowNeverChangesTheGamesScreen)
{
    NoQuitOnClose noQuit;
    FrameProbeView* pView = nullptr;
    CSlabixApp app([&pView] {
        auto p = std::make_unique<FrameProbeView>();
        pView = p.get();
        return p;
    });
    ASSERT_TRUE(app.InitInstance(CCommandLineInfo()));
    CMainFrame* pFrame = TheFrame();
    ASSERT_NE(pFrame, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(pFrame));
    ASSERT_TRUE(QTest::qWaitFor([&] { return pView->m_nDraws > 0; }));
    auto* pViewWidget = pFrame->findChild<CViewWidget*>();
    CRect rcFirst;
    pView->GetClientRect(&rcFirst);
    EXPECT_EQ(rcFirst, CRect(0, 0, pViewWidget->width() - 4, pViewWidget->height() - 4));
    const int nDraws = pView->m_nDraws;
    emit pFrame->screen()->geometryChanged(pFrame->screen()->geometry());
    QTest::qWait(250);
    CRect rc;
    pView->GetClientRect(&rc);
    EXPECT_EQ(rc, rcFirst);
    EXPECT_EQ(pView->m_nDraws, nDraws) << "a screen of the same size changes nothing";

    pFrame->showNormal();
    pFrame->resize(500, 400);
    QTest::qWait(50);
    EXPECT_FALSE(pFrame->isMaximized()) << "the window manager's word stands";
    pFrame->showFullScreen();
    QTest::qWait(50);
    pView->GetClientRect(&rc);
    EXPECT_EQ(rc, rcFirst);
    EXPECT_EQ(pView->m_nDraws, nDraws) << "no paint for a new window size";

    // A new screen: maximised again, and the screen chosen from that.
    pFrame->showNormal();
    pFrame->resize(1100, 700);
    emit pFrame->screen()->geometryChanged(pFrame->screen()->geometry());
    EXPECT_TRUE(QTest::qWaitFor([&] { return pFrame->isMaximized(); }));
    EXPECT_TRUE(QTest::qWaitFor([&] {
        pView->GetClientRect(&rc);
        return rc == CRect(0, 0, pViewWidget->width() - 4, pViewWidget->height() - 4);
    }));
}

}  // namespace
