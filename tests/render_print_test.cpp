// The printed page: drawn onto images of known sizes, refused during play,
// one page per job, and a PDF through the print dialog with no printer.
#include "tests/TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cups/cups.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int kPageWidth = 2400;
constexpr int kPageHeight = 3200;

// Runs the print command and answers its dialog, once it shows, through
// answer, then accepts it; true where the dialog showed.
template <typename F>
bool PrintThroughDialog(CSlabixView& view, F answer)
{
    bool bSawDialog = false;
    QTimer timer;
    timer.setInterval(50);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* pDialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget());
        if (!pDialog)
            return;
        bSawDialog = true;
        timer.stop();
        answer(pDialog);
        pDialog->accept();
    });
    timer.start();
    view.OnFilePrint();
    return bSawDialog;
}

// The page as OnPrint draws it on an image of the page's size.
QImage PrintPage(CSlabixView& view, int nWidth = kPageWidth, int nHeight = kPageHeight)
{
    QImage page(nWidth, nHeight, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    CPainterDC dc(painter);
    CPrintInfo info;
    info.m_rectDraw = CRect(0, 0, nWidth, nHeight);
    view.OnPrint(&dc, &info);
    EXPECT_EQ(info.m_bContinuePrinting, FALSE) << "the job never has a second page";
    return page;
}

bool RowHasInk(const QImage& page, int y, int x0 = 0, int x1 = -1)
{
    if (x1 < 0)
        x1 = page.width();
    for (int x = x0; x < x1; ++x)
        if (page.pixel(x, y) != 0xFFFFFFFF)
            return true;
    return false;
}

int FirstInkRow(const QImage& page, int y0, int y1, int x0 = 0, int x1 = -1)
{
    for (int y = y0; y < y1; ++y)
        if (RowHasInk(page, y, x0, x1))
            return y;
    return -1;
}

COLORREF At(const QImage& page, int x, int y) { return FromQRgb(page.pixel(x, y)); }

TEST(PrintPage, TitleScreenLayout)
{
    auto pView = MakeView(1020, 700);
    ASSERT_EQ(pView->m_nStage, 0);
    const QImage page = PrintPage(*pView);

    // The patio picture centred across the page: x 923 to 1477, y 250 to 540.
    EXPECT_EQ(At(page, 923, 400), 0x00000000u);
    EXPECT_EQ(At(page, 1476, 400), 0x00000000u);
    EXPECT_EQ(At(page, 1000, 250), 0x00000000u);
    EXPECT_EQ(At(page, 1000, 539), 0x00000000u);
    EXPECT_EQ(At(page, 922, 400), 0x00FFFFFFu);
    EXPECT_EQ(At(page, 1477, 400), 0x00FFFFFFu);
    for (int y = 251; y < 539; y += 7)
        for (int x = 924; x < 1476; x += 7)
            ASSERT_EQ(At(page, x, y), CR_DIRT) << "no stone lies on the patio at the start";

    // Header from (240, 120); instructions from y = 700; nothing in between
    // but the picture and its note.
    EXPECT_EQ(FirstInkRow(page, 0, 250), FirstInkRow(page, 100, 250));
    const int nHeaderTop = FirstInkRow(page, 0, 250);
    EXPECT_GE(nHeaderTop, 120);
    EXPECT_LE(nHeaderTop, 140);
    for (int y = nHeaderTop; y < nHeaderTop + 60; ++y)
        ASSERT_FALSE(RowHasInk(page, y, 0, 238)) << "the header starts at x = 240";
    EXPECT_TRUE(RowHasInk(page, nHeaderTop + 20, 238, 300));
    const int nNoteTop = FirstInkRow(page, 541, 700);
    EXPECT_GE(nNoteTop, 540 + pView->m_nUnitY);
    EXPECT_LT(nNoteTop, 540 + pView->m_nUnitY + 15);
    const int nTextTop = FirstInkRow(page, 620, kPageHeight);
    EXPECT_GE(nTextTop, 700);
    EXPECT_LE(nTextTop, 720);
    // The text stays within 240 .. W - 240 and above H - 40.
    for (int y = 700; y < kPageHeight; y += 3) {
        ASSERT_FALSE(RowHasInk(page, y, 0, 238)) << y;
        ASSERT_FALSE(RowHasInk(page, y, kPageWidth - 238)) << y;
    }
    EXPECT_FALSE(RowHasInk(page, kPageHeight - 39));
    EXPECT_EQ(pView->m_strPrint, pView->m_strInstructions + pView->m_strMoreGames);
    EXPECT_EQ(pView->m_fontPrint.GetFaceName(), "Arial");
    EXPECT_EQ(pView->m_fontPrint.GetHeight(), 50);
}

TEST(PrintPage, ResultsThenInstructions)
{
    auto pView = MakeView(1020, 700);
    pView->OnKeyDown(VK_SPACE, 1, 0);
    pView->OnKeyDown(VK_END, 1, 0);
    ASSERT_EQ(pView->m_nStage, 2);
    const QImage page = PrintPage(*pView);
    const int nResultsTop = FirstInkRow(page, 620, 1300);
    EXPECT_GE(nResultsTop, 700);
    EXPECT_LE(nResultsTop, 720);
    EXPECT_FALSE(RowHasInk(page, 1200)) << "results cut off at 1200";
    EXPECT_FALSE(RowHasInk(page, 1259));
    const int nInstructionsTop = FirstInkRow(page, 1201, kPageHeight);
    EXPECT_GE(nInstructionsTop, 1260);
    EXPECT_LE(nInstructionsTop, 1280);
}

TEST(PrintPage, StonesWithinTwoPixelsOfThePatio)
{
    auto pView = MakeView(1020, 700);
    pView->OnKeyDown(VK_SPACE, 1, 0);
    pView->OnKeyDown(VK_END, 1, 0);
    const int nLeft = (kPageWidth - 554) / 2;
    // Stone 4 with its left edge at 448 is printed; stone 5 at 447 is not.
    const CRect rcIn(448, 400, 448 + 40, 440);
    const CRect rcOut(447, 500, 447 + 40, 540);
    pView->m_rcStone[4] = rcIn;
    pView->m_rcStone[5] = rcOut;
    pView->m_rcStone[6] = CRect(900, 600, 1006, 642);   // right and bottom 2 beyond: printed
    pView->m_rcStone[7] = CRect(600, 347, 650, 400);    // top 3 beyond: left out
    const QImage page = PrintPage(*pView);
    auto printed = [&](const CRect& rc, int i) {
        return At(page, rc.left - 450 + nLeft + 5, rc.top - 100 + 5) == g_crStoneColour[i];
    };
    EXPECT_TRUE(printed(rcIn, 4));
    EXPECT_EQ(At(page, rcIn.left - 450 + nLeft, rcIn.top - 100 + 5), 0x00000000u) << "its outline";
    EXPECT_FALSE(printed(rcOut, 5));
    EXPECT_TRUE(printed(pView->m_rcStone[6], 6));
    EXPECT_FALSE(printed(pView->m_rcStone[7], 7));
    EXPECT_EQ(At(page, 600 - 450 + nLeft + 5, 350 - 100 + 5), CR_DIRT);
}

TEST(PrintPage, RefusedDuringPlayAndWhenHalted)
{
    auto pView = MakeView(1020, 700);
    pView->OnKeyDown(VK_SPACE, 1, 0);
    CPrintInfo info;
    EXPECT_FALSE(pView->OnPreparePrinting(&info));
    EXPECT_EQ(info.m_pPrinter, nullptr) << "no printer and no dialog";
    pView->OnKeyDown(VK_F1, 1, 0);
    EXPECT_FALSE(pView->OnPreparePrinting(&info)) << "also while the instructions page shows";
    const QImage page = PrintPage(*pView);
    EXPECT_EQ(FirstInkRow(page, 0, kPageHeight), -1) << "a page started during play stays blank";

    auto pHalted = MakeView(1700, 900);
    ASSERT_EQ(pHalted->m_bHalted, 1);
    EXPECT_FALSE(pHalted->OnPreparePrinting(&info));
    EXPECT_EQ(FirstInkRow(PrintPage(*pHalted), 0, kPageHeight), -1);
}

// Counts the pages a job prints, whatever range it asks for.
class CountingView : public CSlabixView {
public:
    void OnPrint(CDC* pDC, CPrintInfo* pInfo) override
    {
        ++m_nPages;
        CSlabixView::OnPrint(pDC, pInfo);
    }
    int m_nPages = 0;
};

QString PdfText(const QString& strPdf)
{
    QProcess proc;
    proc.start("pdftotext", {"-layout", strPdf, "-"});
    if (!proc.waitForFinished(30000))
        return {};
    return QString::fromUtf8(proc.readAllStandardOutput());
}

int PdfPages(const QString& strPdf)
{
    QProcess proc;
    proc.start("pdfinfo", {strPdf});
    proc.waitForFinished(30000);
    for (const QString& line : QString::fromUtf8(proc.readAllStandardOutput()).split('\n'))
        if (line.startsWith("Pages:"))
            return line.mid(6).trimmed().toInt();
    return -1;
}

// The tops of the text lines of a PDF page, in points, between two heights:
// the distinct tops of its words as pdftotext places them.
std::vector<double> LineTops(const QString& strPdf, double dFrom, double dTo)
{
    QProcess proc;
    proc.start("pdftotext", {"-bbox", strPdf, "-"});
    if (!proc.waitForFinished(30000))
        return {};
    static const QRegularExpression reWord(QStringLiteral("<word [^>]*yMin=\"([0-9.]+)\""));
    std::vector<double> tops;
    for (const QRegularExpressionMatch& match : reWord.globalMatch(QString::fromUtf8(proc.readAllStandardOutput()))) {
        const double dTop = match.captured(1).toDouble();
        if (dTop >= dFrom && dTop < dTo && std::none_of(tops.begin(), tops.end(), [&](double d) { return std::abs(d - dTop) < 0.5; }))
            tops.push_back(dTop);
    }
    std::sort(tops.begin(), tops.end());
    return tops;
}

// Lines of a 50-pixel font are 50 printer pixels apart: 12 points at 300 dpi,
// down the whole page (results from y = 700, instructions from y = 1260).
TEST(PrintJob, LinesTwelvePointsApart)
{
    QTemporaryDir dir;
    auto pView = MakeView(1020, 700);
    pView->OnKeyDown(VK_SPACE, 1, 0);
    pView->OnKeyDown(VK_END, 1, 0);
    QPrinter printer(QPrinter::HighResolution);
    printer.setResolution(300);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("lines.pdf"));
    CPrintInfo info;
    ASSERT_EQ(pView->PrintPages(printer, info), 1);

    const double dPoint = 72.0 / 300;  // points per printer pixel
    for (auto [nTop, nBottom] : {std::pair{700, 1200}, std::pair{1260, kPageHeight}}) {
        const std::vector<double> tops = LineTops(dir.filePath("lines.pdf"), nTop * dPoint, nBottom * dPoint);
        ASSERT_GE(tops.size(), 6u) << nTop;
        for (size_t i = 1; i < tops.size(); ++i) {
            // A blank line between paragraphs makes a gap of two lines.
            const double dGap = tops[i] - tops[i - 1];
            const double dLines = std::max(1.0, std::round(dGap / 12));
            EXPECT_NEAR(dGap, 12 * dLines, 0.02) << "line " << i << " of the text from y = " << nTop;
        }
        EXPECT_NEAR(tops.back() - tops.front(), 12 * std::round((tops.back() - tops.front()) / 12), 0.02);
    }
}

