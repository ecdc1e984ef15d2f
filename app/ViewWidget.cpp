#include "app/ViewWidget.h"

#include <algorithm>
#include <cmath>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>


CViewWidget::CViewWidget(CView* pView, QWidget* pParent)
    : QWidget(pParent), m_pView(pView)
{
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    // Every pixel is painted here: the game's screen, its edge and the margins.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    m_timerSettle.setSingleShot(true);
    connect(&m_timerSettle, &QTimer::timeout, this, &CViewWidget::ChooseScreen);
    if (m_pView)
        m_pView->SetUpdateSink([this](const CRect& rc) { OnViewUpdate(rc); });
}

CViewWidget::~CViewWidget()
{
    DetachView();
}

void CViewWidget::DetachView()
{
    if (m_pView)
        m_pView->SetUpdateSink({});
    m_pView = nullptr;
    m_timerSettle.stop();
    update();
}

void CViewWidget::RequestFullPaint()
{
    m_bFullPaintPending = true;
    update();
}

// The game's screen -----------------------------------------------------------

int CViewWidget::WholeScale(qreal dDevicePixelRatio, int nDeviceWidth)
{
    int k = std::max(1, int(std::lround(dDevicePixelRatio)));
    while (k > 1 && (nDeviceWidth - 2 * EDGE * k) / k < MIN_SCREEN_WIDTH)
        --k;
    return k;
}

QSize CViewWidget::ScreenSize(const QSize& sizeInside, int k, const CView& view)
{
    const int nWidth = std::clamp(sizeInside.width() / k, 0, MAX_SCREEN_WIDTH);
    const int nHeight = std::min(std::max(sizeInside.height() / k, view.MinClientHeight(nWidth)), MAX_SCREEN_HEIGHT);
    return QSize(nWidth, std::max(0, nHeight));
}

QRect CViewWidget::ShownRect(const QRect& rcArea, const QSize& sizeScreen, int k)
{
    if (sizeScreen.isEmpty() || rcArea.isEmpty())
        return QRect();
    QSize size = sizeScreen * k;
    if (size.width() > rcArea.width() || size.height() > rcArea.height())
        size = sizeScreen.scaled(rcArea.size(), Qt::KeepAspectRatio);
    return QRect(rcArea.left() + (rcArea.width() - size.width()) / 2,
                 rcArea.top() + (rcArea.height() - size.height()) / 2, size.width(), size.height());
}

QTransform CViewWidget::ToDevice() const
{
    const qreal dRatio = devicePixelRatioF();
    const QPointF ptOffset = isWindow() ? QPointF() : QPointF(mapTo(window(), QPoint(0, 0)));
    return QTransform(dRatio, 0, 0, dRatio, ptOffset.x() * dRatio, ptOffset.y() * dRatio);
}

QRect CViewWidget::DeviceRect() const
{
    // Whole device pixels only, so that every block of the screen starts on
    // one.
    const QRectF rc = ToDevice().mapRect(QRectF(rect()));
    const QPoint ptTopLeft(int(std::ceil(rc.left() - 1e-6)), int(std::ceil(rc.top() - 1e-6)));
    const QPoint ptEnd(int(std::floor(rc.right() + 1e-6)), int(std::floor(rc.bottom() + 1e-6)));
    return QRect(ptTopLeft, QSize(ptEnd.x() - ptTopLeft.x(), ptEnd.y() - ptTopLeft.y()));
}

QRect CViewWidget::Shown() const
{
    if (!m_bChosen || !m_pView || m_pView->FrameBuffer().isNull())
        return QRect();
    const int nEdge = EDGE * m_nScale;
    return ShownRect(DeviceRect().adjusted(nEdge, nEdge, -nEdge, -nEdge), m_pView->FrameBuffer().size(), m_nScale);
}

void CViewWidget::ChooseScreenAgain()
{
    // The screen shown meanwhile stays. The window is maximised before and
    // after, so only its sizes tell when the window manager is done. A wait
    // that has begun starts again, as long as ever.
    if (m_bChosen || m_timerSettle.isActive())
        StartSettling();
}

void CViewWidget::StartSettling()
{
    m_deadlineSettle.setRemainingTime(std::max(0, m_nLongestMs));
    m_timerSettle.start(SettleWait());
}

