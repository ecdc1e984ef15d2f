// The two sound cues as compiled in: their WAVE headers, and that each sounds
// the way the game means it (a low thump; two buzzes near 575 Hz).
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

struct Wave {
    QByteArray image;
    std::uint32_t nRiffSize = 0;
    std::uint32_t nFmtSize = 0;
    int nFormat = 0;
    int nChannels = 0;
    std::uint32_t nRate = 0;
    std::uint32_t nByteRate = 0;
    int nBlockAlign = 0;
    int nBits = 0;
    std::uint32_t nDataSize = 0;
    std::vector<double> samples;  // centred: 16-bit as is, 8-bit less 128
};

std::uint32_t U32(const QByteArray& b, int i)
{
    return std::uint32_t(std::uint8_t(b[i])) | std::uint32_t(std::uint8_t(b[i + 1])) << 8
           | std::uint32_t(std::uint8_t(b[i + 2])) << 16 | std::uint32_t(std::uint8_t(b[i + 3])) << 24;
}
int U16(const QByteArray& b, int i)
{
    return int(std::uint8_t(b[i])) | int(std::uint8_t(b[i + 1])) << 8;
}

// Reads the canonical layout: RIFF header, "fmt " chunk at 12, "data" at 36.
Wave LoadWave(int nId)
{
    CSlabixApp::InitResources();
    Wave w;
    QFile file(QStringLiteral(":/sound/%1").arg(nId));
    if (!file.open(QIODevice::ReadOnly))
        return w;
    w.image = file.readAll();
    const QByteArray& b = w.image;
    if (b.size() < 44 || b.left(4) != "RIFF" || b.mid(8, 4) != "WAVE" || b.mid(12, 4) != "fmt "
        || b.mid(36, 4) != "data")
        return w;
    w.nRiffSize = U32(b, 4);
    w.nFmtSize = U32(b, 16);
    w.nFormat = U16(b, 20);
    w.nChannels = U16(b, 22);
    w.nRate = U32(b, 24);
    w.nByteRate = U32(b, 28);
    w.nBlockAlign = U16(b, 32);
    w.nBits = U16(b, 34);
    w.nDataSize = U32(b, 40);
    for (int i = 44; i + w.nBlockAlign <= b.size(); i += w.nBlockAlign)
        w.samples.push_back(w.nBits == 16 ? double(std::int16_t(U16(b, i))) : double(std::uint8_t(b[i])) - 128.0);
    return w;
}

// The magnitude of the spectrum of samples [begin, end) at a frequency.
double Magnitude(const std::vector<double>& x, size_t begin, size_t end, double dFreq, double dRate)
{
    const std::complex<double> step = std::polar(1.0, -2.0 * std::numbers::pi * dFreq / dRate);
    std::complex<double> rot = 1.0;
    std::complex<double> sum = 0.0;
    for (size_t i = begin; i < end; ++i, rot *= step)
        sum += x[i] * rot;
    return std::abs(sum);
}

double Rms(const std::vector<double>& x, size_t begin, size_t end)
{
    double s = 0.0;
    for (size_t i = begin; i < end; ++i)
        s += x[i] * x[i];
    return end > begin ? std::sqrt(s / double(end - begin)) : 0.0;
}

void ExpectHeader(const Wave& w, int nRate, int nBits, std::uint32_t nDataSize)
{
    EXPECT_EQ(w.image.size(), qsizetype(nDataSize + 44));
    EXPECT_EQ(w.nRiffSize, nDataSize + 36);
    EXPECT_EQ(w.nFmtSize, 16u);
    EXPECT_EQ(w.nFormat, 1) << "PCM";
    EXPECT_EQ(w.nChannels, 1);
    EXPECT_EQ(w.nRate, std::uint32_t(nRate));
    EXPECT_EQ(w.nBits, nBits);
    EXPECT_EQ(w.nBlockAlign, nBits / 8);
    EXPECT_EQ(w.nByteRate, std::uint32_t(nRate * nBits / 8));
    EXPECT_EQ(w.nDataSize, nDataSize);
}

TEST(SoundsWave, HeadersAndSizesAreExact)
{
    const Wave thump = LoadWave(101);
    ASSERT_FALSE(thump.image.isEmpty()) << "no :/sound/101 in the resources";
    ExpectHeader(thump, 44100, 16, 41728);
    EXPECT_EQ(thump.samples.size(), 20864u);

    const Wave buzz = LoadWave(102);
    ASSERT_FALSE(buzz.image.isEmpty()) << "no :/sound/102 in the resources";
    ExpectHeader(buzz, 22050, 8, 9952);
    EXPECT_EQ(buzz.samples.size(), 9952u);

    // The game's resource lookup finds the same images.
    for (const Wave* pWave : {&thump, &buzz}) {
        const HRSRC hRes = FindResource(pWave == &thump ? 101 : 102, "sound");
        ASSERT_NE(hRes, nullptr);
        EXPECT_EQ(hRes->image, pWave->image);
    }
}

