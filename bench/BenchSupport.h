// Helpers of the benchmarks: views set up for a measurement, and references.
//
// Every benchmark reports, next to its own time, a reference measured in the
// same run on the same machine (ref_us) and the ratio of the two (x_ref), so
// the ratios can be compared across machines. In-process times are the CPU
// time of the measuring thread, so other work on a shared machine does not
// count; Google Benchmark's "Time" column shows them (manual time).
#pragma once

#include "game/SlabixView.h"

#include <benchmark/benchmark.h>

#include <QColor>
#include <QFont>
#include <QImage>

#include <chrono>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace bench {

// A view of this client size, painted once, on layout nLayout, with the
// clock fixed so the title stamp does not vary.
std::unique_ptr<CSlabixView> MakeView(int nWidth, int nHeight, int nLayout);
// The same, in play: space pressed, the board drawn.
std::unique_ptr<CSlabixView> MakePlayingView(int nWidth, int nHeight, int nLayout);

// CPU time of the calling thread, in seconds.
double ThreadSeconds();

// The median time of fn over nRuns runs, in microseconds of thread CPU time.
double MedianMicros(const std::function<void()>& fn, int nRuns = 31);

// Copies an image's bytes once (into a buffer of the same size).
class CFrameCopy {
public:
    explicit CFrameCopy(const QImage& image);
    void operator()();

private:
    const QImage& m_image;
    QImage m_copy;
};

// The median time of nRepeat calls of fn, per call (for work shorter than a
// reading of the clock).
double MedianMicrosPer(const std::function<void()>& fn, int nRepeat, int nRuns = 31);

// Text already broken into its lines, drawn by the painter line by line: the
// reference of a screen that wraps text. Each block is broken once, when it is
// added, where the game breaks it (the longest run of whole words that fits
// the rectangle's width, a new line at each line feed); drawing it is filling
// the background and the rectangles added, then one drawText per line.
class CBrokenText {
public:
    // bErase: the image is erased white before its background is filled, as
    // the window system's paint erases before the view draws.
    CBrokenText(QImage& image, COLORREF crBackground, bool bErase = false);
    void AddFill(const CRect& rc, COLORREF cr);
    void AddBlock(const CFont& font, COLORREF cr, const CRect& rc, const QString& str);
    // One line with its top-left corner at pt, not broken.
    void AddLine(const CFont& font, COLORREF cr, CPoint pt, const QString& str);
    int Lines() const { return int(m_lines.size()); }
    void operator()();

private:
    struct Line {
        QFont font;
        QColor colour;
        QRect clip;
        QPoint baseline;
        QString text;
    };
    QImage& m_image;
    QRgb m_background;
    bool m_bErase;
    std::vector<std::pair<QRect, QColor>> m_fills;
    std::vector<Line> m_lines;
};

// Times fn once per iteration (thread CPU time as manual time; prepare runs
// untimed before each iteration when given) and reports the reference beside
// it. Work of a few microseconds, near the cost of reading the clock, is run
// nRepeat times per reading and each run counted as one iteration's time.
void TimeAgainst(benchmark::State& state, const std::function<void()>& fn, double dRefMicros,
                 const std::function<void()>& prepare = {}, int nRepeat = 1);

}  // namespace bench
