// Files named by the user: blob data, region images and provisioning files
// read, blob data and region images saved, and the refusal of a file that is
// one of the headset's EEPROMs itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include <sys/types.h>

#include "eeprom_records.h"

// A file argument that is a chip would be read or written through the C
// library, outside the guard, the read-back and the region locks: on the
// driver the bytes land at offset 0 of the chip. Refused with
// "\n%s is an EEPROM of the headset!\n" (the name as given) and 7 when the
// name, resolved, lies under /sys/ (which also covers the nvmem file beside
// each chip). Goes through eeprom_refuse, so a caller's heading comes first.
eeprom_status_t eeprom_refuse_chip_path(const eeprom_session *s, const char *filename);

// eeprom_open_file opens a file for reading, as a blob set does (after the
// path refusal above); eeprom_load_file reads a whole regular file or stream
// of at most `limit` bytes into `dst`. Both print their own complaints.
eeprom_status_t eeprom_open_file(const eeprom_session *s, const char *filename, int *fd);
eeprom_status_t eeprom_load_file(const eeprom_session *s, const char *filename, uint8_t *dst,
                                 int32_t limit, int32_t *got);

// Writes `length` bytes to the file and reports "LABEL: FILE written". A
// regular file (or one not there yet) is replaced only once all of it is on
// disk, so a full disk or a signal leaves the previous file as it was; other
// targets (a FIFO, /dev/stdout) are written directly. A target that is a
// chip the session has open is refused as above.
eeprom_status_t eeprom_save_file(const eeprom_session *s, const char *label,
                                 const char *filename, const uint8_t *data, size_t length);

// While apply reads its lines from `fd`, a blob file that is that same file
// would swallow the lines after it, or store the file's own text: it is
// refused with PREFIX "%s is the file being applied\n" and 7. `fd` -1 ends it;
// the prefix names the line and item of the blob being read.
struct eeprom_applied_file {
    bool active;
    dev_t dev;
    ino_t ino;
    const char *prefix;
};
void eeprom_applying(eeprom_session *s, int fd);
void eeprom_applying_line(eeprom_session *s, const char *prefix);

// A provisioning file read line by line through a fixed buffer: lines of at
// most EEPROM_LINE_MAX_LEN bytes without their newline.
constexpr size_t EEPROM_LINE_MAX_LEN = 4095;
struct eeprom_line_reader {
    int fd;
    char chunk[4096];
    size_t pos;
    size_t end;
    bool eof;
};
enum class eeprom_line { line, end, too_long, read_error };
eeprom_line eeprom_next_line(eeprom_line_reader *r, char *line, size_t *length);

// Splits a line in place into zero-terminated words; the line buffer needs
// one byte beyond `length`. Words are separated by space, tab and carriage
// return (so CRLF files work; other control characters are part of a word);
// a word is a run of other bytes, or a double-quoted string in which \" and
// \\ are the only escapes; '#' at the start of a word outside quotes starts
// a comment.
constexpr int EEPROM_LINE_MAX_WORDS = EEPROM_LINE_MAX_LEN / 2 + 2;
enum class eeprom_split { ok, unterminated, zero_byte };
eeprom_split eeprom_split_words(char *line, size_t length, char **words, int *count);