TEST(PrintJob, OnePageWhateverTheRange)
{
    QTemporaryDir dir;
    CountingView view;
    view.SetClientSize(1020, 700);
    view.Paint();
    QPrinter printer(QPrinter::HighResolution);
    printer.setResolution(300);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("range.pdf"));
    CPrintInfo info;
    info.m_nFromPage = 1;
    info.m_nToPage = 5;
    EXPECT_EQ(view.PrintPages(printer, info), 1);
    EXPECT_EQ(view.m_nPages, 1);
    EXPECT_EQ(PdfPages(dir.filePath("range.pdf")), 1);
}

// The print command through the dialog, the player choosing its print to
// file (the only choice where no printer is installed): a PDF file.
TEST(PrintJob, DialogPrintsToPdfWithoutPrinter)
{
    QTemporaryDir dir;
    const QString strPdf = dir.filePath("slabix.pdf");
    FixedClock clock(1000000000);
    auto pView = MakeView(1020, 700);
    pView->OnKeyDown(VK_SPACE, 1, 0);
    pView->OnKeyDown(VK_END, 1, 0);

    QString strChosen;
    const bool bSawDialog = PrintThroughDialog(*pView, [&](QPrintDialog* pDialog) {
        // The last entry of the dialog's printer list is its print to file.
        if (auto* pPrinters = pDialog->findChild<QComboBox*>(QStringLiteral("printers"))) {
            pPrinters->setCurrentIndex(pPrinters->count() - 1);
            strChosen = pPrinters->currentText();
        }
        for (QLineEdit* pEdit : pDialog->findChildren<QLineEdit*>())
            if (pEdit->objectName().contains("output", Qt::CaseInsensitive) ||
                pEdit->objectName().contains("file", Qt::CaseInsensitive))
                pEdit->setText(strPdf);
    });
    ASSERT_TRUE(bSawDialog);
    EXPECT_TRUE(strChosen.contains("file", Qt::CaseInsensitive)) << strChosen.toStdString();
    ASSERT_TRUE(QFile::exists(strPdf)) << "print to file gives a PDF";
    EXPECT_EQ(PdfPages(strPdf), 1);
    const QString strText = PdfText(strPdf).simplified();
    EXPECT_TRUE(strText.contains("Slabix Version D605 - Run on: " + crt::FormatLocalTime(1000000000, "%c").simplified()))
        << strText.left(300).toStdString();
    EXPECT_TRUE(strText.contains("Below are your results:"));
    EXPECT_TRUE(strText.contains("You made no money."));
    EXPECT_TRUE(strText.contains("You are a contractor who builds stone patios for a living."));
    EXPECT_TRUE(strText.contains("Only stones within patio area are shown"));
}

