// vellum: command-line front end. One table of commands drives the dispatch,
// the checks of each command's words and the help listing; handlers get the
// item or region their first word names and pass every status up unchanged.
#include <cstdio>
#include <cstring>

#include <sys/auxv.h>
#include <unistd.h>

#include "commands.h"
#include "eeprom_common.h"
#include "std_streams.h"

#ifndef VERSION_STRING
#error "VERSION_STRING must be defined by the build"
#endif

using target = command_target;

const command_t commands[] = {
    {"help", cmd_help, "Print all commands and items", target::none, false, 0, -1, nullptr},
    {"version", cmd_version, "Display the Version", target::none, false, 0, -1, nullptr},
    {"print_all", cmd_print_all, "Prints all EEPROM data", target::none, false, 0, -1, nullptr},
    {"reset", cmd_reset, "Reset the EEPROM", target::region, true, 1, 1,
     "\nreset command requires an item!\n"},
    {"lock", cmd_lock, "Lock the given EEPROM", target::region, true, 1, 1,
     "\nlock command requires an item!\n"},
    {"unlock", cmd_unlock, "Unlock the given EEPROM", target::region, true, 1, 1,
     "\nunlock command requires an item!\n"},
    {"upgrade", cmd_upgrade, "Upgrade the given EEPROM to latest version", target::region, true,
     1, 1, "\nupgrade command requires an item!\n"},
    {"get", cmd_get, "Get an EEPROM item", target::item, true, 1, 2,
     "\nget command requires an item!\n"},
    {"set", cmd_set, "Set an EEPROM item", target::item, true, 1, -1,
     "\nset command requires an item and atleast one value!\n"},
    {"check", cmd_check, "Check every EEPROM region", target::none, false, 0, -1, nullptr},
    {"dump", cmd_dump, "Save a region image to a file", target::region, true, 2, 2,
     "\ndump command requires a region and a file name!\n"},
    {"restore", cmd_restore, "Write a region image from a file", target::region, true, 2, 2,
     "\nrestore command requires a region and a file name!\n"},
    {"export", cmd_export, "Print all EEPROM data as JSON", target::none, false, 0, -1, nullptr},
    {"apply", cmd_apply, "Set the items listed in a file", target::none, true, 1, 2,
     "\napply command requires a file name!\n", apply_words_fit},
    {"verify", cmd_verify, "Compare the items listed in a file", target::none, true, 1, 1,
     "\nverify command requires a file name!\n"},
    {"", nullptr, "", target::none, false, 0, -1, nullptr},
};

namespace {

// The tool's session: diagnostics on standard error, values on standard
// output, every lock kept until the process ends.
void to_stderr(void *, const char *text) { fputs(text, stderr); }

// A value: standard error flushed first, so a terminal shows label and
// value on one line, then the value alone on standard output, then the
// newline (or the report of a failed standard output) on standard error.
eeprom_status_t to_stdout(void *, const char *text, size_t length) {
    fflush(stderr);
    fwrite(text, 1, length, stdout);
    return eeprom_end_value();
}

eeprom_session tool;

}  // namespace

