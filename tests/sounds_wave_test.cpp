// The two sound cues as compiled in: exact WAVE headers, and the character of
// each (a low thump; two buzzes near 575 Hz).
#include "app/SlabixApp.h"
#include "platform/Sound.h"

#include <QFile>
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <vector>

namespace {

QByteArray Resource(int nId)
{
    CSlabixApp::InitResources();
    QFile file(QStringLiteral(":/sound/%1").arg(nId));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

unsigned Le(const QByteArray& b, int i, int nBytes)
{
    unsigned v = 0;
    for (int k = nBytes - 1; k >= 0; --k)
        v = v << 8 | std::uint8_t(b[i + k]);
    return v;
}

// The samples, centred on zero (8-bit ones less 128).
std::vector<double> Samples(const QByteArray& b)
{
    std::vector<double> x;
    const int nBits = int(Le(b, 34, 2));
    for (int i = 44; i + nBits / 8 <= b.size(); i += nBits / 8)
        x.push_back(nBits == 16 ? double(std::int16_t(Le(b, i, 2))) : double(std::uint8_t(b[i])) - 128.0);
    return x;
}

double Magnitude(const std::vector<double>& x, size_t nBegin, size_t nEnd, double dFreq, double dRate)
{
    const std::complex<double> step = std::polar(1.0, -2.0 * std::numbers::pi * dFreq / dRate);
    std::complex<double> rot = 1.0;
    std::complex<double> sum = 0.0;
    for (size_t i = nBegin; i < nEnd; ++i, rot *= step)
        sum += x[i] * rot;
    return std::abs(sum);
}

double Rms(const std::vector<double>& x, size_t nBegin, size_t nEnd)
{
    double s = 0.0;
    for (size_t i = nBegin; i < nEnd; ++i)
        s += x[i] * x[i];
    return std::sqrt(s / double(nEnd - nBegin));
}

TEST(SoundsWave, HeadersAndSizesAreExactAndTheGameFindsThem)
{
    struct Expected {
        int nId;
        unsigned nRate, nBits, nDataSize;
    };
    for (const Expected& e : {Expected{101, 44100, 16, 41728}, Expected{102, 22050, 8, 9952}}) {
        SCOPED_TRACE(e.nId);
        const QByteArray b = Resource(e.nId);
        ASSERT_EQ(b.size(), qsizetype(e.nDataSize + 44));
        EXPECT_EQ(b.left(4), "RIFF");
        EXPECT_EQ(Le(b, 4, 4), e.nDataSize + 36);
        EXPECT_EQ(b.mid(8, 8), "WAVEfmt ");
        EXPECT_EQ(Le(b, 16, 4), 16u);
        EXPECT_EQ(Le(b, 20, 2), 1u) << "PCM";
        EXPECT_EQ(Le(b, 22, 2), 1u) << "mono";
        EXPECT_EQ(Le(b, 24, 4), e.nRate);
        EXPECT_EQ(Le(b, 28, 4), e.nRate * e.nBits / 8) << "byte rate";
        EXPECT_EQ(Le(b, 32, 2), e.nBits / 8) << "block align";
        EXPECT_EQ(Le(b, 34, 2), e.nBits);
        EXPECT_EQ(b.mid(36, 4), "data");
        EXPECT_EQ(Le(b, 40, 4), e.nDataSize);
        const HRSRC hRes = FindResource(e.nId, "sound");
        ASSERT_NE(hRes, nullptr);
        EXPECT_EQ(hRes->image, b);
    }
}

TEST(SoundsWave, ThumpIsLowLoudForAFifthOfASecondThenSilent)
{
    const std::vector<double> x = Samples(Resource(101));
    ASSERT_EQ(x.size(), 20864u);
    for (size_t i = 0; i < 8820; i += 882)
        EXPECT_GT(Rms(x, i, i + 882), 0.15 * 32767) << "quiet at " << double(i) / 44100 << " s";
    for (size_t i = 11025; i < x.size(); ++i)
        ASSERT_EQ(x[i], 0.0) << "sound at " << double(i) / 44100 << " s";

    // The share of the energy below 250 Hz, from the spectrum of the whole image.
    double dTotal = 0.0;
    for (double v : x)
        dTotal += v * v;
    const double dBin = 44100.0 / double(x.size());
    double dLow = 0.0;
    for (int k = 0; k * dBin < 250.0; ++k)
        dLow += (k == 0 ? 1.0 : 2.0) * std::pow(Magnitude(x, 0, 11025, k * dBin, 44100.0), 2) / double(x.size());
    EXPECT_GT(dLow / dTotal, 0.8);
}

TEST(SoundsWave, BuzzIsAShortAndALongerLouderBurstNear575Hz)
{
    const std::vector<double> x = Samples(Resource(102));
    ASSERT_EQ(x.size(), 9952u);
    // Bursts: runs of 5 ms frames with some level.
    const size_t nFrame = 110;
    std::vector<std::pair<size_t, size_t>> bursts;
    for (size_t i = 0; i + nFrame <= x.size(); i += nFrame) {
        if (Rms(x, i, i + nFrame) < 8.0)
            continue;
        if (!bursts.empty() && bursts.back().second == i)
            bursts.back().second = i + nFrame;
        else
            bursts.emplace_back(i, i + nFrame);
    }
    ASSERT_EQ(bursts.size(), 2u);
    EXPECT_NEAR(double(bursts[0].second - bursts[0].first) / 22050, 0.07, 0.015);
    EXPECT_NEAR(double(bursts[1].first - bursts[0].second) / 22050, 0.06, 0.015);
    EXPECT_NEAR(double(bursts[1].second - bursts[1].first) / 22050, 0.28, 0.02);
    EXPECT_GT(Rms(x, bursts[1].first, bursts[1].second), 1.3 * Rms(x, bursts[0].first, bursts[0].second));
    // Silence is exactly 128, in the gap and to the end; the first sound fades in.
    for (size_t i = bursts[0].second + nFrame; i < x.size(); ++i) {
        if (i + nFrame < bursts[1].first || i >= bursts[1].second + nFrame) {
            ASSERT_EQ(x[i], 0.0) << "sound at " << double(i) / 22050 << " s";
        }
    }
    for (size_t i = 0; i < 22; ++i)
        EXPECT_LT(std::abs(x[i]), 30.0) << "a click at the start";

    for (const auto& [nBegin, nEnd] : bursts) {
        double dBest = 0.0, dBestFreq = 0.0, dPartial = 0.0, dPartialFreq = 0.0;
        for (double f = 100.0; f <= 3000.0; f += 5.0) {
            const double m = Magnitude(x, nBegin, nEnd, f, 22050.0);
            if (m > dBest) {
                dBest = m;
                dBestFreq = f;
            }
            if (f >= 900.0 && f <= 1400.0 && m > dPartial) {
                dPartial = m;
                dPartialFreq = f;
            }
        }
        EXPECT_NEAR(dBestFreq, 575.0, 20.0);
        EXPECT_NEAR(dPartialFreq, 1150.0, 30.0);
        EXPECT_GT(dPartial, 0.3 * dBest) << "the partial near 1,150 Hz is strong";
    }
}

}  // namespace
