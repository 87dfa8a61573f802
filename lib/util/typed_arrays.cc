// The scalar typed arrays, and the uint32_array extras.
#include "util/typed_arrays.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

LC_TYPED_ARRAY_DEFINE_VALUE(uint32_array, uint32)
LC_TYPED_ARRAY_DEFINE_BOXED(uint64_array, uint64)
LC_TYPED_ARRAY_DEFINE_BOXED(int64_array, int64)
LC_TYPED_ARRAY_DEFINE_VALUE(float32_array, float32)
LC_TYPED_ARRAY_DEFINE_VALUE(tbool_array, tbool)
LC_TYPED_ARRAY_DEFINE_VALUE(lt_time_sec_array, lt_time_sec)

namespace
{

// The values of `arr` in a vector; null when it could not be allocated.
std::vector<uint32> *values_of(const uint32_array *arr, std::vector<uint32> *v)
{
    const uint32 n = uint32_array_length_quick(arr);
    return lc_grow(v, [&] {
        v->reserve(n);
        for (uint32 i = 0; i < n; ++i) v->push_back(uint32_array_get_quick(arr, i));
    });
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

int uint32_array_get_min(const uint32_array *arr, uint32 *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(arr);
    const uint32 n = uint32_array_length_quick(arr);
    if (n == 0) return lc_err_not_found;
    uint32 least = uint32_array_get_quick(arr, 0);
    for (uint32 i = 1; i < n; ++i) least = std::min(least, uint32_array_get_quick(arr, i));
    *ret = least;
    return 0;
}

int uint32_array_get_max(const uint32_array *arr, uint32 *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(arr);
    const uint32 n = uint32_array_length_quick(arr);
    if (n == 0) return lc_err_not_found;
    uint32 most = uint32_array_get_quick(arr, 0);
    for (uint32 i = 1; i < n; ++i) most = std::max(most, uint32_array_get_quick(arr, i));
    *ret = most;
    return 0;
}

int uint32_array_get_first_absent(const uint32_array *arr, uint32 *ret)
{
    bail_null(ret);
    *ret = 0;
    bail_null(arr);
    std::vector<uint32> v;
    bail_null(values_of(arr, &v));
    std::sort(v.begin(), v.end());
    uint32 want = 0;
    for (uint32 x : v) {
        if (x > want) break;
        if (x == want) {
            // Every value is present: there is no absent one to give.
            bail_require(want != UINT32_MAX);
            ++want;
        }
    }
    *ret = want;
    return 0;
}

int uint32_array_new_from_list(uint32_array **ret, const char *list, uint32 *ret_count)
{
    bail_null(ret);
    *ret = nullptr;
    if (ret_count) *ret_count = 0;
    bail_null(list);

    std::vector<uint32> values;
    const char *p = list;
    while (is_blank(*p)) ++p;
    if (*p) {
        for (;;) {
            while (is_blank(*p)) ++p;
            if (*p < '0' || *p > '9') return lc_err_parse_error;
            uint64 v = 0;
            while (*p >= '0' && *p <= '9') {
                v = v * 10 + static_cast<uint64>(*p++ - '0');
                if (v > UINT32_MAX) return lc_err_parse_error;
            }
            bail_null(lc_grow(&values, [&] { values.push_back(static_cast<uint32>(v)); }));
            while (is_blank(*p)) ++p;
            if (*p == '\0') break;
            if (*p++ != ',') return lc_err_parse_error;
        }
    }
    std::sort(values.begin(), values.end());

    array_options opts;
    bail_error(array_options_get_defaults(&opts));
    opts.initial_size = std::max<uint32>(static_cast<uint32>(values.size()), 1);
    owned<uint32_array> arr;
    bail_error(uint32_array_new_full(arr.out(), &opts));
    for (uint32 v : values) bail_error(uint32_array_append(arr.get(), v));
    bail_error(uint32_array_sort(arr.get())); // marks it sorted
    if (ret_count) *ret_count = static_cast<uint32>(values.size());
    *ret = arr.release();
    return 0;
}

int uint32_array_to_list(const uint32_array *arr, char **ret_list)
{
    bail_null(ret_list);
    *ret_list = nullptr;
    bail_null(arr);
    std::string out;
    const uint32 n = uint32_array_length_quick(arr);
    char buf[16];
    for (uint32 i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof(buf), "%u%s", uint32_array_get_quick(arr, i),
                      i + 1 < n ? "," : "");
        bail_null(lc_grow(&out, [&] { out += buf; }));
    }
    char *s = static_cast<char *>(std::malloc(out.size() + 1));
    bail_null(s);
    std::memcpy(s, out.c_str(), out.size() + 1);
    *ret_list = s;
    return 0;
}
