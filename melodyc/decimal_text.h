// Decimal conversions of token text, as the C library's atof reads them.
#pragma once

// atof of the longest leading part of `text` that reads as a floating-point
// number in the C locale (0 when there is none), rounded to single precision.
// With `used`, also the number of bytes that part takes.
float leading_float_value(const char *text, int *used = nullptr);

// The same for a text made only of decimal digits and dots, with a fast
// path for the short texts that durations almost always are.
// `text[length]` must be the zero byte that ends it.
float digits_and_dots_value(const char *text, int length);