TEST(SoundsWave, ThumpIsLowLoudForAFifthOfASecondThenSilent)
{
    const Wave w = LoadWave(101);
    ASSERT_EQ(w.samples.size(), 20864u);
    const std::vector<double>& x = w.samples;
    const double dRate = 44100.0;

    // Loud in every 20 ms of the first 0.2 s, never clipped.
    for (size_t i = 0; i + 882 <= 8820; i += 882)
        EXPECT_GT(Rms(x, i, i + 882), 0.15 * 32767) << "quiet at " << i / dRate << " s";
    double dPeak = 0.0;
    for (double v : x)
        dPeak = std::max(dPeak, std::abs(v));
    EXPECT_GT(dPeak, 0.5 * 32767);
    EXPECT_LT(dPeak, 32767);

    // Silent from 0.25 s to the end.
    for (size_t i = 11025; i < x.size(); ++i)
        ASSERT_EQ(x[i], 0.0) << "sample " << i;

    // Most of the energy below 250 Hz: the spectrum over the whole image.
    const size_t n = x.size();
    double dTotal = 0.0;
    for (double v : x)
        dTotal += v * v;
    double dLow = 0.0;
    for (size_t k = 0; double(k) * dRate / double(n) < 250.0; ++k) {
        const double m = Magnitude(x, 0, 11025, double(k) * dRate / double(n), dRate);
        dLow += (k == 0 ? 1.0 : 2.0) * m * m / double(n);
    }
    EXPECT_GT(dLow / dTotal, 0.8);
}

TEST(SoundsWave, BuzzIsAShortAndALongerLouderBurstNear575Hz)
{
    const Wave w = LoadWave(102);
    ASSERT_EQ(w.samples.size(), 9952u);
    const std::vector<double>& x = w.samples;
    const double dRate = 22050.0;

    // Bursts: runs of 5 ms frames with some level.
    const size_t nFrame = 110;
    std::vector<std::pair<size_t, size_t>> bursts;  // [begin, end) in samples
    for (size_t i = 0; i + nFrame <= x.size(); i += nFrame) {
        if (Rms(x, i, i + nFrame) < 8.0)
            continue;
        if (!bursts.empty() && bursts.back().second == i)
            bursts.back().second = i + nFrame;
        else
            bursts.emplace_back(i, i + nFrame);
    }
    ASSERT_EQ(bursts.size(), 2u);
    const auto seconds = [&](size_t n) { return double(n) / dRate; };
    EXPECT_NEAR(seconds(bursts[0].second - bursts[0].first), 0.07, 0.015);
    EXPECT_NEAR(seconds(bursts[1].first - bursts[0].second), 0.06, 0.015);
    EXPECT_NEAR(seconds(bursts[1].second - bursts[1].first), 0.28, 0.02);
    EXPECT_GT(Rms(x, bursts[1].first, bursts[1].second), 1.3 * Rms(x, bursts[0].first, bursts[0].second));

    // Silence is the mid-level 128, in the gap and after the second burst.
    for (size_t i = bursts[0].second + nFrame; i + nFrame < bursts[1].first; ++i)
        ASSERT_EQ(x[i], 0.0) << "sample " << i;
    for (size_t i = bursts[1].second + nFrame; i < x.size(); ++i)
        ASSERT_EQ(x[i], 0.0) << "sample " << i;

    // Fades: each burst starts and ends softly. Its first and last non-silent
    // samples are searched from the silence around it.
    const size_t limits[] = {0, bursts[0].second + nFrame, x.size()};
    for (size_t b = 0; b < 2; ++b) {
        size_t nOnset = limits[b];
        while (x[nOnset] == 0.0)
            ++nOnset;
        size_t nLast = b == 0 ? limits[1] : limits[2] - 1;
        while (x[nLast] == 0.0)
            --nLast;
        double dPeak = 0.0;
        for (size_t i = nOnset; i <= nLast; ++i)
            dPeak = std::max(dPeak, std::abs(x[i]));
        for (size_t i = 0; i < 22; ++i) {
            EXPECT_LT(std::abs(x[nOnset + i]), 0.5 * dPeak) << "burst " << b << " starts with a click";
            EXPECT_LT(std::abs(x[nLast - i]), 0.5 * dPeak) << "burst " << b << " ends with a click";
        }
    }

    // The tone: strongest near 575 Hz, with a strong partial near 1,150 Hz.
    for (const auto& [nBegin, nEnd] : bursts) {
        double dBest = 0.0;
        double dBestFreq = 0.0;
        double dPartial = 0.0;
        double dPartialFreq = 0.0;
        for (double f = 100.0; f <= 3000.0; f += 5.0) {
            const double m = Magnitude(x, nBegin, nEnd, f, dRate);
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
        EXPECT_GT(dPartial, 0.3 * dBest);
    }
}

}  // namespace
