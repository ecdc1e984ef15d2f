// The view widget: the game's screen chosen once and shown whole in any area,
// when the view's paint runs, key codes, and which mouse messages reach the
// view, in game pixels.
#include "app/ViewWidget.h"
#include "game/SlabixView.h"
#include "tests/TestSupport.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QTest>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Logs what reaches it. Its paint marks the client area's corners with red
// and blue squares; a key press draws one pixel as a handler does, through a
// client DC.
class WidgetProbeView : public CView {
public:
    void OnDraw(CDC* pDC) override
    {
        ++m_nDraws;
        CRect rc;
        GetClientRect(&rc);
        for (int i = 0; i < 64; ++i) {
            pDC->SetPixel(i % 8, i / 8, RGB(255, 0, 0));
            pDC->SetPixel(rc.right - 1 - i % 8, rc.bottom - 1 - i / 8, RGB(0, 0, 255));
        }
    }
    void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags) override
    {
        m_log.push_back("K" + std::to_string(nChar) + "/" + std::to_string(nRepCnt) + "/" + std::to_string(nFlags));
        CClientDC dc(this);
        dc.SetPixel(100, 50, RGB(0, 255, 0));
    }
    void OnLButtonDown(UINT, CPoint pt) override { Log("D", pt); }
    void OnLButtonUp(UINT, CPoint pt) override { Log("U", pt); }
    void OnMouseMove(UINT, CPoint pt) override { Log("M", pt); }
    void Log(const char* pszWhat, CPoint pt) { m_log.push_back(pszWhat + std::to_string(pt.x) + "," + std::to_string(pt.y)); }

    int m_nDraws = 0;
    std::vector<std::string> m_log;
};

class PaintSpy : public QObject {
public:
    bool eventFilter(QObject*, QEvent* pEvent) override
    {
        if (pEvent->type() == QEvent::Paint)
            m_region += static_cast<QPaintEvent*>(pEvent)->region();
        return false;
    }
    QRegion m_region;
};

class ShellViewWidget : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_widget.resize(1024, 700);
        m_widget.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_widget));
        ASSERT_TRUE(QTest::qWaitFor([this] { return m_view.m_nDraws > 0; }));
    }
    void Send(QEvent::Type type, QPoint pt, Qt::MouseButton button = Qt::LeftButton)
    {
        QMouseEvent event(type, pt, m_widget.mapToGlobal(pt), type == QEvent::MouseMove ? Qt::NoButton : button,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button), {});
        QCoreApplication::sendEvent(&m_widget, &event);
    }
    void Send(QEvent::Type type, int nKey, Qt::KeyboardModifiers modifiers = {}, bool bRepeat = false)
    {
        QKeyEvent event(type, nKey, modifiers, QString(), bRepeat);
        QCoreApplication::sendEvent(&m_widget, &event);
    }

    WidgetProbeView m_view;
    CViewWidget m_widget{&m_view};
};

TEST_F(ShellViewWidget, TheScreenIsChosenOnceAndShownWholeInAnyArea)
{
    CRect rc;
    m_view.GetClientRect(&rc);
    EXPECT_EQ(rc, CRect(0, 0, 1020, 696)) << "the area inside the edge";
    QImage shot = m_widget.grab().toImage();
    EXPECT_EQ(shot.pixel(2, 2), 0xFFFF0000u) << "client pixel (0, 0)";
    EXPECT_EQ(shot.pixel(1021, 697), 0xFF0000FFu) << "the client area's last pixel";
    EXPECT_LT(QColor(shot.pixel(0, 0)).lightness(), QColor(shot.pixel(1023, 699)).lightness()) << "sunken edge";

    const int nDraws = m_view.m_nDraws;
    m_widget.repaint();
    EXPECT_EQ(m_view.m_nDraws, nDraws) << "an expose only shows the framebuffer";
    m_widget.RequestFullPaint();
    m_widget.repaint();
    EXPECT_EQ(m_view.m_nDraws, nDraws + 1);

    // A larger area: the same screen, centred, inside its edge; the margins
    // in the window's colour, and no message from them reaches the view.
    m_widget.resize(1400, 900);
    shot = m_widget.grab().toImage();
    m_view.GetClientRect(&rc);
    EXPECT_EQ(rc, CRect(0, 0, 1020, 696));
    EXPECT_EQ(m_view.m_nDraws, nDraws + 1);
    const QPoint ptOrigin((1400 - 1020) / 2, (900 - 696) / 2);
    EXPECT_EQ(shot.pixel(ptOrigin), 0xFFFF0000u);
    EXPECT_EQ(shot.pixel(ptOrigin + QPoint(1019, 695)), 0xFF0000FFu);
    EXPECT_EQ(shot.pixel(ptOrigin + QPoint(1021, 697)), m_widget.palette().color(QPalette::Light).rgb());
    EXPECT_EQ(shot.pixel(5, 5), m_widget.palette().color(QPalette::Window).rgb());
    EXPECT_EQ(shot.pixel(1395, 895), m_widget.palette().color(QPalette::Window).rgb());
    Send(QEvent::MouseButtonPress, QPoint(5, 5));
    Send(QEvent::MouseMove, ptOrigin - QPoint(1, 1));  // on the edge
    Send(QEvent::MouseButtonPress, ptOrigin + QPoint(7, 3));
    Send(QEvent::MouseButtonRelease, ptOrigin + QPoint(1019, 695));

    // Too small an area: the whole screen scaled down to fit, corners and
    // all, and points mapped back to game pixels.
    m_widget.resize(514, 352);
    shot = m_widget.grab().toImage();
    m_view.GetClientRect(&rc);
    EXPECT_EQ(rc, CRect(0, 0, 1020, 696));
    const QSize sizeShown = QSize(1020, 696).scaled(510, 348, Qt::KeepAspectRatio);
    const QPoint ptShown((514 - sizeShown.width()) / 2, (352 - sizeShown.height()) / 2);
    EXPECT_GT(qRed(shot.pixel(ptShown + QPoint(1, 1))), 200);
    EXPECT_LT(qBlue(shot.pixel(ptShown + QPoint(1, 1))), 50);
    EXPECT_GT(qBlue(shot.pixel(ptShown + QPoint(sizeShown.width() - 2, sizeShown.height() - 2))), 200);
    Send(QEvent::MouseMove, ptShown + QPoint(sizeShown.width() / 2, sizeShown.height() / 2));
    EXPECT_EQ(m_view.m_nDraws, nDraws + 1) << "no new size ever reaches the view";
    ASSERT_EQ(m_view.m_log.size(), 3u);
    EXPECT_EQ(m_view.m_log[0], "D7,3");
    EXPECT_EQ(m_view.m_log[1], "U1019,695");
    EXPECT_NEAR(std::stoi(m_view.m_log[2].substr(1)), 510, 3) << m_view.m_log[2];
}

