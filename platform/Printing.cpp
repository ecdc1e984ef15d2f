// The old framework's printing model on Qt's printer: prepare (dialog and
// printer), then begin, one OnPrint per page, end.
#include "platform/View.h"

#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPrinterInfo>

#include <algorithm>
#include <memory>
#include <utility>

namespace {
constexpr int PRINT_DPI = 300;
constexpr UINT UNKNOWN_LAST_PAGE = 0xFFFF;
}  // namespace

BOOL CView::DoPreparePrinting(CPrintInfo* pInfo)
{
    if (!pInfo)
        return FALSE;
    // Direct print goes to the default printer; with none installed there is
    // nothing to print on, and the command quietly does nothing.
    if (pInfo->m_bDirect && !pInfo->m_bPreview && QPrinterInfo::availablePrinters().isEmpty())
        return FALSE;

    auto pPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
    pPrinter->setResolution(PRINT_DPI);
    pPrinter->setFullPage(false);

    if (!pInfo->m_bDirect && !pInfo->m_bPreview) {
        QPrintDialog dialog(pPrinter.get(), m_pDialogParent);
        dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
        dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
        dialog.setMinMax(1, int(UNKNOWN_LAST_PAGE));
        if (dialog.exec() != QDialog::Accepted)
            return FALSE;
        if (pPrinter->printRange() == QPrinter::PageRange && pPrinter->fromPage() > 0) {
            pInfo->m_nFromPage = UINT(pPrinter->fromPage());
            pInfo->m_nToPage = UINT(std::max(pPrinter->fromPage(), pPrinter->toPage()));
        }
    }
    delete pInfo->m_pPrinter;  // a second prepare replaces the first printer
    pInfo->m_pPrinter = pPrinter.release();
    return TRUE;
}

void CView::OnFilePrint()
{
    CPrintInfo info;
    RunPrintJob(info);
}

void CView::OnFilePrintDirect()
{
    CPrintInfo info;
    info.m_bDirect = TRUE;
    RunPrintJob(info);
}

void CView::OnFilePrintPreview()
{
    CPrintInfo info;
    info.m_bPreview = TRUE;
    RunPrintJob(info);
}

void CView::RunPrintJob(CPrintInfo& info)
{
    const BOOL bGoOn = OnPreparePrinting(&info);
    // The job owns the printer whether or not it goes on.
    const std::unique_ptr<QPrinter> pPrinter(std::exchange(info.m_pPrinter, nullptr));
    if (!bGoOn || !pPrinter)
        return;
    info.m_pPrinter = pPrinter.get();

    if (info.m_bPreview) {
        QPrintPreviewDialog dialog(pPrinter.get(), m_pDialogParent);
        // The preview asks for the pages again whenever it needs them (and
        // once more when printed from the preview): a fresh loop each time.
        QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, [this, &info](QPrinter* pTarget) {
            CPrintInfo pass = info;
            pass.m_pPrinter = pTarget;
            PrintPages(*pTarget, pass);
        });
        dialog.exec();
    } else {
        PrintPages(*pPrinter, info);
    }
    info.m_pPrinter = nullptr;
}

int CView::PrintPages(QPrinter& printer, CPrintInfo& info)
{
    // Printing to a file (the dialog's choice when no printer is installed)
    // always writes PDF.
    if (!printer.outputFileName().isEmpty() && printer.outputFormat() != QPrinter::PdfFormat)
        printer.setOutputFormat(QPrinter::PdfFormat);

    QPainter painter;
    if (!painter.begin(&printer))
        return 0;
    CPainterDC dc(painter);

    const UINT nFirst = std::max<UINT>(1, info.m_nFromPage);
    // A document of unknown length prints its first page only.
    const UINT nLast = info.m_nToPage >= UNKNOWN_LAST_PAGE ? nFirst : info.m_nToPage;

    info.m_bContinuePrinting = TRUE;
    OnBeginPrinting(&dc, &info);
    int nPrinted = 0;
    for (UINT nPage = nFirst; nPage <= nLast && info.m_bContinuePrinting; ++nPage) {
        info.m_nCurPage = nPage;
        if (nPrinted > 0 && !printer.newPage())
            break;
        info.m_rectDraw.SetRect(0, 0, printer.width(), printer.height());
        OnPrint(&dc, &info);
        ++nPrinted;
    }
    OnEndPrinting(&dc, &info);
    painter.end();
    return nPrinted;
}
