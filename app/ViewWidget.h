// The window the game view lives in.
//
// It owns nothing of the game: it shows the view's framebuffer, the game's
// screen, and hands the view the messages it handles, in the game's pixels.
// A full paint (erase and OnDraw) runs only when the game's screen is new or
// a command asks for one; the view's handlers draw into the framebuffer
// themselves and report what they changed, which is then shown.
//
// The game's screen is chosen once, from the area inside the 2-pixel sunken
// edge, in whole device pixels per game pixel: at the first exposure in which
// the window is maximised or full screen, or has the size it was given on
// purpose; a window that has asked to be maximised is waited for until it
// is, any other until no new size has come for a short quiet period, and
// neither longer than a second after the first exposure. Whatever the window
// manager does to the window afterwards, the screen stays: it is shown
// centred in the area the widget has, each game pixel a block of k x k device
// pixels, the rest in the window's background; where the area is too small
// for that, the whole screen is shown scaled down to fit. Only a change of
// the screen the window is on chooses it again (ChooseScreenAgain).
#pragma once

#include "platform/View.h"
#include "platform/WinTypes.h"

#include <QDeadlineTimer>
#include <QRect>
#include <QTimer>
#include <QTransform>
#include <QWidget>

class CViewWidget : public QWidget {
    Q_OBJECT

public:
    static constexpr int EDGE = 2;  // width of the sunken client edge, in game pixels

    // The widest and the tallest screen the game takes.
    static constexpr int MAX_SCREEN_WIDTH = 1600;
    static constexpr int MAX_SCREEN_HEIGHT = 1200;
    // The narrowest screen the game plays on; a whole scale is lowered rather
    // than giving a screen narrower than this.
    static constexpr int MIN_SCREEN_WIDTH = 1020;

    explicit CViewWidget(CView* pView, QWidget* pParent = nullptr);
    ~CViewWidget() override;

    // Lets go of the view before it is destroyed; the widget then stays blank.
    void DetachView();

    // The whole game's screen gets the view's paint (erase and OnDraw) at the
    // next paint event.
    void RequestFullPaint();
    // The screen the window is on has changed, or the window asked the window
    // manager again for its state: the game's screen is chosen (again) once
    // the window has settled, and the view judges a new size.
    void ChooseScreenAgain();
    // How long a window that is not maximised must go without a new size
    // before the game's screen is chosen from it, and how long it is waited
    // for at the most.
    void SetSettleTime(int nQuietMs, int nLongestMs)
    {
        m_nQuietMs = nQuietMs;
        m_nLongestMs = nLongestMs;
    }
    // The game's screen is the whole area inside the edge, however large or
    // small: the window was given its size on purpose.
    void SetScreenIsWholeArea(bool bWhole) { m_bWholeArea = bWhole; }
    // Whether the game's screen has been chosen.
    bool ScreenChosen() const { return m_bChosen; }
    // Device pixels per game pixel.
    int Scale() const { return m_nScale; }

    // The whole scale for a device pixel ratio: the ratio rounded, lowered
    // while a screen nDeviceWidth device pixels wide (inside the edge) would
    // be narrower than the game plays on.
    static int WholeScale(qreal dDevicePixelRatio, int nDeviceWidth);
    // The game's screen for an area of that many device pixels inside the
    // edge at scale k: as large as fits, capped at the largest the game
    // takes, and never shorter than the view needs at that width.
    static QSize ScreenSize(const QSize& sizeInside, int k, const CView& view);
    // Where a screen of sizeScreen game pixels is shown inside rcArea (device
    // pixels) at scale k: centred as k x k blocks, or scaled down to fit.
    static QRect ShownRect(const QRect& rcArea, const QSize& sizeScreen, int k);

    // The virtual-key code of a key the game or the menu uses; 0 for others.
    static UINT VirtualKeyFromQt(int nKey);
    // Keys the old desktop delivered as system keys (Alt combinations, F10,
    // Alt itself): they go to the menu, never to the view.
    static bool IsSystemKey(int nKey, Qt::KeyboardModifiers modifiers);

signals:
    // The view's first full paint has been shown.
    void FirstScreenShown();

protected:
    bool focusNextPrevChild(bool bNext) override;
    void showEvent(QShowEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;

private:
    // Waits for the window to settle: a quiet period, at most until the
    // longest wait is over.
    void StartSettling();
    // How long the wait goes on from now.
    int SettleWait() const;
    // The window is maximised or full screen, or has its size on purpose:
    // there is nothing to wait for.
    bool WindowIsSettled() const;
    // The window has settled: the game's screen and its scale from it.
    void ChooseScreen();
    // Widget coordinates to the window's device pixels, as the painter maps
    // them.
    QTransform ToDevice() const;
    // The widget in whole device pixels.
    QRect DeviceRect() const;
    // Where the game's screen is shown now, in device pixels.
    QRect Shown() const;
    void OnViewUpdate(const CRect& rc);
    void DrawEdge(QPainter& painter, const QRect& rcShown) const;
    // The event's point in game pixels; false when it lies outside the game's
    // screen (on the edge, the margins, or beyond the window).
    bool ClientPoint(const QMouseEvent* pEvent, CPoint* pPoint) const;

    CView* m_pView;
    QTimer m_timerSettle;
    QDeadlineTimer m_deadlineSettle;
    // Long enough for a window manager to finish a series of sizes; the
    // longest wait bounds how long a window that is never maximised (or one
    // whose sizes keep coming) keeps the first screen from showing.
    int m_nQuietMs = 150;
    int m_nLongestMs = 1000;
    bool m_bChosen = false;
    bool m_bWholeArea = false;
    bool m_bFullPaintPending = true;
    bool m_bFirstShown = false;
    bool m_bPainting = false;
    QRect m_rcPainting;  // the paint event's rectangle while the view paints
    int m_nScale = 1;
};
