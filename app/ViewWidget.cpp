#include "app/ViewWidget.h"

#include <algorithm>

#include <QKeyEvent>
#include <QRegion>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QApplication>

CViewWidget::CViewWidget(CView* pView, QWidget* pParent) : QWidget(pParent), m_pView(pView)
{
    setContentsMargins(EDGE, EDGE, EDGE, EDGE);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    // Every pixel is painted here: the edge and the framebuffer.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
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
    update();
}

QRect CViewWidget::ClientRect() const
{
    return contentsRect();
}

void CViewWidget::RequestFullPaint()
{
    m_bFullPaintPending = true;
    update();
}

void CViewWidget::OnViewUpdate(const CRect& rc)
{
    const QRect rcWidget = QRect(rc.left + EDGE, rc.top + EDGE, rc.Width(), rc.Height()) & ClientRect();
    // What the view draws during a paint event is shown by that event.
    if (rcWidget.isEmpty() || (m_bPainting && m_rcPainting.contains(rcWidget)))
        return;
    update(rcWidget);
}

bool CViewWidget::focusNextPrevChild(bool /*bNext*/)
{
    // Tab and Shift+Tab are the view's keys, not focus moves.
    return false;
}

void CViewWidget::showEvent(QShowEvent* pEvent)
{
    QWidget::showEvent(pEvent);
    setFocus(Qt::OtherFocusReason);
}

void CViewWidget::TakeClientSize()
{
    if (!m_pView)
        return;
    const QRect rc = ClientRect();
    const QSize size(std::max(0, rc.width()), std::max(0, rc.height()));
    if (size == m_pView->FrameBuffer().size() || (m_fnTakesSize && !m_fnTakesSize()))
        return;
    m_pView->SetClientSize(size.width(), size.height());
    RequestFullPaint();
}

void CViewWidget::resizeEvent(QResizeEvent* pEvent)
{
    QWidget::resizeEvent(pEvent);
    // The first size at once, so the view always has a client area; later
    // ones at the paint, when the frame knows whether they stay.
    if (m_pView && m_pView->FrameBuffer().isNull())
        TakeClientSize();
    update();
}

void CViewWidget::paintEvent(QPaintEvent* pEvent)
{
    TakeClientSize();
    const QRect rcEvent = pEvent->rect();
    if (m_pView && m_bFullPaintPending) {
        m_bFullPaintPending = false;
        m_bPainting = true;
        m_rcPainting = rcEvent;
        m_pView->Paint();
        m_bPainting = false;
        // For the start-up benchmark: quit once the first screen is drawn.
        static const bool bExitAfterFirstPaint = qEnvironmentVariableIntValue("SLABIX_EXIT_AFTER_FIRST_PAINT") == 1;
        if (bExitAfterFirstPaint)
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    }

    QPainter painter(this);
    const QRect rcClient = ClientRect();
    if (!rcClient.contains(rcEvent))
        DrawEdge(painter);
    const QRect rcTarget = rcEvent & rcClient;
    if (rcTarget.isEmpty())
        return;
    QRect rcImage;
    if (m_pView && !m_pView->FrameBuffer().isNull()) {
        const QImage& image = m_pView->FrameBuffer();
        rcImage = rcTarget & QRect(QPoint(EDGE, EDGE), image.size());
        if (!rcImage.isEmpty())
            painter.drawImage(rcImage, image, rcImage.translated(-EDGE, -EDGE));
    }
    // Only while the framebuffer and the widget disagree in size.
    if (rcImage != rcTarget) {
        for (const QRect& rc : QRegion(rcTarget).subtracted(rcImage))
            painter.fillRect(rc, Qt::white);
    }
}

// The sunken client edge: a dark outer line at the top and left with a light
// one at the bottom and right, and inside it the darkest and the lighter line.
void CViewWidget::DrawEdge(QPainter& painter) const
{
    const QPalette& pal = palette();
    const int r = width() - 1;
    const int b = height() - 1;
    auto frame = [&painter](int left, int top, int right, int bottom, const QColor& tl, const QColor& br) {
        painter.setPen(tl);
        painter.drawLine(left, top, right - 1, top);
        painter.drawLine(left, top, left, bottom - 1);
        painter.setPen(br);
        painter.drawLine(left, bottom, right, bottom);
        painter.drawLine(right, top, right, bottom);
    };
    frame(0, 0, r, b, pal.color(QPalette::Dark), pal.color(QPalette::Light));
    frame(1, 1, r - 1, b - 1, pal.color(QPalette::Shadow), pal.color(QPalette::Midlight));
}

bool CViewWidget::IsSystemKey(int nKey, Qt::KeyboardModifiers modifiers)
{
    const bool bAlt = modifiers.testFlag(Qt::AltModifier) || nKey == Qt::Key_Alt;
    const bool bCtrl = modifiers.testFlag(Qt::ControlModifier);
    return (bAlt && !bCtrl) || (nKey == Qt::Key_F10 && !bCtrl);
}

