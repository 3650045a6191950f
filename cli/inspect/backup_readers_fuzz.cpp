// The backup readers on arbitrary files: a backup set is read from a file (a
// zip backup archive or a single configuration archive, as its first bytes
// say) or from a folder of configuration archives, shown as text and JSON,
// compared with a second one, and every record it holds exported as CSV. The
// input's first byte chooses the shape:
//   0: the rest is one file, compared with itself.
//   1: entries of [configuration index][length, 2 bytes LE][bytes], each the
//      file <name>.tar of a backup folder (an index beyond the table, or a
//      repeated one, replaces the same file).
//   2: [length, 2 bytes LE] cuts the rest into two files, the older and the
//      newer backup of a comparison.
// Whatever they hold, the texts hold no control byte but line ends, and the
// JSON documents read as JSON.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "backup/backup.h"
#include "inspect/inspect.h"
#include "json/json.h"

namespace {

const std::filesystem::path& scratch() {
  static const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("backup_readers_fuzz_" + std::to_string(getpid()));
  return path;
}

void write(const std::filesystem::path& path, const uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void must_be_plain_text(const std::string& text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\n') || byte == 0x7F) __builtin_trap();
  }
  for (std::size_t i = 0; i + 1 < text.size(); ++i)
    if (static_cast<unsigned char>(text[i]) == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0 &&
        static_cast<unsigned char>(text[i + 1]) >= 0x80)
      __builtin_trap();  // a C1 control
}

void must_be_json(const std::string& text) {
  must_be_plain_text(text);
  json::JsonReader reader;
  json::open_bytes(reader, text.data(), text.size());
  json::Token token;
  while ((token = json::next_token(reader)) != json::Token::Done && token != json::Token::Error) {
  }
  json::close(reader);
  if (token != json::Token::Done) __builtin_trap();
}

void exercise(const std::string& older, const std::string& newer) {
  const BackupSet before = read_backup(older), after = read_backup(newer);
  must_be_plain_text(render_show_text(before));
  must_be_json(render_show_json(before));
  const BackupDiff diff = diff_backups(before, after);
  must_be_plain_text(render_diff_text(diff));
  must_be_json(render_diff_json(diff));
  for (const BackupConfiguration& c : before.configurations) {
    if (!c.problem.empty() || !c.kept) continue;
    if (is_channel_record(c)) {
      export_channel_csv(c.data);
      export_group_csv(c.data);
    } else if (is_input_record(c)) {
      export_input_csv(c.data);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::filesystem::path& folder = scratch();
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const uint8_t shape = data[0] % 3;
  ++data, --size;
  const std::string first = (folder / "first").string(), second = (folder / "second").string();
  if (shape == 0) {
    write(first, data, size);
    exercise(first, first);
  } else if (shape == 1) {
    std::filesystem::create_directories(first);
    for (std::size_t at = 0; at + 3 <= size;) {
      const std::size_t length = std::min<std::size_t>(data[at + 1] | data[at + 2] << 8, size - at - 3);
      const char* name = configuration_table[data[at] % CONFIGURATION_COUNT].member_name;
      write(std::filesystem::path(first) / name, data + at + 3, length);
      at += 3 + length;
    }
    exercise(first, first);
  } else if (size >= 2) {
    const std::size_t cut = std::min<std::size_t>(data[0] | data[1] << 8, size - 2);
    write(first, data + 2, cut);
    write(second, data + 2 + cut, size - 2 - cut);
    exercise(first, second);
  }
  std::filesystem::remove_all(folder);
  return 0;
}
