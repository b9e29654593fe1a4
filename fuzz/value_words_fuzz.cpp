// Command-line words to stored bytes: every setter of every generation's
// items, on a freshly reset image. A refused value must leave the chip as it
// was and say so in the same status as the words-to-bytes step alone; an
// accepted one must read back as exactly the bytes that step produced, and
// a number must be the whole word.
//
// Input: one byte choosing the item (all tables one after another), then the
// value words separated by zero bytes (a command line cannot hold one). For
// a blob item the rest of the input is the file's contents instead.
#include "fuzz_harness.h"

#include <unistd.h>

#include <cstring>

namespace {

constexpr int MAX_WORDS = 8;

const eeprom_value_t *item_at(size_t index) {
    size_t count = 0;
    for (const fuzz_tables &tables : fuzz_table_sets)
        for (const eeprom_value_t *v = tables.values; v->name[0] != '\0'; ++v) ++count;
    index %= count;
    for (const fuzz_tables &tables : fuzz_table_sets)
        for (const eeprom_value_t *v = tables.values; v->name[0] != '\0'; ++v)
            if (index-- == 0) return v;
    return nullptr;
}

bool blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// A decimal word as the numeric kinds must read it: white space, a sign,
// digits, white space, nothing else. The magnitude saturates above 2^32.
bool decimal_word(const char *p, bool *negative, uint64_t *magnitude) {
    while (blank(*p)) ++p;
    *negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    if (*p < '0' || *p > '9') return false;
    for (*magnitude = 0; *p >= '0' && *p <= '9'; ++p)
        if ((*magnitude = *magnitude * 10 + static_cast<uint64_t>(*p - '0')) > (1ull << 32))
            *magnitude = 1ull << 32;
    while (blank(*p)) ++p;
    return *p == '\0';
}

// A MAC word as the MAC kind must read it: white space, six pairs of one or
// two hexadecimal digits joined by single colons, white space.
bool mac_word(const char *p, uint8_t *out) {
    auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0'
             : c >= 'a' && c <= 'f' ? c - 'a' + 10
             : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    while (blank(*p)) ++p;
    for (int i = 0; i < 6; ++i) {
        if (i > 0 && *p++ != ':') return false;
        int n = 0, v = 0;
        for (; n < 2 && digit(*p) >= 0; ++n, ++p) v = v * 16 + digit(*p);
        if (n == 0) return false;
        out[i] = static_cast<uint8_t>(v);
    }
    while (blank(*p)) ++p;
    return *p == '\0';
}

// What the number and MAC kinds must do with the words, told independently
// of the codecs: whether they are accepted and, if so, the stored bytes.
void check_numbers(const eeprom_value_t *value, int argc, char **argv, bool accepted,
                   const uint8_t *stored) {
    bool negative = false;
    uint64_t magnitude = 0;
    if (value->kind == &EEPROM_KIND_UINT16 || value->kind == &EEPROM_KIND_UINT32) {
        if (argc != 1) return FUZZ_CHECK(!accepted);
        const uint64_t limit = value->kind == &EEPROM_KIND_UINT16 ? 0xFFFF : 0xFFFFFFFF;
        const bool word = decimal_word(argv[0], &negative, &magnitude);
        const uint32_t number = static_cast<uint32_t>(negative ? 0 - magnitude : magnitude);
        FUZZ_CHECK(accepted == (word && magnitude < (1ull << 32) && number <= limit));
        if (!accepted) return;
        uint32_t got = 0;
        for (int i = value->length - 1; i >= 0; --i) got = got << 8 | stored[i];
        FUZZ_CHECK(got == number);
    } else if (value->kind == &EEPROM_KIND_MAC_ADDRESS) {
        if (argc != 1) return FUZZ_CHECK(!accepted);
        uint8_t mac[6];
        FUZZ_CHECK(accepted == mac_word(argv[0], mac));
        if (accepted) FUZZ_CHECK(memcmp(mac, stored, 6) == 0);
    } else if (value->kind == &EEPROM_KIND_IPD_XYZ) {
        if (argc != 3) return FUZZ_CHECK(!accepted);
        bool fits = true;
        int16_t axis[3] = {};
        for (int i = 0; i < 3 && fits; ++i) {
            fits = decimal_word(argv[i], &negative, &magnitude) &&
                   magnitude <= (negative ? 32768u : 32767u);
            axis[i] = static_cast<int16_t>(negative ? -static_cast<int32_t>(magnitude)
                                                    : static_cast<int32_t>(magnitude));
        }
        FUZZ_CHECK(accepted == fits);
        for (int i = 0; accepted && i < 3; ++i)
            FUZZ_CHECK(static_cast<int16_t>(stored[2 * i] | stored[2 * i + 1] << 8) == axis[i]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return -1;
    const eeprom_value_t *value = item_at(data[0]);
    const uint8_t *rest = data + 1;
    const size_t rest_size = size - 1;

    // The words, each ended by a zero byte, in one copy of the input.
    static char text[1 << 16];
    char *words[MAX_WORDS + 1] = {};
    int argc = 0;
    int blob_file = -1;
    static char blob_path[64];
    if (value->kind == &EEPROM_KIND_BINARY) {
        blob_file = fuzz_file_with(rest, rest_size, blob_path);
        words[argc++] = blob_path;
    } else if (rest_size > 0) {
        if (rest_size >= sizeof text) return -1;
        memcpy(text, rest, rest_size);
        text[rest_size] = '\0';
        for (char *word = text; argc < MAX_WORDS; ++word) {
            words[argc++] = word;
            word += strlen(word);
            if (word >= text + rest_size) break;
        }
    }

    // A chip holding a fresh image of the item's region.
    eeprom_t *region = value->eeprom;
    const int chip = fuzz_chip_create(8192);
    fuzz_chip_fill(chip, nullptr, 0);
    fuzz_attach(region, chip);
    FUZZ_CHECK(eeprom_reset(region) == EEPROM_SUCCESS);
    fuzz_detach(region);
    static uint8_t before[8192], after[8192];
    fuzz_chip_read(chip, before);

    static uint8_t parsed[EEPROM_VALUE_MAX_LEN], stored[EEPROM_VALUE_MAX_LEN];
    const eeprom_status_t parse_status = value->kind->parse(value, argc, words, parsed);
    fuzz_attach(region, chip);
    const eeprom_status_t set_status = value->set(value, argc, words);
    fuzz_detach(region);

    if (parse_status != EEPROM_SUCCESS) {
        FUZZ_CHECK(set_status == parse_status);
        fuzz_chip_read(chip, after);
        FUZZ_CHECK(memcmp(before, after, sizeof before) == 0);
    } else {
        FUZZ_CHECK(set_status == EEPROM_SUCCESS);
        fuzz_attach(region, chip);
        FUZZ_CHECK(eeprom_read_value(value, stored) == EEPROM_SUCCESS);
        FUZZ_CHECK(memcmp(stored, parsed, value->length) == 0);
        // And the getter prints it (a blob into a file).
        static char sink[] = "/dev/null";
        char *get_words[] = {sink, nullptr};
        FUZZ_CHECK(value->get(value, 1, get_words) == EEPROM_SUCCESS);
        fuzz_detach(region);
    }
    check_numbers(value, argc, words, parse_status == EEPROM_SUCCESS, parsed);

    if (blob_file >= 0) close(blob_file);
    close(chip);
    return 0;
}
