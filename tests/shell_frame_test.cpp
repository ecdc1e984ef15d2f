// The main frame, its menu and accelerators, the document commands, the About
// box and the start-up sequence, with a probe view in place of the game.
#include "app/AboutBox.h"
#include "app/MainFrame.h"
#include "app/SlabixApp.h"
#include "app/ViewWidget.h"

#include <QApplication>
#include <QElapsedTimer>
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

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
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

// The frame's dialogs, answered by the test: the names it chose, the
// suggested name noted, the messages kept.
class TestDialogs : public CFrameDialogs {
public:
    QString AskOpenName() override { return m_strChoice; }
    QString AskSaveName(const QString& strDefaultName) override
    {
        m_strSuggested = strDefaultName;
        return m_strChoice;
    }
    void ReportError(const QString& strText) override { m_errors << strText; }
    QString m_strChoice;
    QString m_strSuggested;
    QStringList m_errors;
};

class ShellFrame : public ::testing::Test {
protected:
    ShellFrame()
    {
        CSlabixApp::InitResources();
        auto pView = std::make_unique<FrameProbeView>();
        m_pView = pView.get();
        m_pFrame = std::make_unique<CMainFrame>(std::make_unique<CSlabixDoc>(), std::move(pView));
        auto pDialogs = std::make_unique<TestDialogs>();
        m_pDialogs = pDialogs.get();
        m_pFrame->SetDialogs(std::move(pDialogs));
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
    TestDialogs* m_pDialogs = nullptr;
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
    QStringList& errors = m_pDialogs->m_errors;
    m_pDialogs->m_strChoice = strPath;

    m_pView->GetDocument()->SetTitle("Slabix 12/01/02 10:00");
    m_pFrame->OnFileSave();
    EXPECT_EQ(m_pDialogs->m_strSuggested.toStdString(), "Slabix 12") << "cut at the first character unfit for a file name";
    EXPECT_EQ(QFileInfo(strPath).size(), 0);
    EXPECT_TRUE(errors.isEmpty());

    m_pDialogs->m_strChoice = dir.filePath("no/such/folder/job.sld");
    m_pFrame->OnFileSave();
    m_pFrame->OnFileOpen();
    ASSERT_EQ(errors.size(), 2);
    EXPECT_TRUE(errors[0].startsWith("Cannot save ") && errors[0].endsWith("\nNo such file or directory"))
        << errors[0].toStdString();
    EXPECT_TRUE(errors[1].startsWith("Cannot open ") && errors[1].endsWith("\nNo such file or directory"))
        << errors[1].toStdString();

    // Names that are there but are no file: a FIFO (whose open would wait for
    // a writer), a folder, a device. Each says why at once, on Open and Save.
    const QString strFifo = dir.filePath("pipe");
    ASSERT_EQ(mkfifo(QFile::encodeName(strFifo).constData(), 0600), 0);
    const std::pair<QString, QString> notFiles[] = {
        {strFifo, "It is a named pipe, not a file"}, {dir.path(), "Is a directory"},
        {"/dev/null", "It is a device, not a file"}};
    QElapsedTimer timer;
    timer.start();
    for (const auto& [strName, strWhy] : notFiles) {
        errors.clear();
        m_pDialogs->m_strChoice = strName;
        m_pFrame->OnFileOpen();
        m_pFrame->OnFileSave();
        ASSERT_EQ(errors.size(), 2) << strName.toStdString();
        EXPECT_EQ(errors[0], "Cannot open " + strName + ".\n" + strWhy);
        EXPECT_EQ(errors[1], "Cannot save " + strName + ".\n" + strWhy);
    }
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_TRUE(QFileInfo(strFifo).isFile() == false && QFileInfo(strFifo).exists()) << "the FIFO is left as it was";
    errors.clear();

    ShowActive();
    const int nDraws = m_pView->m_nDraws;
    m_pDialogs->m_strChoice.clear();  // cancelled
    m_pFrame->OnFileOpen();
    m_pFrame->OnFileSave();
    QTest::qWait(20);
    EXPECT_EQ(m_pView->m_nDraws, nDraws);
    m_pDialogs->m_strChoice = strPath;
    m_pFrame->OnFileOpen();
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_pView->m_nDraws == nDraws + 1; }));
    EXPECT_TRUE(errors.isEmpty());
}

// The command line's file name is the shell's bytes: a name that is no UTF-8
// opens, and shows with a stand-in where its bytes are no text.
TEST(ShellDocument, CommandLineNamesKeepTheirBytes)
{
    QTemporaryDir dir;
    const QByteArray latin1 = QFile::encodeName(dir.path()) + "/caf\xe9 \xff.sld";
    const int fd = ::open(latin1.constData(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const QString strName = CCommandLineInfo::FileNameFrom({"slabix", "-style", latin1});
    EXPECT_EQ(CSlabixDoc::FileNameToBytes(strName), latin1);
    CSlabixDoc doc;
    EXPECT_EQ(doc.OnOpenDocument(strName), "");
    ::unlink(latin1.constData());  // a name the folder's clean-up cannot spell
    const QByteArray utf8 = "caf\xc3\xa9 \xf0\x9f\x8e\xb2 \xed\xa0\x80 \xc0\xaf \x80";  // and a surrogate, an overlong
    const QString strMixed = CSlabixDoc::FileNameFromBytes(utf8);
    EXPECT_TRUE(strMixed.startsWith(QStringLiteral("café 🎲 ")));
    EXPECT_EQ(CSlabixDoc::FileNameToBytes(strMixed), utf8);
    EXPECT_EQ(CSlabixDoc::DisplayName(strMixed), QStringLiteral("café 🎲 \uFFFD\uFFFD\uFFFD \uFFFD\uFFFD \uFFFD"));
    const QString strMissing = CSlabixDoc::FileNameFromBytes(QFile::encodeName(dir.path()) + "/\xff");
    EXPECT_EQ(doc.OnOpenDocument(strMissing),
              "Cannot open " + dir.path() + "/\uFFFD.\nNo such file or directory");
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
