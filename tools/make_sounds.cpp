// Generates the game's two sound cues as WAVE files:
//
//   101.wav  the thump of a stone running into another stone:
//            PCM mono, 44,100 Hz, 16-bit signed, 20,864 samples;
//   102.wav  the buzz of a stone that would leave the playing area:
//            PCM mono, 22,050 Hz, 8-bit unsigned, 9,952 samples.
//
// Usage: make_sounds [output-directory]   (default: app/sounds)
//
// The output is deterministic (fixed noise seed, no clock), so running the
// tool again reproduces the committed files.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Appends little-endian integers to a byte image.
void PutU16(std::vector<std::uint8_t>& out, unsigned v)
{
    out.push_back(std::uint8_t(v & 0xFF));
    out.push_back(std::uint8_t((v >> 8) & 0xFF));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(std::uint8_t((v >> (8 * i)) & 0xFF));
}

void PutTag(std::vector<std::uint8_t>& out, const char* tag)
{
    out.insert(out.end(), tag, tag + 4);
}

// A canonical 44-byte header followed by the sample bytes.
std::vector<std::uint8_t> MakeWave(unsigned nRate, unsigned nBits,
                                   const std::vector<std::uint8_t>& samples)
{
    const unsigned nBlockAlign = nBits / 8;  // one channel
    std::vector<std::uint8_t> out;
    out.reserve(44 + samples.size());
    PutTag(out, "RIFF");
    PutU32(out, std::uint32_t(36 + samples.size()));
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    PutU32(out, 16);
    PutU16(out, 1);  // PCM
    PutU16(out, 1);  // mono
    PutU32(out, nRate);
    PutU32(out, nRate * nBlockAlign);
    PutU16(out, nBlockAlign);
    PutU16(out, nBits);
    PutTag(out, "data");
    PutU32(out, std::uint32_t(samples.size()));
    out.insert(out.end(), samples.begin(), samples.end());
    return out;
}

// Small deterministic noise source (xorshift32), values in [-1, 1).
class Noise {
public:
    double Next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return double(m_state) / 2147483648.0 - 1.0;
    }

private:
    std::uint32_t m_state = 0x5EB1A5u;
};

// Raised-cosine ramp from 0 (x <= 0) to 1 (x >= 1).
double Ramp(double x)
{
    if (x <= 0.0)
        return 0.0;
    if (x >= 1.0)
        return 1.0;
    return 0.5 - 0.5 * std::cos(std::numbers::pi * x);
}

// 101: a low thump. A sine that drops from about 90 Hz towards 55 Hz under a
// slowly decaying envelope, with a little low-passed noise for the impact.
// Loud for 0.2 s, faded out by 0.245 s, zero to the end.
std::vector<std::uint8_t> MakeThump()
{
    constexpr int kRate = 44100;
    constexpr int kSamples = 20864;
    constexpr double kAttack = 0.004;
    constexpr double kFadeStart = 0.200;
    constexpr double kFadeEnd = 0.245;

    std::vector<double> body(kSamples, 0.0);
    std::vector<double> knock(kSamples, 0.0);
    double phase = 0.0;
    Noise noise;
    double lp1 = 0.0;
    double lp2 = 0.0;
    const double alpha = 1.0 - std::exp(-kTwoPi * 180.0 / kRate);  // one-pole low pass at 180 Hz
    for (int i = 0; i < kSamples; ++i) {
        const double t = double(i) / kRate;
        if (t >= kFadeEnd)
            break;
        const double freq = 55.0 + 35.0 * std::exp(-t / 0.05);
        phase += kTwoPi * freq / kRate;
        const double env = Ramp(t / kAttack) * std::exp(-t / 0.25)
                           * (1.0 - Ramp((t - kFadeStart) / (kFadeEnd - kFadeStart)));
        body[i] = env * std::sin(phase);

        lp1 += alpha * (noise.Next() - lp1);
        lp2 += alpha * (lp1 - lp2);
        knock[i] = lp2 * Ramp(t / kAttack) * std::exp(-t / 0.03)
                   * (1.0 - Ramp((t - kFadeStart) / (kFadeEnd - kFadeStart)));
    }

    // The knock at a sixth of the body's peak, then the whole at 90 % of full scale.
    double knockPeak = 0.0;
    for (double v : knock)
        knockPeak = std::max(knockPeak, std::abs(v));
    std::vector<double> mix(kSamples);
    double peak = 0.0;
    for (int i = 0; i < kSamples; ++i) {
        mix[i] = body[i] + (knockPeak > 0.0 ? knock[i] / knockPeak / 6.0 : 0.0);
        peak = std::max(peak, std::abs(mix[i]));
    }
    std::vector<std::uint8_t> out;
    out.reserve(kSamples * 2);
    for (double v : mix) {
        const long s = std::lround(v / peak * 0.9 * 32767.0);
        PutU16(out, unsigned(std::int16_t(std::clamp(s, -32767L, 32767L))) & 0xFFFF);
    }
    return out;
}

// 102: two buzzes on 575 Hz with a strong octave partial: a short soft one,
// a gap, a long loud one, silence (128) to the end. 4 ms fades at every edge.
std::vector<std::uint8_t> MakeBuzz()
{
    constexpr int kRate = 22050;
    constexpr int kSamples = 9952;
    constexpr double kFade = 0.004;
    struct Burst {
        double start;
        double length;
        double level;  // peak deviation from 128
    };
    constexpr Burst kBursts[] = {{0.000, 0.070, 60.0}, {0.130, 0.280, 110.0}};

    auto tone = [](double t) {
        const double w = kTwoPi * 575.0 * t;
        return std::sin(w) + 0.7 * std::sin(2.0 * w + 0.3) + 0.3 * std::sin(3.0 * w + 0.6)
               + 0.15 * std::sin(4.0 * w + 0.9);
    };
    // Peak of the waveform over one period, to scale it to the burst levels.
    double tonePeak = 0.0;
    for (int i = 0; i < 4000; ++i)
        tonePeak = std::max(tonePeak, std::abs(tone(i / (4000.0 * 575.0))));

    std::vector<std::uint8_t> out(kSamples, 128);
    for (int i = 0; i < kSamples; ++i) {
        const double t = double(i) / kRate;
        for (const Burst& b : kBursts) {
            const double u = t - b.start;
            if (u < 0.0 || u >= b.length)
                continue;
            const double env = Ramp(u / kFade) * Ramp((b.length - u) / kFade);
            const long s = 128 + std::lround(b.level * env * tone(u) / tonePeak);
            out[i] = std::uint8_t(std::clamp(s, 1L, 255L));
        }
    }
    return out;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    file.close();
    if (!file) {
        std::fprintf(stderr, "make_sounds: cannot write %s\n", path.c_str());
        return false;
    }
    std::printf("%s: %zu bytes\n", path.c_str(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string dir = argc > 1 ? argv[1] : "app/sounds";
    const bool ok = WriteFile(dir + "/101.wav", MakeWave(44100, 16, MakeThump()))
                    && WriteFile(dir + "/102.wav", MakeWave(22050, 8, MakeBuzz()));
    return ok ? 0 : 1;
}
