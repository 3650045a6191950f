// Reading single CSV cells: leading integers, clamped bytes, and the cells
// that hold JSON text (an address, a group mask, scene levels, byte arrays).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The decimal integer at the start of `text` (white space and a sign allowed),
// saturated to the 64-bit range; 0 when the text does not start with one.
int64_t leading_integer(const char* text);
// The low 8 bits of a value (two's complement for negatives).
uint8_t low_byte(int64_t value);
// True when `text` is `word` in any letter case (`word` is lower case).
bool equals_ignoring_case(const char* text, const char* word);

// Address cell values: null, and the highest DALI short address.
constexpr uint8_t ADDRESS_NULL = 255;
constexpr uint8_t ADDRESS_MAX = 63;

// A short-address cell: the last number, string or null of its JSON text
// (null = 255), low 8 bits; 0 for an empty or unreadable cell.
uint8_t read_address_cell(const char* text);
// A group-mask cell: each value n of its first JSON array sets bit (n AND 31);
// the low 16 bits.
uint16_t read_group_mask_cell(const char* text);
// A scene cell: the first 16 values of its first JSON array (null = 255) in
// scene order; scenes without a value are 255.
void read_scene_cell(const char* text, uint8_t scenes[16]);
// A byte-array cell: the first 32 numbers and strings of its first JSON array
// (nulls and booleans skipped); bytes without a value are 0.
void read_byte_array_cell(const char* text, uint8_t bytes[32]);

// Copies `name` into a `size`-byte field: at most size - 1 bytes, ending on a
// whole UTF-8 character unless the name is not UTF-8; the rest NUL.
void copy_name_field(uint8_t* field, std::size_t size, const std::string& name);
