#include "util/c_numbers.h"

#include <charconv>
#include <cstdlib>

namespace kavro {

locale_t c_locale() {
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", nullptr);
    return loc;
}

double c_strtod(const char* text, char** end) { return strtod_l(text, end, c_locale()); }
float c_strtof(const char* text, char** end) { return strtof_l(text, end, c_locale()); }
long c_strtol(const char* text, char** end, int base) { return strtol_l(text, end, base, c_locale()); }
unsigned long c_strtoul(const char* text, char** end, int base) { return strtoul_l(text, end, base, c_locale()); }

void append_fixed(std::string& out, double value, int decimals) {
    // 309 digits before the point at most for a double, plus sign, point and the decimals.
    char buffer[320 + 64];
    const int d = decimals < 0 ? 0 : decimals > 60 ? 60 : decimals;
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, d);
    out.append(buffer, r.ptr);
}

std::string format_fixed(double value, int decimals) {
    std::string s;
    append_fixed(s, value, decimals);
    return s;
}

} // namespace kavro
