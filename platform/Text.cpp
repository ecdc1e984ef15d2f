// Fonts and text: cell-height fonts, TextOut and the formatted DrawText.
#include "platform/Gdi.h"

#include <QColor>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <map>
#include <tuple>
#include <vector>

namespace {

// The stock font of a device context with nothing selected.
constexpr const char* STOCK_FACE = "Arial";
constexpr int STOCK_HEIGHT = 16;
constexpr int STOCK_WEIGHT = 700;
// Height used for a font asked for with height 0 ("any size").
constexpr int DEFAULT_CELL_HEIGHT = 16;

QFont MakeQFont(const QString& strFace, int nPixelSize, int nWeight)
{
    QFont font(strFace);
    font.setPixelSize(std::max(1, nPixelSize));
    font.setWeight(QFont::Weight(std::clamp(nWeight <= 0 ? 400 : nWeight, 1, 1000)));
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    font.setKerning(false);  // advances as the desktop gives them, so columns line up
    // The system's font configuration maps the desktop faces to metric-
    // compatible ones; the hint only matters if even that fails.
    const QString key = strFace.toLower();
    font.setStyleHint(key.contains(u"courier") || key.contains(u"mono") ? QFont::Monospace : QFont::SansSerif);
    return font;
}

int DeviceDpi(const QPaintDevice* pDevice)
{
    return pDevice ? pDevice->logicalDpiY() : 0;
}

// Printers (the print preview's too) and PDF files draw text at any size.
bool DrawsAnySize(const QPaintDevice* pDevice)
{
    return dynamic_cast<const QPagedPaintDevice*>(pDevice) != nullptr;
}

int CellHeight(const QFont& font, const QPaintDevice* pDevice)
{
    const QFontMetrics fm = pDevice ? QFontMetrics(font, pDevice) : QFontMetrics(font);
    return fm.ascent() + fm.descent();
}

// The largest pixel size whose ascent plus descent fits the cell height on the
// device. Searching is costly (a font engine per size), so the answer is kept
// per face, height, weight and device resolution.
int PixelSizeFor(const QString& strFace, int nCell, int nWeight, const QPaintDevice* pDevice)
{
    using Key = std::tuple<QString, int, int, int>;
    static std::map<Key, int> s_sizes;
    const Key key{strFace.toLower(), nCell, nWeight, DeviceDpi(pDevice)};
    if (auto it = s_sizes.find(key); it != s_sizes.end())
        return it->second;
    auto fits = [&](int nSize) {
        return CellHeight(MakeQFont(strFace, nSize, nWeight), pDevice) <= nCell;
    };
    // Cell heights grow with the pixel size; they are usually a little more
    // than the pixel size, so start there and walk to the boundary.
    int nSize = std::max(1, nCell);
    if (fits(nSize)) {
        while (nSize < 4 * nCell && fits(nSize + 1))
            ++nSize;
    } else {
        while (nSize > 1 && !fits(nSize))
            --nSize;
    }
    s_sizes.emplace(key, nSize);
    return nSize;
}

// Qt rounds font sizes to whole device pixels. Where the device takes any
// size, a font eight times the cell height is drawn scaled down by the factor
// that makes its ascent plus descent the cell height; at that size the
// rounding is far below what a printed line shows.
CDeviceFont ScaledFont(const QString& strFace, int nCell, int nWeight, const QPaintDevice* pDevice)
{
    CDeviceFont df;
    df.font = MakeQFont(strFace, 8 * nCell, nWeight);
    const QFontMetricsF fm(df.font, pDevice);
    df.scale = nCell / (fm.ascent() + fm.descent());
    df.bScaled = true;
    return df;
}

CDeviceFont ResolveFont(const QString& strFace, int nHeight, int nWeight, const QPaintDevice* pDevice)
{
    if (nHeight < 0)  // a negative height is the em height itself
        return {MakeQFont(strFace, -nHeight, nWeight)};
    const int nCell = nHeight == 0 ? DEFAULT_CELL_HEIGHT : nHeight;
    if (DrawsAnySize(pDevice))
        return ScaledFont(strFace, nCell, nWeight, pDevice);
    return {MakeQFont(strFace, PixelSizeFor(strFace, nCell, nWeight, pDevice), nWeight)};
}

// Text measures in whole device pixels. At the font's own size they are Qt's
// whole-pixel metrics; a scaled font's lines are exactly its cell height apart.
class CTextMeasure {
public:
    CTextMeasure(const CDeviceFont& font, const QPaintDevice* pDevice)
        : m_font(font), m_fm(font.font, pDevice), m_fmf(font.font, pDevice)
    {
    }
    int Ascent() const { return m_font.bScaled ? qRound(m_fmf.ascent() * m_font.scale) : m_fm.ascent(); }
    int LineHeight() const
    {
        return m_font.bScaled ? qRound((m_fmf.ascent() + m_fmf.descent()) * m_font.scale)
                              : m_fm.ascent() + m_fm.descent();
    }
    int Advance(const QString& str) const
    {
        return m_font.bScaled ? qRound(m_fmf.horizontalAdvance(str) * m_font.scale) : m_fm.horizontalAdvance(str);
    }
    // Every pixel the text may touch, from its baseline point.
    QRect InkBox(const QString& str, QPoint baseline) const
    {
        const QRect rcInk = m_font.bScaled
                                ? QRectF(m_fmf.boundingRect(str).topLeft() * m_font.scale,
                                         m_fmf.boundingRect(str).size() * m_font.scale).toAlignedRect()
                                : m_fm.boundingRect(str);
        return rcInk.translated(baseline).adjusted(-2, -2, 2, 2);
    }

private:
    const CDeviceFont& m_font;
    QFontMetrics m_fm;
    QFontMetricsF m_fmf;
};

void Unite(CRect& rcAcc, const QRect& r)
{
    rcAcc.Unite(CRect(r.left(), r.top(), r.left() + r.width(), r.top() + r.height()));
}

// Splits one paragraph (no line feeds) into lines no wider than nWidth,
// breaking between words at spaces. The spaces at a break belong to neither
// line; a word too wide for the line stands on a line of its own.
void WrapParagraph(const QString& strPara, const CTextMeasure& measure, int nWidth, std::vector<QString>& lines)
{
    const qsizetype n = strPara.size();
    auto skipSpaces = [&](qsizetype i) {
        while (i < n && strPara[i] == u' ')
            ++i;
        return i;
    };
    if (skipSpaces(0) == n) {  // empty or blank: one empty line
        lines.push_back(strPara);
        return;
    }
    qsizetype start = 0;  // the paragraph keeps its leading spaces
    while (start < n) {
        qsizetype lineEnd = -1;
        qsizetype pos = start;
        for (;;) {
            const qsizetype wordStart = skipSpaces(pos);
            if (wordStart == n)
                break;
            qsizetype wordEnd = wordStart;
            while (wordEnd < n && strPara[wordEnd] != u' ')
                ++wordEnd;
            if (lineEnd >= 0 && measure.Advance(strPara.mid(start, wordEnd - start)) > nWidth)
                break;
            lineEnd = wordEnd;
            pos = wordEnd;
        }
        if (lineEnd < 0)
            break;  // only the spaces after the last word remain
        lines.push_back(strPara.mid(start, lineEnd - start));
        start = skipSpaces(lineEnd);
    }
}

QString WithoutLineBreaks(QString str)
{
    str.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    str.replace(u'\n', u' ');
    str.replace(u'\r', u' ');
    return str;
}

}  // namespace