// A maximised window gives the screen at its first exposure. Any other is
// taken from the window's size once no new size has come for the quiet
// period, or once the longest wait is over; later sizes change nothing until
// the screen is chosen again.
TEST(ShellScreen, ChosenOnceTheWindowHasSettled)
{
    WidgetProbeView maximised;
    CViewWidget widgetMaximised(&maximised);
    widgetMaximised.SetSettleTime(60000, 60000);
    widgetMaximised.showMaximized();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widgetMaximised));
    ASSERT_TRUE(QTest::qWaitFor([&] { return maximised.m_nDraws == 1; })) << "no wait for a maximised window";
    CRect rc;
    maximised.GetClientRect(&rc);
    EXPECT_EQ(rc.Width(), widgetMaximised.width() - 4);

    WidgetProbeView view;
    CViewWidget widget(&view);
    widget.SetSettleTime(150, 60000);
    widget.resize(1100, 800);
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    QTest::qWait(50);
    widget.resize(1300, 900);
    QTest::qWait(100);
    EXPECT_FALSE(widget.ScreenChosen()) << "the wait starts again at every new size";
    EXPECT_TRUE(view.FrameBuffer().isNull());
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.m_nDraws == 1; }));
    view.GetClientRect(&rc);
    EXPECT_EQ(rc, CRect(0, 0, 1296, 896));

    widget.resize(1100, 800);
    QTest::qWait(200);
    view.GetClientRect(&rc);
    EXPECT_EQ(rc, CRect(0, 0, 1296, 896));
    widget.SetSettleTime(60000, 100);
    widget.ChooseScreenAgain();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.m_nDraws == 2; })) << "the longest wait ends a quiet period";
    view.GetClientRect(&rc);
    EXPECT_EQ(rc, CRect(0, 0, 1096, 796)) << "a new screen is judged by the view";
}

// Whole device pixels per game pixel, the screen's size from the area the
// window has, and where the screen is shown.
TEST(ShellScreen, WholeScaleSizeAndPlace)
{
    // Maximised client areas in device pixels: the desktop's scale rounded,
    // lowered while the screen would be narrower than 1020.
    EXPECT_EQ(CViewWidget::WholeScale(1.0, 1916), 1);
    EXPECT_EQ(CViewWidget::WholeScale(1.25, 1916), 1);
    EXPECT_EQ(CViewWidget::WholeScale(1.5, 1916), 1) << "1920x1080 at 1.5";
    EXPECT_EQ(CViewWidget::WholeScale(2.0, 1916), 1) << "1920x1080 at 2";
    EXPECT_EQ(CViewWidget::WholeScale(1.5, 2876), 2) << "2880x1620 at 1.5";
    EXPECT_EQ(CViewWidget::WholeScale(2.0, 3836), 2) << "3840x2160 at 2";
    EXPECT_EQ(CViewWidget::WholeScale(2.0, 2047), 1);
    EXPECT_EQ(CViewWidget::WholeScale(2.0, 2048), 2);
    EXPECT_EQ(CViewWidget::WholeScale(3.0, 3072), 3);

    // Capped at 1600 x 1200, and tall enough for the patio and its outline
    // above the status panel: 640 rows and two vertical units.
    const CSlabixView game;
    EXPECT_EQ(CViewWidget::ScreenSize(QSize(1020, 700), 1, game), QSize(1020, 700));
    EXPECT_EQ(CViewWidget::ScreenSize(QSize(1276, 628), 1, game), QSize(1276, 640 + 2 * 13));
    EXPECT_EQ(CViewWidget::ScreenSize(QSize(1916, 630), 1, game), QSize(1600, 640 + 2 * 16));
    EXPECT_EQ(CViewWidget::ScreenSize(QSize(1020, 600), 1, game), QSize(1020, 640 + 2 * 12));
    EXPECT_EQ(CViewWidget::ScreenSize(QSize(3832, 2800), 2, game), QSize(1600, 1200));
    EXPECT_EQ(CViewWidget::ScreenSize(QSize(1000, 500), 1, game), QSize(1000, 500)) << "the view's notice decides";

    // Centred as whole blocks where they fit, else scaled down to fit.
    EXPECT_EQ(CViewWidget::ShownRect(QRect(2, 30, 1916, 1046), QSize(1600, 1046), 1), QRect(160, 30, 1600, 1046));
    EXPECT_EQ(CViewWidget::ShownRect(QRect(4, 60, 3832, 2092), QSize(1600, 1046), 2), QRect(320, 60, 3200, 2092));
    EXPECT_EQ(CViewWidget::ShownRect(QRect(0, 0, 1276, 640), QSize(1276, 666), 1), QRect(25, 0, 1226, 640));
}

