// The runtime's generator, clock and time text; sound resources and playback.
#include "platform/Runtime.h"
#include "platform/Sound.h"
#include "tests/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QResource>
#include <gtest/gtest.h>

#include <ctime>
#include <vector>

namespace {

// Ids the game does not use, so these resources never shadow its own cues.
constexpr int ID_A = 9101, ID_B = 9102, ID_MISSING = 4242;
constexpr UINT SND_FLAGS = SND_ASYNC | SND_NODEFAULT | SND_MEMORY;

// A tiny silent WAVE image (8-bit mono, 22050 Hz) whose first sample marks it.
QByteArray Wave(char marker)
{
    QByteArray wav = QByteArray::fromHex("52494646340000005741564566"
                                         "6d74201000000001000100225600002256000001000800"
                                         "6461746110000000");
    return wav + marker + QByteArray(15, char(0x80));
}

void PutBE(QByteArray& out, quint32 value, int nBytes)
{
    while (nBytes--)
        out.append(char((value >> (8 * nBytes)) & 0xFF));
}

quint32 NameHash(const QString& str)  // the order of a resource directory
{
    quint32 h = 0;
    for (QChar c : str) {
        h = (h << 4) + c.unicode();
        h = (h ^ ((h & 0xF0000000u) >> 23)) & 0x0FFFFFFFu;
    }
    return h;
}

// Registers ":/sound/9101" and ":/sound/9102" as a binary resource tree
// (format 2: root, "sound", then its files in hash order), so lookup and
// routing are tested whatever cues the application compiles in.
void RegisterTestSounds()
{
    static const QByteArray s_rcc = [] {
        std::vector<std::pair<QString, QByteArray>> files{{QString::number(ID_A), Wave('A')},
                                                          {QString::number(ID_B), Wave('B')}};
        std::sort(files.begin(), files.end(), [](auto& a, auto& b) { return NameHash(a.first) < NameHash(b.first); });
        QByteArray tree, names, data;
        auto stamp = [&] { PutBE(tree, 0xE8, 4), PutBE(tree, 0xD4A51000, 4); };  // modified in 2001
        auto name = [&](const QString& str) {
            PutBE(tree, quint32(names.size()), 4);
            PutBE(names, quint32(str.size()), 2);
            PutBE(names, NameHash(str), 4);
            for (QChar c : str)
                PutBE(names, c.unicode(), 2);
        };
        PutBE(tree, 0, 4);  // root: directory, 1 child at node 1
        PutBE(tree, 2, 2), PutBE(tree, 1, 4), PutBE(tree, 1, 4), stamp();
        name(QStringLiteral("sound"));  // directory, its children from node 2
        PutBE(tree, 2, 2), PutBE(tree, quint32(files.size()), 4), PutBE(tree, 2, 4), stamp();
        for (const auto& [strName, bytes] : files) {
            name(strName);  // file, any territory, language C, its data
            PutBE(tree, 0, 2), PutBE(tree, 0, 2), PutBE(tree, 1, 2), PutBE(tree, quint32(data.size()), 4), stamp();
            PutBE(data, quint32(bytes.size()), 4);
            data += bytes;
        }
        QByteArray rcc("qres");
        const quint32 nTree = 20, nNames = nTree + quint32(tree.size());
        PutBE(rcc, 2, 4), PutBE(rcc, nTree, 4), PutBE(rcc, nNames + quint32(names.size()), 4), PutBE(rcc, nNames, 4);
        return rcc + tree + names + data;
    }();
    static const bool s_bRegistered = QResource::registerResource(reinterpret_cast<const uchar*>(s_rcc.constData()));
    ASSERT_TRUE(s_bRegistered);
}

const void* Image(int nId)
{
    return LockResource(LoadResource(FindResource(nId, "sound")));
}

}  // namespace

