// The value codecs: for each item kind, the `get` that prints an item's bytes
// as text (or saves a blob to a file) and the `set` that turns value words
// (or a file) into the item's bytes and stores them. Turning words into bytes
// is a step of its own (`eeprom_parse_*`), so a caller can check many values
// before storing any, and so is turning a stored field into text
// (`eeprom_format_*`), so a caller can show many items of a loaded image.
// The codecs know nothing of regions, headers, locks or versions: they reach
// the chip only through the store's item read and write.
#include "eeprom_common.h"
#include "catalogue.h"
#include "eeprom_internal.h"
#include "eeprom_session.h"

#include <cstdio>
#include <cstring>

// ---------------------------------------------------------------------------
// Scalar value codecs

namespace {

// Label and newline on standard error, the value alone on standard output;
// each stream is flushed before the other is written, so a terminal shows
// one line and a caller reading standard output gets the bare value. A value
// that did not reach standard output is a failure, reported in place of the
// newline.
eeprom_status_t print_value(const eeprom_value_t *value, const void *text, size_t length) {
    const eeprom_session *s = value->eeprom->session;
    eeprom_report(s, {value->name, ": "});
    return s && s->value ? s->value(s->user, static_cast<const char *>(text), length)
                         : EEPROM_SUCCESS;
}

// White space as the C locale knows it: blank, \t, \n, \v, \f and \r.
bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Values typed by hand or read from files (a CRLF line, a padded column)
// may end in white space; anything else after the value means the word is
// not the value it looks like ("0x10", "1e3", "1.9"), and is refused rather
// than cut short.
bool only_blanks(const char *p) {
    while (is_blank(*p)) ++p;
    return *p == '\0';
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Six pairs of one or two hexadecimal digits separated by single colons,
// after optional white space; only white space may follow the sixth pair.
// Nothing else is a pair: no sign, no "0x", no blank after a colon, no third
// digit (a seventh pair or a longer last one is a different address).
bool parse_mac_pairs(const char *text, unsigned int *pair) {
    const char *p = text;
    while (is_blank(*p)) ++p;
    for (uint32_t i = 0; i < EEPROM_MAC_ADDR_LEN; ++i) {
        if (i > 0 && *p++ != ':') return false;
        int digits = 0;
        pair[i] = 0;
        for (int d; digits < 2 && (d = hex_digit(*p)) >= 0; ++digits, ++p)
            pair[i] = pair[i] * 16 + static_cast<unsigned int>(d);
        if (digits == 0) return false;
    }
    return only_blanks(p);
}

// Reads a decimal number as the "%u" and "%d" conversions do: leading white
// space, an optional sign, at least one digit; but the whole word must be
// the number, so only white space may follow the digits. The magnitude is
// kept whole (saturating just above 32 bits) so that a number that does not
// fit is refused instead of silently wrapped.
struct decimal_t {
    bool negative;
    uint64_t magnitude;
};
constexpr uint64_t DECIMAL_TOO_LARGE = 0x100000000ULL;

bool parse_decimal(const char *text, decimal_t *out) {
    const char *p = text;
    while (is_blank(*p)) ++p;
    out->negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    if (*p < '0' || *p > '9') return false;
    out->magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        out->magnitude = out->magnitude * 10 + static_cast<uint64_t>(*p - '0');
        if (out->magnitude > DECIMAL_TOO_LARGE) out->magnitude = DECIMAL_TOO_LARGE;
    }
    return only_blanks(p);
}

// "%u" semantics: a leading minus wraps modulo 2^32.
uint32_t wrap_unsigned(const decimal_t &d) {
    const uint32_t low = static_cast<uint32_t>(d.magnitude);
    return d.negative ? 0u - low : low;
}

// The scalar getters: the item read, then the text of its kind printed.
eeprom_status_t get_text(const eeprom_value_t *value) {
    uint8_t field[EEPROM_VALUE_MAX_LEN];
    EEPROM_ASSERT(value->length <= sizeof field);
    const eeprom_status_t status = eeprom_read_value(value, field);
    if (status != EEPROM_SUCCESS) return status;
    char text[EEPROM_TEXT_MAX_LEN];
    const int32_t length = value->kind->format(value, field, text, sizeof text);
    return print_value(value, text, static_cast<size_t>(length));
}

}  // namespace

