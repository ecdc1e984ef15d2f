// Drawing objects, the pixel-exact primitives of both targets, fonts and text.
#include "platform/Gdi.h"
#include "tests/TestSupport.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <utility>
#include <vector>

namespace {

constexpr COLORREF WHITE = 0xFFFFFF, BLACK = 0, GREY = 0x808080;
constexpr COLORREF RED = RGB(255, 0, 0), BLUE = RGB(0, 0, 255), GREEN = RGB(0, 160, 0);

QImage Canvas(int w, int h, COLORREF cr = WHITE)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(ToQRgb(cr));
    return image;
}

COLORREF At(const QImage& image, int x, int y) { return FromQRgb(image.pixel(x, y)); }
bool Inside(int x, int y, const CRect& rc) { return x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom; }

// Every pixel against the expectation; reports the first that differs.
void ExpectPixels(const QImage& image, const std::function<COLORREF(int, int)>& expected)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (At(image, x, y) != expected(x, y)) {
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex << At(image, x, y)
                              << ", expected " << expected(x, y);
                return;
            }
}

// Bounding box of the pixels that differ from the background.
CRect InkBox(const QImage& image, COLORREF crBackground)
{
    CRect rc(image.width(), image.height(), 0, 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (At(image, x, y) != crBackground)
                rc = CRect(std::min(rc.left, x), std::min(rc.top, y), std::max(rc.right, x + 1),
                           std::max(rc.bottom, y + 1));
    return rc;
}

// A canvas with a bold Arial font selected, black on transparent.
struct TextCanvas {
    QImage image;
    CFrameDC dc{image};
    CFont font;
    int nCell = 0;
    TextCanvas(int w, int h, int nHeight = 22) : image(Canvas(w, h))
    {
        font.CreateFont(nHeight, 700, "Arial");
        dc.SelectObject(&font);
        dc.SetBkMode(TRANSPARENT);
        nCell = Metrics().ascent() + Metrics().descent();
    }
    QFontMetrics Metrics() { return QFontMetrics(font.Resolve(&image).font, &image); }
    int Advance(const char* psz) { return Metrics().horizontalAdvance(QString::fromLatin1(psz)); }
};

}  // namespace

TEST(PlatformGdi, HandlesAndSelection)
{
    CBrush brush;
    CPen pen, penUnmade;
    CFont font;
    EXPECT_EQ(brush.GetSafeHandle() | pen.GetSafeHandle() | font.GetSafeHandle(), 0u);
    EXPECT_FALSE(brush.DeleteObject());
    brush.CreateSolidBrush(GREEN);
    pen.CreatePen(PS_SOLID, 1, RED);
    font.CreateFont(22, 700, "Arial");
    std::set<std::uint32_t> handles{0, brush.GetSafeHandle(), pen.GetSafeHandle(), font.GetSafeHandle()};
    EXPECT_EQ(handles.size(), 4u) << "handles must be nonzero and distinct";
    EXPECT_TRUE(font.DeleteObject());
    EXPECT_EQ(font.GetSafeHandle(), 0u);
    font.CreateFont(30, 700, "Courier New");
    EXPECT_EQ(handles.count(font.GetSafeHandle()), 0u) << "a handle was given out twice";

    QImage image = Canvas(10, 3);
    CFrameDC dc(image);
    EXPECT_EQ(dc.SelectObject(&pen), nullptr);         // the stock pen was selected
    EXPECT_EQ(dc.SelectObject(&penUnmade), nullptr);   // refused: the red pen stays
    dc.MoveTo(0, 0);
    dc.LineTo(5, 0);
    EXPECT_EQ(dc.SelectObject(static_cast<CPen*>(nullptr)), &pen);
    dc.MoveTo(0, 1);
    dc.LineTo(5, 1);
    EXPECT_EQ(At(image, 0, 0), RED);
    EXPECT_EQ(At(image, 0, 1), BLACK);
    EXPECT_EQ(dc.SelectObject(&brush), nullptr);
    EXPECT_EQ(dc.SelectObject(&font), nullptr);
    EXPECT_EQ(dc.SelectObject(static_cast<CFont*>(nullptr)), &font);
    EXPECT_EQ(dc.SetBkMode(TRANSPARENT), OPAQUE);
    EXPECT_EQ(dc.SetTextColor(RED), BLACK);
}

