#include "inspect/inspect.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <tuple>

#include "testing/import_support.h"
#include "testing/inspect_support.h"
#include "inspect/json_writer.h"
#include "json/json.h"
#include "zip/zip.h"

namespace {

using namespace inspect_test;
using import_test::Layout;

// A parsed JSON value, enough to walk the documents of show and diff.
struct Value {
  json::Token kind = json::Token::Null;
  std::string text;
  std::map<std::string, Value> members;
  std::vector<Value> items;
  const Value& operator[](const std::string& key) const { return members.at(key); }
};

bool parse_value(json::JsonReader& reader, json::Token kind, Value* out) {
  out->kind = kind;
  if (kind == json::Token::String || kind == json::Token::Number) out->text = json::token_text(reader);
  if (kind == json::Token::ObjectStart) {
    for (json::Token key; (key = json::next_token(reader)) != json::Token::ObjectEnd;) {
      if (key != json::Token::String) return false;
      const std::string name = json::token_text(reader);
      if (!parse_value(reader, json::next_token(reader), &out->members[name])) return false;
    }
  } else if (kind == json::Token::ArrayStart) {
    for (json::Token item; (item = json::next_token(reader)) != json::Token::ArrayEnd;) {
      out->items.emplace_back();
      if (!parse_value(reader, item, &out->items.back())) return false;
    }
  }
  return kind != json::Token::Error && kind != json::Token::Done;
}

Value parse(const std::string& text) {
  json::JsonReader reader;
  json::open_bytes(reader, text.data(), text.size());
  Value value;
  const bool parsed = parse_value(reader, json::next_token(reader), &value);
  EXPECT_TRUE(parsed && json::next_token(reader) == json::Token::Done) << text;
  json::close(reader);
  return value;
}

// Each text quoted, then read back by the pull reader inside a written document.
TEST(JsonWriter, EscapesAndKeepsDocumentsValid) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\n\r\t\x01\x1f", "\"\\n\\r\\t\\u0001\\u001f\""},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xa1", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xa1\""},
      // Bytes that are not UTF-8 are taken as Latin-1: é, then an overlong NUL, a surrogate, a cut sequence.
      {"caf\xe9", "\"caf\xc3\xa9\""},
      {"\xc0\x80", "\"\xc3\x80\xc2\x80\""},
      {"\xed\xa0\x80", "\"\xc3\xad\xc2\xa0\xc2\x80\""},
      {"\xe2\x82", "\"\xc3\xa2\xc2\x82\""},
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
    const Value v = parse(w.out);
    ASSERT_EQ(v.members.size(), 1u) << w.out;
    EXPECT_EQ(v.members.begin()->second.items.size(), 3u) << w.out;
  }
}

// Gear and groups of a channel record decoded here with the test's own
// layout table, independently of the decoder under test.
struct Gear {
  unsigned slot;
  std::string name;
  std::string address;  // "null" or the number
  std::vector<unsigned> groups;
  bool operator==(const Gear&) const = default;
};

const Layout& layout_of(const Bytes& record) {
  const uint32_t version = import_test::le32(record.data(), 8);
  return version <= 1 ? import_test::V1 : version == 2 ? import_test::V2 : import_test::V3;
}

std::vector<Gear> gear_held(const Bytes& record) {
  const Layout& layout = layout_of(record);
  std::vector<Gear> gear;
  for (unsigned slot = 0; slot < 64; ++slot) {
    const uint8_t* e = record.data() + import_test::gear(layout, slot);
    const uint32_t flags = import_test::le32(e, 0);
    const std::string name = import_test::text_at(e, layout.name);
    if (!(flags & 0xB) && e[36] != 255 && name.empty()) continue;
    const bool addressed = (flags & 1) && e[11] % 2 == 1 && e[11] < 128;
    std::vector<unsigned> groups;
    for (unsigned g = 0; g < 16; ++g)
      if (import_test::le16(e, 18) & 1u << g) groups.push_back(g);
    gear.push_back({slot, name, addressed ? std::to_string(e[11] / 2) : "null", groups});
  }
  return gear;
}