// A print service of the test's own: cupsd on a socket in a scratch folder,
// with one queue whose backend keeps each job's copies and options.
class PrintService {
public:
    PrintService()
    {
        const QString r = m_dir.path();
        for (const char* pszDir : {"etc", "spool/tmp", "cache", "state", "log", "serverbin/backend", "kept"})
            QDir().mkpath(r + "/" + pszDir);
        for (const char* pszDir : {"filter", "daemon", "cgi-bin", "monitor", "notifier", "driver"})
            QFile::link(QStringLiteral("/usr/lib/cups/") + pszDir, r + "/serverbin/" + pszDir);
        Write("serverbin/backend/keep",
              "#!/bin/sh\n[ $# -eq 0 ] && { echo 'direct keep \"Unknown\" \"Keeps jobs\"'; exit 0; }\n"
              "cat ${6:-/dev/stdin} > /dev/null\necho \"copies=$4 $5\" > " + r + "/kept/job-$1\n");
        QFile::setPermissions(r + "/serverbin/backend/keep", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_strSocket = r + "/cups.sock";
        Write("etc/cupsd.conf", "Listen " + m_strSocket + "\nBrowsing No\nWebInterface No\nDefaultAuthType None\n"
                                "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                                "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n");
        Write("etc/cups-files.conf",
              QStringLiteral("ServerRoot %1/etc\nServerBin %1/serverbin\nRequestRoot %1/spool\nTempDir %1/spool/tmp\n"
                             "CacheDir %1/cache\nStateDir %1/state\nAccessLog %1/log/access_log\n"
                             "ErrorLog %1/log/error_log\nPageLog %1/log/page_log\nPrintcap %1/printcap\n"
                             "SystemGroup root\n").arg(r));
        m_cupsd.start(Tool("cupsd"), {"-f", "-c", r + "/etc/cupsd.conf", "-s", r + "/etc/cups-files.conf"});
    }
    ~PrintService()
    {
        m_cupsd.kill();
        m_cupsd.waitForFinished(5000);
    }

    // Up, with its queue as the default printer; false with why in strWhy.
    bool Start(const QString& strQueue, QString& strWhy)
    {
        const QDeadlineTimer deadline(20000);
        while (!Run("lpstat", {"-r"}).contains("is running")) {
            if (m_cupsd.state() == QProcess::NotRunning || deadline.hasExpired()) {
                strWhy = "cupsd did not come up: " + m_cupsd.errorString() + Log();
                return false;
            }
            QThread::msleep(50);
        }
        Run("lpadmin", {"-p", strQueue, "-E", "-v", "keep:/"});
        Run("lpadmin", {"-d", strQueue});
        if (!Run("lpstat", {"-d"}).contains(strQueue)) {
            strWhy = "the queue was not made: " + Log();
            return false;
        }
        return true;
    }

    // The copies and options of the first job the queue kept, once kept.
    QString Kept()
    {
        const QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            const QStringList jobs = QDir(m_dir.path() + "/kept").entryList(QDir::Files);
            if (!jobs.isEmpty()) {
                QFile file(m_dir.path() + "/kept/" + jobs.first());
                if (file.open(QIODevice::ReadOnly) && file.size() > 0)
                    return QString::fromUtf8(file.readAll());
            }
            QThread::msleep(50);
        }
        return "(no job kept) " + Log();
    }

    const QString& Socket() const { return m_strSocket; }

private:
    static QString Tool(const QString& strName)
    {
        const QString strPath = QStandardPaths::findExecutable(strName, {"/usr/sbin", "/usr/bin", "/sbin"});
        return strPath.isEmpty() ? strName : strPath;
    }
    QString Run(const QString& strTool, QStringList args) const
    {
        QProcess proc;
        proc.start(Tool(strTool), QStringList{"-h", m_strSocket} + args);
        proc.waitForFinished(10000);
        return QString::fromUtf8(proc.readAllStandardOutput() + proc.readAllStandardError());
    }
    void Write(const QString& strPath, const QString& strText) const
    {
        QFile file(m_dir.path() + "/" + strPath);
        if (file.open(QIODevice::WriteOnly))
            file.write(strText.toUtf8());
    }
    QString Log() const
    {
        QFile file(m_dir.path() + "/log/error_log");
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll().right(2000)) : QString();
    }

