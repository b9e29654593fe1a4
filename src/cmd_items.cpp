// The item commands: get and set one item through its kind's operations,
// and print_all, which gets every item of the fitted hardware.
#include <cstdio>

#include "commands.h"
#include "eeprom_common.h"
#include "std_streams.h"

namespace {

// A chip that is missing or cannot be opened would fail every item alike:
// report it once for the table and move on.
void print_values(const eeprom_value_t *values) {
    for (; values->name[0] != '\0'; ++values) {
        const eeprom_status_t status = values->get(values, 0, nullptr);
        if (status == EEPROM_ERROR_OPEN || status == EEPROM_ERROR_NOT_FOUND) break;
    }
}

}  // namespace

int cmd_get(const command_args &a) { return a.item->get(a.item, a.argc - 1, a.argv + 1); }

int cmd_set(const command_args &a) { return a.item->set(a.item, a.argc - 1, a.argv + 1); }

int cmd_print_all(const command_args &a) {
    // Every item is listed; a failure of standard output is reported once,
    // at the end.
    eeprom_stdout_defer();
    // Headings are flushed so that they precede the items' diagnostics when
    // both streams go to one place.
    printf("Core EEPROM Data:\n");
    fflush(stdout);
    print_values(core_values(a.session));
    printf("\nStrap EEPROM Data:\n");
    fflush(stdout);
    print_values(strap_values(a.session));
    return EEPROM_SUCCESS;
}
