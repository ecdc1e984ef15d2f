// Fonts and text: cell-height fonts, TextOut and the formatted DrawText.
#include "platform/Gdi.h"

#include <QColor>
#include <QFontMetrics>
#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <map>
#include <mutex>
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
    static std::mutex s_mutex;
    static std::map<Key, int> s_sizes;
    const Key key{strFace.toLower(), nCell, nWeight, DeviceDpi(pDevice)};
    {
        std::lock_guard lock(s_mutex);
        if (auto it = s_sizes.find(key); it != s_sizes.end())
            return it->second;
    }
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
    std::lock_guard lock(s_mutex);
    s_sizes.emplace(key, nSize);
    return nSize;
}

QFont ResolveFont(const QString& strFace, int nHeight, int nWeight, const QPaintDevice* pDevice)
{
    if (nHeight < 0)  // a negative height is the em height itself
        return MakeQFont(strFace, -nHeight, nWeight);
    const int nCell = nHeight == 0 ? DEFAULT_CELL_HEIGHT : nHeight;
    return MakeQFont(strFace, PixelSizeFor(strFace, nCell, nWeight, pDevice), nWeight);
}

void Unite(CRect& rcAcc, const QRect& r)
{
    rcAcc.Unite(CRect(r.left(), r.top(), r.left() + r.width(), r.top() + r.height()));
}

// Splits one paragraph (no line feeds) into lines no wider than nWidth,
// breaking between words at spaces. The spaces at a break belong to neither
// line; a word too wide for the line stands on a line of its own.
void WrapParagraph(const QString& strPara, const QFontMetrics& fm, int nWidth, std::vector<QString>& lines)
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
            if (lineEnd >= 0 && fm.horizontalAdvance(strPara.mid(start, wordEnd - start)) > nWidth)
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

QFont CFont::Resolve(QPaintDevice* pDevice) const
{
    const int nDpi = DeviceDpi(pDevice);
    if (m_nResolvedDpi != nDpi) {
        m_qfont = ResolveFont(m_strFace.isEmpty() ? QString::fromLatin1(STOCK_FACE) : m_strFace,
                              m_nHeight, m_nWeight, pDevice);
        m_nResolvedDpi = nDpi;
    }
    return m_qfont;
}

QFont CDC::CurrentFont() const
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
    const QFont font = CurrentFont();
    const QFontMetrics fm(font, Device());
    const int nAscent = fm.ascent();
    PaintTextRuns(font, fm, {{str, QPoint(x, y + nAscent), QRect(x, y, fm.horizontalAdvance(str), nAscent + fm.descent())}},
                  nullptr);
    return TRUE;
}

// Draws the runs in the current text colour (over their boxes in the
// background colour when opaque), clipped to pClip when given.
void CDC::PaintTextRuns(const QFont& font, const QFontMetrics& fm, const std::vector<TextRun>& runs, const CRect* pClip)
{
    CRect rcInk;
    for (const TextRun& run : runs) {
        Unite(rcInk, run.box);
        Unite(rcInk, fm.boundingRect(run.text).translated(run.baseline).adjusted(-2, -2, 2, 2));
    }
    const bool bOpaque = m_nBkMode == OPAQUE;
    const QColor crBk = QColor::fromRgb(ToQRgb(m_crBk));
    const QColor crText = QColor::fromRgb(ToQRgb(m_crText));
    DrawTextRuns(
        [&](QPainter& painter) {
            painter.setFont(font);
            if (bOpaque) {
                for (const TextRun& run : runs)
                    painter.fillRect(run.box, crBk);
            }
            painter.setPen(crText);
            for (const TextRun& run : runs)
                painter.drawText(run.baseline, run.text);
        },
        pClip, rcInk);
}

int CDC::DrawText(const CString& str, const CRect& rc, UINT nFormat)
{
    const QFont font = CurrentFont();
    const QFontMetrics fm(font, Device());
    const int nAscent = fm.ascent();
    const int nLineHeight = nAscent + fm.descent();

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
                WrapParagraph(strPara, fm, rc.Width(), lines);
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
    for (size_t i = 0; i < lines.size(); ++i) {
        const int y = nTop + int(i) * nLineHeight;
        if (y >= rc.bottom)
            break;  // everything further down is cut off
        if (y + nLineHeight <= rc.top || lines[i].isEmpty())
            continue;
        const int nWidth = fm.horizontalAdvance(lines[i]);
        const int x = (nFormat & DT_CENTER) ? rc.left + (rc.Width() - nWidth) / 2 : rc.left;
        runs.push_back({lines[i], QPoint(x, y + nAscent), QRect(x, y, nWidth, nLineHeight)});
    }
    const int nResult = (nTop - rc.top) + int(lines.size()) * nLineHeight;
    if (!runs.empty() && !rc.IsRectEmpty())
        PaintTextRuns(font, fm, runs, &rc);
    return nResult;
}
