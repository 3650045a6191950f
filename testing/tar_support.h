// Helpers for the tests of the tar container and of what builds on it.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tar/tar.h"

// An archive with these members (name, bytes), written by our writer in memory.
template <typename Data>
std::vector<uint8_t> build_archive(const std::vector<std::pair<std::string, Data>>& members) {
  TarArchive tar;
  tar_memory_writer(&tar);
  for (const auto& [name, data] : members) {
    EXPECT_EQ(tar_write_file_header(&tar, name.c_str(), static_cast<uint32_t>(data.size())), TarStatus::Success);
    EXPECT_EQ(tar_write_data(&tar, data.data(), static_cast<uint32_t>(data.size())), TarStatus::Success);
  }
  EXPECT_EQ(tar_finalize(&tar), TarStatus::Success);
  const std::span<const uint8_t> bytes = tar_written_bytes(&tar);
  EXPECT_EQ(tar.memory.size(), bytes.size());
  return {bytes.begin(), bytes.end()};
}

// For tests against other programs: runs a shell command and returns its
// standard output, with "<exit N>" appended when it did not succeed.
inline std::string command_output(const std::string& command) {
  std::string out;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return "<popen failed>";
  char chunk[4096];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
  const int status = pclose(pipe);
  return status == 0 ? out : out + "<exit " + std::to_string(status) + ">";
}
