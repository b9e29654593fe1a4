// The value kinds: for each, the `get` that prints an item's bytes as text
// (or saves a blob to a file), the `set` that turns value words (or a file)
// into the item's bytes and stores them, the conversion step alone, and the
// text of a stored field. One record per kind carries them all.
#pragma once

#include <cstddef>

#include "eeprom_records.h"

eeprom_status_t eeprom_get_char(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_set_char(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_get_string(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_set_string(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_get_mac_address(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_set_mac_address(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_get_uint16(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_set_uint16(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_get_uint32(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_set_uint32(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_get_ipd_xyz(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_set_ipd_xyz(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_get_binary(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_set_binary(const eeprom_value_t *value, int argc, char **argv);

// The conversion step of each setter: words (or a blob's file) to bytes.
eeprom_status_t eeprom_parse_char(const eeprom_value_t *value, int argc, char **argv, uint8_t *dst);
eeprom_status_t eeprom_parse_string(const eeprom_value_t *value, int argc, char **argv, uint8_t *dst);
eeprom_status_t eeprom_parse_mac_address(const eeprom_value_t *value, int argc, char **argv, uint8_t *dst);
eeprom_status_t eeprom_parse_uint16(const eeprom_value_t *value, int argc, char **argv, uint8_t *dst);
eeprom_status_t eeprom_parse_uint32(const eeprom_value_t *value, int argc, char **argv, uint8_t *dst);
eeprom_status_t eeprom_parse_ipd_xyz(const eeprom_value_t *value, int argc, char **argv, uint8_t *dst);
eeprom_status_t eeprom_parse_binary(const eeprom_value_t *value, int argc, char **argv, uint8_t *dst);

// The text of a stored field of each kind (see eeprom_kind_t::format).
int32_t eeprom_format_char(const eeprom_value_t *value, const uint8_t *field, char *out, size_t size);
int32_t eeprom_format_string(const eeprom_value_t *value, const uint8_t *field, char *out, size_t size);
int32_t eeprom_format_mac_address(const eeprom_value_t *value, const uint8_t *field, char *out, size_t size);
int32_t eeprom_format_unsigned(const eeprom_value_t *value, const uint8_t *field, char *out, size_t size);
int32_t eeprom_format_ipd_xyz(const eeprom_value_t *value, const uint8_t *field, char *out, size_t size);
int32_t eeprom_format_binary(const eeprom_value_t *value, const uint8_t *field, char *out, size_t size);

// Room for the text of any field: a blob's base64 and its terminator.
constexpr size_t EEPROM_TEXT_MAX_LEN = (EEPROM_VALUE_MAX_LEN + 2) / 3 * 4 + 1;

// The kinds. An item row names one; its get and set come from it.
#define EEPROM_KIND(NAME, kind, format, json) \
    inline constexpr eeprom_kind_t NAME = {#kind, eeprom_get_##kind, eeprom_set_##kind, \
                                           eeprom_parse_##kind, format, json}
EEPROM_KIND(EEPROM_KIND_CHAR, char, eeprom_format_char, EEPROM_JSON_TEXT);
EEPROM_KIND(EEPROM_KIND_STRING, string, eeprom_format_string, EEPROM_JSON_TEXT);
EEPROM_KIND(EEPROM_KIND_MAC_ADDRESS, mac_address, eeprom_format_mac_address, EEPROM_JSON_TEXT);
EEPROM_KIND(EEPROM_KIND_UINT16, uint16, eeprom_format_unsigned, EEPROM_JSON_NUMBER);
EEPROM_KIND(EEPROM_KIND_UINT32, uint32, eeprom_format_unsigned, EEPROM_JSON_NUMBER);
EEPROM_KIND(EEPROM_KIND_IPD_XYZ, ipd_xyz, eeprom_format_ipd_xyz, EEPROM_JSON_LIST);
EEPROM_KIND(EEPROM_KIND_BINARY, binary, eeprom_format_binary, EEPROM_JSON_TEXT);
#undef EEPROM_KIND

// Text printed on standard error before the complaint of a conversion step
// that refuses a value, if one does (nullptr: nothing). Lets a caller that
// checks many values name the one refused.
void eeprom_refusal_heading(eeprom_session *s, const char *heading);

// Converts one IPD coordinate ("X", "Y" or "Z") for eeprom_set_ipd_xyz.
eeprom_status_t parse_ipd_axis(const char *text, const char *axis, int16_t *dst,
                               const eeprom_session *session = nullptr);
