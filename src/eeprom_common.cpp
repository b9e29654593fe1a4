// The helpers every unit of the store and the codecs shares: building
// messages and the assertions.
#include "eeprom_common.h"
#include "eeprom_internal.h"

#include <cstdio>
#include <cstdlib>

size_t eeprom_join(char *dst, size_t size, std::initializer_list<const char *> parts) {
    EEPROM_ASSERT(size > 0);
    size_t n = 0;
    for (const char *part : parts)
        for (; *part != '\0' && n + 1 < size; ++part) dst[n++] = *part;
    dst[n] = '\0';
    return n;
}

void eeprom_assert_fail(const char *cond, int line, const char *func) {
    fflush(stdout);
    fprintf(stderr, "%s: eeprom_common.cpp:%d: %s: Assertion `%s' failed.\n",
            EEPROM_PROGRAM_NAME, line, func, cond);
    abort();
}
