// Drawing objects, the device context's primitives and its two targets.
#include "platform/Gdi.h"

#include <QColor>
#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <utility>

namespace {

std::uint32_t g_nNextHandle = 1;

CRect Normalised(const CRect& rc)
{
    return CRect(std::min(rc.left, rc.right), std::min(rc.top, rc.bottom),
                 std::max(rc.left, rc.right), std::max(rc.top, rc.bottom));
}

}  // namespace

// Drawing objects ------------------------------------------------------------

BOOL CGdiObject::Attach()
{
    if (g_nNextHandle == 0)  // after 2^32 handles; never hand out the empty handle
        g_nNextHandle = 1;
    m_hObject = g_nNextHandle++;
    return TRUE;
}

BOOL CGdiObject::DeleteObject()
{
    if (m_hObject == 0)
        return FALSE;
    m_hObject = 0;
    return TRUE;
}

BOOL CBrush::CreateSolidBrush(COLORREF cr)
{
    m_cr = cr & 0x00FFFFFF;
    return Attach();
}

BOOL CPen::CreatePen(int nPenStyle, int nWidth, COLORREF cr)
{
    if (nPenStyle != PS_SOLID)
        return FALSE;
    m_cr = cr & 0x00FFFFFF;
    return Attach();
}

// Device context -------------------------------------------------------------

CDC::CDC() = default;
CDC::~CDC() = default;

CPen* CDC::SelectObject(CPen* pPen)
{
    if (pPen && pPen->GetSafeHandle() == 0)
        return nullptr;
    return std::exchange(m_pPen, pPen);
}

CBrush* CDC::SelectObject(CBrush* pBrush)
{
    if (pBrush && pBrush->GetSafeHandle() == 0)
        return nullptr;
    return std::exchange(m_pBrush, pBrush);
}

CFont* CDC::SelectObject(CFont* pFont)
{
    if (pFont && pFont->GetSafeHandle() == 0)
        return nullptr;
    return std::exchange(m_pFont, pFont);
}

int CDC::SetBkMode(int nMode)
{
    if (nMode != TRANSPARENT && nMode != OPAQUE)
        return 0;
    return std::exchange(m_nBkMode, nMode);
}

COLORREF CDC::SetTextColor(COLORREF cr)
{
    return std::exchange(m_crText, cr & 0x00FFFFFF);
}

void CDC::FillRect(const CRect& rc, CBrush* pBrush)
{
    if (!pBrush || pBrush->GetSafeHandle() == 0 || rc.IsRectEmpty())
        return;
    FillSolid(rc, pBrush->GetColor());
}

BOOL CDC::Rectangle(const CRect& rcIn)
{
    const CRect rc = Normalised(rcIn);
    if (rc.IsRectEmpty())
        return FALSE;
    const COLORREF crPen = PenColor();
    if (rc.Width() <= 2 || rc.Height() <= 2) {
        FillSolid(rc, crPen);  // all outline, no inside
        return TRUE;
    }
    FillSolid(CRect(rc.left + 1, rc.top + 1, rc.right - 1, rc.bottom - 1), BrushColor());
    FillSolid(CRect(rc.left, rc.top, rc.right, rc.top + 1), crPen);
    FillSolid(CRect(rc.left, rc.bottom - 1, rc.right, rc.bottom), crPen);
    FillSolid(CRect(rc.left, rc.top + 1, rc.left + 1, rc.bottom - 1), crPen);
    FillSolid(CRect(rc.right - 1, rc.top + 1, rc.right, rc.bottom - 1), crPen);
    return TRUE;
}

CPoint CDC::MoveTo(int x, int y)
{
    return std::exchange(m_ptCurrent, CPoint(x, y));
}

BOOL CDC::LineTo(int x, int y)
{
    const CPoint a = m_ptCurrent;
    m_ptCurrent = CPoint(x, y);
    const COLORREF cr = PenColor();
    if (a.y == y) {
        if (a.x < x)
            FillSolid(CRect(a.x, y, x, y + 1), cr);
        else if (a.x > x)
            FillSolid(CRect(x + 1, y, a.x + 1, y + 1), cr);
        return TRUE;
    }
    if (a.x == x) {
        if (a.y < y)
            FillSolid(CRect(x, a.y, x + 1, y), cr);
        else
            FillSolid(CRect(x, y + 1, x + 1, a.y + 1), cr);
        return TRUE;
    }
    // Any other direction: Bresenham from the start, the end left out.
    const int dx = std::abs(x - a.x), sx = a.x < x ? 1 : -1;
    const int dy = -std::abs(y - a.y), sy = a.y < y ? 1 : -1;
    int err = dx + dy;
    int px = a.x, py = a.y;
    while (px != x || py != y) {
        PutPixel(px, py, cr);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            px += sx;
        }
        if (e2 <= dx) {
            err += dx;
            py += sy;
        }
    }
    return TRUE;
}

COLORREF CDC::SetPixel(int x, int y, COLORREF cr)
{
    const QPaintDevice* pDevice = Device();
    if (pDevice && (x < 0 || y < 0 || x >= pDevice->width() || y >= pDevice->height()))
        return CLR_INVALID;  // off the target: nothing set
    cr &= 0x00FFFFFF;
    PutPixel(x, y, cr);
    return cr;
}

