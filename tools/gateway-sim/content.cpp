#include "gateway.h"
#include "records.h"

namespace sim {

// Opaque, deterministic bytes per file: a few KiB from a small generator seeded by the code.
void seed_configuration(Gateway& gateway) {
  for (const auto& entry : kConfigurations) {
    std::vector<uint8_t> content(1024u * (2 + entry.code % 3) + 17u * entry.code);
    uint32_t state = 0x9E3779B9u * (entry.code + 1);
    for (auto& byte : content) {
      state = state * 1664525u + 1013904223u;
      byte = static_cast<uint8_t>(state >> 24);
    }
    gateway.files[entry.path] = std::move(content);
  }
  // The channel and input-device records have a layout the tool reads and converts.
  for (unsigned channel = 1; channel <= 4; ++channel) {
    const std::string& firmware = gateway.identity.firmware_version;
    gateway.files[kConfigurations[channel].path] = make_channel_record(channel, firmware);
    gateway.files[kConfigurations[4 + channel].path] = make_input_record(channel, firmware);
  }
}

}  // namespace sim
