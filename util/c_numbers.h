// Numbers of wire formats and files, read and written the same whatever locale the process runs in (the Qt
// front end sets the user's locale, which may use a decimal comma).
//
// The readers are the C conversions (white space skipped, optional sign, exponent, "inf"/"nan", the end
// pointer set after the last character used, nothing read when no number starts there) in the "C" locale.
#pragma once

#include <locale.h>

#include <string>

namespace kavro {

// The "C" locale, made once for the process; never freed.
locale_t c_locale();

double c_strtod(const char* text, char** end);
float c_strtof(const char* text, char** end);
long c_strtol(const char* text, char** end, int base);
unsigned long c_strtoul(const char* text, char** end, int base);

// `value` with `decimals` digits after a decimal point, as "%.*f" prints it in the "C" locale.
std::string format_fixed(double value, int decimals);
// Appends the same to `out`.
void append_fixed(std::string& out, double value, int decimals);

} // namespace kavro
