#include <algorithm>
#include <cstdio>
#include <cstring>

#include "backup/backup.h"
#include "records/records.h"
#include "tar/tar.h"

namespace {

constexpr const char* TAG = "backup";

bool member_name(char (&name)[64], const char* format, unsigned channel) {
  const int n = std::snprintf(name, sizeof name, format, channel);
  return n > 0 && static_cast<std::size_t>(n) < sizeof name;
}

// Stamps header fields and CRC over `length` bytes. The length field is set
// too: a gateway takes a record only when it matches the bytes it receives,
// and a record built on a zero image would otherwise go out with 0 there.
void stamp(uint8_t* image, uint32_t length, uint32_t version) {
  put_le32(image, RecordHeader::LENGTH, length);
  put_le32(image, RecordHeader::VERSION, version);
  seal_record(image, length);
}

// The arguments every record writer needs, and the member name formed from the channel.
bool writable(const TarArchive* archive, const FetchedConfiguration* fetched, unsigned channel, const uint8_t* image,
              const char* format, char (&name)[64]) {
  return archive && fetched && image && fetched->firmware_version && channel != 0 && member_name(name, format, channel);
}

RecordWrite write_member(const Reporter& reporter, TarArchive* archive, const char* name, const uint8_t* image,
                         uint32_t length) {
  if (tar_write_file_header(archive, name, length) != TarStatus::Success) {
    report(reporter, "%s\terror writing file '%s' header.\r\n", TAG, name);
    return RecordWrite::WriteFailed;
  }
  if (tar_write_data(archive, image, length) != TarStatus::Success) {
    report(reporter, "%s\terror writing file '%s' data.\r\n", TAG, name);
    return RecordWrite::WriteFailed;
  }
  return RecordWrite::Written;
}

}  // namespace

RecordRead read_channel_record(const Reporter& reporter, const FetchedConfiguration* fetched, unsigned channel,
                               uint8_t* image) {
  if (!fetched || !image || fetched->buffer.data.empty() || channel == 0) return RecordRead::MissingArgument;
  std::memset(image, 0, ChannelRecord::IMAGE_SIZE);
  char name[64];
  if (!member_name(name, "/etc/config/dali/dali%u.bin", channel)) return RecordRead::MissingArgument;

  TarArchive archive;
  tar_memory_reader(&archive, fetched->buffer.data.data(), fetched->buffer.data.size());
  TarHeader header;
  if (tar_find(&archive, name, &header) != TarStatus::Success) {
    report(reporter, "%s\terror '%s' file not found.\r\n", TAG, name);
    return RecordRead::NotFound;
  }
  if (header.size == 0) {
    report(reporter, "%s\terror '%s' file size error\r\n", TAG, name);
    return RecordRead::NotFound;
  }
  // A size beyond the bytes that remain cannot be read; nothing is allocated for it.
  std::vector<uint8_t> member;
  if (tar_member_within(&archive, header)) member.assign(header.size, 0);
  if (member.empty() || tar_read_data(&archive, member.data(), header.size) != TarStatus::Success) {
    report(reporter, "%s\terror reading '%s'\r\n", TAG, name);
    return RecordRead::Unreadable;
  }
  std::memcpy(image, member.data(), std::min<std::size_t>(member.size(), ChannelRecord::IMAGE_SIZE));
  return RecordRead::Read;
}

RecordWrite write_channel_record(const Reporter& reporter, TarArchive* archive, const FetchedConfiguration* fetched,
                                 unsigned channel, uint8_t* image) {
  char name[64];
  if (!writable(archive, fetched, channel, image, "/etc/config/dali/dali%u.bin", name))
    return RecordWrite::MissingArgument;
  // Versions 0 and 1 share one layout, which is always written as version 1.
  const ChannelLayout* layout = channel_layout(channel_record_version(fetched->firmware_version->c_str()));
  stamp(image, layout->length, layout->version);
  return write_member(reporter, archive, name, image, layout->length);
}

RecordWrite write_input_record(const Reporter& reporter, TarArchive* archive, const FetchedConfiguration* fetched,
                               unsigned channel, uint8_t* image) {
  char name[64];
  if (!writable(archive, fetched, channel, image, "/etc/config/dali/cd%u.bin", name))
    return RecordWrite::MissingArgument;
  const char* firmware = fetched->firmware_version->c_str();
  if (channel_record_version(firmware) != 3) {
    report(reporter, "%s\terror version %s not supported.\r\n", TAG, firmware);
    return RecordWrite::VersionRefused;
  }
  stamp(image, INPUT_V3.length, INPUT_V3.version);
  return write_member(reporter, archive, name, image, INPUT_V3.length);
}
