// libFuzzer entry: the fuzzer's bytes are the events a new driver plays at a
// new view. A broken rule aborts, so the fuzzer keeps the input.
#include "app/SlabixApp.h"
#include "tests/Isolation.h"
#include "tests/fuzz_driver.h"

#include <QApplication>

#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace {
// Inputs longer than this many events are cut, so one input stays quick.
constexpr long kMaxEvents = 2000;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    IsolateFromTheMachine();
    std::setlocale(LC_ALL, "C");
    static int s_argc = 1;
    static char s_name[] = "slabix_fuzz";
    static char* s_argv[] = {s_name, nullptr};
    static QApplication s_app(s_argc, s_argv);
    CSlabixApp::InitResources();  // the sound cues, so stops are heard
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    CFuzzDriver driver;
    CInputSource src(pData, nSize);
    driver.Run(src, kMaxEvents);
    if (driver.Violations() != 0) {
        for (const std::string& line : driver.Messages())
            std::fprintf(stderr, "%s\n", line.c_str());
        std::fprintf(stderr, "%s\n", driver.Summary().c_str());
        std::abort();
    }
    return 0;
}