TEST_F(ShellViewWidget, KeysReachTheViewAndItsDrawingIsShownWithoutAPaint)
{
    QTest::qWait(20);
    PaintSpy spy;
    m_widget.installEventFilter(&spy);
    const int nDraws = m_view.m_nDraws;
    Send(QEvent::KeyPress, Qt::Key_Left);
    Send(QEvent::KeyPress, Qt::Key_Left, {}, true);  // auto-repeat
    Send(QEvent::KeyRelease, Qt::Key_Left);
    Send(QEvent::KeyPress, Qt::Key_End, Qt::AltModifier);  // a system key
    Send(QEvent::KeyPress, Qt::Key_Tab);  // no key of the game's
    EXPECT_EQ(m_view.m_log, (std::vector<std::string>{"K37/1/0", "K37/1/0"}));

    EXPECT_TRUE(QTest::qWaitFor([&] { return !spy.m_region.isEmpty(); }));
    EXPECT_TRUE(spy.m_region.contains(QPoint(102, 52))) << "the changed pixel, moved by the edge";
    EXPECT_FALSE(spy.m_region.contains(QPoint(500, 400))) << "only what changed is shown again";
    EXPECT_EQ(m_view.m_nDraws, nDraws);
}

TEST_F(ShellViewWidget, OnlyLeftButtonMessagesOverTheClientAreaReachTheView)
{
    Send(QEvent::MouseButtonPress, QPoint(12, 12));
    Send(QEvent::MouseMove, QPoint(500, 300));
    Send(QEvent::MouseMove, QPoint(1030, 300));  // dragged out of the window
    Send(QEvent::MouseButtonRelease, QPoint(1030, 10));
    Send(QEvent::MouseMove, QPoint(1, 1));  // on the edge
    Send(QEvent::MouseButtonPress, QPoint(1, 300));
    Send(QEvent::MouseButtonPress, QPoint(300, 300), Qt::RightButton);
    Send(QEvent::MouseButtonRelease, QPoint(300, 300), Qt::RightButton);
    Send(QEvent::MouseButtonPress, QPoint(1021, 697));  // the last client pixel
    Send(QEvent::MouseButtonRelease, QPoint(1021, 697));
    EXPECT_EQ(m_view.m_log, (std::vector<std::string>{"D10,10", "M498,298", "D1019,695", "U1019,695"}));
}

TEST(ShellKeys, TheGamesKeysMapToVirtualKeyCodes)
{
    const std::pair<int, UINT> keys[] = {
        {Qt::Key_Space, 0x20}, {Qt::Key_End, 0x23},   {Qt::Key_Left, 0x25}, {Qt::Key_Up, 0x26},
        {Qt::Key_Right, 0x27}, {Qt::Key_Down, 0x28},  {Qt::Key_F1, 0x70},   {Qt::Key_Home, 0},
        {Qt::Key_A, 0},        {Qt::Key_Tab, 0},      {Qt::Key_F2, 0},      {Qt::Key_unknown, 0}};
    for (const auto& [nKey, nChar] : keys)
        EXPECT_EQ(CViewWidget::VirtualKeyFromQt(nKey), nChar) << "Qt key 0x" << std::hex << nKey;

    EXPECT_TRUE(CViewWidget::IsSystemKey(Qt::Key_End, Qt::AltModifier));
    EXPECT_TRUE(CViewWidget::IsSystemKey(Qt::Key_F10, {}));
    EXPECT_FALSE(CViewWidget::IsSystemKey(Qt::Key_End, Qt::AltModifier | Qt::ControlModifier));
    EXPECT_FALSE(CViewWidget::IsSystemKey(Qt::Key_End, Qt::ShiftModifier));
}

}  // namespace
