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

#include <QImage>

#include <chrono>
#include <functional>
#include <memory>

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

// Times fn once per iteration (thread CPU time as manual time; prepare runs
// untimed before each iteration when given) and reports the reference beside
// it.
void TimeAgainst(benchmark::State& state, const std::function<void()>& fn, double dRefMicros,
                 const std::function<void()>& prepare = {});

}  // namespace bench
