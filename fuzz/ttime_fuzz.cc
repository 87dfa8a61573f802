// Date-time and duration texts on arbitrary bytes: any text parses or is
// refused without fault, and a parsed value prints to a text that parses
// back to the same value.
#include "fuzz_common.h"
#include "util/ttime.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::quiet_logs();
    setenv("TZ", "UTC", 1);
    (void)lt_reload_time_zone();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 256) return 0;
    const std::string text = fuzz::text(data, size);
    char buf[64];

    lt_time_us t = 0, t_back = 0;
    if (lt_str_utc_to_datetime_us(text.c_str(), &t) == 0) {
        fuzz::require(lt_datetime_us_to_buf_utc(t, 0, sizeof buf, buf) == 0 &&
                      lt_str_utc_to_datetime_us(buf, &t_back) == 0 && t_back == t);
    }
    lt_daytime_ms d = 0, d_back = 0;
    if (lt_str_to_daytime_ms(text.c_str(), &d) == 0) {
        fuzz::require(lt_daytime_ms_to_buf(d, sizeof buf, buf) == 0 &&
                      lt_str_to_daytime_ms(buf, &d_back) == 0 && d_back == d);
    }
    lt_dur_us dur = 0;
    (void)lt_str_to_dur_us(text.c_str(), &dur);
    lt_dur_sec sec = 0;
    (void)lt_str_to_dur_sec(text.c_str(), &sec);
    return 0;
}
