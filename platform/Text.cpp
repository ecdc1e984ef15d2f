// Fonts and text: cell-height fonts, TextOut and the formatted DrawText.
#include "platform/Gdi.h"

#include <QColor>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QHash>
#include <QPagedPaintDevice>
#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
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

// What one font has measured on one kind of device: the advance of each
// piece of text it was asked for (in the font's own units) and each line's
// ink box. The game draws the same few texts again and again, so every word
// is shaped once and later lines are measured from the sums.
struct CMeasured {
    QFont font;
    int nDpi = 0;
    qreal scale = 1.0;
    bool bScaled = false;
    int nAscent = 0;
    int nLineHeight = 0;
    QHash<QString, qreal> advances;
    QHash<QString, QRect> inkBoxes;
    // Each paragraph's words with the advances of each word and of the
    // spaces before it.
    struct Word {
        qsizetype start, end;
        qreal spaceAdvance, advance;
    };
    QHash<QString, std::vector<Word>> paragraphs;
};

// The texts are the game's own, so a handful of fonts with a few hundred
// pieces each; a cache grown past this is started afresh.
constexpr qsizetype kMaxCachedPieces = 8192;

CMeasured& MeasuredFor(const CDeviceFont& font, const QPaintDevice* pDevice)
{
    static std::vector<std::unique_ptr<CMeasured>> s_fonts;
    const int nDpi = DeviceDpi(pDevice);
    for (const auto& pEntry : s_fonts)
        if (pEntry->nDpi == nDpi && pEntry->bScaled == font.bScaled && pEntry->scale == font.scale &&
            pEntry->font == font.font)
            return *pEntry;
    if (s_fonts.size() >= 64)
        s_fonts.clear();
    auto pEntry = std::make_unique<CMeasured>();
    pEntry->font = font.font;
    pEntry->nDpi = nDpi;
    pEntry->scale = font.scale;
    pEntry->bScaled = font.bScaled;
    const QFontMetrics fm = pDevice ? QFontMetrics(font.font, pDevice) : QFontMetrics(font.font);
    const QFontMetricsF fmf = pDevice ? QFontMetricsF(font.font, pDevice) : QFontMetricsF(font.font);
    pEntry->nAscent = font.bScaled ? qRound(fmf.ascent() * font.scale) : fm.ascent();
    pEntry->nLineHeight =
        font.bScaled ? qRound((fmf.ascent() + fmf.descent()) * font.scale) : fm.ascent() + fm.descent();
    s_fonts.push_back(std::move(pEntry));
    return *s_fonts.back();
}

