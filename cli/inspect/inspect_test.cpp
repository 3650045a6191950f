#include "inspect/inspect.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <tuple>

#include "testing/inspect_support.h"
#include "inspect/json_writer.h"
#include "json/json.h"
#include "zip/zip.h"

namespace {

using namespace inspect_test;

// True when the pull reader reads `text` to its end as one document.
bool reads_as_json(const std::string& text) {
  json::JsonReader reader;
  json::open_bytes(reader, text.data(), text.size());
  json::Token token;
  while ((token = json::next_token(reader)) != json::Token::Done && token != json::Token::Error) {
  }
  json::close(reader);
  return token == json::Token::Done;
}

// Each text quoted, then read back by the pull reader inside a written document.
TEST(JsonWriter, EscapesAndKeepsDocumentsValid) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\n\r\t\x01\x1f", "\"\\n\\r\\t\\u0001\\u001f\""},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xa1", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xa1\""},
      // Bytes that are not UTF-8 are taken as Latin-1: é, then an overlong NUL, a surrogate, a cut sequence;
      // what would be a C1 control then is escaped, as are DEL and the C1 controls themselves.
      {"caf\xe9", "\"caf\xc3\xa9\""},
      {"\xc0\x80", "\"\xc3\x80\\u0080\""},
      {"\xed\xa0\x80", "\"\xc3\xad\xc2\xa0\\u0080\""},
      {"\xe2\x82", "\"\xc3\xa2\\u0082\""},
      {"\x7f\xc2\x9b" "2J", "\"\\u007f\\u009b" "2J\""},
  };
  for (const auto& [text, quoted] : cases) {
    EXPECT_EQ(json_quote(text), quoted);
    JsonWriter w;
    json_begin_object(w);
    json_key(w, text);
    json_begin_array(w);
    json_string(w, text);
    json_number(w, -5);
    json_null(w);
    json_end_array(w);
    json_end_object(w);
    EXPECT_TRUE(reads_as_json(w.out)) << w.out;
  }
}

TEST(Show, TextOfFourFullChannelsFitsEightyColumns) {
  for (const char* firmware : {"1.3.0", "1.3.1", "1.5.0"}) {
    const std::string text = render_show_text(set_of(full_backup(firmware), "backup.zip"));
    std::istringstream lines(text);
    unsigned gear_rows = 0;
    for (std::string line; std::getline(lines, line);) {
      EXPECT_LE(line.size(), 80u) << line;
      gear_rows += line.find("luminaire number") != std::string::npos;
    }
    EXPECT_EQ(gear_rows, 4u * 64u) << text;
    // Names are cut to 32 characters by the import, not by the text form.
    EXPECT_NE(text.find("63   63 Channel 4 luminaire number 63 xy "), std::string::npos) << text;
  }
}

TEST(Diff, PlainConfigurationsCountDifferingBytesAndSetsMayDiffer) {
  auto entries = full_backup("1.5.0");
  auto changed = entries;
  changed.pop_back();  // cmdrnamenvp removed
  for (auto& [member, tar] : changed) {
    if (member != "rlc.tar" && member != "dali1.tar") continue;
    BackupConfiguration c = read_configuration_archive(member, tar);
    if (member == "dali1.tar") {
      c.data[20] ^= 1;  // a channel-wide word no field decodes
    } else {
      c.data[0] ^= 1, c.data[100] ^= 2, c.data.push_back(9);
    }
    tar = configuration_tar(*c.entry, c.data, "1.5.0");
  }
  std::map<std::string, ConfigurationDiff> by_name;
  for (const ConfigurationDiff& c : diff_backups(set_of(entries, "a"), set_of(changed, "b")).configurations)
    by_name[c.name] = c;
  EXPECT_EQ(by_name["rlc"].state, "changed");
  EXPECT_EQ(by_name["rlc"].differing_bytes, 3u);
  EXPECT_FALSE(by_name["rlc"].compared_as_records);
  EXPECT_EQ(by_name["cmdrnamenvp"].state, "removed");
  EXPECT_EQ(by_name["dali1"].state, "changed");
  EXPECT_EQ(by_name["dali1"].changes.size(), 0u);
  EXPECT_EQ(by_name["dali1"].differing_bytes, 1u);
  // What status.txt says is listed, but alone it makes no difference.
  BackupSet upgraded = set_of(entries, "b");
  upgraded.gateway.firmware_version = "1.6.0";
  EXPECT_EQ(render_diff_text(diff_backups(set_of(entries, "a"), upgraded)),
            "The gateways differ, their configurations do not:\n"
            "  gateway firmware_version: \"1.5.0\" -> \"1.6.0\"\nno differences\n");
  const BackupDiff reverse = diff_backups(set_of(changed, "b"), set_of(entries, "a"));
  EXPECT_EQ(reverse.configurations.back().name, "cmdrnamenvp");
  EXPECT_EQ(reverse.configurations.back().state, "added");
}

void write_bytes(const std::string& path, const Bytes& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

// The same configurations read from a zip archive, a folder and single tars.
TEST(ReadBackup, ArchiveFolderAndSingleArchiveGiveTheSameConfigurations) {
  char folder[] = "/tmp/inspect_read_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const auto entries = full_backup("1.3.1");
  const std::string zip_path = std::string(folder) + ".zip";
  ZipArchiveHandle zip = zip_archive_open(zip_path.c_str(), 6, 'w');
  for (const auto& [name, tar] : entries) {
    write_bytes(std::string(folder) + "/" + name, tar);
    ASSERT_EQ(zip_entry_begin(zip.get(), name.c_str()), 0);
    ASSERT_EQ(zip_entry_append(zip.get(), tar.data(), tar.size()), 0);
    ASSERT_EQ(zip_entry_finish(zip.get()), 0);
  }
  ASSERT_EQ(zip_archive_close(std::move(zip)), 0);
  // A single archive under a name of its own is recognised by its member.
  const std::string single = std::string(folder) + "/channel-two-copy.tar";
  write_bytes(single, entries[6].second);

  const BackupSet expected = set_of(entries, "");
  for (const auto& [path, kind, count] :
       {std::tuple{zip_path, "archive", 22u}, std::tuple{std::string(folder), "folder", 22u},
        std::tuple{single, "configuration", 1u}}) {
    const BackupSet set = read_backup(path);
    EXPECT_EQ(set.problem, "") << path;
    EXPECT_EQ(set.kind, kind);
    ASSERT_EQ(set.configurations.size(), count) << path;
    EXPECT_EQ(set.gateway.serial_number, expected.gateway.serial_number);
    for (const BackupConfiguration& c : set.configurations) {
      const BackupConfiguration* same = nullptr;
      for (const BackupConfiguration& e : expected.configurations) same = e.name == c.name ? &e : same;
      ASSERT_NE(same, nullptr) << c.name;
      EXPECT_EQ(c.data, same->data) << path << " " << c.name;
    }
  }
  EXPECT_EQ(read_backup(single).configurations[0].name, "dali2");
  EXPECT_EQ(read_backup(std::string(folder) + "/absent.zip").problem, "cannot be read");
  std::filesystem::remove_all(folder);
  std::filesystem::remove(zip_path);
}

}  // namespace
