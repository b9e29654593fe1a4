// apply: every item listed in a file set, each region stored once
// (eeprom_apply.h).
#include "commands.h"
#include "eeprom_common.h"

int cmd_apply(const command_args &a) { return eeprom_apply(a.session, a.argv[0]); }