UINT CViewWidget::VirtualKeyFromQt(int nKey, Qt::KeyboardModifiers modifiers)
{
    if (modifiers.testFlag(Qt::KeypadModifier)) {
        if (nKey >= Qt::Key_0 && nKey <= Qt::Key_9)
            return 0x60 + UINT(nKey - Qt::Key_0);  // VK_NUMPAD0..9
        switch (nKey) {
        case Qt::Key_Asterisk: return 0x6A;  // VK_MULTIPLY
        case Qt::Key_Plus: return 0x6B;      // VK_ADD
        case Qt::Key_Minus: return 0x6D;     // VK_SUBTRACT
        case Qt::Key_Period:
        case Qt::Key_Comma: return 0x6E;     // VK_DECIMAL
        case Qt::Key_Slash: return 0x6F;     // VK_DIVIDE
        default: break;
        }
    }
    if (nKey >= Qt::Key_A && nKey <= Qt::Key_Z)
        return 0x41 + UINT(nKey - Qt::Key_A);
    if (nKey >= Qt::Key_0 && nKey <= Qt::Key_9)
        return 0x30 + UINT(nKey - Qt::Key_0);
    if (nKey >= Qt::Key_F1 && nKey <= Qt::Key_F24)
        return VK_F1 + UINT(nKey - Qt::Key_F1);

    switch (nKey) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 0x09;
    case Qt::Key_Clear: return 0x0C;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 0x0D;
    case Qt::Key_Shift: return 0x10;
    case Qt::Key_Control: return 0x11;
    case Qt::Key_Alt: return 0x12;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_CapsLock: return 0x14;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Select: return 0x29;
    case Qt::Key_Print: return 0x2C;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Help: return 0x2F;
    case Qt::Key_Meta: return 0x5B;  // VK_LWIN
    case Qt::Key_Menu: return 0x5D;  // VK_APPS
    case Qt::Key_Sleep: return 0x5F;
    case Qt::Key_NumLock: return 0x90;
    case Qt::Key_ScrollLock: return 0x91;
    // The digit keys' shifted symbols on the common layout.
    case Qt::Key_ParenRight: return 0x30;
    case Qt::Key_Exclam: return 0x31;
    case Qt::Key_At: return 0x32;
    case Qt::Key_NumberSign: return 0x33;
    case Qt::Key_Dollar: return 0x34;
    case Qt::Key_Percent: return 0x35;
    case Qt::Key_AsciiCircum: return 0x36;
    case Qt::Key_Ampersand: return 0x37;
    case Qt::Key_Asterisk: return 0x38;
    case Qt::Key_ParenLeft: return 0x39;
    // Punctuation keys, plain and shifted.
    case Qt::Key_Semicolon:
    case Qt::Key_Colon: return 0xBA;
    case Qt::Key_Equal:
    case Qt::Key_Plus: return 0xBB;
    case Qt::Key_Comma:
    case Qt::Key_Less: return 0xBC;
    case Qt::Key_Minus:
    case Qt::Key_Underscore: return 0xBD;
    case Qt::Key_Period:
    case Qt::Key_Greater: return 0xBE;
    case Qt::Key_Slash:
    case Qt::Key_Question: return 0xBF;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde: return 0xC0;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft: return 0xDB;
    case Qt::Key_Backslash:
    case Qt::Key_Bar: return 0xDC;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight: return 0xDD;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl: return 0xDE;
    default: return 0;
    }
}

void CViewWidget::keyPressEvent(QKeyEvent* pEvent)
{
    const int nKey = pEvent->key();
    const UINT nChar = VirtualKeyFromQt(nKey, pEvent->modifiers());
    if (!m_pView || nChar == 0 || IsSystemKey(nKey, pEvent->modifiers())) {
        QWidget::keyPressEvent(pEvent);
        return;
    }
    // Auto-repeats arrive as presses of their own, one message each.
    m_bInputSeen = true;
    m_pView->OnKeyDown(nChar, 1, 0);
}

bool CViewWidget::ClientPoint(const QMouseEvent* pEvent, CPoint* pPoint) const
{
    const QPoint pt = pEvent->position().toPoint();
    if (!ClientRect().contains(pt))
        return false;
    *pPoint = CPoint(pt.x() - EDGE, pt.y() - EDGE);
    return true;
}

void CViewWidget::mousePressEvent(QMouseEvent* pEvent)
{
    CPoint point;
    if (m_pView && pEvent->button() == Qt::LeftButton && ClientPoint(pEvent, &point)) {
        m_bInputSeen = true;
        m_pView->OnLButtonDown(0, point);
    }
}

void CViewWidget::mouseDoubleClickEvent(QMouseEvent* /*pEvent*/)
{
    // The second press of a double click is a double-click message of its
    // own, which the view does not handle.
}

void CViewWidget::mouseReleaseEvent(QMouseEvent* pEvent)
{
    // Qt keeps sending to the widget that was pressed; without a capture the
    // view only hears of releases over its client area.
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