// The unsigned kinds' text: a little-endian number of the item's `length`
// bytes.
int32_t eeprom_format_unsigned(const eeprom_value_t *value, const uint8_t *field, char *out,
                               size_t size) {
    uint32_t number = 0;
    for (int i = value->length - 1; i >= 0; --i) number = number << 8 | field[i];
    return snprintf(out, size, "%u", static_cast<unsigned>(number));
}

namespace {

// The unsigned kinds: one decimal word that must fit the field (`max`),
// little-endian in the item's `length` bytes.
eeprom_status_t parse_unsigned(const eeprom_value_t *value, int argc, char **argv,
                               uint8_t *dst, uint32_t max, const char *type) {
    if (argc != 1) {
        eeprom_refuse(value->eeprom->session, "\nset uint command requires an item value!\n");
        return EEPROM_ERROR_INVALID_PARAM;
    }
    decimal_t d;
    if (!parse_decimal(argv[0], &d)) {
        eeprom_refuse(value->eeprom->session, "\nset %s value - %s - incorrect length!\n", type, argv[0]);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    const uint32_t number = wrap_unsigned(d);
    if (d.magnitude >= DECIMAL_TOO_LARGE || number > max) {
        eeprom_refuse(value->eeprom->session, "\nset %s value - %s - would overflow!\n", type, argv[0]);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    uint8_t buf[sizeof(uint32_t)];
    put_le32(buf, number);
    memcpy(dst, buf, value->length);
    return EEPROM_SUCCESS;
}

// A setter's last step: the words become the item's bytes, and only then is
// the device touched. `count` is what the setter hands to the store.
eeprom_status_t parse_and_store(const eeprom_value_t *value, int argc, char **argv,
                                eeprom_value_parse_t parse, uint16_t count) {
    uint8_t buf[EEPROM_VALUE_MAX_LEN];
    EEPROM_ASSERT(value->length <= sizeof buf);
    const eeprom_status_t status = parse(value, argc, argv, buf);
    if (status != EEPROM_SUCCESS) return status;
    return eeprom_write_value(value, buf, count);
}

}  // namespace

eeprom_status_t eeprom_get_char(const eeprom_value_t *value, int, char **) {
    EEPROM_ASSERT(value);
    return get_text(value);
}

int32_t eeprom_format_char(const eeprom_value_t *, const uint8_t *field, char *out, size_t size) {
    EEPROM_ASSERT(size >= 2);
    out[0] = static_cast<char>(field[0]);
    out[1] = '\0';
    return 1;
}

eeprom_status_t eeprom_parse_char(const eeprom_value_t *value, int argc, char **argv,
                                  uint8_t *dst) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(argv);
    if (argc != 1) {
        eeprom_refuse(value->eeprom->session, "\nset char command requires an item value!\n");
        return EEPROM_ERROR_INVALID_PARAM;
    }
    if (strlen(argv[0]) != value->length) {
        eeprom_refuse(value->eeprom->session, "\nset %s = %s requires 1 character!\n", value->name, argv[0]);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    memcpy(dst, argv[0], value->length);
    return EEPROM_SUCCESS;
}

// The store is handed one byte per value word: one.
eeprom_status_t eeprom_set_char(const eeprom_value_t *value, int argc, char **argv) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(argv);
    return parse_and_store(value, argc, argv, eeprom_parse_char, 1);
}

eeprom_status_t eeprom_get_string(const eeprom_value_t *value, int, char **) {
    EEPROM_ASSERT(value);
    return get_text(value);
}

// A field without a terminator prints whole, and nothing beyond it.
int32_t eeprom_format_string(const eeprom_value_t *value, const uint8_t *field, char *out,
                             size_t size) {
    const void *end = memchr(field, 0, value->length);
    const size_t length = end ? static_cast<const uint8_t *>(end) - field : value->length;
    EEPROM_ASSERT(length < size);
    memcpy(out, field, length);
    out[length] = '\0';
    return static_cast<int32_t>(length);
}

eeprom_status_t eeprom_parse_string(const eeprom_value_t *value, int argc, char **argv,
                                    uint8_t *dst) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(argv);
    if (argc != 1) {
        eeprom_refuse(value->eeprom->session, "\nset string command requires an item value!\n");
        return EEPROM_ERROR_INVALID_PARAM;
    }
    const size_t length = strlen(argv[0]);
    if (length + 1 > value->length) {
        eeprom_refuse(value->eeprom->session, "\nset %s = %s requires string to be less than %d bytes!\n",
                value->name, argv[0], value->length);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    // Zero-filled, so a shorter string leaves nothing of an older one.
    memset(dst, 0, value->length);
    memcpy(dst, argv[0], length);
    return EEPROM_SUCCESS;
}

eeprom_status_t eeprom_set_string(const eeprom_value_t *value, int argc, char **argv) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(argv);
    return parse_and_store(value, argc, argv, eeprom_parse_string, value->length);
}

