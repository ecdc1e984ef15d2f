// The old framework's printing model on Qt's printer: prepare (dialog and
// printer), then begin, one OnPrint per page, end.
#include "platform/View.h"
#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintEngine>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryFile>

#include <cups/cups.h>

#include <algorithm>
#include <memory>
#include <utility>

namespace {

constexpr int PRINT_DPI = 300;
constexpr UINT UNKNOWN_LAST_PAGE = 0xFFFF;
// The print service's own job options that the print dialog's properties
// set, as name and value in turn: page set, pages per sheet, banners, the
// printer's own options. Qt has no public way to read them; its print engine
// keeps them under this key of its own (PrintJob's test in
// render_print_test.cpp sees them reach the service, Qt 6.4 and 6.8 alike).
constexpr auto PRINT_SERVICE_OPTIONS = QPrintEngine::PrintEnginePropertyKey(0xfe00);

QString FailedToStart(const QString& strWhy)
{
    return QStringLiteral("Failed to start print job.\n") + strWhy;
}

// Why a file cannot be written, as the system says it.
QString WhyNotWritable(const QString& strPath)
{
    QFile file(strPath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        return QStringLiteral("%1 cannot be written.").arg(QDir::toNativeSeparators(strPath));
    return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(strPath), file.errorString());
}

// The job options of the print dialog, for the print service, as Qt's own
// print engine gives them.
int JobOptions(QPrinter& printer, cups_option_t** ppOptions)
{
    int nOptions = 0;
    const QPageLayout layout = printer.pageLayout();
    const QByteArray media = layout.pageSize().key().toUtf8();
    if (!media.isEmpty())
        nOptions = cupsAddOption("media", media.constData(), nOptions, ppOptions);
    if (printer.copyCount() > 1) {
        nOptions = cupsAddOption("copies", QByteArray::number(printer.copyCount()).constData(), nOptions, ppOptions);
        if (printer.collateCopies())
            nOptions = cupsAddOption("Collate", "True", nOptions, ppOptions);
    }
    const char* pszSides = nullptr;
    switch (printer.duplex()) {
    case QPrinter::DuplexNone: pszSides = "one-sided"; break;
    case QPrinter::DuplexLongSide: pszSides = "two-sided-long-edge"; break;
    case QPrinter::DuplexShortSide: pszSides = "two-sided-short-edge"; break;
    case QPrinter::DuplexAuto:
        pszSides = layout.orientation() == QPageLayout::Landscape ? "two-sided-short-edge" : "two-sided-long-edge";
        break;
    }
    if (pszSides)
        nOptions = cupsAddOption("sides", pszSides, nOptions, ppOptions);
    if (layout.orientation() == QPageLayout::Landscape)
        nOptions = cupsAddOption("landscape", "true", nOptions, ppOptions);
    if (QPrintEngine* pEngine = printer.printEngine()) {
        const QStringList pairs = pEngine->property(PRINT_SERVICE_OPTIONS).toStringList();
        for (qsizetype i = 0; i + 1 < pairs.size(); i += 2)
            nOptions = cupsAddOption(pairs[i].toUtf8().constData(), pairs[i + 1].toUtf8().constData(), nOptions,
                                     ppOptions);
    }
    return nOptions;
}

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
        PrintJob(*pPrinter, info);
    }
    info.m_pPrinter = nullptr;
}

void CView::ReportError(const QString& strText)
{
    if (m_fnReportError)
        m_fnReportError(strText);
    else
        AfxMessageBox(strText, m_pDialogParent);
}

void CView::PrintJob(QPrinter& printer, CPrintInfo& info)
{
    const bool bToService = printer.outputFileName().isEmpty() && printer.outputFormat() == QPrinter::NativeFormat
                            && !printer.printerName().isEmpty();
    if (!bToService) {
        if (PrintPages(printer, info) == 0) {
            const QString strFile = printer.outputFileName();
            ReportError(FailedToStart(strFile.isEmpty() ? QStringLiteral("No printer was chosen.")
                                                        : WhyNotWritable(strFile)));
        }
        return;
    }

    // The pages as the service's printer takes them, in a file of the job's
    // own that goes when the job has been handed over.
    QTemporaryFile pdf(QDir::tempPath() + QStringLiteral("/print-job-XXXXXX.pdf"));
    if (!pdf.open()) {
        ReportError(FailedToStart(pdf.errorString()));
        return;
    }
    QPrinter file(QPrinter::HighResolution);
    file.setResolution(printer.resolution());
    file.setFullPage(printer.fullPage());
    file.setPageLayout(printer.pageLayout());
    file.setColorMode(printer.colorMode());
    file.setDocName(printer.docName());
    file.setCreator(printer.creator());
    file.setOutputFormat(QPrinter::PdfFormat);
    file.setOutputFileName(pdf.fileName());
    CPrintInfo pass = info;
    pass.m_pPrinter = &file;
    if (PrintPages(file, pass) == 0) {
        ReportError(FailedToStart(WhyNotWritable(pdf.fileName())));
        return;
    }
    info.m_bContinuePrinting = pass.m_bContinuePrinting;

    // The service names the printer without the instance of its options.
    const QByteArray printerName = printer.printerName().section(u'/', 0, 0).toUtf8();
    QString strTitle = printer.docName();
    if (strTitle.isEmpty() && GetDocument())
        strTitle = GetDocument()->GetTitle();
    if (strTitle.isEmpty())
        strTitle = QCoreApplication::applicationName();
    cups_option_t* pOptions = nullptr;
    const int nOptions = JobOptions(printer, &pOptions);
    const int nJob = cupsPrintFile2(CUPS_HTTP_DEFAULT, printerName.constData(),
                                    QFile::encodeName(pdf.fileName()).constData(), strTitle.toUtf8().constData(),
                                    nOptions, pOptions);
    cupsFreeOptions(nOptions, pOptions);
    if (nJob > 0)
        return;
    // The print service's own words, where it gives them.
    QString strWhy = QString::fromUtf8(cupsLastErrorString());
    if (strWhy.isEmpty())
        strWhy = QStringLiteral("The print service did not take the job.");
    ReportError(FailedToStart(QStringLiteral("%1: %2").arg(printer.printerName(), strWhy)));
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