std::vector<Gear> gear_listed(const Value& record) {
  std::vector<Gear> gear;
  for (const Value& g : record["gear"].items) {
    std::vector<unsigned> groups;
    for (const Value& n : g["groups"].items) groups.push_back(static_cast<unsigned>(std::stoul(n.text)));
    const Value& address = g["short_address"];
    gear.push_back({static_cast<unsigned>(std::stoul(g["slot"].text)), g["name"].text,
                    address.kind == json::Token::Null ? "null" : address.text, groups});
  }
  return gear;
}

// A backup whose four channels use the three layouts and hold gear with and
// without addresses, next to slots never used.
std::vector<std::pair<std::string, Bytes>> mixed_backup() {
  const char* firmware[] = {"1.3.0", "1.3.1", "1.5.0", "1.5.0"};
  auto entries = full_backup("1.5.0");
  for (auto& [name, tar] : entries) {
    const ConfigurationEntry& entry = *find_configuration_by_member(name.c_str());
    if (entry.code < 1 || entry.code > 4) continue;
    const std::string gear =
        "#dali-channel-csv-version: 1\n"
        "1,3,5,\"Desk, \"\"north\"\"\",\"[0,15]\",254,null,254,1,7,0,[254]\n"
        "1,9,null,Caf\xc3\xa9 lamp,[2],false,1,2,3,4,5,[]\n"
        "1,63,62,Last,[],0,0,0,0,0,0,\n";
    const std::string groups = "#dali-channel-groups-csv-version: 1\n0,15,Fifteen\n0,2,\"A \"\"quoted\"\" name\"\n";
    tar = configuration_tar(entry, channel_record(firmware[entry.code - 1], gear, groups), "1.5.0");
  }
  return entries;
}

