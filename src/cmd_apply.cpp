// apply: many items set from one file, each region stored once. A station
// that provisions a unit item by item rewrites the same pages once per item
// and leaves a half-provisioned unit when a value half way is bad; here every
// line is checked first, then every region involved is loaded and checked,
// and only then is anything written.
//
// A line holds an item's full name and its value words as `set` takes them:
//   unit_sn 1A2B3C4D5E   # a comment
//   board_revision "EVT 3"
//   ipd_min -3200 150 0
//   device_config calibration.bin
// Blanks are space, tab and carriage return (CRLF files work); a word is a
// run of non-blanks, or a double-quoted string in which \" and \\ are the
// only escapes; '#' at the start of a word outside quotes starts a comment.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "catalogue.h"
#include "commands.h"
#include "eeprom_common.h"
#include "eeprom_internal.h"

namespace {

constexpr size_t MAX_LINE = 4095;  // bytes of a line, without its newline

// Reads a file or stream line by line through a fixed buffer.
struct line_reader {
    int fd;
    char chunk[4096];
    size_t pos;
    size_t end;
    bool eof;
};

enum class line_status { line, end, too_long, read_error };

line_status next_line(line_reader *r, char *line, size_t *length) {
    *length = 0;
    bool any = false;
    for (;;) {
        if (r->pos == r->end) {
            if (r->eof) return any ? line_status::line : line_status::end;
            const ssize_t n = read(r->fd, r->chunk, sizeof r->chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return line_status::read_error;
            r->eof = n == 0;
            r->pos = 0;
            r->end = static_cast<size_t>(n);
            continue;
        }
        const char c = r->chunk[r->pos++];
        any = true;
        if (c == '\n') return line_status::line;
        if (*length == MAX_LINE) return line_status::too_long;
        line[(*length)++] = c;
    }
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

enum class split_status { ok, unterminated, zero_byte };

// Splits the line in place into zero-terminated words; the line buffer needs
// one byte beyond `length`. Unescaping only shrinks, so each word fits where
// it was read from.
split_status split_words(char *line, size_t length, char **words, int *count) {
    *count = 0;
    if (memchr(line, '\0', length)) return split_status::zero_byte;
    line[length] = '\0';
    char *in = line;
    char *out = line;
    for (;;) {
        while (is_blank(*in)) ++in;
        if (*in == '\0' || *in == '#') return split_status::ok;
        words[(*count)++] = out;
        if (*in == '"') {
            for (++in;; ++in) {
                if (*in == '\0') return split_status::unterminated;
                if (*in == '"') break;
                if (*in == '\\' && (in[1] == '"' || in[1] == '\\')) ++in;
                *out++ = *in;
            }
            ++in;
        } else {
            while (*in != '\0' && !is_blank(*in)) *out++ = *in++;
            if (*in != '\0') ++in;  // the blank that ends it
        }
        // The terminator lands on a byte that the reading has passed.
        *out++ = '\0';
    }
}

// Only a full name selects an item: an abbreviation in a file is a typo.
const eeprom_value_t *find_exact(const eeprom_value_t *values, const char *name) {
    for (; values->name[0] != '\0'; ++values)
        if (strcmp(values->name, name) == 0) return values;
    return nullptr;
}

const eeprom_value_t *find_item(const char *name) {
    const eeprom_value_t *value = find_exact(core_values(), name);
    return value ? value : find_exact(strap_values(), name);
}

// The converted values, in file order, waiting for their regions' stores.
// Every item is given at most once, so they fit the regions' own sizes.
struct staged_item {
    const eeprom_value_t *value;
    size_t at;  // in the pool
};
constexpr int MAX_ITEMS = 64;
constexpr int MAX_REGIONS = 8;

struct plan {
    staged_item items[MAX_ITEMS];
    int item_count;
    uint8_t pool[16384];
    size_t used;
    eeprom_t *regions[MAX_REGIONS];  // involved, in catalogue order
    int region_count;
};

plan the_plan;

bool staged(const plan &p, const eeprom_value_t *value) {
    for (int i = 0; i < p.item_count; ++i)
        if (p.items[i].value == value) return true;
    return false;
}

// One line: its words, the item, and the value converted and staged.
eeprom_status_t stage_line(plan *p, int number, char *line, size_t length) {
    static char *words[MAX_LINE / 2 + 2];
    int count = 0;
    switch (split_words(line, length, words, &count)) {
    case split_status::unterminated:
        fprintf(stderr, "line %d: unterminated quote\n", number);
        return EEPROM_ERROR_INVALID_PARAM;
    case split_status::zero_byte:
        fprintf(stderr, "line %d: holds a zero byte\n", number);
        return EEPROM_ERROR_INVALID_PARAM;
    case split_status::ok:
        break;
    }
    if (count == 0) return EEPROM_SUCCESS;

    const char *name = words[0];
    const eeprom_value_t *value = find_item(name);
    if (!value) {
        fprintf(stderr, "line %d: %s was not found!\n", number, name);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    if (staged(*p, value)) {
        fprintf(stderr, "line %d: %s given twice\n", number, name);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    EEPROM_ASSERT(value->parse);
    EEPROM_ASSERT(p->item_count < MAX_ITEMS);
    EEPROM_ASSERT(p->used + value->length <= sizeof p->pool);

    char heading[sizeof value->name + 32];
    snprintf(heading, sizeof heading, "line %d: %s\n", number, value->name);
    eeprom_refusal_heading(heading);
    char prefix[sizeof value->name + 32];
    snprintf(prefix, sizeof prefix, "line %d: %s: ", number, value->name);
    eeprom_applying_line(prefix);
    const eeprom_status_t status = value->parse(value, count - 1, words + 1, p->pool + p->used);
    eeprom_refusal_heading(nullptr);
    eeprom_applying_line("");
    if (status != EEPROM_SUCCESS) return status;

    p->items[p->item_count++] = {value, p->used};
    p->used += value->length;
    return EEPROM_SUCCESS;
}

eeprom_status_t stage_file(plan *p, int fd) {
    static line_reader reader;
    static char line[MAX_LINE + 1];
    reader = {fd, {}, 0, 0, false};
    for (int number = 1;; ++number) {
        size_t length = 0;
        switch (next_line(&reader, line, &length)) {
        case line_status::end:
            return EEPROM_SUCCESS;
        case line_status::read_error:
            fprintf(stderr, "\nRead Failed, errno: %d\n", errno);
            return EEPROM_ERROR_READ;
        case line_status::too_long:
            fprintf(stderr, "line %d: too long\n", number);
            return EEPROM_ERROR_INVALID_PARAM;
        case line_status::line:
            break;
        }
        const eeprom_status_t status = stage_line(p, number, line, length);
        if (status != EEPROM_SUCCESS) return status;
    }
}

bool involved(const plan &p, const eeprom_t *region) {
    for (int i = 0; i < p.item_count; ++i)
        if (p.items[i].value->eeprom == region) return true;
    return false;
}

void add_regions(plan *p, eeprom_t *const *regions) {
    for (; *regions; ++regions) {
        if (!involved(*p, *regions)) continue;
        EEPROM_ASSERT(p->region_count < MAX_REGIONS);
        p->regions[p->region_count++] = *regions;
    }
}

// The regions the staged items name, in catalogue order. The strap list is
// only asked for when a strap item was named, which has fixed its generation.
void order_regions(plan *p) {
    add_regions(p, core_eeproms());
    int core_items = 0;
    for (int i = 0; i < p->item_count; ++i)
        for (int r = 0; r < p->region_count; ++r)
            core_items += p->items[i].value->eeprom == p->regions[r];
    if (core_items < p->item_count) add_regions(p, strap_eeproms());
}

// Loads every region, then checks each one's lock and its items' versions in
// file order, with the messages of a set.
eeprom_status_t check_regions(const plan &p) {
    for (int r = 0; r < p.region_count; ++r) {
        const eeprom_status_t status = eeprom_load(p.regions[r]);
        if (status != EEPROM_SUCCESS) return status;
    }
    for (int r = 0; r < p.region_count; ++r) {
        for (int i = 0; i < p.item_count; ++i) {
            if (p.items[i].value->eeprom != p.regions[r]) continue;
            const eeprom_status_t status = eeprom_check_writable(p.items[i].value);
            if (status != EEPROM_SUCCESS) return status;
        }
    }
    return EEPROM_SUCCESS;
}

// One store per region. A failing store ends the run; the regions stored
// before it are named, since they now hold their new items.
eeprom_status_t store_regions(plan *p) {
    for (int r = 0; r < p->region_count; ++r) {
        eeprom_t *region = p->regions[r];
        int count = 0;
        for (int i = 0; i < p->item_count; ++i) {
            if (p->items[i].value->eeprom != region) continue;
            eeprom_put_value(p->items[i].value, p->pool + p->items[i].at);
            ++count;
        }
        fprintf(stderr, " Applying %d items to %s\n", count, region->name);
        const eeprom_status_t status = eeprom_write(region);
        if (status != EEPROM_SUCCESS) {
            for (int done = 0; done < r; ++done)
                fprintf(stderr, " %s written\n", p->regions[done]->name);
            return status;
        }
    }
    return EEPROM_SUCCESS;
}

}  // namespace

int cmd_apply(int argc, char **argv) {
    if (argc != 1) {
        fprintf(stderr, "\napply command requires a file name!\n");
        print_hint("apply");
        return EEPROM_ERROR_INVALID_PARAM;
    }
    const char *filename = argv[0];
    const bool from_stdin = strcmp(filename, "-") == 0;
    int fd = STDIN_FILENO;
    if (!from_stdin) {
        const eeprom_status_t opened = eeprom_open_file(filename, &fd);
        if (opened != EEPROM_SUCCESS) return opened;
    }
    plan *p = &the_plan;
    eeprom_applying(fd);
    eeprom_status_t status = stage_file(p, fd);
    eeprom_applying(-1);
    if (!from_stdin) close(fd);
    if (status != EEPROM_SUCCESS || p->item_count == 0) return status;

    order_regions(p);
    status = check_regions(*p);
    return status == EEPROM_SUCCESS ? store_regions(p) : status;
}
