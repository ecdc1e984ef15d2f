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
#include <QSizeGrip>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <gtest/gtest.h>

#include <vector>

namespace {

// Counts paints (and names the document after them, as the game does),
// records keys and stops print jobs before any dialog.
class FrameProbeView : public CView {
public:
    void OnDraw(CDC*) override
    {
        ++m_nDraws;
        GetDocument()->SetTitle(QStringLiteral("painted %1").arg(m_nDraws));
    }
    void OnKeyDown(UINT nChar, UINT, UINT) override { m_keys.push_back(nChar); }
    BOOL OnPreparePrinting(CPrintInfo*) override
    {
        ++m_nPrintRequests;
        return FALSE;
    }

    // The keys that are not modifier keys on their own.
    std::vector<UINT> PlainKeys() const
    {
        std::vector<UINT> keys;
        for (UINT n : m_keys) {
            if (n != 0x10 && n != 0x11 && n != 0x12)
                keys.push_back(n);
        }
        return keys;
    }

    int m_nDraws = 0;
    int m_nPrintRequests = 0;
    std::vector<UINT> m_keys;
};

class ShellFrame : public ::testing::Test {
protected:
    void SetUp() override
    {
        CSlabixApp::InitResources();
        m_bQuitOnClose = QGuiApplication::quitOnLastWindowClosed();
        QGuiApplication::setQuitOnLastWindowClosed(false);
        auto pView = std::make_unique<FrameProbeView>();
        m_pView = pView.get();
        m_pFrame = std::make_unique<CMainFrame>(std::make_unique<CSlabixDoc>(), std::move(pView));
        m_pFrame->m_fnReportError = [this](const QString& strText) { m_errors << strText; };
    }
    void TearDown() override
    {
        m_pFrame.reset();
        QGuiApplication::setQuitOnLastWindowClosed(m_bQuitOnClose);
    }

    // Shown, active and painted once.
    void ShowActive()
    {
        m_pFrame->ShowSized(QSize(1024, 768));
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_pFrame.get()));
        ASSERT_TRUE(QTest::qWaitFor([this] { return m_pView->m_nDraws > 0; }));
    }
    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(m_pFrame->ViewWidget(), key, modifiers);
    }

    std::unique_ptr<CMainFrame> m_pFrame;
    FrameProbeView* m_pView = nullptr;
    QStringList m_errors;
    bool m_bQuitOnClose = true;
};

TEST_F(ShellFrame, MenuHasFileAndHelpWithTheirItemsInOrder)
{
    const QList<QAction*> menus = m_pFrame->menuBar()->actions();
    ASSERT_EQ(menus.size(), 2);
    EXPECT_EQ(menus[0]->text(), "&File");
    EXPECT_EQ(menus[1]->text(), "&Help");

    QMenu* pFile = menus[0]->menu();
    ASSERT_NE(pFile, nullptr);
    const QList<QAction*> file = pFile->actions();
    ASSERT_EQ(file.size(), 4);
    EXPECT_TRUE(file[0]->isSeparator());
    EXPECT_EQ(file[1]->text(), "&Print...");
    EXPECT_EQ(file[1]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_P));
    EXPECT_TRUE(file[2]->isSeparator());
    EXPECT_EQ(file[3]->text(), "E&xit");
    EXPECT_FALSE(pFile->separatorsCollapsible()) << "the leading separator must show";

    const QList<QAction*> help = menus[1]->menu()->actions();
    ASSERT_EQ(help.size(), 1);
    EXPECT_EQ(help[0]->text(), "&About Slabix...");
}

TEST_F(ShellFrame, TitleBarOnlyWithNoButtonsBarsOrSizingBorder)
{
    const Qt::WindowFlags flags = m_pFrame->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::Window));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(m_pFrame->findChild<QStatusBar*>(), nullptr);
    EXPECT_EQ(m_pFrame->findChild<QToolBar*>(), nullptr);
    EXPECT_EQ(m_pFrame->findChild<QSizeGrip*>(), nullptr);

    m_pFrame->ShowSized(QSize(640, 480));
    EXPECT_EQ(m_pFrame->size(), QSize(640, 480));
    EXPECT_EQ(m_pFrame->minimumSize(), m_pFrame->maximumSize()) << "a normal window must not be resizable";
    EXPECT_FALSE(m_pFrame->isMaximized());
}

TEST_F(ShellFrame, TitleIsUntitledUntilTheViewPaintsThenFollowsTheDocument)
{
    EXPECT_EQ(m_pFrame->windowTitle(), "Slabix - Untitled");
    m_pFrame->Document()->SetTitle("Tuesday");
    EXPECT_EQ(m_pFrame->windowTitle(), "Slabix - Tuesday");

    ShowActive();
    EXPECT_EQ(m_pFrame->windowTitle(), QStringLiteral("Slabix - painted %1").arg(m_pView->m_nDraws));
    EXPECT_EQ(m_pView->GetDocument(), m_pFrame->Document());
}

