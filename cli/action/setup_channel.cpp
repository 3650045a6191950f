// The setup_channel action: per channel, fetch the gateway's current channel
// configuration, apply one CSV file to its record, and push the result back.
#include <cstdio>
#include <memory>
#include <string>

#include "action/action.h"
#include "backup/backup.h"
#include "import/import.h"
#include "tar/tar.h"
#include "util/text.h"

namespace {

constexpr const char* TAG = "setup_channel";

using ImportFunction = ImportOutcome (*)(const FetchedConfiguration*, const char*, SetupWorkArea*);

// What the run does with each channel, chosen once from the lists present.
struct SetupMode {
  const std::vector<std::string>* paths;
  ImportFunction import;
  bool input_record;  // writes the input-device record instead of the channel record
};

// Size of the channel record member in the fetched archive; false when absent.
bool channel_member_size(const FetchedConfiguration& fetched, unsigned channel, uint32_t* size) {
  char name[64];
  std::snprintf(name, sizeof name, "/etc/config/dali/dali%u.bin", channel);
  TarArchive archive;
  tar_memory_reader(&archive, fetched.buffer.data.data(), fetched.buffer.data.size());
  TarHeader header;
  if (tar_find(&archive, name, &header) != TarStatus::Success) return false;
  *size = header.size;
  return true;
}

// Loads the gateway's current channel record into the image. Patching only
// makes sense on a record in the layout the firmware expects: a zero image or
// another layout would wipe or corrupt the channel on the gateway.
bool load_current_record(const Reporter& reporter, const FetchedConfiguration& fetched, unsigned channel,
                         const ChannelLayout& expected, uint8_t* image) {
  uint32_t size = 0;
  if (read_channel_record(reporter, &fetched, channel, image) != RecordRead::Read || !channel_member_size(fetched, channel, &size)) {
    report_error(reporter, "%s\tchannel %u refused: its record could not be read.\n", TAG, channel);
    return false;
  }
  const RecordHeader header = read_record_header(image);
  const ChannelLayout* layout = channel_layout(header.version);
  if (!layout || layout->version != expected.version || size != expected.length) {
    report_error(reporter,
                 "%s\tchannel %u refused: its record is version %u of %u bytes, firmware %s needs version %u of %u "
                 "bytes.\n",
                 TAG, channel, header.version, size, escape_bytes(*fetched.firmware_version).c_str(), expected.version,
                 expected.length);
    return false;
  }
  return true;
}

// What became of one channel.
enum class ChannelOutcome {
  Pushed,   // pushed, and the restore request succeeded
  Skipped,  // nothing worth pushing, or the push failed (reported)
  Stopped,  // a condition that ends the whole run (reported)
  Silent,   // the gateway did not answer (reported): the other channels would wait the same
};

// Imports `path` and writes the record into `archive`; Skipped (with one line
// on standard error) when there is nothing worth pushing.
ChannelOutcome build_record(const Reporter& reporter, const SetupMode& mode, const FetchedConfiguration& fetched,
                            unsigned channel, const char* path, SetupWorkArea* area, TarArchive* archive) {
  const ChannelLayout& layout = *channel_layout(channel_record_version(fetched.firmware_version->c_str()));
  if (!mode.input_record && !load_current_record(reporter, fetched, channel, layout, area->channel_image))
    return ChannelOutcome::Skipped;
  const ImportOutcome imported = mode.import(&fetched, path, area);
  switch (imported.result) {
    case ImportResult::Read:
      report(reporter, "%lu fields, %lu rows\n", static_cast<unsigned long>(imported.fields),
             static_cast<unsigned long>(imported.rows));
      break;
    case ImportResult::Skipped: break;
    case ImportResult::ParseFailed:
      report_error(reporter, "Error while parsing file: %s\n", imported.parser_error.c_str());
      return ChannelOutcome::Stopped;
    case ImportResult::VersionRefused:
      report(reporter, "importcsv_cd\terror version %s not supported.\r\n",
             escape_bytes(*fetched.firmware_version).c_str());
      return ChannelOutcome::Stopped;
    case ImportResult::FieldTooLong:
      report_error(reporter, "%s\tchannel %u not pushed: row %lu of '%s' has a field longer than %zu bytes.\n", TAG,
                   channel, static_cast<unsigned long>(imported.rows) + 1, path, MAX_CSV_FIELD);
      return ChannelOutcome::Skipped;
    case ImportResult::Unreadable:
    case ImportResult::NoParser:
      report_error(reporter, "%s\tchannel %u not pushed: '%s' could not be %s.\n", TAG, channel, path,
                   imported.result == ImportResult::Unreadable ? "read" : "parsed");
      return ChannelOutcome::Skipped;
  }
  if (imported.applied == 0) {
    report_error(reporter, "%s\tchannel %u not pushed: no row of '%s' was applied.\n", TAG, channel, path);
    return ChannelOutcome::Skipped;
  }
  // The writers stamp the true length, version and CRC. A write that failed
  // leaves an archive that does not list cleanly, which is not pushed.
  const RecordWrite written = mode.input_record
                                  ? write_input_record(reporter, archive, &fetched, channel, area->input_image)
                                  : write_channel_record(reporter, archive, &fetched, channel, area->channel_image);
  if (written == RecordWrite::VersionRefused) return ChannelOutcome::Stopped;
  return written == RecordWrite::Written ? ChannelOutcome::Pushed : ChannelOutcome::Skipped;
}

// Handles one channel from fetch to restore request.
ChannelOutcome set_up_one_channel(Gateway& gateway, const Reporter& reporter, const char* ip, const SetupMode& mode,
                                  unsigned channel, const std::string& path, SetupWorkArea* area) {
  const std::string base_url = std::string("http://") + ip;
  char name[32];
  std::snprintf(name, sizeof name, "dali%u", channel);
  FetchedConfiguration fetched;
  if (const Transfer got = fetch_configuration(gateway, reporter, base_url.c_str(), name, &fetched);
      got != Transfer::Done) {
    // A summary, also after an empty reply, which nothing below reports.
    report(reporter, "%s\tchannel %u not pushed: its configuration could not be fetched.\n", TAG, channel);
    return got == Transfer::Unreachable ? ChannelOutcome::Silent : ChannelOutcome::Skipped;
  }

  report(reporter, "OK\n");
  TarArchive archive;
  init_configuration_writer(&archive);
  clear_work_area(area);
  report(reporter, "CH=%u\n", channel);
  report(reporter, "FILE=%s\n", path.c_str());

  if (!fetched.firmware_version) {
    report_error(reporter, "%s\tchannel %u refused: the gateway reported no firmware version.\n", TAG, channel);
    return ChannelOutcome::Skipped;
  }
  const ChannelOutcome built = build_record(reporter, mode, fetched, channel, path.c_str(), area, &archive);
  if (built != ChannelOutcome::Pushed) return built;
  // An archive that does not list cleanly is not sent to the gateway.
  if (finish_configuration_archive(reporter, &archive) != TarStatus::Success) return ChannelOutcome::Skipped;
  const Transfer pushed = push_configuration_archive(gateway, reporter, base_url.c_str(), ip,
                                                     tar_written_bytes(&archive).data(),
                                                     tar_written_bytes(&archive).size());
  if (pushed == Transfer::Unreachable) return ChannelOutcome::Silent;
  if (pushed != Transfer::Done) return ChannelOutcome::Skipped;
  report(reporter, "OK\n");
  return ChannelOutcome::Pushed;
}

}  // namespace