    QTemporaryDir m_dir;
    QString m_strSocket;
    QProcess m_cupsd;
};

// What the player chooses in the print dialog reaches the print service with
// the job: two copies (Qt's printer settings) and odd pages only (an option of
// the print service's own, which Qt's print engine keeps for the job).
TEST(PrintJob, DialogOptionsReachThePrintService)
{
    PrintService service;
    QString strWhy;
    ASSERT_TRUE(service.Start("slabix_test", strWhy)) << strWhy.toStdString();
    const QByteArray oldServer = qgetenv("CUPS_SERVER");
    qputenv("CUPS_SERVER", service.Socket().toUtf8());
    cupsSetServer(service.Socket().toUtf8().constData());
    auto pView = MakeView(1020, 700);
    pView->OnKeyDown(VK_SPACE, 1, 0);
    pView->OnKeyDown(VK_END, 1, 0);

    QString strChosen;
    bool bOddPages = false;
    PrintThroughDialog(*pView, [&](QPrintDialog* pDialog) {
        if (auto* pPrinters = pDialog->findChild<QComboBox*>(QStringLiteral("printers"))) {
            pPrinters->setCurrentIndex(pPrinters->findText(QStringLiteral("slabix_test")));
            strChosen = pPrinters->currentText();
        }
        if (auto* pCopies = pDialog->findChild<QSpinBox*>(QStringLiteral("copies")))
            pCopies->setValue(2);
        if (auto* pPageSet = pDialog->findChild<QComboBox*>(QStringLiteral("pageSetCombo"))) {
            pPageSet->setCurrentIndex(pPageSet->findText(QStringLiteral("Odd Pages")));
            bOddPages = pPageSet->isEnabled() && pPageSet->currentText() == QStringLiteral("Odd Pages");
        }
    });
    const QString strKept = service.Kept();
    qputenv("CUPS_SERVER", oldServer);
    cupsSetServer(nullptr);

    EXPECT_EQ(strChosen, QStringLiteral("slabix_test"));
    ASSERT_TRUE(bOddPages) << "the dialog offers odd pages only for the queue";
    const QStringList options = strKept.split(' ', Qt::SkipEmptyParts);
    EXPECT_TRUE(options.contains(QStringLiteral("copies=2"))) << strKept.toStdString();
    EXPECT_TRUE(options.contains(QStringLiteral("page-set=odd"))) << strKept.toStdString();
}

TEST(PrintJob, CancelledDialogPrintsNothing)
{
    CountingView view;
    view.SetClientSize(1020, 700);
    view.Paint();
    QTimer::singleShot(200, [] {
        if (auto* pDialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget()))
            pDialog->reject();
    });
    view.OnFilePrint();
    EXPECT_EQ(view.m_nPages, 0);
}

}  // namespace
