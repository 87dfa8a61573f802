// Side streams of the logger: the debug file written by lc_log_file and the
// facilities of the firewall, system and audit log streams.  Neither touches
// the logger state.
#include <atomic>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>

#include "log/logging.h"

namespace
{
// The debug file is cut back to nothing once it passes this size.
constexpr off_t debug_file_max_size = 2000000;

std::atomic<int32> g_facility_firewall{LOG_USER};
std::atomic<int32> g_facility_system{LOG_USER};
std::atomic<int32> g_facility_audit{LOG_USER};
} // namespace

int lc_log_file(const char *path, const char *fmt, ...)
{
    if (path == nullptr) path = LC_LOG_DEBUG_FILE;
    struct stat st;
    const bool too_big = stat(path, &st) == 0 && st.st_size > debug_file_max_size;
    FILE *f = fopen(path, too_big ? "we" : "ae");
    if (f == nullptr) return 1;

    const time_t now = time(nullptr);
    struct tm local;
    char stamp[32] = "";
    if (localtime_r(&now, &local)) strftime(stamp, sizeof stamp, "%m%d%y %d%H%M", &local);
    fputs(stamp, f);
    fputc(' ', f);
    va_list ap;
    va_start(ap, fmt);
    vfprintf(f, fmt, ap);
    va_end(ap);
    fputc('\n', f);
    fclose(f);
    return 0;
}

void lc_set_facility_firewall(int32 facility)
{
    g_facility_firewall = facility;
}
int32 lc_get_facility_firewall()
{
    return g_facility_firewall;
}
void lc_set_facility_system(int32 facility)
{
    g_facility_system = facility;
}
int32 lc_get_facility_system()
{
    return g_facility_system;
}
void lc_set_facility_audit(int32 facility)
{
    g_facility_audit = facility;
}
int32 lc_get_facility_audit()
{
    return g_facility_audit;
}
