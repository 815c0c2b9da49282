// GetLocalTime follows the process's time zone.

#include "platform/win32.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

TEST(local_time, follows_the_time_zone) {
    const char* saved = std::getenv("TZ");
    const std::string saved_zone = saved != nullptr ? saved : "";
    // Five and a half hours east of UTC, no daylight saving.
    setenv("TZ", "QVT-5:30", 1);
    tzset();
    SYSTEMTIME local;
    GetLocalTime(&local);
    const time_t now = time(nullptr);
    if (saved != nullptr)
        setenv("TZ", saved_zone.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();

    tm utc{};
    gmtime_r(&now, &utc);
    const int utc_minutes = utc.tm_hour * 60 + utc.tm_min;
    const int local_minutes = local.wHour * 60 + local.wMinute;
    const int offset = ((local_minutes - utc_minutes) % 1440 + 1440) % 1440;
    EXPECT_TRUE(offset == 330 || offset == 331) << offset;  // a minute may pass between the reads
    EXPECT_LT(local.wMilliseconds, 1000);
    EXPECT_GE(local.wYear, 2024);
}
