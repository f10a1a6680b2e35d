// Sets the process's time zone (the TZ variable, read again by the C
// library) for the life of the object and puts the old one back. Zones are
// given in the POSIX form ("MST7", "JST-9", "PST8PDT") that the C libraries
// of both systems understand.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

#include "base/format.h"

namespace verrin::testsupport {

struct ScopedTimeZone {
    std::string old;
    bool had = false;
    explicit ScopedTimeZone(const char* zone)
    {
        const char* tz = std::getenv("TZ");
        had = tz != nullptr;
        if (had) old = tz;
        set(zone);
    }
    ~ScopedTimeZone()
    {
        if (had)
            set(old.c_str());
        else
            set(nullptr);
    }
    static void set(const char* zone)
    {
#ifdef _WIN32
        _putenv_s("TZ", zone ? zone : "");
        _tzset();
#else
        if (zone)
            setenv("TZ", zone, 1);
        else
            unsetenv("TZ");
        tzset();
#endif
        forgetZoneOffsets();
    }
};

}  // namespace verrin::testsupport
