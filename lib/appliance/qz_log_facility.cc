// Facility file lookup; see qz_log_facility.h for the file's format.
#include "appliance/qz_log_facility.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <syslog.h>

namespace
{

// One "name number" line; false for blank, comment-only or malformed lines.
bool parse_line(char *line, const char **name, int32 *facility)
{
    if (char *hash = strchr(line, '#')) *hash = '\0';
    char *save = nullptr;
    char *n = strtok_r(line, " \t\r\n", &save);
    char *v = strtok_r(nullptr, " \t\r\n", &save);
    if (!n || !v || strtok_r(nullptr, " \t\r\n", &save)) return false;
    char *end = nullptr;
    const long code = strtol(v, &end, 10);
    if (*end != '\0' || code < 0 || code > LOG_LOCAL7 || code % 8 != 0) return false;
    *name = n;
    *facility = (int32)code;
    return true;
}

} // namespace

int32 lc_log_get_facility_from(const char *path, const char *process_name)
{
    if (path == nullptr) return qz_log_facility_default;
    FILE *f = fopen(path, "re");
    if (f == nullptr) return qz_log_facility_default;
    int32 own = -1;
    int32 system = -1;
    char line[256];
    while (fgets(line, sizeof line, f)) {
        // A line longer than the buffer is not a facility line: skip its rest.
        if (!strchr(line, '\n') && !feof(f)) {
            int c;
            while ((c = fgetc(f)) != EOF && c != '\n') {
            }
            continue;
        }
        const char *name = nullptr;
        int32 facility = 0;
        if (!parse_line(line, &name, &facility)) continue;
        if (process_name && own < 0 && strcmp(name, process_name) == 0) own = facility;
        if (system < 0 && strcmp(name, "system") == 0) system = facility;
    }
    fclose(f);
    if (own >= 0) return own;
    if (system >= 0) return system;
    return qz_log_facility_default;
}

int32 lc_log_get_facility(uint32 flags, const char *process_name)
{
    (void)flags;
    return lc_log_get_facility_from(QZ_LOG_FACILITY_FILE, process_name);
}