eeprom_status_t eeprom_get_mac_address(const eeprom_value_t *value, int, char **) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(value->length == EEPROM_MAC_ADDR_LEN);
    return get_text(value);
}

int32_t eeprom_format_mac_address(const eeprom_value_t *, const uint8_t *mac, char *out,
                                  size_t size) {
    return snprintf(out, size, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                    mac[4], mac[5]);
}

eeprom_status_t eeprom_parse_mac_address(const eeprom_value_t *value, int argc,
                                         char **argv, uint8_t *dst) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(argv);
    EEPROM_ASSERT(value->length == EEPROM_MAC_ADDR_LEN);
    if (argc != 1) {
        eeprom_refuse(value->eeprom->session, "\nset mac address command requires an item value!\n");
        return EEPROM_ERROR_INVALID_PARAM;
    }
    unsigned int pair[EEPROM_MAC_ADDR_LEN];
    if (!parse_mac_pairs(argv[0], pair)) {
        eeprom_refuse(value->eeprom->session, "\nset mac address - %s - incorrect length!\n", argv[0]);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    for (uint32_t i = 0; i < EEPROM_MAC_ADDR_LEN; ++i) {
        // Two digits never exceed 0xFF; the range is checked all the same.
        if (pair[i] > 0xFF) {
            eeprom_refuse(value->eeprom->session, "\nset mac address - %s - entry out of range!\n", argv[0]);
            return EEPROM_ERROR_INVALID_PARAM;
        }
        dst[i] = static_cast<uint8_t>(pair[i]);
    }
    return EEPROM_SUCCESS;
}

eeprom_status_t eeprom_set_mac_address(const eeprom_value_t *value, int argc, char **argv) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(argv);
    EEPROM_ASSERT(value->length == EEPROM_MAC_ADDR_LEN);
    return parse_and_store(value, argc, argv, eeprom_parse_mac_address, EEPROM_MAC_ADDR_LEN);
}