TEST(PlatformGdi, RectangleAndFillRectCoverExactlyTheirPixels)
{
    QImage image = Canvas(40, 30, GREY);
    CFrameDC dc(image);
    const CRect rcStock(2, 2, 8, 7), rcColoured(12, 8, 30, 20), rcFill(31, 21, 36, 28);
    dc.Rectangle(rcStock);  // black outline, white inside
    CPen pen;
    CBrush brush, brushFill;
    pen.CreatePen(PS_SOLID, 1, RED);
    brush.CreateSolidBrush(BLUE);
    brushFill.CreateSolidBrush(GREEN);
    dc.SelectObject(&pen);
    dc.SelectObject(&brush);
    dc.Rectangle(rcColoured);
    dc.FillRect(rcFill, &brushFill);
    dc.FillRect(CRect(5, 25, 5, 28), &brushFill);  // empty
    dc.FillRect(CRect(9, 25, 6, 28), &brushFill);  // inverted
    dc.FillRect(CRect(0, 0, 40, 30), nullptr);

    ExpectPixels(image, [&](int x, int y) {
        for (auto [rc, crPen, crBrush] : {std::tuple{rcStock, BLACK, WHITE}, std::tuple{rcColoured, RED, BLUE}})
            if (Inside(x, y, rc))
                return (x == rc.left || x == rc.right - 1 || y == rc.top || y == rc.bottom - 1) ? crPen : crBrush;
        return Inside(x, y, rcFill) ? GREEN : GREY;
    });
}

TEST(PlatformGdi, LineToCoversStartNotEndAndMovesTheCurrentPoint)
{
    QImage image = Canvas(30, 30);
    CFrameDC dc(image);
    std::set<std::pair<int, int>> drawn;
    dc.MoveTo(2, 3);
    dc.LineTo(12, 3);  // right
    for (int x = 2; x < 12; ++x)
        drawn.insert({x, 3});
    EXPECT_EQ(dc.MoveTo(20, 5), CPoint(12, 3));
    dc.LineTo(14, 5);  // left
    for (int x = 20; x > 14; --x)
        drawn.insert({x, 5});
    dc.MoveTo(4, 8);
    dc.LineTo(4, 20);  // down
    dc.LineTo(4, 10);  // and back up from (4, 20)
    for (int y = 8; y <= 20; ++y)
        drawn.insert({4, y});
    dc.LineTo(4, 10);  // zero length
    EXPECT_EQ(dc.MoveTo(0, 0), CPoint(4, 10));
    ExpectPixels(image, [&](int x, int y) { return drawn.count({x, y}) ? BLACK : WHITE; });
}

