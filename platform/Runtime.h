// The C runtime services the game relies on, with their exact behaviour:
// the linear congruential generator, the calendar clock and "%c" time text.
#pragma once

#include "platform/WinTypes.h"

#include <cstdint>
#include <functional>

namespace crt {

constexpr int RAND_MAX_VALUE = 0x7FFF;

// state = state * 214013 + 2531011 (mod 2^32); the value is bits 16 to 30.
void srand(std::uint32_t seed);
int rand();

// Calendar time in whole seconds.
using time_t = std::int64_t;
time_t time();
// Tests replace the clock; an empty function restores the real one.
void SetClock(std::function<time_t()> fnClock);

// Local date and time formatted with strftime in the user's locale.
CString FormatLocalTime(time_t t, const char* pszFormat);

}  // namespace crt