TEST_F(ShellFrame, EditAndPaneKeysAreUsedUpBeforeTheView)
{
    ShowActive();
    const std::pair<Qt::Key, Qt::KeyboardModifiers> unhandled[] = {
        {Qt::Key_Z, Qt::ControlModifier},      {Qt::Key_Backspace, Qt::AltModifier},
        {Qt::Key_X, Qt::ControlModifier},      {Qt::Key_Delete, Qt::ShiftModifier},
        {Qt::Key_C, Qt::ControlModifier},      {Qt::Key_Insert, Qt::ControlModifier},
        {Qt::Key_V, Qt::ControlModifier},      {Qt::Key_Insert, Qt::ShiftModifier},
        {Qt::Key_F6, Qt::NoModifier},          {Qt::Key_F6, Qt::ShiftModifier},
    };
    for (const auto& [key, modifiers] : unhandled) {
        EXPECT_NE(m_pFrame->Accelerator(QKeySequence(modifiers | key)), nullptr) << key;
        Press(key, modifiers);
    }
    EXPECT_TRUE(m_pView->PlainKeys().empty());

    // Keys that are no accelerator still reach the game, with or without Ctrl.
    Press(Qt::Key_Space);
    Press(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(m_pView->PlainKeys(), (std::vector<UINT>{VK_SPACE, VK_END}));
}

TEST_F(ShellFrame, PrintFromKeyAndMenuReachesTheView)
{
    ShowActive();
    Press(Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(m_pView->m_nPrintRequests, 1);
    m_pFrame->menuBar()->actions()[0]->menu()->actions()[1]->trigger();
    EXPECT_EQ(m_pView->m_nPrintRequests, 2);
    EXPECT_TRUE(m_pView->PlainKeys().empty());
}

TEST_F(ShellFrame, NewRepaintsTheWholeView)
{
    ShowActive();
    const int nDraws = m_pView->m_nDraws;
    Press(Qt::Key_N, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_pView->m_nDraws == nDraws + 1; }));
    EXPECT_EQ(m_pFrame->windowTitle(), QStringLiteral("Slabix - painted %1").arg(nDraws + 1));
    EXPECT_TRUE(m_pView->PlainKeys().empty());
}

TEST_F(ShellFrame, OpenRepaintsOnlyWhenAFileWasOpened)
{
    ShowActive();
    QTemporaryDir dir;
    QFile file(dir.filePath("stones.sld"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("anything");
    file.close();
    QString strChoice;
    m_pFrame->m_fnAskOpenName = [&] { return strChoice; };
    const int nDraws = m_pView->m_nDraws;

    m_pFrame->OnFileOpen();  // cancelled
    QTest::qWait(20);
    EXPECT_EQ(m_pView->m_nDraws, nDraws);

    strChoice = dir.filePath("missing.sld");
    m_pFrame->OnFileOpen();
    QTest::qWait(20);
    EXPECT_EQ(m_pView->m_nDraws, nDraws);
    ASSERT_EQ(m_errors.size(), 1);
    EXPECT_TRUE(m_errors[0].contains("missing.sld"));

    strChoice = file.fileName();
    m_pFrame->OnFileOpen();
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_pView->m_nDraws == nDraws + 1; }));
    EXPECT_EQ(m_errors.size(), 1);
}

TEST_F(ShellFrame, SaveWritesAnEmptyFileOrReportsWhyNot)
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
    m_pFrame->Document()->SetTitle("Slabix 12/01/02 10:00");
    m_pFrame->OnFileSave();
    EXPECT_EQ(strSuggested, "Slabix 12") << "the title is cut at the first character unfit for a file name";
    EXPECT_TRUE(m_errors.isEmpty());
    EXPECT_TRUE(QFile::exists(strPath));
    EXPECT_EQ(QFileInfo(strPath).size(), 0);

    strChoice = dir.filePath("no/such/folder/job.sld");
    m_pFrame->OnFileSave();
    ASSERT_EQ(m_errors.size(), 1);
    EXPECT_TRUE(m_errors[0].contains("job.sld"));

    strChoice.clear();  // cancelled
    m_pFrame->OnFileSave();
    EXPECT_EQ(m_errors.size(), 1);
}

TEST_F(ShellFrame, ExitAndAltF4CloseTheWindow)
{
    ShowActive();
    Press(Qt::Key_F4, Qt::AltModifier);
    EXPECT_FALSE(m_pFrame->isVisible());
    EXPECT_TRUE(m_pView->PlainKeys().empty());

    ShowActive();
    m_pFrame->menuBar()->actions()[0]->menu()->actions()[3]->trigger();
    EXPECT_FALSE(m_pFrame->isVisible());
}

TEST_F(ShellFrame, AboutRunsAModalBoxAndDestroysIt)
{
    QString strTitle;
    bool bModal = false;
    QTimer::singleShot(0, [&] {
        if (auto* pBox = qobject_cast<CAboutBox*>(QApplication::activeModalWidget())) {
            strTitle = pBox->windowTitle();
            bModal = pBox->isModal();
            pBox->OkButton()->click();
        }
    });
    m_pFrame->menuBar()->actions()[1]->menu()->actions()[0]->trigger();
    EXPECT_EQ(strTitle, "About Slabix");
    EXPECT_TRUE(bModal);
    EXPECT_TRUE(m_pFrame->findChildren<CAboutBox*>().isEmpty());
}

