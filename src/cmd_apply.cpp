// apply and verify: the items listed in a file set, each region stored once,
// or tried without storing (--dry-run), or compared with what the chips
// hold (eeprom_apply.h).
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "eeprom_common.h"

namespace {

constexpr const char *DRY_RUN = "--dry-run";

// A difference, on standard output: the lines are what verify reports.
void print_line(void *, const char *text, size_t length) {
    fwrite(text, 1, length, stdout);
    fflush(stdout);
}

}  // namespace

// The file name, after --dry-run if at all.
bool apply_words_fit(int argc, char **argv) {
    return (strcmp(argv[0], DRY_RUN) == 0) == (argc == 2);
}

int cmd_apply(const command_args &a) {
    if (a.argc == 2) return eeprom_apply_dry_run(a.session, a.argv[1]);
    return eeprom_apply(a.session, a.argv[0]);
}

// A failure of standard output is reported once, by main's final flush.
int cmd_verify(const command_args &a) {
    return eeprom_verify(a.session, a.argv[0], print_line, nullptr);
}
