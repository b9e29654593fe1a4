// The region commands: reset, lock, unlock and upgrade of the region that
// main resolved from the command's word.
#include "commands.h"
#include "eeprom_common.h"

int cmd_reset(const command_args &a) { return eeprom_reset(a.region); }
int cmd_lock(const command_args &a) { return eeprom_lock(a.region); }
int cmd_unlock(const command_args &a) { return eeprom_unlock(a.region); }
int cmd_upgrade(const command_args &a) { return eeprom_upgrade(a.region, a.family); }