TEST(PlatformGdi, PixelsAndClippingToTheImage)
{
    QImage image = Canvas(16, 12);
    CFrameDC dc(image);
    EXPECT_EQ(dc.SetPixel(3, 4, RGB(10, 20, 30)), RGB(10, 20, 30));
    EXPECT_EQ(dc.GetPixel(3, 4), RGB(10, 20, 30));
    EXPECT_EQ(image.pixel(3, 4), qRgb(10, 20, 30)) << "red is the low byte of a COLORREF";
    for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {16, 0}, {0, 12}})
        EXPECT_EQ(dc.GetPixel(x, y), CLR_INVALID);

    CBrush brush;
    brush.CreateSolidBrush(BLUE);
    dc.SelectObject(&brush);
    dc.Rectangle(-5, -5, 3, 3);
    dc.FillRect(CRect(14, 10, 40, 40), &brush);
    dc.MoveTo(-10, 8);
    dc.LineTo(100, 8);
    dc.SetPixel(-1, -1, RED);
    EXPECT_EQ(dc.SetPixel(16, 5, RED), CLR_INVALID);
    dc.Rectangle(100, 100, 120, 120);
    ExpectPixels(image, [&](int x, int y) {
        if (x == 3 && y == 4)
            return RGB(10, 20, 30);
        if (y == 8)
            return BLACK;
        if (Inside(x, y, CRect(-5, -5, 3, 3)))
            return (x == 2 || y == 2) ? BLACK : BLUE;
        return Inside(x, y, CRect(14, 10, 16, 12)) ? BLUE : WHITE;
    });
    // Dirty: only what changed on the image (the view test checks the union).
    QImage corner = Canvas(50, 40);
    CFrameDC dcCorner(corner);
    dcCorner.Rectangle(40, 30, 60, 60);
    EXPECT_EQ(dcCorner.DirtyRect(), CRect(40, 30, 50, 40));
}

// The printer target gives the same pixels, so paper and screen agree.
TEST(PlatformGdi, PainterTargetDrawsTheSamePixels)
{
    auto script = [](CDC& dc) {
        CPen pen;
        CBrush brush, brushFill;
        pen.CreatePen(PS_SOLID, 1, RED);
        brush.CreateSolidBrush(BLUE);
        brushFill.CreateSolidBrush(GREEN);
        dc.Rectangle(1, 1, 9, 7);
        dc.SelectObject(&pen);
        dc.SelectObject(&brush);
        dc.Rectangle(10, 3, 40, 25);
        dc.Rectangle(42, 2, 43, 12);  // one pixel wide: all outline
        dc.Rectangle(-4, 30, 8, 50);
        dc.FillRect(CRect(20, 30, 35, 38), &brushFill);
        dc.MoveTo(5, 45);
        dc.LineTo(50, 45);
        dc.LineTo(50, 28);
        dc.LineTo(44, 60);  // diagonal, off the bottom
        dc.SetPixel(30, 10, BLACK);
    };
    QImage frame = Canvas(60, 50, GREY), painted = Canvas(60, 50, GREY);
    CFrameDC dcFrame(frame);
    script(dcFrame);
    QPainter painter(&painted);
    CPainterDC dc(painter);
    script(dc);
    painter.end();
    EXPECT_EQ(dc.GetPixel(30, 10), CLR_INVALID);
    EXPECT_EQ(At(frame, 30, 10), BLACK);
    ExpectPixels(painted, [&](int x, int y) { return At(frame, x, y); });
}

TEST(PlatformText, FontsFitTheirCellHeight)
{
    QImage image = Canvas(8, 8);
    for (const char* pszFace : {"Arial", "Courier New"}) {
        for (int nHeight : {18, 22, 30, 96}) {
            CFont font;
            font.CreateFont(nHeight, 700, pszFace);
            const CDeviceFont resolved = font.Resolve(&image);
            const QFontMetrics fm(resolved.font, &image);
            EXPECT_FALSE(resolved.bScaled) << "whole pixel sizes on the framebuffer";
            EXPECT_LE(fm.ascent() + fm.descent(), nHeight) << pszFace;
            EXPECT_GE(fm.ascent() + fm.descent(), nHeight - 1) << pszFace;
            EXPECT_TRUE(QFontInfo(resolved.font).bold()) << pszFace;
        }
    }
    CFont courier;
    courier.CreateFont(30, 700, "Courier New");
    EXPECT_TRUE(QFontInfo(courier.Resolve(&image).font).fixedPitch());
}

