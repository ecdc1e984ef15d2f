// Document and view: the client area's framebuffer, paint and client DCs.
#include "platform/View.h"

#include <utility>

// Document -------------------------------------------------------------------

void CDocument::SetTitle(const CString& strTitle)
{
    m_strTitle = strTitle;
    if (m_fnTitleChanged)
        m_fnTitleChanged(m_strTitle);
}

BOOL CDocument::OnNewDocument()
{
    DeleteContents();
    return TRUE;
}

// View -----------------------------------------------------------------------

namespace {
constexpr QRgb WINDOW_COLOUR = 0xFFFFFFFF;  // the window colour the platform erases with
}

CView::CView() = default;
CView::~CView() = default;

void CView::SetClientSize(int nWidth, int nHeight)
{
    if (nWidth <= 0 || nHeight <= 0) {
        m_image = QImage();
        return;
    }
    m_image = QImage(nWidth, nHeight, QImage::Format_RGB32);
    m_image.fill(WINDOW_COLOUR);
}

void CView::GetClientRect(CRect* pRect) const
{
    if (pRect)
        pRect->SetRect(0, 0, m_image.width(), m_image.height());
}

void CView::ReportUpdate(const CRect& rc)
{
    if (m_fnUpdate && !rc.IsRectEmpty())
        m_fnUpdate(rc);
}

void CView::Paint()
{
    if (m_image.isNull())
        return;
    m_image.fill(WINDOW_COLOUR);
    {
        CPaintDC dc(this);
        OnDraw(&dc);
    }
    CRect rcClient;
    GetClientRect(&rcClient);
    ReportUpdate(rcClient);
}

// Client-area device context ---------------------------------------------------

CClientDC::CClientDC(CView* pView) : CFrameDC(pView->FrameBuffer()), m_pView(pView) {}

CClientDC::~CClientDC()
{
    if (!DirtyRect().IsRectEmpty())
        m_pView->ReportUpdate(DirtyRect());
}