TEST(ShellAbout, ShowsIconVersionAndNoticeWithADefaultOk)
{
    CSlabixApp::InitResources();
    CAboutBox box;
    EXPECT_EQ(box.windowTitle(), "About Slabix");
    EXPECT_EQ(box.VersionLabel()->text(), "Slabix Version D605");
    EXPECT_EQ(box.VersionLabel()->textFormat(), Qt::PlainText);
    EXPECT_TRUE(box.NoticeLabel()->text().contains("2002"));
    EXPECT_FALSE(box.IconLabel()->pixmap().isNull());
    EXPECT_EQ(box.OkButton()->text(), "OK");
    EXPECT_TRUE(box.OkButton()->isDefault());

    // About 235 by 55 dialog units, everything inside and the texts unclipped.
    EXPECT_GE(box.width(), 300);
    EXPECT_LE(box.width(), 440);
    EXPECT_GE(box.height(), 70);
    EXPECT_LE(box.height(), 130);
    for (QWidget* pChild : {static_cast<QWidget*>(box.IconLabel()), static_cast<QWidget*>(box.VersionLabel()),
                            static_cast<QWidget*>(box.NoticeLabel()), static_cast<QWidget*>(box.OkButton())})
        EXPECT_TRUE(box.rect().contains(pChild->geometry())) << pChild->metaObject()->className();
    for (QLabel* pLabel : {box.VersionLabel(), box.NoticeLabel()})
        EXPECT_GE(pLabel->width(), pLabel->sizeHint().width()) << pLabel->text().toStdString();
    EXPECT_LT(box.IconLabel()->geometry().right(), box.VersionLabel()->geometry().left());

    box.show();
    QTest::mouseClick(box.OkButton(), Qt::LeftButton);
    EXPECT_EQ(box.result(), QDialog::Accepted);
    EXPECT_FALSE(box.isVisible());
}

class ShellApp : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_bQuitOnClose = QGuiApplication::quitOnLastWindowClosed();
        QGuiApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { QGuiApplication::setQuitOnLastWindowClosed(m_bQuitOnClose); }

    CSlabixApp m_app{[] { return std::make_unique<FrameProbeView>(); }};
    bool m_bQuitOnClose = true;
};

TEST_F(ShellApp, StartsMaximisedOverTheAvailableAreaUnderItsSettingsNames)
{
    ASSERT_TRUE(m_app.InitInstance(CCommandLineInfo()));
    CMainFrame* pFrame = m_app.MainFrame();
    ASSERT_NE(pFrame, nullptr);
    EXPECT_EQ(QCoreApplication::organizationName(), "Local AppWizard-Generated Applications");
    EXPECT_EQ(QCoreApplication::applicationName(), "Slabix");
    EXPECT_FALSE(QGuiApplication::windowIcon().isNull());
    EXPECT_TRUE(pFrame->isVisible());
    EXPECT_TRUE(pFrame->isMaximized());
    const QRect rcAvailable = pFrame->screen()->availableGeometry();
    EXPECT_EQ(pFrame->size(), rcAvailable.size());
    EXPECT_TRUE(pFrame->frameGeometry().contains(rcAvailable));
    EXPECT_EQ(pFrame->View()->GetDocument(), pFrame->Document());
    EXPECT_NE(dynamic_cast<FrameProbeView*>(pFrame->View()), nullptr);
}

TEST_F(ShellApp, WindowGeometryOptionGivesANormalWindowOfThatSize)
{
    CCommandLineInfo info;
    info.windowSize = CCommandLineInfo::WindowSizeFrom({"slabix", "-qwindowgeometry", "700x500+10+20"});
    ASSERT_TRUE(m_app.InitInstance(info));
    EXPECT_FALSE(m_app.MainFrame()->isMaximized());
    EXPECT_EQ(m_app.MainFrame()->size(), QSize(700, 500));
}

TEST(ShellCommandLine, FindsTheWindowSizeOptionAndTheFileName)
{
    using Info = CCommandLineInfo;
    EXPECT_EQ(Info::WindowSizeFrom({"slabix"}), std::nullopt);
    EXPECT_EQ(Info::WindowSizeFrom({"slabix", "--qwindowgeometry", "1024x768"}), QSize(1024, 768));
    EXPECT_EQ(Info::WindowSizeFrom({"slabix", "-qwindowgeometry", "+10+10"}), std::nullopt);
    EXPECT_EQ(Info::WindowSizeFrom({"slabix", "-qwindowgeometry"}), std::nullopt);
    EXPECT_EQ(Info::WindowSizeFrom({"slabix", "-geometry", "800x600"}), std::nullopt);
    EXPECT_EQ(Info::FileNameFrom({"slabix", "-x", "job.sld", "other"}), "job.sld");
    EXPECT_EQ(Info::FileNameFrom({"slabix", "-x"}), QString());
}

}  // namespace
