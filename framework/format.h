// Bounded formatting through the system's C library: the text always ends within the buffer,
// and the result is, as with C99's snprintf, the length the whole text needs (negative on a
// format error). The C++ library's own printf would bring its float formatting along.
#pragma once

#include <stdarg.h>
#include <stddef.h>

#if defined(__MINGW32__)
#define FORMAT_TEXT_CHECK(f, a) __attribute__((format(ms_printf, f, a)))
#else
#define FORMAT_TEXT_CHECK(f, a)
#endif

int FormatText(char* pszBuffer, size_t nSize, const char* pszFormat, ...) FORMAT_TEXT_CHECK(3, 4);
int FormatTextV(char* pszBuffer, size_t nSize, const char* pszFormat, va_list args)
    FORMAT_TEXT_CHECK(3, 0);
