// The helpers every unit of the store and the codecs shares: building and
// writing messages, the refusal of a value, and the assertions.
#include "eeprom_common.h"
#include "eeprom_internal.h"

#include <cstdarg>
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

void eeprom_report(std::initializer_list<const char *> parts) {
    char line[640];
    if (eeprom_join(line, sizeof line, parts) < sizeof line - 1) {
        fputs(line, stderr);
        return;
    }
    // Too long for one piece (a long file name): same bytes, several writes.
    for (const char *part : parts) fputs(part, stderr);
}

void eeprom_assert_fail(const char *cond, int line, const char *func) {
    fflush(stdout);
    fprintf(stderr, "%s: eeprom_common.cpp:%d: %s: Assertion `%s' failed.\n",
            EEPROM_PROGRAM_NAME, line, func, cond);
    abort();
}

namespace {

const char *refusal_heading = nullptr;

}  // namespace

void eeprom_refusal_heading(const char *heading) { refusal_heading = heading; }

// Every complaint of a conversion step comes through here, so that a caller
// checking many values can say which one was refused, and only when one is.
void eeprom_refuse(const char *format, ...) {
    if (refusal_heading) fputs(refusal_heading, stderr);
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
}