// Fonts ----------------------------------------------------------------------

BOOL CFont::CreateFont(int nHeight, int nWeight, const char* lpszFacename)
{
    m_strFace = lpszFacename && *lpszFacename ? QString::fromLatin1(lpszFacename) : QString::fromLatin1(STOCK_FACE);
    m_nHeight = nHeight;
    m_nWeight = nWeight <= 0 ? 400 : nWeight;
    m_nResolvedDpi = -1;
    return Attach();
}

CDeviceFont CFont::Resolve(QPaintDevice* pDevice) const
{
    const int nDpi = DeviceDpi(pDevice);
    const bool bScaled = DrawsAnySize(pDevice);
    if (m_nResolvedDpi != nDpi || m_bResolvedScaled != bScaled) {
        m_resolved = ResolveFont(m_strFace.isEmpty() ? QString::fromLatin1(STOCK_FACE) : m_strFace,
                                 m_nHeight, m_nWeight, pDevice);
        m_nResolvedDpi = nDpi;
        m_bResolvedScaled = bScaled;
    }
    return m_resolved;
}

CDeviceFont CDC::CurrentFont() const
{
    if (m_pFont)
        return m_pFont->Resolve(Device());
    return ResolveFont(QString::fromLatin1(STOCK_FACE), STOCK_HEIGHT, STOCK_WEIGHT, Device());
}