int setup_channel(Gateway& gateway, const Reporter& reporter, const char* ip, const std::vector<int32_t>* channel,
                  const std::vector<std::string>* channelcsvfile, const std::vector<std::string>* channelgroupscsvfile,
                  const std::vector<std::string>* channelinputscsvfile) {
  SetupMode mode{nullptr, nullptr, false};
  if (channelcsvfile) {
    mode = {channelcsvfile, import_channel_csv, false};
  } else if (channelgroupscsvfile) {
    mode = {channelgroupscsvfile, import_group_csv, false};
  } else if (channelinputscsvfile) {
    mode = {channelinputscsvfile, import_input_csv, true};
  }
  const bool no_channel = channel && (channel->empty() || (*channel)[0] == 0);
  // A list given without a single path ([]) names no file to install.
  if (!channel || !ip || !mode.paths || (!no_channel && mode.paths->empty())) {
    report(reporter, "Missing arguments for action setup_channel.");
    return 2;
  }
  if (no_channel) return 0;

  auto area = std::make_unique<SetupWorkArea>();
  bool all_pushed = true;
  for (std::size_t i = 0; i < channel->size() && i < mode.paths->size() && (*channel)[i] != 0; ++i) {
    const ChannelOutcome outcome = set_up_one_channel(gateway, reporter, ip, mode, static_cast<unsigned>((*channel)[i]),
                                                      (*mode.paths)[i], area.get());
    if (outcome == ChannelOutcome::Stopped) return 1;
    if (outcome == ChannelOutcome::Silent) {
      if (i + 1 < channel->size() && i + 1 < mode.paths->size() && (*channel)[i + 1] != 0)
        report_error(reporter, "%s\tthe gateway %s does not answer; the other channels are not set up.\n", TAG, ip);
      return 1;
    }
    if (outcome == ChannelOutcome::Skipped) all_pushed = false;
  }
  return all_pushed ? 0 : 1;
}
