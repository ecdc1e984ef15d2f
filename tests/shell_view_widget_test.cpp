// The view widget: the client area inside the edge, when the view's paint
// runs, key codes, and which mouse messages reach the view.
#include "app/ViewWidget.h"
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

// Logs what reaches it. Its paint marks the client area's corners; a key
// press draws one pixel as a handler does, through a client DC.
class WidgetProbeView : public CView {
public:
    void OnDraw(CDC* pDC) override
    {
        ++m_nDraws;
        CRect rc;
        GetClientRect(&rc);
        pDC->SetPixel(0, 0, RGB(255, 0, 0));
        pDC->SetPixel(rc.right - 1, rc.bottom - 1, RGB(0, 0, 255));
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

TEST_F(ShellViewWidget, ClientAreaInsideTheEdgeIsPaintedOnlyWhenNew)
{
    CRect rc;
    m_view.GetClientRect(&rc);
    EXPECT_EQ(rc, CRect(0, 0, 1020, 696));
    const QImage shot = m_widget.grab().toImage();
    EXPECT_EQ(shot.pixel(2, 2), 0xFFFF0000u) << "client pixel (0, 0)";
    EXPECT_EQ(shot.pixel(1021, 697), 0xFF0000FFu) << "the client area's last pixel";
    EXPECT_LT(QColor(shot.pixel(0, 0)).lightness(), QColor(shot.pixel(1023, 699)).lightness()) << "sunken edge";

    const int nDraws = m_view.m_nDraws;
    m_widget.repaint();
    EXPECT_EQ(m_view.m_nDraws, nDraws) << "an expose only shows the framebuffer";
    m_widget.RequestFullPaint();
    m_widget.repaint();
    EXPECT_EQ(m_view.m_nDraws, nDraws + 1);
    m_widget.resize(800, 600);
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_view.m_nDraws == nDraws + 2; }));
    m_view.GetClientRect(&rc);
    EXPECT_EQ(rc, CRect(0, 0, 796, 596));
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
    Send(QEvent::KeyPress, Qt::Key_Tab);
    EXPECT_EQ(m_view.m_log, (std::vector<std::string>{"K37/1/0", "K37/1/0", "K9/1/0"}));

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

TEST(ShellKeys, QtKeysMapToVirtualKeyCodes)
{
    const std::pair<int, UINT> keys[] = {
        {Qt::Key_Space, 0x20}, {Qt::Key_End, 0x23},    {Qt::Key_Home, 0x24},      {Qt::Key_Left, 0x25},
        {Qt::Key_Up, 0x26},    {Qt::Key_Right, 0x27},  {Qt::Key_Down, 0x28},      {Qt::Key_Insert, 0x2D},
        {Qt::Key_Delete, 0x2E}, {Qt::Key_F1, 0x70},    {Qt::Key_F12, 0x7B},       {Qt::Key_A, 0x41},
        {Qt::Key_Z, 0x5A},     {Qt::Key_0, 0x30},      {Qt::Key_9, 0x39},         {Qt::Key_Return, 0x0D},
        {Qt::Key_Enter, 0x0D}, {Qt::Key_Escape, 0x1B}, {Qt::Key_Tab, 0x09},       {Qt::Key_Backspace, 0x08},
        {Qt::Key_PageUp, 0x21}, {Qt::Key_PageDown, 0x22}, {Qt::Key_Shift, 0x10},  {Qt::Key_Control, 0x11},
        {Qt::Key_Alt, 0x12},   {Qt::Key_Asterisk, 0x38}, {Qt::Key_unknown, 0}};
    for (const auto& [nKey, nChar] : keys)
        EXPECT_EQ(CViewWidget::VirtualKeyFromQt(nKey, {}), nChar) << "Qt key 0x" << std::hex << nKey;
    EXPECT_EQ(CViewWidget::VirtualKeyFromQt(Qt::Key_7, Qt::KeypadModifier), 0x67u);
    EXPECT_EQ(CViewWidget::VirtualKeyFromQt(Qt::Key_Left, Qt::KeypadModifier), VK_LEFT);

    EXPECT_TRUE(CViewWidget::IsSystemKey(Qt::Key_End, Qt::AltModifier));
    EXPECT_TRUE(CViewWidget::IsSystemKey(Qt::Key_F10, {}));
    EXPECT_FALSE(CViewWidget::IsSystemKey(Qt::Key_End, Qt::AltModifier | Qt::ControlModifier));
    EXPECT_FALSE(CViewWidget::IsSystemKey(Qt::Key_End, Qt::ShiftModifier));
}

}  // namespace
