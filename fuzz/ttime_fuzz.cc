// Date-time and duration texts on arbitrary bytes: any text parses or is
// refused without fault, and a parsed value prints to a text that parses
// back to the same value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "log/logging.h"
#include "util/ttime.h"

namespace
{

void drop_line(int, const char *, void *) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    lc_log_set_sink(drop_line, nullptr);
    setenv("TZ", "UTC", 1);
    (void)lt_reload_time_zone();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 256) return 0;
    const std::string text(reinterpret_cast<const char *>(data), size);
    char buf[64];

    lt_time_us t = 0;
    if (lt_str_utc_to_datetime_us(text.c_str(), &t) == 0) {
        lt_time_us back = 0;
        if (lt_datetime_us_to_buf_utc(t, 0, sizeof buf, buf) != 0 ||
            lt_str_utc_to_datetime_us(buf, &back) != 0 || back != t)
            abort();
    }
    lt_daytime_ms d = 0;
    if (lt_str_to_daytime_ms(text.c_str(), &d) == 0) {
        lt_daytime_ms back = 0;
        if (lt_daytime_ms_to_buf(d, sizeof buf, buf) != 0 ||
            lt_str_to_daytime_ms(buf, &back) != 0 || back != d)
            abort();
    }
    lt_dur_us dur = 0;
    (void)lt_str_to_dur_us(text.c_str(), &dur);
    lt_dur_sec sec = 0;
    (void)lt_str_to_dur_sec(text.c_str(), &sec);
    return 0;
}
