// The stand-in's DALI channel and input-device records: realistic content for
// the record version its firmware calls for, and the checks a gateway applies
// before it takes a restored record. Written apart from the console tool's
// record code on purpose, so that each side checks the other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// The channel record (dali<channel>.bin) and input-device record (cd<channel>.bin)
// a gateway with this firmware keeps. Below firmware 1.3.1 the input-device
// record is an opaque version-1 record: no layout is known for it.
std::vector<uint8_t> make_channel_record(unsigned channel, const std::string& firmware);
std::vector<uint8_t> make_input_record(unsigned channel, const std::string& firmware);

// Whether a restored file at `path` may replace the current one. Only channel
// and input-device records are checked. Empty when it may; otherwise the reason.
std::string check_restored_file(const std::string& path, const std::vector<uint8_t>& content,
                                const std::string& firmware);

}  // namespace sim