int CViewWidget::SettleWait() const
{
    const qint64 nLeft = std::max<qint64>(0, m_deadlineSettle.remainingTime());
    // A window that still awaits the maximised state it asked for is waited
    // for until its new size comes, however long the window manager takes,
    // up to the longest wait.
    if (!m_bChosen && (window()->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return int(nLeft);
    return int(std::min<qint64>(nLeft, m_nQuietMs));
}

bool CViewWidget::WindowIsSettled() const
{
    if (m_bWholeArea)
        return true;
    // The state is the one asked for until the window system says otherwise
    // (X keeps the request in a property of the window's own), so the size
    // tells that it was granted: a maximised window fills most of its screen,
    // its restored size (three quarters of it) does not.
    const QWidget* pWindow = window();
    const QScreen* pScreen = pWindow->screen();
    if (!pScreen || !(pWindow->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return false;
    const QSize sizeScreen = pScreen->availableGeometry().size();
    return pWindow->width() * 5 > sizeScreen.width() * 4 && pWindow->height() * 5 > sizeScreen.height() * 4;
}

void CViewWidget::ChooseScreen()
{
    m_timerSettle.stop();
    if (!m_pView)
        return;
    const QRect rcDevice = DeviceRect();
    const int k = WholeScale(devicePixelRatioF(), rcDevice.width());
    const QSize sizeInside = rcDevice.size() - QSize(2 * EDGE * k, 2 * EDGE * k);
    const QSize size = m_bWholeArea ? QSize(std::max(0, sizeInside.width() / k), std::max(0, sizeInside.height() / k))
                                    : ScreenSize(sizeInside, k, *m_pView);
    m_bChosen = true;
    m_nScale = k;
    if (size != m_pView->FrameBuffer().size()) {
        m_pView->SetClientSize(size.width(), size.height());
        m_bFullPaintPending = true;
    }
    update();
}

void CViewWidget::showEvent(QShowEvent* pEvent)
{
    QWidget::showEvent(pEvent);
    setFocus(Qt::OtherFocusReason);
}

void CViewWidget::resizeEvent(QResizeEvent* pEvent)
{
    QWidget::resizeEvent(pEvent);
    // While the window settles a new size starts the quiet period again,
    // within the longest wait; once the screen is chosen, only where it is
    // shown changes.
    if (m_timerSettle.isActive())
        m_timerSettle.start(SettleWait());
    update();
}

// Painting --------------------------------------------------------------------

void CViewWidget::OnViewUpdate(const CRect& rc)
{
    const QRect rcShown = Shown();
    const QSize sizeScreen = m_pView ? m_pView->FrameBuffer().size() : QSize();
    if (rcShown.isEmpty() || sizeScreen.isEmpty())
        return;
    // The changed game pixels on the device, then in widget coordinates,
    // rounded outwards.
    const qreal sx = qreal(rcShown.width()) / sizeScreen.width();
    const qreal sy = qreal(rcShown.height()) / sizeScreen.height();
    const QRectF rcDevice(rcShown.left() + rc.left * sx, rcShown.top() + rc.top * sy, rc.Width() * sx,
                          rc.Height() * sy);
    const QRect rcWidget = ToDevice().inverted().mapRect(rcDevice).toAlignedRect().adjusted(-1, -1, 1, 1) & rect();
    // What the view draws during a paint event is shown by that event.
    if (rcWidget.isEmpty() || (m_bPainting && m_rcPainting.contains(rcWidget)))
        return;
    update(rcWidget);
}

void CViewWidget::paintEvent(QPaintEvent* pEvent)
{
    // An exposure before the screen is chosen: it is chosen now where the
    // window has its final size, else the wait for the window to settle
    // starts.
    if (m_pView && !m_bChosen) {
        if (WindowIsSettled())
            ChooseScreen();
        else if (!m_timerSettle.isActive())
            StartSettling();
    }
    const QRect rcEvent = pEvent->rect();
    bool bFirstScreen = false;
    if (m_pView && m_bChosen && m_bFullPaintPending) {
        m_bFullPaintPending = false;
        m_bPainting = true;
        m_rcPainting = rcEvent;
        m_pView->Paint();
        m_bPainting = false;
        bFirstScreen = !m_bFirstShown;
        m_bFirstShown = true;
    }

    QPainter painter(this);
    // Draw in the device's own pixels.
    const QTransform toDevice = painter.deviceTransform();
    painter.setWorldTransform(toDevice.inverted());
    const QRect rcTarget = toDevice.mapRect(QRectF(rcEvent)).toAlignedRect();
    const QRect rcShown = Shown();

    QRegion rgnMargins(rcTarget);
    if (!rcShown.isEmpty()) {
        const QRect rcFramed = rcShown.adjusted(-EDGE * m_nScale, -EDGE * m_nScale, EDGE * m_nScale, EDGE * m_nScale);
        if (!rcShown.contains(rcTarget))
            DrawEdge(painter, rcFramed);
        rgnMargins -= QRegion(rcFramed);
        const QImage& image = m_pView->FrameBuffer();
        const QSize sizeScreen = image.size();
        if (rcShown.size() == sizeScreen * m_nScale) {
            // Whole blocks: only the game pixels the event covers.
            const int k = m_nScale;
            const QRect rcPart = rcTarget & rcShown;
            if (!rcPart.isEmpty()) {
                const QPoint ptFrom((rcPart.left() - rcShown.left()) / k, (rcPart.top() - rcShown.top()) / k);
                const QPoint ptTo((rcPart.right() - rcShown.left()) / k, (rcPart.bottom() - rcShown.top()) / k);
                const QRect rcSource(ptFrom, ptTo);
                const QRect rcDest(rcShown.topLeft() + rcSource.topLeft() * k, rcSource.size() * k);
                painter.drawImage(rcDest, image, rcSource);
            }
        } else {
            // Too little room: the whole screen, scaled down.
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.setClipRect(rcTarget);
            painter.drawImage(rcShown, image);
            painter.setClipping(false);
        }
    }
    for (const QRect& rc : rgnMargins)
        painter.fillRect(rc, palette().window());

    if (bFirstScreen)
        emit FirstScreenShown();
}

// The sunken edge around the game's screen, each line k device pixels wide: a
// dark outer line at the top and left with a light one at the bottom and
// right, and inside it the darkest and the lighter line.
void CViewWidget::DrawEdge(QPainter& painter, const QRect& rcFramed) const
{
    const QPalette& pal = palette();
    const int k = m_nScale;
    auto frame = [&painter, k](const QRect& rc, const QColor& tl, const QColor& br) {
        painter.fillRect(QRect(rc.left(), rc.top(), rc.width() - k, k), tl);
        painter.fillRect(QRect(rc.left(), rc.top(), k, rc.height() - k), tl);
        painter.fillRect(QRect(rc.left(), rc.bottom() - k + 1, rc.width(), k), br);
        painter.fillRect(QRect(rc.right() - k + 1, rc.top(), k, rc.height()), br);
    };
    frame(rcFramed, pal.color(QPalette::Dark), pal.color(QPalette::Light));
    frame(rcFramed.adjusted(k, k, -k, -k), pal.color(QPalette::Shadow), pal.color(QPalette::Midlight));
}

// Input -----------------------------------------------------------------------

bool CViewWidget::focusNextPrevChild(bool /*bNext*/)
{
    // Tab and Shift+Tab are no focus moves: the view is the only thing here.
    return false;
}

bool CViewWidget::IsSystemKey(int nKey, Qt::KeyboardModifiers modifiers)
{
    const bool bAlt = modifiers.testFlag(Qt::AltModifier) || nKey == Qt::Key_Alt;
    const bool bCtrl = modifiers.testFlag(Qt::ControlModifier);
    return (bAlt && !bCtrl) || (nKey == Qt::Key_F10 && !bCtrl);
}

UINT CViewWidget::VirtualKeyFromQt(int nKey)
{
    // The game's own keys; the menu's come through its shortcuts and the
    // system keys.
    switch (nKey) {
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_F1: return VK_F1;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    default: return 0;
    }
}

void CViewWidget::keyPressEvent(QKeyEvent* pEvent)
{
    const int nKey = pEvent->key();
    const UINT nChar = VirtualKeyFromQt(nKey);
    if (!m_pView || nChar == 0 || IsSystemKey(nKey, pEvent->modifiers())) {
        QWidget::keyPressEvent(pEvent);
        return;
    }
    // Auto-repeats arrive as presses of their own, one message each.
    m_pView->OnKeyDown(nChar, 1, 0);
}

bool CViewWidget::ClientPoint(const QMouseEvent* pEvent, CPoint* pPoint) const
{
    const QRect rcShown = Shown();
    if (rcShown.isEmpty())
        return false;
    const QPointF pt = ToDevice().map(pEvent->position());
    if (pt.x() < rcShown.left() || pt.y() < rcShown.top() || pt.x() >= rcShown.left() + rcShown.width()
        || pt.y() >= rcShown.top() + rcShown.height())
        return false;
    const QSize sizeScreen = m_pView->FrameBuffer().size();
    const int x = int((pt.x() - rcShown.left()) * sizeScreen.width() / rcShown.width());
    const int y = int((pt.y() - rcShown.top()) * sizeScreen.height() / rcShown.height());
    *pPoint = CPoint(std::min(x, sizeScreen.width() - 1), std::min(y, sizeScreen.height() - 1));
    return true;
}

void CViewWidget::mousePressEvent(QMouseEvent* pEvent)
{
    CPoint point;
    if (m_pView && pEvent->button() == Qt::LeftButton && ClientPoint(pEvent, &point))
        m_pView->OnLButtonDown(0, point);
}

void CViewWidget::mouseDoubleClickEvent(QMouseEvent* /*pEvent*/)
{
    // The second press of a double click is a double-click message of its
    // own, which the view does not handle.
}

void CViewWidget::mouseReleaseEvent(QMouseEvent* pEvent)
{
    // Qt keeps sending to the widget that was pressed; without a capture the
    // view only hears of releases over its screen.
    CPoint point;
    if (m_pView && pEvent->button() == Qt::LeftButton && ClientPoint(pEvent, &point))
        m_pView->OnLButtonUp(0, point);
}

void CViewWidget::mouseMoveEvent(QMouseEvent* pEvent)
{
    CPoint point;
    if (m_pView && ClientPoint(pEvent, &point))
        m_pView->OnMouseMove(0, point);
}