// Text measures in whole device pixels. At the font's own size they are Qt's
// whole-pixel metrics; a scaled font's lines are exactly its cell height apart.
// A string's advance is the sum of its glyphs' advances, rounded once, so the
// advance of a line is also the rounded sum of its pieces' advances.
class CTextMeasure {
public:
    CTextMeasure(const CDeviceFont& font, const QPaintDevice* pDevice)
        : m_font(font), m_pDevice(pDevice), m_measured(MeasuredFor(font, pDevice))
    {
    }
    int Ascent() const { return m_measured.nAscent; }
    int LineHeight() const { return m_measured.nLineHeight; }
    // The unrounded advance of a piece of text, in the font's own units.
    qreal PieceAdvance(QStringView piece) const
    {
        if (piece.isEmpty())
            return 0;
        QHash<QString, qreal>& advances = m_measured.advances;
        const QString key = piece.toString();
        if (auto it = advances.constFind(key); it != advances.cend())
            return *it;
        if (advances.size() >= kMaxCachedPieces)
            advances.clear();
        const qreal advance = Metrics().horizontalAdvance(key);
        advances.insert(key, advance);
        return advance;
    }
    // The words of a paragraph (no line feeds), measured once.
    const std::vector<CMeasured::Word>& Words(const QString& strPara) const
    {
        auto& paragraphs = m_measured.paragraphs;
        auto it = paragraphs.constFind(strPara);
        if (it != paragraphs.cend())
            return *it;
        if (paragraphs.size() >= kMaxCachedPieces)
            paragraphs.clear();
        std::vector<CMeasured::Word> words;
        const QStringView para(strPara);
        const qsizetype n = para.size();
        for (qsizetype pos = 0; pos < n;) {
            qsizetype start = pos;
            while (start < n && para[start] == u' ')
                ++start;
            if (start == n)
                break;
            qsizetype end = start;
            while (end < n && para[end] != u' ')
                ++end;
            words.push_back({start, end, PieceAdvance(para.sliced(pos, start - pos)),
                             PieceAdvance(para.sliced(start, end - start))});
            pos = end;
        }
        return *paragraphs.insert(strPara, std::move(words));
    }
    // Whole device pixels of a sum of piece advances.
    int Rounded(qreal advance) const { return m_font.bScaled ? qRound(advance * m_font.scale) : qRound(advance); }
    int Advance(QStringView str) const { return Rounded(PieceAdvance(str)); }
    // Every pixel the text may touch, from its baseline point.
    QRect InkBox(const QString& str, QPoint baseline) const
    {
        QHash<QString, QRect>& boxes = m_measured.inkBoxes;
        auto it = boxes.constFind(str);
        if (it == boxes.cend()) {
            if (boxes.size() >= kMaxCachedPieces)
                boxes.clear();
            const QRect rcInk =
                m_font.bScaled ? QRectF(Metrics().boundingRect(str).topLeft() * m_font.scale,
                                        Metrics().boundingRect(str).size() * m_font.scale)
                                     .toAlignedRect()
                               : WholeMetrics().boundingRect(str);
            it = boxes.insert(str, rcInk.adjusted(-2, -2, 2, 2));
        }
        return it->translated(baseline);
    }

private:
    const QFontMetricsF& Metrics() const
    {
        if (!m_pFmf)
            m_pFmf.emplace(m_pDevice ? QFontMetricsF(m_font.font, m_pDevice) : QFontMetricsF(m_font.font));
        return *m_pFmf;
    }
    const QFontMetrics& WholeMetrics() const
    {
        if (!m_pFm)
            m_pFm.emplace(m_pDevice ? QFontMetrics(m_font.font, m_pDevice) : QFontMetrics(m_font.font));
        return *m_pFm;
    }
    const CDeviceFont& m_font;
    const QPaintDevice* m_pDevice;
    CMeasured& m_measured;
    mutable std::optional<QFontMetricsF> m_pFmf;
    mutable std::optional<QFontMetrics> m_pFm;
};

void Unite(CRect& rcAcc, const QRect& r)
{
    rcAcc.Unite(CRect(r.left(), r.top(), r.left() + r.width(), r.top() + r.height()));
}

// Splits one paragraph (no line feeds) into lines no wider than nWidth,
// breaking between words at spaces. The spaces at a break belong to neither
// line; a word too wide for the line stands on a line of its own. Each word
// and each run of spaces is measured once; a line's width is the sum of its
// pieces. The lines go into lines, their widths into widths.
void WrapParagraph(const QString& strPara, const CTextMeasure& measure, int nWidth, std::vector<QString>& lines,
                   std::vector<int>& widths)
{
    const std::vector<CMeasured::Word>& words = measure.Words(strPara);
    if (words.empty()) {  // empty or blank: one empty line
        lines.push_back(strPara);
        widths.push_back(measure.Advance(strPara));
        return;
    }
    size_t k = 0;
    while (k < words.size()) {
        // The first line keeps the paragraph's leading spaces.
        const qsizetype start = k == 0 ? 0 : words[k].start;
        qreal advance = (k == 0 ? words[0].spaceAdvance : 0) + words[k].advance;
        qsizetype end = words[k].end;
        int nLineWidth = measure.Rounded(advance);
        for (++k; k < words.size(); ++k) {
            const qreal longer = advance + words[k].spaceAdvance + words[k].advance;
            const int nLonger = measure.Rounded(longer);
            if (nLonger > nWidth)
                break;
            advance = longer;
            nLineWidth = nLonger;
            end = words[k].end;
        }
        lines.push_back(strPara.mid(start, end - start));
        widths.push_back(nLineWidth);
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
    std::vector<int> widths;
    if (nFormat & DT_SINGLELINE) {
        lines.push_back(WithoutLineBreaks(str));
    } else if (!str.isEmpty()) {
        QString strText = str;
        strText.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        strText.replace(u'\r', u'\n');
        const QStringList paragraphs = strText.split(u'\n');
        for (const QString& strPara : paragraphs) {
            if (nFormat & DT_WORDBREAK)
                WrapParagraph(strPara, measure, rc.Width(), lines, widths);
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
        const int nWidth = i < widths.size() ? widths[i] : measure.Advance(lines[i]);
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