// The two unsigned kinds differ only in width and limit; each operation
// asserts under its own name.
#define UNSIGNED_KIND(bits, limit)                                                             \
    eeprom_status_t eeprom_get_uint##bits(const eeprom_value_t *value, int, char **) {         \
        EEPROM_ASSERT(value);                                                                  \
        EEPROM_ASSERT(value->length == sizeof(uint##bits##_t));                                \
        return get_text(value);                                                                \
    }                                                                                          \
    eeprom_status_t eeprom_parse_uint##bits(const eeprom_value_t *value, int argc, char **argv, \
                                            uint8_t *dst) {                                    \
        EEPROM_ASSERT(value);                                                                  \
        EEPROM_ASSERT(argv);                                                                   \
        EEPROM_ASSERT(value->length == sizeof(uint##bits##_t));                                \
        return parse_unsigned(value, argc, argv, dst, limit, "uint" #bits "_t");              \
    }                                                                                          \
    eeprom_status_t eeprom_set_uint##bits(const eeprom_value_t *value, int argc, char **argv) { \
        EEPROM_ASSERT(value);                                                                  \
        EEPROM_ASSERT(argv);                                                                   \
        EEPROM_ASSERT(value->length == sizeof(uint##bits##_t));                                \
        return parse_and_store(value, argc, argv, eeprom_parse_uint##bits, value->length);     \
    }
UNSIGNED_KIND(16, 0xFFFF)
UNSIGNED_KIND(32, 0xFFFFFFFF)
#undef UNSIGNED_KIND

eeprom_status_t eeprom_get_ipd_xyz(const eeprom_value_t *value, int, char **) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(value->length == sizeof(ipd_position_t));
    return get_text(value);
}

int32_t eeprom_format_ipd_xyz(const eeprom_value_t *, const uint8_t *f, char *out, size_t size) {
    return snprintf(out, size, "%d, %d, %d", static_cast<int16_t>(get_le16(f + 0)),
                    static_cast<int16_t>(get_le16(f + 2)), static_cast<int16_t>(get_le16(f + 4)));
}

eeprom_status_t parse_ipd_axis(const char *text, const char *axis, int16_t *dst,
                               const eeprom_session *session) {
    EEPROM_ASSERT(text);
    EEPROM_ASSERT(axis);
    EEPROM_ASSERT(dst);
    decimal_t d;
    if (!parse_decimal(text, &d)) {
        eeprom_refuse(session, "\nset IPD %s value - %s - incorrect length!\n", axis, text);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    // The typed number itself must be in range; nothing wraps into it.
    const bool fits = d.negative ? d.magnitude <= 32768 : d.magnitude <= 32767;
    if (!fits) {
        eeprom_refuse(session, "\nset IPD %s value - %s - would overflow!\n", axis, text);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    const int32_t number = d.negative ? -static_cast<int32_t>(d.magnitude)
                                      : static_cast<int32_t>(d.magnitude);
    *dst = static_cast<int16_t>(number);
    return EEPROM_SUCCESS;
}

eeprom_status_t eeprom_parse_ipd_xyz(const eeprom_value_t *value, int argc, char **argv,
                                     uint8_t *dst) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(argv);
    EEPROM_ASSERT(value->length == sizeof(ipd_position_t));
    if (argc != 3) {
        eeprom_refuse(value->eeprom->session, "\nset IPD XYZ command requires three item values!\n");
        return EEPROM_ERROR_INVALID_PARAM;
    }
    int16_t axis[3];
    static const char *const letters[3] = {"X", "Y", "Z"};
    for (int i = 0; i < 3; ++i) {
        const eeprom_status_t status = parse_ipd_axis(argv[i], letters[i], &axis[i], value->eeprom->session);
        if (status != EEPROM_SUCCESS) return status;
    }
    for (int i = 0; i < 3; ++i) put_le16(dst + 2 * i, static_cast<uint16_t>(axis[i]));
    return EEPROM_SUCCESS;
}

eeprom_status_t eeprom_set_ipd_xyz(const eeprom_value_t *value, int argc, char **argv) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(argv);
    EEPROM_ASSERT(value->length == sizeof(ipd_position_t));
    return parse_and_store(value, argc, argv, eeprom_parse_ipd_xyz, sizeof(ipd_position_t));
}

// ---------------------------------------------------------------------------
// Binary blob codec: a 16-bit little-endian data length, the data, zeros.

eeprom_status_t eeprom_get_binary(const eeprom_value_t *value, int argc, char **argv) {
    EEPROM_ASSERT(value);
    uint8_t field[EEPROM_VALUE_MAX_LEN];
    EEPROM_ASSERT(value->length <= sizeof field);
    if (argc > 0) {
        const eeprom_status_t refused = eeprom_refuse_chip_path(value->eeprom->session, argv[0]);
        if (refused != EEPROM_SUCCESS) return refused;
    }
    const eeprom_status_t status = eeprom_read_value(value, field);
    if (argc <= 0 && status == EEPROM_SUCCESS) {
        eeprom_diag(value->eeprom->session, "%s set, specify filename to save\n", value->name);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    if (status != EEPROM_SUCCESS) return status;

    const uint16_t length = get_le16(field);
    if (length > value->length - 2) {
        eeprom_diag(value->eeprom->session, "%s appear valid, but has illegal length: %d!\n", value->name, length);
        return EEPROM_ERROR_INVALID_DATA;
    }
    return eeprom_save_file(value->eeprom->session, value->name, argv[0], field + 2, length);
}

// The data in base64, standard alphabet, padded with '='.
int32_t eeprom_format_binary(const eeprom_value_t *value, const uint8_t *field, char *out,
                             size_t size) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const size_t length = get_le16(field);
    if (length > static_cast<size_t>(value->length - 2)) return -1;
    const uint8_t *data = field + 2;
    EEPROM_ASSERT((length + 2) / 3 * 4 < size);
    size_t n = 0;
    for (size_t i = 0; i < length; i += 3) {
        const size_t k = length - i < 3 ? length - i : 3;
        uint32_t group = static_cast<uint32_t>(data[i]) << 16;
        if (k > 1) group |= static_cast<uint32_t>(data[i + 1]) << 8;
        if (k > 2) group |= data[i + 2];
        for (size_t c = 0; c < 4; ++c) out[n++] = c <= k ? alphabet[group >> (18 - 6 * c) & 0x3F] : '=';
    }
    out[n] = '\0';
    return static_cast<int32_t>(n);
}


// Reads the file named by the first word into a blob field: the data length,
// the data, zeros to the end of the field. Further words are ignored.
eeprom_status_t eeprom_parse_binary(const eeprom_value_t *value, int argc, char **argv,
                                    uint8_t *dst) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(argv);
    if (argc <= 0) {
        eeprom_refuse(value->eeprom->session, "\nMust specify a file to load data from\n");
        return EEPROM_ERROR_INVALID_PARAM;
    }
    memset(dst, 0, value->length);
    int32_t got = 0;
    const eeprom_status_t status = eeprom_load_file(value->eeprom->session, argv[0], dst + 2,
                                                      value->length - 2, &got);
    if (status != EEPROM_SUCCESS) return status;
    put_le16(dst, static_cast<uint16_t>(got));
    return EEPROM_SUCCESS;
}

eeprom_status_t eeprom_set_binary(const eeprom_value_t *value, int argc, char **argv) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(argv);
    return parse_and_store(value, argc, argv, eeprom_parse_binary, value->length);
}

const eeprom_kind_t *eeprom_kind_of(eeprom_kind_id id) {
    switch (id) {
    case eeprom_kind_id::character: return &EEPROM_KIND_CHAR;
    case eeprom_kind_id::string: return &EEPROM_KIND_STRING;
    case eeprom_kind_id::mac_address: return &EEPROM_KIND_MAC_ADDRESS;
    case eeprom_kind_id::uint16: return &EEPROM_KIND_UINT16;
    case eeprom_kind_id::uint32: return &EEPROM_KIND_UINT32;
    case eeprom_kind_id::ipd_xyz: return &EEPROM_KIND_IPD_XYZ;
    case eeprom_kind_id::binary: return &EEPROM_KIND_BINARY;
    }
    EEPROM_ASSERT(!"a kind of the tables");
}