// Text -----------------------------------------------------------------------

BOOL CDC::TextOut(int x, int y, const CString& strIn)
{
    const QString str = WithoutLineBreaks(strIn);
    if (str.isEmpty())
        return TRUE;
    const CDeviceFont font = CurrentFont();
    const CTextMeasure measure(font, Device());
    const QPoint baseline(x, y + measure.Ascent());
    const QRect rcBox(x, y, measure.Advance(str), measure.LineHeight());
    CRect rcInk;
    Unite(rcInk, rcBox);
    Unite(rcInk, measure.InkBox(str, baseline));
    PaintTextRuns(font, {{str, baseline, rcBox}}, nullptr, rcInk);
    return TRUE;
}

// Draws the runs in the current text colour (over their boxes in the
// background colour when opaque), clipped to pClip when given. rcInk bounds
// every pixel the runs may touch.
void CDC::PaintTextRuns(const CDeviceFont& font, const std::vector<TextRun>& runs, const CRect* pClip,
                        const CRect& rcInk)
{
    const bool bOpaque = m_nBkMode == OPAQUE;
    const QColor crBk = QColor::fromRgb(ToQRgb(m_crBk));
    const QColor crText = QColor::fromRgb(ToQRgb(m_crText));
    DrawTextRuns(
        [&](QPainter& painter) {
            painter.setFont(font.font);
            if (bOpaque) {
                for (const TextRun& run : runs)
                    painter.fillRect(run.box, crBk);
            }
            painter.setPen(crText);
            for (const TextRun& run : runs) {
                if (!font.bScaled) {
                    painter.drawText(run.baseline, run.text);
                    continue;
                }
                painter.save();
                painter.translate(run.baseline);
                painter.scale(font.scale, font.scale);
                painter.drawText(QPointF(0, 0), run.text);
                painter.restore();
            }
        },
        pClip, rcInk);
}

int CDC::DrawText(const CString& str, const CRect& rc, UINT nFormat)
{
    const CDeviceFont font = CurrentFont();
    const CTextMeasure measure(font, Device());
    const int nAscent = measure.Ascent();
    const int nLineHeight = measure.LineHeight();

    std::vector<QString> lines;
    if (nFormat & DT_SINGLELINE) {
        lines.push_back(WithoutLineBreaks(str));
    } else if (!str.isEmpty()) {
        QString strText = str;
        strText.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        strText.replace(u'\r', u'\n');
        const QStringList paragraphs = strText.split(u'\n');
        for (const QString& strPara : paragraphs) {
            if (nFormat & DT_WORDBREAK)
                WrapParagraph(strPara, measure, rc.Width(), lines);
            else
                lines.push_back(strPara);
        }
    }
    if (lines.empty())
        return 0;

    int nTop = rc.top;
    if ((nFormat & DT_SINGLELINE) && (nFormat & DT_VCENTER))
        nTop = rc.top + (rc.Height() - nLineHeight) / 2;

    std::vector<TextRun> runs;
    CRect rcInk;
    for (size_t i = 0; i < lines.size(); ++i) {
        const int y = nTop + int(i) * nLineHeight;
        if (y >= rc.bottom)
            break;  // everything further down is cut off
        if (y + nLineHeight <= rc.top || lines[i].isEmpty())
            continue;
        const int nWidth = measure.Advance(lines[i]);
        const int x = (nFormat & DT_CENTER) ? rc.left + (rc.Width() - nWidth) / 2 : rc.left;
        runs.push_back({lines[i], QPoint(x, y + nAscent), QRect(x, y, nWidth, nLineHeight)});
        Unite(rcInk, runs.back().box);
        Unite(rcInk, measure.InkBox(lines[i], runs.back().baseline));
    }
    const int nResult = (nTop - rc.top) + int(lines.size()) * nLineHeight;
    if (!runs.empty() && !rc.IsRectEmpty())
        PaintTextRuns(font, runs, &rc, rcInk);
    return nResult;
}
