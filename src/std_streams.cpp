#include "std_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

bool deferred = false;
bool reported = false;

// Everything written to standard output so far has reached it.
bool stdout_intact() { return fflush(stdout) == 0 && !ferror(stdout); }

eeprom_status_t report_stdout_failure() {
    if (!reported) fputs("Write Failed!\n", stderr);
    reported = true;
    return EEPROM_ERROR_WRITE;
}

}  // namespace

bool eeprom_occupy_std_fds() {
    // open returns the lowest free descriptor: going upwards, that is the
    // closed one being filled.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        const int root = open("/", O_RDONLY | O_DIRECTORY);
        if (root != fd) {
            if (root >= 0) close(root);
            return false;
        }
    }
    return true;
}

eeprom_status_t eeprom_end_value() {
    if (stdout_intact() || deferred) {
        fputs("\n", stderr);
        return EEPROM_SUCCESS;
    }
    return report_stdout_failure();
}

void eeprom_stdout_defer() { deferred = true; }

int eeprom_stdout_finish(int status) {
    return stdout_intact() ? status : report_stdout_failure();
}
