#include "bench/BenchSupport.h"

#include "platform/Runtime.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <vector>

namespace bench {

namespace {
constexpr crt::time_t kFixedTime = 1040000000;  // a December afternoon in 2002
}  // namespace

double ThreadSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

std::unique_ptr<CSlabixView> MakeView(int nWidth, int nHeight, int nLayout)
{
    crt::SetClock([] { return kFixedTime; });
    auto pView = std::make_unique<CSlabixView>();
    pView->m_nLayout = nLayout;
    for (int i = 0; i < NUM_STONES; ++i)
        pView->m_rcStone[i] = g_rcLayouts[nLayout][i];
    pView->SetClientSize(nWidth, nHeight);
    pView->Paint();
    return pView;
}

std::unique_ptr<CSlabixView> MakePlayingView(int nWidth, int nHeight, int nLayout)
{
    auto pView = MakeView(nWidth, nHeight, nLayout);
    pView->OnKeyDown(VK_SPACE, 1, 0);
    return pView;
}

double MedianMicros(const std::function<void()>& fn, int nRuns)
{
    std::vector<double> times;
    fn();  // warm the caches once
    for (int i = 0; i < nRuns; ++i) {
        const double t0 = ThreadSeconds();
        fn();
        times.push_back(1e6 * (ThreadSeconds() - t0));
    }
    std::nth_element(times.begin(), times.begin() + nRuns / 2, times.end());
    return times[nRuns / 2];
}

double MedianMicrosPer(const std::function<void()>& fn, int nRepeat, int nRuns)
{
    return MedianMicros([&] {
        for (int i = 0; i < nRepeat; ++i)
            fn();
    }, nRuns) / nRepeat;
}

CBrokenText::CBrokenText(QImage& image, COLORREF crBackground, bool bErase)
    : m_image(image), m_background(ToQRgb(crBackground)), m_bErase(bErase)
{
}

void CBrokenText::AddFill(const CRect& rc, COLORREF cr)
{
    m_fills.emplace_back(QRect(rc.left, rc.top, rc.Width(), rc.Height()), QColor::fromRgb(ToQRgb(cr)));
}

void CBrokenText::AddBlock(const CFont& font, COLORREF cr, const CRect& rc, const QString& str)
{
    const QFont qfont = font.Resolve(&m_image).font;
    const QFontMetrics fm(qfont, &m_image);
    const int nLineHeight = fm.ascent() + fm.descent();
    const QRect rcClip(rc.left, rc.top, rc.Width(), rc.Height());
    int y = rc.top;
    for (const QString& strPara : str.split(u'\n')) {
        const qsizetype n = strPara.size();
        auto skip = [&](qsizetype i) {
            while (i < n && strPara[i] == u' ')
                ++i;
            return i;
        };
        std::vector<QString> lines;
        if (skip(0) == n)
            lines.push_back(strPara);
        for (qsizetype start = 0; skip(start) < n;) {
            qsizetype end = -1;
            for (qsizetype pos = start; skip(pos) < n;) {
                qsizetype wordEnd = strPara.indexOf(u' ', skip(pos));
                wordEnd = wordEnd < 0 ? n : wordEnd;
                if (end >= 0 && fm.horizontalAdvance(strPara.mid(start, wordEnd - start)) > rc.Width())
                    break;
                end = pos = wordEnd;
            }
            lines.push_back(strPara.mid(start, end - start));
            start = skip(end);
        }
        for (const QString& strLine : lines) {
            if (y < rc.bottom && !strLine.isEmpty())
                m_lines.push_back({qfont, QColor::fromRgb(ToQRgb(cr)), rcClip, QPoint(rc.left, y + fm.ascent()), strLine});
            y += nLineHeight;
        }
    }
}

void CBrokenText::AddLine(const CFont& font, COLORREF cr, CPoint pt, const QString& str)
{
    const QFont qfont = font.Resolve(&m_image).font;
    const QFontMetrics fm(qfont, &m_image);
    m_lines.push_back({qfont, QColor::fromRgb(ToQRgb(cr)), m_image.rect(), QPoint(pt.x, pt.y + fm.ascent()), str});
}

void CBrokenText::operator()()
{
    if (m_bErase)
        m_image.fill(Qt::white);
    m_image.fill(m_background);
    QPainter painter(&m_image);
    for (const auto& [rc, colour] : m_fills)
        painter.fillRect(rc, colour);
    for (const Line& line : m_lines) {
        if (painter.font() != line.font)
            painter.setFont(line.font);
        painter.setPen(line.colour);
        painter.setClipRect(line.clip);
        painter.drawText(line.baseline, line.text);
    }
    painter.end();
    benchmark::DoNotOptimize(m_image.constBits());
    benchmark::ClobberMemory();
}

CFrameCopy::CFrameCopy(const QImage& image) : m_image(image), m_copy(image.size(), image.format()) {}

void CFrameCopy::operator()()
{
    std::memcpy(m_copy.bits(), m_image.constBits(), std::size_t(m_image.sizeInBytes()));
    benchmark::DoNotOptimize(m_copy.bits());
    benchmark::ClobberMemory();
}

void TimeAgainst(benchmark::State& state, const std::function<void()>& fn, double dRefMicros,
                 const std::function<void()>& prepare, int nRepeat)
{
    double dTotal = 0;
    for (auto _ : state) {
        if (prepare)
            prepare();
        const double t0 = ThreadSeconds();
        for (int i = 0; i < nRepeat; ++i)
            fn();
        benchmark::ClobberMemory();
        const double dSeconds = (ThreadSeconds() - t0) / nRepeat;
        state.SetIterationTime(dSeconds);
        dTotal += dSeconds;
    }
    const double dMeanMicros = state.iterations() ? 1e6 * dTotal / double(state.iterations()) : 0;
    state.counters["ref_us"] = dRefMicros;
    state.counters["x_ref"] = dRefMicros > 0 ? dMeanMicros / dRefMicros : 0;
}

}  // namespace bench
