// The two ways the program reads a number typed into a text box.
#pragma once

#include <QStringView>

#include <optional>

// Lenient: the number at the start of the text; never fails.
// Blanks, tabs, line feeds and carriage returns are dropped wherever they stand.
// "&h" (either case) starts hexadecimal: the longest run of hex digits after it, one to four
// digits as a 16-bit two's complement number (8000..FFFF read -32768..-1), five to eight as a
// 32-bit one; no digits read 0; from nine digits on only the last eight count (the low 32 bits).
// Otherwise a decimal number: optional sign, digits with at most one ".", optional exponent
// (E/e, optional sign, digits). Reading stops at the first character that does not fit; no
// number at all reads 0. Only "." is a decimal point, whatever the locale. A number beyond the
// range of a double reads as +/-infinity, one below the smallest double as 0.
double ParseNumberStart(QStringView text);

// Strict: the whole text, leading and trailing blanks aside, as one finite number, first in the
// "." notation without group separators (so that whatever the program writes reads back), then
// in the notation of the default locale. Empty text, anything else in it, or a number beyond
// the range of a double gives nullopt.
std::optional<double> ParseWholeNumber(QStringView text);
