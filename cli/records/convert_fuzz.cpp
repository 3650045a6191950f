// Any bytes, any configuration code, any firmware text through the record
// conversion: it must never read or write out of bounds, and whatever it
// produces must be a well-formed record.
#include <cstdlib>
#include <string>
#include <vector>

#include "records/records.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const uint32_t code = data[0] % 24;
  const std::size_t text_length = data[1] % 12;
  if (size < 2 + text_length) return 0;
  const std::string firmware(reinterpret_cast<const char*>(data + 2), text_length);
  // The record gets a buffer of its own so that reads past its end are caught.
  std::vector<uint8_t> record(data + 2 + text_length, data + size);
  // Conversions only run on records of exactly their source length, longer than
  // the fuzzer's usual inputs: on request the bytes are repeated up to it.
  if ((data[1] & 0x40) && record.size() >= RecordHeader::SIZE) {
    const uint32_t version = read_record_header(record.data()).version;
    const std::size_t length = code >= 5 && code <= 8 ? INPUT_V2.length
                               : version <= 1        ? CHANNEL_V1.length
                                                     : CHANNEL_V2.length;
    const std::size_t given = record.size();
    record.resize(length);
    for (std::size_t i = given; i < length; ++i) record[i] = record[i % given];
  }
  const bool firmware_known = (data[1] & 0x80) == 0;
  const char* version_text = firmware_known ? firmware.c_str() : nullptr;

  std::vector<uint8_t> output;
  const ConvertResult result = convert_record_by_code(code, version_text, record.data(), record.size(), &output);
  check(result == ConvertResult::Ok || output.empty());
  const bool unchanged = result == ConvertResult::Ok && output == record;
  check(record_passes_unchanged(code, version_text, record.data(), record.size()) == unchanged);
  if (result == ConvertResult::Ok && !unchanged) {
    // A converted record: its header describes it and its CRC holds.
    const RecordHeader header = read_record_header(output.data());
    check(header.length == output.size());
    check(header.change_count == read_record_header(record.data()).change_count + 1);
    std::vector<uint8_t> zeroed = output;
    put_le32(zeroed.data(), RecordHeader::CRC, 0);
    check(header.crc == record_crc16(zeroed.data(), zeroed.size()));
  }
  return 0;
}
