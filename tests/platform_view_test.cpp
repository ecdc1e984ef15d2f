// The view's framebuffer, paint and client DCs, the document, and printing.
#include "platform/View.h"
#include "tests/TestSupport.h"

#include <QFile>
#include <QFontMetrics>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr COLORREF WHITE = 0xFFFFFF, RED = RGB(255, 0, 0);
constexpr CRect RC_PAINTED(2, 3, 6, 5);

class TestView : public CView {
public:
    void OnDraw(CDC* pDC) override
    {
        crSeenAtOrigin = pDC->GetPixel(0, 0);
        CBrush brush;
        brush.CreateSolidBrush(RED);
        pDC->FillRect(RC_PAINTED, &brush);
    }
    BOOL OnPreparePrinting(CPrintInfo* pInfo) override
    {
        ++nPrepares;
        return bRefuse ? FALSE : DoPreparePrinting(pInfo);
    }
    void OnBeginPrinting(CDC*, CPrintInfo*) override { ++nBegins; }
    void OnPrint(CDC* pDC, CPrintInfo* pInfo) override
    {
        pages.push_back(pInfo->m_nCurPage);
        rcDraw = pInfo->m_rectDraw;
        CFont font;
        font.CreateFont(60, 500, "Arial");
        pDC->SelectObject(&font);
        pDC->TextOut(240, 120, QStringLiteral("Page"));
        pDC->Rectangle(100, 250, 654, 540);
        pDC->SelectObject(static_cast<CFont*>(nullptr));
        if (bOnePage)
            pInfo->m_bContinuePrinting = FALSE;
    }
    void OnEndPrinting(CDC*, CPrintInfo*) override { ++nEnds; }

    COLORREF crSeenAtOrigin = 0;
    bool bRefuse = false, bOnePage = false;
    int nPrepares = 0, nBegins = 0, nEnds = 0;
    std::vector<UINT> pages;
    CRect rcDraw;
};

// A 300 dpi printer writing a PDF file into a temporary folder.
struct PdfJob {
    QTemporaryDir dir;
    QPrinter printer{QPrinter::HighResolution};
    QString strPath = dir.filePath(QStringLiteral("job.pdf"));
    PdfJob()
    {
        printer.setResolution(300);
        printer.setOutputFileName(strPath);
    }
    int PagesWritten() const
    {
        QFile file(strPath);
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        static const QRegularExpression re(QStringLiteral("/Type\\s*/Page(?![a-zA-Z])"));
        return int(QString::fromLatin1(file.readAll()).count(re));
    }
};

}  // namespace

TEST(PlatformView, PaintErasesToWhiteDrawsAndReportsTheClientArea)
{
    TestView view;
    view.SetClientSize(40, 30);
    CRect rc;
    view.GetClientRect(&rc);
    EXPECT_EQ(rc, CRect(0, 0, 40, 30));
    ASSERT_EQ(view.FrameBuffer().format(), QImage::Format_RGB32);
    EXPECT_EQ(FromQRgb(view.FrameBuffer().pixel(39, 29)), WHITE);

    std::vector<CRect> updates;
    view.SetUpdateSink([&](const CRect& rcUpdate) { updates.push_back(rcUpdate); });
    view.FrameBuffer().fill(qRgb(0, 0, 0));  // stale drawing
    view.Paint();
    EXPECT_EQ(view.crSeenAtOrigin, WHITE) << "OnDraw sees the erased area through its DC";
    EXPECT_EQ(updates, std::vector<CRect>{CRect(0, 0, 40, 30)});
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const bool bPainted =
                x >= RC_PAINTED.left && x < RC_PAINTED.right && y >= RC_PAINTED.top && y < RC_PAINTED.bottom;
            ASSERT_EQ(FromQRgb(view.FrameBuffer().pixel(x, y)), bPainted ? RED : WHITE) << x << ", " << y;
        }
}