// Framebuffer target ---------------------------------------------------------

CFrameDC::CFrameDC(QImage& image) : m_image(image)
{
    // The pixel writes assume 0xAARRGGBB words.
    const QImage::Format format = m_image.format();
    if (!m_image.isNull() && format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
        format != QImage::Format_ARGB32_Premultiplied)
        m_image.convertTo(QImage::Format_RGB32);
}

CFrameDC::~CFrameDC() = default;

QPaintDevice* CFrameDC::Device() const
{
    return &m_image;
}

bool CFrameDC::ClipToImage(CRect& rc) const
{
    rc.left = std::max(rc.left, 0);
    rc.top = std::max(rc.top, 0);
    rc.right = std::min(rc.right, m_image.width());
    rc.bottom = std::min(rc.bottom, m_image.height());
    return !rc.IsRectEmpty();
}

void CFrameDC::AddDirty(const CRect& rc)
{
    m_rcDirty.Unite(rc);
}

COLORREF CFrameDC::GetPixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_image.width() || y >= m_image.height())
        return CLR_INVALID;
    const auto* pRow = reinterpret_cast<const std::uint32_t*>(m_image.constScanLine(y));
    return FromQRgb(pRow[x]);
}

void CFrameDC::FillSolid(const CRect& rcIn, COLORREF cr)
{
    CRect rc = rcIn;
    if (!ClipToImage(rc))
        return;
    // One detach check per call (it copies only if someone else shares the
    // buffer); the rows are then written through the one pointer.
    uchar* pBits = m_image.bits();
    const qsizetype nStride = m_image.bytesPerLine();
    const std::uint32_t px = ToQRgb(cr);
    const int nWidth = rc.Width();
    uchar* pRow = pBits + rc.top * nStride + qsizetype(rc.left) * 4;
    if (nWidth == 1) {
        for (int y = rc.top; y < rc.bottom; ++y, pRow += nStride)
            *reinterpret_cast<std::uint32_t*>(pRow) = px;
    } else {
        // The first row pixel by pixel, the others copied from it: a copy per
        // row is as fast as a fill, and the sanitizers check it as one range.
        const uchar* pFirst = pRow;
        std::fill_n(reinterpret_cast<std::uint32_t*>(pRow), nWidth, px);
        pRow += nStride;
        for (int y = rc.top + 1; y < rc.bottom; ++y, pRow += nStride)
            std::memcpy(pRow, pFirst, std::size_t(nWidth) * 4);
    }
    AddDirty(rc);
}

void CFrameDC::PutPixel(int x, int y, COLORREF cr)
{
    if (x < 0 || y < 0 || x >= m_image.width() || y >= m_image.height())
        return;
    uchar* pBits = m_image.bits();
    reinterpret_cast<std::uint32_t*>(pBits + y * m_image.bytesPerLine())[x] = ToQRgb(cr);
    AddDirty(CRect(x, y, x + 1, y + 1));
}

void CFrameDC::DrawTextRuns(const std::function<void(QPainter&)>& draw, const CRect* pClip,
                            const CRect& rcInk)
{
    CRect rcChanged = rcInk;
    if (pClip) {
        rcChanged.left = std::max(rcChanged.left, pClip->left);
        rcChanged.top = std::max(rcChanged.top, pClip->top);
        rcChanged.right = std::min(rcChanged.right, pClip->right);
        rcChanged.bottom = std::min(rcChanged.bottom, pClip->bottom);
    }
    if (!ClipToImage(rcChanged))
        return;
    {
        // The painter lives only for this call, so it never overlaps the
        // direct pixel writes of the other primitives.
        QPainter painter(&m_image);
        painter.setClipRect(QRect(rcChanged.left, rcChanged.top, rcChanged.Width(), rcChanged.Height()));
        draw(painter);
    }
    AddDirty(rcChanged);
}

// Painter target -------------------------------------------------------------

CPainterDC::CPainterDC(QPainter& painter) : m_painter(painter) {}

QPaintDevice* CPainterDC::Device() const
{
    return m_painter.device();
}

void CPainterDC::FillSolid(const CRect& rc, COLORREF cr)
{
    if (rc.IsRectEmpty())
        return;
    m_painter.fillRect(QRect(rc.left, rc.top, rc.Width(), rc.Height()), QColor::fromRgb(ToQRgb(cr)));
}

void CPainterDC::PutPixel(int x, int y, COLORREF cr)
{
    m_painter.fillRect(QRect(x, y, 1, 1), QColor::fromRgb(ToQRgb(cr)));
}

void CPainterDC::DrawTextRuns(const std::function<void(QPainter&)>& draw, const CRect* pClip,
                              const CRect& rcInk)
{
    m_painter.save();
    if (pClip)
        m_painter.setClipRect(QRect(pClip->left, pClip->top, pClip->Width(), pClip->Height()),
                              Qt::IntersectClip);
    draw(m_painter);
    m_painter.restore();
}