TEST(Show, JsonListsExactlyTheGearTheRecordsHold) {
  for (const auto& entries : {mixed_backup(), full_backup("1.3.1")}) {
    const BackupSet set = set_of(entries, "backup.zip");
    const Value shown = parse(render_show_json(set));
    EXPECT_EQ(shown["gateway"]["firmware_version"].text, set.gateway.firmware_version.value());
    const auto& listed = shown["configurations"].items;
    ASSERT_EQ(listed.size(), 22u);
    unsigned channels = 0;
    for (std::size_t i = 0; i < listed.size(); ++i) {
      const BackupConfiguration& c = set.configurations[i];
      EXPECT_EQ(listed[i]["name"].text, c.name);
      EXPECT_EQ(listed[i]["size"].text, std::to_string(c.data.size()));
      if (!is_channel_record(c)) continue;
      ++channels;
      const Value& record = listed[i]["record"];
      EXPECT_EQ(record["version"].text, std::to_string(import_test::le32(c.data.data(), 8)));
      EXPECT_EQ(gear_listed(record), gear_held(c.data)) << c.name;
      const Layout& layout = layout_of(c.data);
      std::map<std::string, std::string> groups;
      for (const Value& g : record["groups"].items) groups[g["group"].text] = g["name"].text;
      for (unsigned g = 0; g < 16; ++g) {
        const std::string name = import_test::text_at(c.data.data(), import_test::group(layout, g));
        EXPECT_EQ(groups.count(std::to_string(g)) ? groups[std::to_string(g)] : "", name) << c.name << " group " << g;
      }
    }
    EXPECT_EQ(channels, 4u);
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

// Renames gear slot `slot` of channel `channel` in a backup's entries.
void rename_gear(std::vector<std::pair<std::string, Bytes>>& entries, unsigned channel, unsigned slot,
                 const std::string& name) {
  const ConfigurationEntry& entry = configuration_table[channel];
  for (auto& [member, tar] : entries) {
    if (member != entry.member_name) continue;
    BackupConfiguration c = read_configuration_archive(member, tar);
    const Layout& layout = layout_of(c.data);
    uint8_t* field = c.data.data() + import_test::gear(layout, slot) + layout.name;
    std::fill(field, field + 33, uint8_t{0});
    std::copy(name.begin(), name.end(), field);
    seal_record(c.data.data(), c.data.size());
    tar = configuration_tar(entry, c.data, "1.5.0");
  }
}

TEST(Diff, SameBackupHasNoneAndRenamingTwoGearNamesExactlyThoseSlotsAndFields) {
  const BackupSet same = set_of(mixed_backup(), "a.zip");
  EXPECT_EQ(render_diff_text(diff_backups(same, same)), "no differences\n");
  EXPECT_EQ(parse(render_diff_json(diff_backups(same, same)))["different"].kind, json::Token::False);
  auto renamed = mixed_backup();
  rename_gear(renamed, 2, 3, "Reception");
  rename_gear(renamed, 2, 40, "Stairs");
  const BackupDiff diff = diff_backups(set_of(mixed_backup(), "a.zip"), set_of(renamed, "b.zip"));
  EXPECT_TRUE(diff.different);
  EXPECT_TRUE(diff.gateway.empty());
  for (const ConfigurationDiff& c : diff.configurations) {
    if (c.name != "dali2") {
      EXPECT_EQ(c.state, "unchanged") << c.name;
      continue;
    }
    EXPECT_EQ(c.state, "changed");
    ASSERT_EQ(c.changes.size(), 2u) << render_diff_text(diff);
    EXPECT_EQ(c.changes[0].slot, 3);
    EXPECT_EQ(c.changes[0].field, "name");
    EXPECT_EQ(c.changes[0].old_value, "\"Desk, \\\"north\\\"\"");
    EXPECT_EQ(c.changes[0].new_value, "\"Reception\"");
    EXPECT_EQ(c.changes[1].slot, 40);
    EXPECT_EQ(c.changes[1].old_value, "\"\"");
    EXPECT_EQ(c.changes[1].new_value, "\"Stairs\"");
  }
  const std::string text = render_diff_text(diff);
  EXPECT_NE(text.find("  gear 3 name: \"Desk, \\\"north\\\"\" -> \"Reception\"\n"), std::string::npos) << text;
  const Value json = parse(render_diff_json(diff));
  EXPECT_EQ(json["different"].kind, json::Token::True);
}

TEST(Diff, OlderRecordsAreComparedAfterConversion) {
  // The same channels on firmware 1.3.0 and, converted as restore does, on 1.5.0.
  const auto old_entries = full_backup("1.3.0");
  auto new_entries = old_entries;
  for (auto& [member, tar] : new_entries) {
    BackupConfiguration c = read_configuration_archive(member, tar);
    Bytes converted = c.data;
    if (is_channel_record(c)) {
      ASSERT_EQ(convert_channel_1_to_3(c.data.data(), c.data.size(), &converted), 0);
    }
    tar = configuration_tar(*c.entry, converted, "1.5.0");
  }
  const BackupDiff diff = diff_backups(set_of(old_entries, "old.zip"), set_of(new_entries, "new.zip"));
  ASSERT_EQ(diff.gateway.size(), 1u);
  EXPECT_EQ(diff.gateway[0].field, "firmware_version");
  EXPECT_FALSE(diff.different);
  EXPECT_EQ(render_diff_text(diff), "The gateways differ, their configurations do not:\n"
                                    "  gateway firmware_version: \"1.3.0\" -> \"1.5.0\"\nno differences\n");
  for (const ConfigurationDiff& c : diff.configurations) {
    EXPECT_EQ(c.state, "unchanged") << c.name << "\n" << render_diff_text(diff);
    if (c.name.rfind("dali", 0) == 0) {
      EXPECT_TRUE(c.compared_as_records);
      EXPECT_EQ(*c.old_version, 1u);
      EXPECT_EQ(*c.new_version, 3u);
    }
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
  const BackupDiff reverse = diff_backups(set_of(changed, "b"), set_of(entries, "a"));
  EXPECT_EQ(reverse.configurations.back().name, "cmdrnamenvp");
  EXPECT_EQ(reverse.configurations.back().state, "added");
}

}  // namespace

namespace {

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
  const auto entries = mixed_backup();
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