TEST(PlatformView, ClientDCReportsWhatItChangedWhenReleased)
{
    TestView view;
    view.SetClientSize(100, 60);
    std::vector<CRect> updates;
    view.SetUpdateSink([&](const CRect& rc) { updates.push_back(rc); });
    {
        CClientDC dc(&view);
        dc.SetPixel(10, 20, RED);
        dc.MoveTo(30, 5);
        dc.LineTo(30, 15);
        EXPECT_TRUE(updates.empty()) << "reported on release only";
    }
    EXPECT_EQ(updates, std::vector<CRect>{CRect(10, 5, 31, 21)});
    EXPECT_EQ(FromQRgb(view.FrameBuffer().pixel(30, 14)), 0u);
    {
        CClientDC dc(&view);
        dc.SetPixel(-3, 7, RED);  // nothing on the client area
    }
    EXPECT_EQ(updates.size(), 1u);
    {
        CClientDC dc(&view);
        dc.SetBkMode(TRANSPARENT);
        dc.TextOut(50, 30, QStringLiteral("Text"));
    }
    ASSERT_EQ(updates.size(), 2u);
    EXPECT_TRUE(updates[1].left <= 50 && updates[1].top <= 30 && updates[1].right > 60 && updates[1].bottom > 40);
}

TEST(PlatformView, DocumentTitleAndNew)
{
    struct Doc : CDocument {
        void DeleteContents() override { ++nDeletes; }
        int nDeletes = 0;
    } doc;
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("Untitled"));
    QString strSeen;
    doc.m_fnTitleChanged = [&](const CString& str) { strSeen = str; };
    doc.SetTitle(QStringLiteral("Run at noon"));
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("Run at noon"));
    EXPECT_EQ(strSeen, QStringLiteral("Run at noon"));
    EXPECT_EQ(doc.OnNewDocument(), TRUE);
    EXPECT_EQ(doc.nDeletes, 1);
}

TEST(PlatformPrint, ClearingContinueEndsTheJobAfterOnePage)
{
    PdfJob job;
    TestView view;
    view.bOnePage = true;
    CPrintInfo info;
    info.m_nToPage = 5;
    EXPECT_EQ(view.PrintPages(job.printer, info), 1);
    EXPECT_EQ(view.pages, std::vector<UINT>{1});
    EXPECT_EQ(view.nBegins + view.nEnds, 2);
    EXPECT_EQ(job.PagesWritten(), 1);
    EXPECT_EQ(view.rcDraw, CRect(0, 0, job.printer.width(), job.printer.height()));
    EXPECT_GT(view.rcDraw.right, 2000) << "device pixels at 300 dpi";
}

TEST(PlatformPrint, PagesFollowTheRangeWhileTheViewGoesOn)
{
    PdfJob job;
    TestView view;
    CPrintInfo info;
    info.m_nFromPage = 2;
    info.m_nToPage = 4;
    EXPECT_EQ(view.PrintPages(job.printer, info), 3);
    EXPECT_EQ(view.pages, (std::vector<UINT>{2, 3, 4}));
    EXPECT_EQ(job.PagesWritten(), 3);

    PdfJob jobUnknown;  // no range chosen: the length is unknown, one page
    CPrintInfo infoUnknown;
    EXPECT_EQ(TestView().PrintPages(jobUnknown.printer, infoUnknown), 1);
    EXPECT_EQ(jobUnknown.PagesWritten(), 1);

    // On the printer a font's ascent plus descent is its cell height exactly.
    for (int nHeight : {36, 50, 60}) {
        for (const char* pszFace : {"Arial", "Courier New"}) {
            CFont font;
            font.CreateFont(nHeight, 500, pszFace);
            const CDeviceFont resolved = font.Resolve(&job.printer);
            const QFontMetricsF fm(resolved.font, &job.printer);
            EXPECT_NEAR((fm.ascent() + fm.descent()) * resolved.scale, nHeight, 1e-9) << pszFace << " " << nHeight;
        }
    }
}

TEST(PlatformPrint, RefusedOrPrinterlessCommandsPrintNothing)
{
    TestView view;
    view.bRefuse = true;
    view.OnFilePrint();
    EXPECT_EQ(view.nPrepares, 1);
    EXPECT_TRUE(view.pages.empty());

    CPrintInfo info;  // preview makes its printer without a dialog
    info.m_bPreview = TRUE;
    ASSERT_TRUE(view.DoPreparePrinting(&info));
    ASSERT_NE(info.m_pPrinter, nullptr);
    EXPECT_EQ(info.m_pPrinter->resolution(), 300);
    delete info.m_pPrinter;

    // The tests' own print environment has no printer, whatever the machine
    // has, so direct print finds nothing to print on.
    ASSERT_TRUE(QPrinterInfo::availablePrinters().isEmpty()) << "the tests reach a print service";
    ASSERT_TRUE(QPrinterInfo::defaultPrinterName().isEmpty());
    TestView direct;
    direct.OnFilePrintDirect();
    EXPECT_EQ(direct.nPrepares, 1);
    EXPECT_TRUE(direct.pages.empty());
}
