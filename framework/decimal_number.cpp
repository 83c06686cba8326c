#include "framework/decimal_number.h"

bool ParseDecimal(const char*& p, unsigned long long& value) {
    unsigned long long number = 0;
    const char* const start = p;
    for (; *p >= '0' && *p <= '9'; ++p) {
        const unsigned digit = static_cast<unsigned>(*p - '0');
        if (number > (~0ull - digit) / 10)
            return false;
        number = number * 10 + digit;
    }
    value = number;
    return p != start;
}