TEST(PlatformRuntime, GeneratorGivesTheRuntimeSequence)
{
    crt::srand(1);
    EXPECT_EQ(crt::rand(), 41);
    EXPECT_EQ(crt::rand(), 18467);
    EXPECT_EQ(crt::rand(), 6334);
    crt::srand(0);
    EXPECT_EQ(crt::rand(), 38);
    EXPECT_EQ(crt::rand(), 7719);
    EXPECT_EQ(crt::rand(), 21238);
    for (const FirstDraw& draw : kFirstDraws) {
        crt::srand(draw.nSeed);
        EXPECT_EQ(crt::rand(), draw.nValue) << "seed " << draw.nSeed;
    }
    crt::srand(1700000000u);  // a calendar-time seed: values stay within 0..0x7FFF and reach its top
    int nMax = 0;
    for (int i = 0; i < 20000; ++i) {
        const int n = crt::rand();
        ASSERT_TRUE(n >= 0 && n <= crt::RAND_MAX_VALUE) << n;
        nMax = std::max(nMax, n);
    }
    EXPECT_GT(nMax, 0x7F00);
}

TEST(PlatformRuntime, ClockAndLocalTime)
{
    crt::SetClock([] { return crt::time_t(1234567); });
    EXPECT_EQ(crt::time(), 1234567);
    crt::SetClock({});
    EXPECT_NEAR(double(crt::time()), double(std::time(nullptr)), 5.0);

    EXPECT_FALSE(crt::FormatLocalTime(1000000000, "%c").isEmpty());
    // 9 September 2001, 01:46:40 UTC: that day's date in every time zone.
    EXPECT_EQ(crt::FormatLocalTime(1000000000, "%Y-%m"), QStringLiteral("2001-09"));
    EXPECT_NE(crt::FormatLocalTime(1000000000, "%c"), crt::FormatLocalTime(1000086400, "%c"));
}

TEST(PlatformSound, ResourcesAreFoundOnceAndKeepTheirAddress)
{
    RegisterTestSounds();
    const HRSRC hRes = FindResource(ID_A, "sound");
    ASSERT_NE(hRes, nullptr);
    EXPECT_EQ(hRes->nId, ID_A);
    EXPECT_EQ(hRes->image, Wave('A'));
    EXPECT_EQ(FindResource(ID_A, "sound"), hRes);
    EXPECT_EQ(LoadResource(hRes), hRes);
    EXPECT_EQ(LockResource(hRes), hRes->image.constData());
    EXPECT_EQ(FindResource(ID_MISSING, "sound"), nullptr);
    EXPECT_EQ(FindResource(ID_A, "bitmap"), nullptr);
    EXPECT_EQ(LockResource(LoadResource(nullptr)), nullptr);
}

TEST(PlatformSound, PlayRoutesTheImageToTheOutputWithItsId)
{
    RegisterTestSounds();
    CRecordingSoundOutput rec;
    CSoundOutput* pPrevious = SetSoundOutput(&rec);
    EXPECT_TRUE(sndPlaySound(Image(ID_B), SND_FLAGS));
    EXPECT_TRUE(sndPlaySound(Image(ID_A), SND_FLAGS));
    sndPlaySound("RIFF", SND_FLAGS);             // an image of no resource
    sndPlaySound(Image(ID_MISSING), SND_FLAGS);  // a missing cue: silence
    EXPECT_EQ(rec.m_played, (std::vector<int>{ID_B, ID_A, 0}));
    SetSoundOutput(nullptr);
    EXPECT_FALSE(sndPlaySound(Image(ID_A), SND_FLAGS));
    EXPECT_EQ(rec.m_played.size(), 3u);
    SetSoundOutput(pPrevious);
}

// Without a sound server every cue is silent at once: a new cue never waits
// for the server or for the last one. The tests reach no sound server,
// whatever the machine has.
TEST(PlatformSound, ServerOutputNeverWaits)
{
    RegisterTestSounds();
    CServerSoundOutput output;
    CSoundOutput* pPrevious = SetSoundOutput(&output);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(sndPlaySound(Image(ID_A), SND_FLAGS));
        EXPECT_TRUE(sndPlaySound(Image(ID_B), SND_FLAGS));
        QCoreApplication::processEvents();
    }
    output.Play(ID_MISSING, nullptr);
    sndPlaySound(nullptr, 0);
    EXPECT_LT(timer.elapsed(), 500);
    while (timer.elapsed() < 300)  // the connections' answers come in
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_FALSE(output.Connected()) << "the tests reach a sound server";
    SetSoundOutput(pPrevious);
}