TEST(PlatformText, TextOutTopLeftAtThePointWithoutABox)
{
    TextCanvas t(300, 100);
    t.image.fill(ToQRgb(GREY));
    t.dc.TextOut(40, 30, QStringLiteral("Hg Text"));
    const CRect ink = InkBox(t.image, GREY);
    EXPECT_NEAR(ink.left, 41, 2);
    EXPECT_NEAR(ink.right - 40, t.Advance("Hg Text"), 3);
    EXPECT_GE(ink.top, 30);
    EXPECT_LE(ink.top, 30 + t.nCell / 3);
    EXPECT_LE(ink.bottom, 30 + t.nCell);
    EXPECT_GE(ink.bottom, 30 + t.nCell * 3 / 4);  // the descender of "g"
    bool bWhite = false;  // a transparent text has no white box behind it
    for (int y = 0; y < t.image.height(); ++y)
        for (int x = 0; x < t.image.width(); ++x)
            bWhite |= At(t.image, x, y) == WHITE;
    EXPECT_FALSE(bWhite);

    QImage stock = Canvas(200, 60);  // no font selected: the stock font
    CFrameDC dc(stock);
    dc.TextOut(10, 10, QStringLiteral("Stock"));
    EXPECT_LE(InkBox(stock, WHITE).bottom, 10 + 16);
}

TEST(PlatformText, DrawTextIsCutOffAtItsRectangle)
{
    TextCanvas t(400, 200, 96);
    const CRect rc(50, 40, 170, 90);
    t.dc.DrawText(QStringLiteral("WWWWWW gggg"), rc, DT_WORDBREAK);
    const CRect ink = InkBox(t.image, WHITE);  // too wide and too tall: cut at right and bottom
    EXPECT_GE(ink.left, rc.left);
    EXPECT_GE(ink.top, rc.top);
    EXPECT_EQ(ink.right, rc.right);
    EXPECT_EQ(ink.bottom, rc.bottom);
}

TEST(PlatformText, WordBreakIsGreedyAtSpaces)
{
    TextCanvas t(600, 300);
    const QString str = QStringLiteral("alpha beta gamma");
    const int nFits = t.Advance("alpha beta");  // the space after it does not count
    EXPECT_EQ(t.dc.DrawText(str, CRect(0, 0, nFits, 300), DT_WORDBREAK), 2 * t.nCell);
    EXPECT_EQ(t.dc.DrawText(str, CRect(0, 0, nFits - 1, 300), DT_WORDBREAK), 3 * t.nCell);
    EXPECT_EQ(t.dc.DrawText(str, CRect(0, 0, 600, 300), DT_WORDBREAK), t.nCell);
    EXPECT_EQ(t.dc.DrawText(str, CRect(0, 0, 20, 300), DT_LEFT), t.nCell) << "no DT_WORDBREAK, no wrap";
    // A word wider than the line stands alone.
    EXPECT_EQ(t.dc.DrawText(QStringLiteral("a incomprehensibilities b"), CRect(0, 0, t.Advance("a b"), 300),
                            DT_WORDBREAK), 3 * t.nCell);
    EXPECT_EQ(t.dc.DrawText(QString(), CRect(0, 0, 100, 100), DT_WORDBREAK), 0);

    // The game's instructions at two of its sizes: every line is the longest
    // run of whole words whose text, measured whole, fits the width, and
    // those lines drawn one below the other give the wrapped text's pixels
    // within its rectangle.
    QString strText = QString::fromLatin1(g_pszInstructions[0]);
    for (int i = 1; i < 22; ++i)
        strText += QString::fromLatin1(g_pszInstructions[i]);
    strText += QString::fromLatin1(g_pszClosingNotice);
    for (const auto& [nHeight, nWidth] : {std::pair{22, 976}, std::pair{30, 1548}}) {
        TextCanvas wrapped(1600, 1400, nHeight), byLine(1600, 1400, nHeight);
        const QFontMetrics fm = wrapped.Metrics();
        std::vector<QString> lines;
        for (const QString& strPara : strText.split(u'\n')) {
            const qsizetype n = strPara.size();
            auto skip = [&](qsizetype i) {
                while (i < n && strPara[i] == u' ')
                    ++i;
                return i;
            };
            if (skip(0) == n) {
                lines.push_back(strPara);
                continue;
            }
            for (qsizetype start = 0; skip(start) < n;) {
                qsizetype end = -1;
                for (qsizetype pos = start; skip(pos) < n;) {
                    qsizetype wordEnd = strPara.indexOf(u' ', skip(pos));
                    wordEnd = wordEnd < 0 ? n : wordEnd;
                    if (end >= 0 && fm.horizontalAdvance(strPara.mid(start, wordEnd - start)) > nWidth)
                        break;
                    end = pos = wordEnd;
                }
                lines.push_back(strPara.mid(start, end - start));
                start = skip(end);
            }
        }
        const CRect rc(24, 24, 24 + nWidth, 1400);
        ASSERT_LT(int(lines.size()) * wrapped.nCell, rc.Height());
        EXPECT_EQ(wrapped.dc.DrawText(strText, rc, DT_LEFT | DT_TOP | DT_WORDBREAK), int(lines.size()) * wrapped.nCell);
        for (size_t i = 0; i < lines.size(); ++i)
            byLine.dc.TextOut(rc.left, rc.top + int(i) * byLine.nCell, lines[i]);
        const QRect rcClip(rc.left, rc.top, rc.Width(), rc.Height());  // where the wrapped text is cut off
        EXPECT_TRUE(wrapped.image.copy(rcClip) == byLine.image.copy(rcClip))
            << "height " << nHeight << ", " << lines.size() << " lines";
    }
}

