// The account a backup keeps of itself: what was asked for, what was saved,
// and what is missing and why. It travels in the backup as one extra member
// (manifest.json), which no configuration name matches, so a restore passes
// over it as a configuration and reads it only to name what is missing.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

constexpr const char* MANIFEST_NAME = "manifest.json";

struct MissingConfiguration {
  std::string name;    // "dali2"
  std::string reason;  // "HTTP 500"
};

struct BackupManifest {
  std::string gateway;  // the address it was taken from
  std::vector<std::string> requested, saved;
  std::vector<MissingConfiguration> missing;
};

struct JsonWriter;

std::string manifest_json(const BackupManifest& manifest);
// The missing configurations as a JSON array of {"name", "reason"} objects.
void write_missing_json(JsonWriter& w, const std::vector<MissingConfiguration>& missing);
// Absent when the bytes are not a manifest.
std::optional<BackupManifest> read_manifest(std::span<const uint8_t> bytes);
// "Backup incomplete: dali2 missing (HTTP 500), cd1 missing (...)"; empty when nothing is missing.
std::string incomplete_text(const BackupManifest& manifest);
