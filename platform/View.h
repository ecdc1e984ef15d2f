// The document/view base classes the game's view derives from.
//
// A view owns its client area as a framebuffer. Its handlers draw into it
// through CClientDC at once; the changed rectangles go to an update sink (the
// shell's widget, which only shows them). Paint() is what the window system's
// paint does: erase the client area in the window colour (white), then OnDraw.
#pragma once

#include "platform/Gdi.h"
#include "platform/WinTypes.h"

#include <QImage>
#include <functional>

class QPrinter;
class QWidget;

class CDocument {
public:
    CDocument() = default;
    CDocument(const CDocument&) = delete;
    CDocument& operator=(const CDocument&) = delete;
    virtual ~CDocument() = default;

    void SetTitle(const CString& strTitle);
    const CString& GetTitle() const { return m_strTitle; }
    // Called with the new title whenever it changes (the frame follows it).
    std::function<void(const CString&)> m_fnTitleChanged;

    // The framework's New: re-initialise the (empty) document.
    virtual BOOL OnNewDocument();
    virtual void DeleteContents() {}

private:
    CString m_strTitle = QStringLiteral("Untitled");
};

// What the printing loop hands the view's printing operations.
struct CPrintInfo {
    CRect m_rectDraw;               // usable page area in device pixels
    BOOL m_bContinuePrinting = TRUE;
    BOOL m_bDirect = FALSE;         // print without the dialog
    BOOL m_bPreview = FALSE;        // print preview
    UINT m_nCurPage = 1;
    UINT m_nFromPage = 1;           // page range the dialog asked for
    UINT m_nToPage = 0xFFFF;
    QPrinter* m_pPrinter = nullptr; // made by DoPreparePrinting
};

class CView {
public:
    CView();
    CView(const CView&) = delete;
    CView& operator=(const CView&) = delete;
    virtual ~CView();

    // Client area ----------------------------------------------------------
    // A new framebuffer of this size, erased white; the whole area needs a paint.
    void SetClientSize(int nWidth, int nHeight);
    void GetClientRect(CRect* pRect) const;
    // The fewest rows a client area of this width needs; the shell gives the
    // view no shorter one where it can choose.
    virtual int MinClientHeight(int nWidth) const { return 0; }
    QImage& FrameBuffer() { return m_image; }
    const QImage& FrameBuffer() const { return m_image; }
    // Where the rectangles changed by client-area drawing are reported.
    void SetUpdateSink(std::function<void(const CRect&)> fnSink) { m_fnUpdate = std::move(fnSink); }
    void ReportUpdate(const CRect& rc);

    // The window system's paint: erase to white, then OnDraw on a paint DC.
    void Paint();

    void SetDocument(CDocument* pDoc) { m_pDocument = pDoc; }
    CDocument* GetDocument() const { return m_pDocument; }

    // Message handlers ------------------------------------------------------
    virtual void OnDraw(CDC* pDC) = 0;
    virtual void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags) {}
    virtual void OnLButtonDown(UINT nFlags, CPoint point) {}
    virtual void OnLButtonUp(UINT nFlags, CPoint point) {}
    virtual void OnMouseMove(UINT nFlags, CPoint point) {}

    // Printing ----------------------------------------------------------------
    virtual BOOL OnPreparePrinting(CPrintInfo* pInfo) { return DoPreparePrinting(pInfo); }
    virtual void OnBeginPrinting(CDC* pDC, CPrintInfo* pInfo) {}
    virtual void OnPrint(CDC* pDC, CPrintInfo* pInfo) { OnDraw(pDC); }
    virtual void OnEndPrinting(CDC* pDC, CPrintInfo* pInfo) {}
    // Shows the print dialog (not for direct print or preview) and makes the
    // printer; FALSE when cancelled or no printer can be had.
    BOOL DoPreparePrinting(CPrintInfo* pInfo);

    // The three print commands.
    void OnFilePrint();
    void OnFilePrintDirect();
    void OnFilePrintPreview();
    // The printing loop on a printer that is ready: begin, pages until the view
    // clears m_bContinuePrinting or the range ends, end. Returns pages printed.
    // Without a page range (m_nToPage 0xFFFF: the length is not known) only
    // the first page is printed, as the old framework did.
    int PrintPages(QPrinter& printer, CPrintInfo& info);

    // Parent for the print dialogs (set by the shell; may stay null).
    void SetDialogParent(QWidget* pParent) { m_pDialogParent = pParent; }
    // Where a print job that fails is reported, in one message; without one,
    // a warning message box of its own.
    void SetErrorReport(std::function<void(const QString&)> fnReport) { m_fnReportError = std::move(fnReport); }

private:
    void RunPrintJob(CPrintInfo& info);
    // A job for a printer of the print service: the pages go into a PDF
    // file, which is handed to the service in one job; for a file, straight
    // into it. A job that cannot be started or that the service refuses is
    // reported once.
    void PrintJob(QPrinter& printer, CPrintInfo& info);
    void ReportError(const QString& strText);

    QImage m_image;
    std::function<void(const CRect&)> m_fnUpdate;
    CDocument* m_pDocument = nullptr;
    QWidget* m_pDialogParent = nullptr;
    std::function<void(const QString&)> m_fnReportError;
};

// The device context Paint() hands to OnDraw: the view's framebuffer, after
// the erase.
class CPaintDC : public CFrameDC {
public:
    explicit CPaintDC(CView* pView) : CFrameDC(pView->FrameBuffer()) {}
};

// A device context on a view's client area, held for one handler. On release
// it reports what it changed to the view's update sink.
class CClientDC : public CFrameDC {
public:
    explicit CClientDC(CView* pView);
    ~CClientDC() override;

private:
    CView* m_pView;
};
