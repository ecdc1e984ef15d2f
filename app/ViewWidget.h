// The window the game view lives in.
//
// It owns nothing of the game: it shows the view's framebuffer inside a
// 2-pixel sunken client edge and hands the view the messages it handles, in
// client coordinates. A full paint (erase and OnDraw) runs only when the client
// area is new or a command asks for one; the view's handlers draw into the
// framebuffer themselves and report what they changed, which is then shown.
//
// The view hears of a new client size at the next paint, and only once the
// frame says the size is settled: a size the window manager gives the frame
// only in passing never reaches the game.
#pragma once

#include "platform/View.h"
#include "platform/WinTypes.h"

#include <QRect>
#include <QWidget>
#include <functional>

class CViewWidget : public QWidget {
    Q_OBJECT

public:
    static constexpr int EDGE = 2;  // width of the sunken client edge

    explicit CViewWidget(CView* pView, QWidget* pParent = nullptr);
    ~CViewWidget() override;

    // Lets go of the view before it is destroyed; the widget then stays blank.
    void DetachView();

    // The client area in widget coordinates, inside the edge.
    QRect ClientRect() const;
    // The whole client area gets the view's paint (erase and OnDraw) at the
    // next paint event.
    void RequestFullPaint();
    // Whether the widget's size now is one to hand the view; without a test
    // every size is.
    void SetSizeTest(std::function<bool()> fnTakes) { m_fnTakesSize = std::move(fnTakes); }
    // Whether a key or a left-button press has been handed to the view.
    bool InputSeen() const { return m_bInputSeen; }
    // Hands the view the client size, when it is new and settled; the view
    // then gets a full paint.
    void TakeClientSize();

    // The virtual-key code of a Qt key; 0 when the key has none.
    static UINT VirtualKeyFromQt(int nKey, Qt::KeyboardModifiers modifiers);
    // Keys the old desktop delivered as system keys (Alt combinations, F10,
    // Alt itself): they go to the menu, never to the view.
    static bool IsSystemKey(int nKey, Qt::KeyboardModifiers modifiers);

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
    void OnViewUpdate(const CRect& rc);
    void DrawEdge(QPainter& painter) const;
    // The event's point in client coordinates; false when it lies outside
    // the client area (on the edge or beyond the window).
    bool ClientPoint(const QMouseEvent* pEvent, CPoint* pPoint) const;

    CView* m_pView;
    std::function<bool()> m_fnTakesSize;
    bool m_bInputSeen = false;
    bool m_bFullPaintPending = true;
    bool m_bPainting = false;
    QRect m_rcPainting;  // the paint event's rectangle while the view paints
};
