// Writes WinZip AES entries for the tests, the fuzz target and the benchmark:
// a plain implementation, one AES call per block, kept apart from the reader
// so that each checks the other.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// The raw entry (salt, password verification value, encrypted bytes,
// authentication code) of `data`, which is already compressed. The salt
// follows from `seed`. Strength 1 to 3.
std::vector<uint8_t> make_aes_entry(const std::vector<uint8_t>& data, uint8_t strength, std::string_view password,
                                    uint32_t seed = 1);
