// vellum: command-line front end. One table of commands drives both the
// dispatch and the help listing; handlers find items and regions in the
// catalogue of the fitted hardware and pass every status up unchanged.
#include <cstdio>
#include <cstring>

#include <sys/auxv.h>
#include <unistd.h>

#include "catalogue.h"
#include "commands.h"
#include "eeprom_common.h"
#include "std_streams.h"

#ifndef VERSION_STRING
#error "VERSION_STRING must be defined by the build"
#endif

namespace {

struct command_t {
    char name[24];
    int (*handler)(int argc, char **argv);
    char description[64];
};

int cmd_help(int argc, char **argv);
int cmd_version(int argc, char **argv);
int cmd_print_all(int argc, char **argv);
int cmd_reset(int argc, char **argv);
int cmd_lock(int argc, char **argv);
int cmd_unlock(int argc, char **argv);
int cmd_upgrade(int argc, char **argv);
int cmd_get(int argc, char **argv);
int cmd_set(int argc, char **argv);

const command_t commands[] = {
    {"help", cmd_help, "Print all commands and items"},
    {"version", cmd_version, "Display the Version"},
    {"print_all", cmd_print_all, "Prints all EEPROM data"},
    {"reset", cmd_reset, "Reset the EEPROM"},
    {"lock", cmd_lock, "Lock the given EEPROM"},
    {"unlock", cmd_unlock, "Unlock the given EEPROM"},
    {"upgrade", cmd_upgrade, "Upgrade the given EEPROM to latest version"},
    {"get", cmd_get, "Get an EEPROM item"},
    {"set", cmd_set, "Set an EEPROM item"},
    {"check", cmd_check, "Check every EEPROM region"},
    {"dump", cmd_dump, "Save a region image to a file"},
    {"restore", cmd_restore, "Write a region image from a file"},
    {"export", cmd_export, "Print all EEPROM data as JSON"},
    {"apply", cmd_apply, "Set the items listed in a file"},
    {"", nullptr, ""},
};

// Commands whose help row lists the region names, and those that list items.
const char *const region_command_words[] = {"reset", "lock", "unlock", "upgrade",
                                            "dump", "restore", ""};
const char *const item_command_words[] = {"get", "set", ""};

bool has_prefix(const char *text, const char *prefix) {
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

void print_usage() {
    printf("\n%s <cmd> <item (optional)> <item_val (optional)>\n", EEPROM_PROGRAM_NAME);
    printf("e.g. %s help\n\n", EEPROM_PROGRAM_NAME);
}

int cmd_version(int, char **) {
    printf("%s Version: %s\n", EEPROM_PROGRAM_NAME, VERSION_STRING);
    return EEPROM_SUCCESS;
}

// ---------------------------------------------------------------------------
// Item commands

// First item, in table order, whose name begins with the text.
const eeprom_value_t *find_value(const eeprom_value_t *values, const char *text) {
    for (; values->name[0] != '\0'; ++values)
        if (has_prefix(values->name, text)) return values;
    return nullptr;
}

// Core items come first; the strap is looked at (and its generation probed)
// only when no core item matches.
const eeprom_value_t *find_item(const char *text) {
    const eeprom_value_t *value = find_value(core_values(), text);
    return value ? value : find_value(strap_values(), text);
}

void complain_not_found(const char *text, const char *command) {
    fprintf(stderr, "\n%s was not found!\n", text);
    print_hint(command);
}

// The item named by the first word, or a complaint naming the command. An
// empty word (an unset shell variable, say) would begin every name: it names
// nothing, and is refused before the tables, and so the devices, are looked at.
const eeprom_value_t *item_or_complain(const char *text, const char *command) {
    const eeprom_value_t *value = text[0] != '\0' ? find_item(text) : nullptr;
    if (!value) complain_not_found(text, command);
    return value;
}

int cmd_set(int argc, char **argv) {
    if (argc <= 0) {
        fprintf(stderr, "\nset command requires an item and atleast one value!\n");
        print_hint("set");
        return EEPROM_ERROR_INVALID_PARAM;
    }
    const eeprom_value_t *value = item_or_complain(argv[0], "set");
    return value ? value->set(value, argc - 1, argv + 1) : EEPROM_ERROR_INVALID_PARAM;
}

int cmd_get(int argc, char **argv) {
    if (argc != 1 && argc != 2) {
        fprintf(stderr, "\nget command requires an item!\n");
        print_hint("get");
        return EEPROM_ERROR_INVALID_PARAM;
    }
    const eeprom_value_t *value = item_or_complain(argv[0], "get");
    return value ? value->get(value, argc - 1, argv + 1) : EEPROM_ERROR_INVALID_PARAM;
}

// A chip that is missing or cannot be opened would fail every item alike:
// report it once for the table and move on.
void print_values(const eeprom_value_t *values) {
    for (; values->name[0] != '\0'; ++values) {
        const eeprom_status_t status = values->get(values, 0, nullptr);
        if (status == EEPROM_ERROR_OPEN || status == EEPROM_ERROR_NOT_FOUND) break;
    }
}

int cmd_print_all(int, char **) {
    // Every item is listed; a failure of standard output is reported once,
    // at the end.
    eeprom_stdout_defer();
    // Headings are flushed so that they precede the items' diagnostics when
    // both streams go to one place.
    printf("Core EEPROM Data:\n");
    fflush(stdout);
    print_values(core_values());
    printf("\nStrap EEPROM Data:\n");
    fflush(stdout);
    print_values(strap_values());
    return EEPROM_SUCCESS;
}

// ---------------------------------------------------------------------------
// Region commands

typedef eeprom_status_t (*region_op_t)(eeprom_t *eeprom, const eeprom_value_t *family);

eeprom_t *find_region(eeprom_t *const *regions, const char *text) {
    for (; *regions; ++regions)
        if (has_prefix((*regions)->name, text)) return *regions;
    return nullptr;
}

int region_command(const char *command, int argc, char **argv, region_op_t op) {
    if (argc != 1) {
        fprintf(stderr, "\n%s command requires an item!\n", command);
        print_hint(command);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    const eeprom_value_t *family = nullptr;
    eeprom_t *region = region_or_complain(argv[0], command, &family);
    return region ? op(region, family) : EEPROM_ERROR_INVALID_PARAM;
}

eeprom_status_t reset_op(eeprom_t *eeprom, const eeprom_value_t *) { return eeprom_reset(eeprom); }
eeprom_status_t lock_op(eeprom_t *eeprom, const eeprom_value_t *) { return eeprom_lock(eeprom); }
eeprom_status_t unlock_op(eeprom_t *eeprom, const eeprom_value_t *) { return eeprom_unlock(eeprom); }

int cmd_reset(int argc, char **argv) { return region_command("reset", argc, argv, reset_op); }
int cmd_lock(int argc, char **argv) { return region_command("lock", argc, argv, lock_op); }
int cmd_unlock(int argc, char **argv) { return region_command("unlock", argc, argv, unlock_op); }
int cmd_upgrade(int argc, char **argv) { return region_command("upgrade", argc, argv, eeprom_upgrade); }

// ---------------------------------------------------------------------------
// Help listing

void list_names(eeprom_t *const *regions) {
    for (; *regions; ++regions) printf("        %s\n", (*regions)->name);
}

void list_names(const eeprom_value_t *values) {
    for (; values->name[0] != '\0'; ++values) printf("        %s\n", values->name);
}

int cmd_help(int, char **) {
    printf("\nCOMMAND                DESCRIPTION\n");
    printf("----------------------------------------\n");
    for (const command_t *command = commands; command->name[0] != '\0'; ++command) {
        printf("%s %*c  %s\n", command->name, 20 - static_cast<int>(strlen(command->name)),
               ' ', command->description);
        for (const char *const *word = region_command_words; (*word)[0] != '\0'; ++word) {
            if (!has_prefix(command->name, *word)) continue;
            list_names(core_eeproms());
            list_names(strap_eeproms());
        }
        for (const char *const *word = item_command_words; (*word)[0] != '\0'; ++word) {
            if (!has_prefix(command->name, *word)) continue;
            list_names(core_values());
            list_names(strap_values());
        }
    }
    return EEPROM_SUCCESS;
}

// Installed setuid or setgid, the tool would open, read and overwrite any
// file (a blob's source or destination) with privileges its user lacks.
// Access to the EEPROMs is granted through their files' group instead.
bool privileges_borrowed() {
    // The kernel flags every exec that left the effective ids other than the
    // real ones (and a few more, such as raised capabilities). Without the
    // flag the ids are equal, and asking for all four would cost four
    // system calls on every run.
    if (getauxval(AT_SECURE) == 0) return false;
    if (getuid() == geteuid() && getgid() == getegid()) return false;
    fprintf(stderr, "%s must not run setuid or setgid\n", EEPROM_PROGRAM_NAME);
    return true;
}

}  // namespace

void print_hint(const char *command) {
    fprintf(stderr, "For a list of items run:\n%s help %s\n\n", EEPROM_PROGRAM_NAME, command);
}

eeprom_t *region_or_complain(const char *text, const char *command,
                             const eeprom_value_t **family) {
    // As for items: the empty word names no region.
    if (text[0] == '\0') {
        complain_not_found(text, command);
        return nullptr;
    }
    eeprom_t *region = find_region(core_eeproms(), text);
    *family = core_values();
    // The strap list is fetched even after a core match, so every region
    // command settles the strap generation too.
    eeprom_t *const *straps = strap_eeproms();
    if (!region) {
        region = find_region(straps, text);
        *family = strap_values();
    }
    if (!region) complain_not_found(text, command);
    return region;
}

int main(int argc, char **argv) {
    // Before anything is opened, so the chip never lands on 0, 1 or 2.
    if (!eeprom_occupy_std_fds()) return EEPROM_ERROR_OPEN;
    if (privileges_borrowed()) return EEPROM_ERROR_OPEN;
    // Standard output gets its buffer here rather than from the C library on
    // first use, which would examine the descriptor (a system call) and
    // allocate. Every place where order matters flushes explicitly.
    static char stdout_buffer[BUFSIZ];
    setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);
    if (argc <= 1) {
        print_usage();
        return eeprom_stdout_finish(EEPROM_SUCCESS);
    }
    // The options people try on any tool do what the commands do. Only
    // these exact words: the table's prefix match does not apply to them.
    if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)
        return eeprom_stdout_finish(cmd_help(argc - 2, argv + 2));
    if (strcmp(argv[1], "--version") == 0 || strcmp(argv[1], "-V") == 0)
        return eeprom_stdout_finish(cmd_version(argc - 2, argv + 2));
    // A command word may carry any suffix: every row whose name begins the
    // word runs (the table's names make that one row at most).
    bool matched = false;
    int result = EEPROM_SUCCESS;
    for (const command_t *command = commands; command->name[0] != '\0'; ++command) {
        if (!has_prefix(argv[1], command->name)) continue;
        matched = true;
        result = command->handler(argc - 2, argv + 2);
    }
    if (!matched) {
        printf("\n ** Command not found. (Type 'help')\n");
        print_usage();
        return eeprom_stdout_finish(EEPROM_ERROR_INVALID_PARAM);
    }
    return eeprom_stdout_finish(result);
}