namespace {

void print_usage() {
    printf("\n%s <cmd> <item (optional)> <item_val (optional)>\n", EEPROM_PROGRAM_NAME);
    printf("e.g. %s help\n\n", EEPROM_PROGRAM_NAME);
}

// "For a list of items run: vellum help COMMAND".
void print_hint(const eeprom_session *s, const char *command) {
    eeprom_diag(s, "For a list of items run:\n%s help %s\n\n", EEPROM_PROGRAM_NAME, command);
}

int not_found(const eeprom_session *s, const char *text, const command_t &command) {
    eeprom_diag(s, "\n%s was not found!\n", text);
    print_hint(s, command.name);
    return EEPROM_ERROR_INVALID_PARAM;
}

// Checks the row's word count and resolves its target, then runs it. An
// empty word (an unset shell variable, say) would begin every name: it names
// nothing, and is refused before the tables, and so the devices, are looked at.
int run_command(eeprom_session *session, const command_t &command, int argc, char **argv) {
    if (command.counted &&
        (argc < command.min_words || (command.max_words >= 0 && argc > command.max_words) ||
         (command.words_fit && !command.words_fit(argc, argv)))) {
        eeprom_report(session, {command.wrong_count});
        print_hint(session, command.name);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    command_args args = {session, argc, argv, nullptr, nullptr, nullptr};
    if (command.target == target::item) {
        args.item = argv[0][0] != '\0' ? eeprom_find_item(session, argv[0], false) : nullptr;
        if (!args.item) return not_found(session, argv[0], command);
    } else if (command.target == target::region) {
        args.region = argv[0][0] != '\0' ? eeprom_find_region(session, argv[0], false, &args.family) : nullptr;
        if (!args.region) return not_found(session, argv[0], command);
    }
    return command.handler(args);
}

void list_names(eeprom_t *const *regions) {
    for (; *regions; ++regions) printf("        %s\n", (*regions)->name);
}

void list_names(const eeprom_value_t *values) {
    for (; values->name[0] != '\0'; ++values) printf("        %s\n", values->name);
}

// --chip LABEL=FILE: the file stands for the chip carrying the label.
int take_chip_file(const char *option) {
    char why[160] = "expected LABEL=FILE";
    eeprom_status_t status = EEPROM_ERROR_INVALID_PARAM;
    const char *equals = strchr(option, '=');
    char label[sizeof(eeprom_t::sysfs_name) + 1] = "";
    if (equals) {
        const size_t n = static_cast<size_t>(equals - option);
        // A longer label is none of the tables' either.
        memcpy(label, option, n < sizeof label - 1 ? n : sizeof label - 1);
        status = eeprom_chip_file(&tool, label, equals + 1, why, sizeof why);
    }
    if (status != EEPROM_SUCCESS) eeprom_diag(&tool, "\n--chip %s: %s\n", option, why);
    return status;
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
    eeprom_report(&tool, {EEPROM_PROGRAM_NAME " must not run setuid or setgid\n"});
    return true;
}

}  // namespace

int cmd_version(const command_args &) {
    printf("%s Version: %s\n", EEPROM_PROGRAM_NAME, VERSION_STRING);
    return EEPROM_SUCCESS;
}

// Under a command that takes a region or an item, the names it accepts on
// the fitted hardware.
int cmd_help(const command_args &a) {
    printf("\nCOMMAND                DESCRIPTION\n");
    printf("----------------------------------------\n");
    for (const command_t *command = commands; command->name[0] != '\0'; ++command) {
        printf("%s %*c  %s\n", command->name, 20 - static_cast<int>(strlen(command->name)),
               ' ', command->description);
        if (command->target == target::region) {
            list_names(core_eeproms(a.session));
            list_names(strap_eeproms(a.session));
        } else if (command->target == target::item) {
            list_names(core_values(a.session));
            list_names(strap_values(a.session));
        }
    }
    return EEPROM_SUCCESS;
}

int main(int argc, char **argv) {
    // Before anything is opened, so the chip never lands on 0, 1 or 2.
    if (!eeprom_occupy_std_fds()) return EEPROM_ERROR_OPEN;
    // The session is static, so zero-filled: fresh already. Clearing its 80
    // KB again would touch every page of it on every run.
    tool.diag = to_stderr;
    tool.value = to_stdout;
    tool.keep_locks = true;
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
    // Files standing for the chips, before the command word.
    int first = 1;
    for (; first < argc && strcmp(argv[first], "--chip") == 0; first += 2) {
        const int status = take_chip_file(first + 1 < argc ? argv[first + 1] : "");
        if (status != EEPROM_SUCCESS) return status;
    }
    if (first >= argc) {
        print_usage();
        return eeprom_stdout_finish(EEPROM_SUCCESS);
    }
    argc -= first - 1;
    argv += first - 1;
    const command_args rest = {&tool, argc - 2, argv + 2, nullptr, nullptr, nullptr};
    // The options people try on any tool do what the commands do. Only
    // these exact words: the table's prefix match does not apply to them.
    if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)
        return eeprom_stdout_finish(cmd_help(rest));
    if (strcmp(argv[1], "--version") == 0 || strcmp(argv[1], "-V") == 0)
        return eeprom_stdout_finish(cmd_version(rest));
    // A command word may carry any suffix: every row whose name begins the
    // word runs (the table's names make that one row at most).
    bool matched = false;
    int result = EEPROM_SUCCESS;
    for (const command_t *command = commands; command->name[0] != '\0'; ++command) {
        if (!eeprom_name_matches(argv[1], command->name, false)) continue;
        matched = true;
        result = run_command(&tool, *command, argc - 2, argv + 2);
    }
    if (!matched) {
        printf("\n ** Command not found. (Type 'help')\n");
        print_usage();
        return eeprom_stdout_finish(EEPROM_ERROR_INVALID_PARAM);
    }
    return eeprom_stdout_finish(result);
}
