#include "backup/manifest.h"

#include "json/json.h"
#include "util/json_writer.h"

namespace {

void write_names(JsonWriter& w, const char* key, const std::vector<std::string>& names) {
  json_key(w, key);
  json_begin_array(w);
  for (const std::string& name : names) json_string(w, name);
  json_end_array(w);
}

}  // namespace

std::string manifest_json(const BackupManifest& manifest) {
  JsonWriter w;
  json_begin_object(w);
  json_key(w, "gateway");
  json_string(w, manifest.gateway);
  json_key(w, "complete");
  json_bool(w, manifest.missing.empty());
  write_names(w, "requested", manifest.requested);
  write_names(w, "saved", manifest.saved);
  json_key(w, "missing");
  write_missing_json(w, manifest.missing);
  json_end_object(w);
  return w.out + "\n";
}

void write_missing_json(JsonWriter& w, const std::vector<MissingConfiguration>& missing) {
  json_begin_array(w);
  for (const MissingConfiguration& m : missing) {
    json_begin_object(w);
    json_key(w, "name");
    json_string(w, m.name);
    json_key(w, "reason");
    json_string(w, m.reason);
    json_end_object(w);
  }
  json_end_array(w);
}

std::optional<BackupManifest> read_manifest(std::span<const uint8_t> bytes) {
  BackupManifest manifest;
  json::JsonReader reader;
  json::open_bytes(reader, bytes.data(), bytes.size());
  // Depth 1 holds the manifest's members, depth 2 the lists, depth 3 the missing ones' fields.
  std::string list, field;
  int depth = 0;
  bool expect_name = false;
  json::Token token;
  while ((token = json::next_token(reader)) != json::Token::Done && token != json::Token::Error) {
    if (token == json::Token::ObjectStart || token == json::Token::ArrayStart) {
      if (depth == 2 && list == "missing") manifest.missing.emplace_back();
      ++depth;
      expect_name = token == json::Token::ObjectStart;
      continue;
    }
    if (token == json::Token::ObjectEnd || token == json::Token::ArrayEnd) {
      --depth;
      expect_name = depth == 1 || depth == 3;
      continue;
    }
    const std::string text = token == json::Token::String ? json::token_text(reader) : "";
    if (expect_name) {
      (depth == 1 ? list : field) = text;
      expect_name = false;
      continue;
    }
    expect_name = depth == 1 || depth == 3;
    if (depth == 1 && list == "gateway") manifest.gateway = text;
    if (depth == 2 && list == "requested") manifest.requested.push_back(text);
    if (depth == 2 && list == "saved") manifest.saved.push_back(text);
    if (depth == 3 && list == "missing" && !manifest.missing.empty()) {
      if (field == "name") manifest.missing.back().name = text;
      if (field == "reason") manifest.missing.back().reason = text;
    }
  }
  const bool read = token == json::Token::Done && !manifest.requested.empty();
  json::close(reader);
  if (!read) return std::nullopt;
  return manifest;
}

std::string incomplete_text(const BackupManifest& manifest) {
  std::string text;
  for (const MissingConfiguration& missing : manifest.missing)
    text += (text.empty() ? "Backup incomplete: " : ", ") + missing.name + " missing (" + missing.reason + ")";
  return text;
}