TEST(PlatformText, LineFeedsAndCentring)
{
    TextCanvas multi(400, 200), single(400, 200);
    const QString str = QStringLiteral("first line\nsecond");
    EXPECT_EQ(multi.dc.DrawText(str, CRect(10, 10, 390, 190), DT_WORDBREAK), 2 * multi.nCell);
    EXPECT_GT(InkBox(multi.image, WHITE).bottom, 10 + multi.nCell);
    EXPECT_EQ(single.dc.DrawText(str, CRect(10, 10, 390, 190), DT_SINGLELINE), single.nCell);
    EXPECT_LE(InkBox(single.image, WHITE).bottom, 10 + single.nCell);

    TextCanvas box(400, 200);
    box.image.fill(ToQRgb(BLACK));
    box.dc.SetTextColor(WHITE);
    const CRect rc(100, 50, 300, 110);
    box.dc.DrawText(QStringLiteral("12345"), rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    const CRect ink = InkBox(box.image, BLACK);
    EXPECT_NEAR(ink.left + ink.right, rc.left + rc.right, 3);
    EXPECT_NEAR(ink.top + ink.bottom, rc.top + rc.bottom, 3);

    // Numbers, as the status panel draws them, have the pixels of the same
    // text drawn by the painter at the same place.
    for (const char* psz : {"0", "-1234567890", "9876", "202"}) {
        TextCanvas digits(400, 200), painted(400, 200);
        digits.image.fill(ToQRgb(BLACK));
        painted.image.fill(ToQRgb(BLACK));
        digits.dc.SetTextColor(WHITE);
        const QString strNumber = QString::fromLatin1(psz);
        digits.dc.DrawText(strNumber, rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        QPainter painter(&painted.image);
        painter.setClipRect(QRect(rc.left, rc.top, rc.Width(), rc.Height()));
        painter.setFont(painted.font.Resolve(&painted.image).font);
        painter.setPen(QColor(255, 255, 255));
        painter.drawText(QPoint(rc.left + (rc.Width() - painted.Advance(psz)) / 2,
                                rc.top + (rc.Height() - painted.nCell) / 2 + painted.Metrics().ascent()),
                         strNumber);
        painter.end();
        EXPECT_TRUE(digits.image == painted.image) << psz;
    }

}
