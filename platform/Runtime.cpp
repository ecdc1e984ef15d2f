// The C runtime services: the generator, the clock and local time text.
#include "platform/Runtime.h"

#include <ctime>
#include <utility>

namespace crt {

namespace {

std::uint32_t g_nRandState = 1;  // the runtime's state before any srand

std::function<time_t()> g_fnClock;  // empty: the system clock

}  // namespace

void srand(std::uint32_t seed)
{
    g_nRandState = seed;
}

int rand()
{
    g_nRandState = g_nRandState * 214013u + 2531011u;  // unsigned: wraps mod 2^32
    return int((g_nRandState >> 16) & RAND_MAX_VALUE);
}

time_t time()
{
    return g_fnClock ? g_fnClock() : time_t(std::time(nullptr));
}

void SetClock(std::function<time_t()> fnClock)
{
    g_fnClock = std::move(fnClock);
}

CString FormatLocalTime(time_t t, const char* pszFormat)
{
    if (!pszFormat || !*pszFormat)
        return CString();
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tmLocal{};
    if (!localtime_r(&tt, &tmLocal))
        return CString();
    char szBuffer[256];
    const size_t nLength = std::strftime(szBuffer, sizeof szBuffer, pszFormat, &tmLocal);
    return QString::fromLocal8Bit(szBuffer, qsizetype(nLength));
}

}  // namespace crt
