// export_channel against the in-memory gateway.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "action/action.h"
#include "testing/argv_support.h"
#include "testing/fake_gateway.h"
#include "testing/import_support.h"
#include "testing/inspect_support.h"
#include "testing/recording_reporter.h"

namespace {

using inspect_test::Bytes;
using Texts = std::vector<std::string>;
using Channels = std::vector<int32_t>;

const std::string URL = "http://127.0.0.1/api/v100/backup.ssi?config=";

std::string file_text(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return "(missing)";
  return read_and_close(file);
}

struct Captured {
  int result;
  std::string out, err;
};

// Runs `action` with a reporter that records both streams.
template <class Action>
Captured run(Action action) {
  const RecordingReporter recorded;
  const int result = action(recorded.reporter());
  return {result, recorded.out(), recorded.err()};
}

TEST(ExportChannelArguments, WrongCombinationsAndUnwritablePathsFetchNothing) {
  const std::string folder = import_test::write_file("") + ".d";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const Channels one{1}, two{1, 2};
  const Texts file{folder + "/out.csv"}, unwritable{"/nonexistent-folder/out.csv"}, into_folder{folder};
  struct Case {
    const char *ip, *backup;
    const Channels* channel;
    const Texts *gear, *groups, *inputs;
  } cases[] = {
      {nullptr, nullptr, &one, &file, nullptr, nullptr},     // no source
      {"127.0.0.1", "b.zip", &one, &file, nullptr, nullptr}, // two sources
      {"127.0.0.1", nullptr, &one, &file, &file, nullptr},   // two kinds of file
      {"127.0.0.1", nullptr, &one, nullptr, nullptr, nullptr},
      {"127.0.0.1", nullptr, nullptr, &file, nullptr, nullptr},
      {"127.0.0.1", nullptr, &two, &file, nullptr, nullptr}, // a channel without a path
      {"127.0.0.1", nullptr, &one, &unwritable, nullptr, nullptr},
      {"127.0.0.1", nullptr, &one, nullptr, nullptr, &into_folder},
  };
  for (const Case& c : cases) {
    FakeGateway gateway;
    const Captured r = run([&](const Reporter& reporter) {
      return export_channel(gateway, reporter, c.ip, c.backup, c.channel, c.gear, c.groups, c.inputs);
    });
    EXPECT_EQ(r.result, 2) << r.out << r.err;
    EXPECT_TRUE(gateway.calls.empty());
    EXPECT_TRUE(r.out == "Missing arguments for action export_channel." ||
                r.err.find("cannot be written: its folder is missing or not writable.") != std::string::npos)
        << r.out << r.err;
  }
  rmdir(folder.c_str());
}

// The records of the gateway or of a backup folder come out as their export,
// replacing what the files held, with nothing left beside them.
TEST(ExportChannel, WritesTheRecordsOfGatewayOrBackupOverExistingFiles) {
  FakeGateway gateway;
  const Bytes channel = inspect_test::channel_record("1.5.0", inspect_test::full_channel_csv(2),
                                                     inspect_test::full_group_csv(2));
  const Bytes inputs = inspect_test::input_record(inspect_test::full_input_csv(2));
  const std::string folder = import_test::write_file("") + ".d";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  for (const auto& [name, record] : {std::pair{"dali2", channel}, std::pair{"cd2", inputs}}) {
    const Bytes tar = inspect_test::configuration_tar(*find_configuration_by_name(name), record, "1.5.0");
    gateway.replies[URL + name] = tar;
    std::FILE* file = std::fopen((folder + "/" + name + ".tar").c_str(), "wb");
    ASSERT_EQ(std::fwrite(tar.data(), 1, tar.size(), file), tar.size());
    std::fclose(file);
  }
  const struct {
    int kind;
    CsvExport expected;
    const char* configuration;
  } cases[] = {{0, export_channel_csv(channel), "dali2"},
               {1, export_group_csv(channel), "dali2"},
               {2, export_input_csv(inputs), "cd2"}};
  const Channels two{2};
  for (const auto& c : cases) {
    for (const bool from_backup : {false, true}) {
      const std::string path = import_test::write_file("old contents");
      const Texts files{path};
      gateway.calls.clear();
      const Captured r = run([&](const Reporter& reporter) {
        return export_channel(gateway, reporter, from_backup ? nullptr : "127.0.0.1",
                              from_backup ? folder.c_str() : nullptr, &two, c.kind == 0 ? &files : nullptr,
                              c.kind == 1 ? &files : nullptr, c.kind == 2 ? &files : nullptr);
      });
      EXPECT_EQ(r.result, 0) << r.out << r.err;
      EXPECT_EQ(gateway.calls, from_backup ? Texts{} : Texts{"fetch " + URL + c.configuration});
      EXPECT_EQ(file_text(path), c.expected.csv);
      EXPECT_NE(r.out.find("CH=2\nFILE=" + path + "\nOK\n"), std::string::npos) << r.out;
      EXPECT_NE(access((path + ".partial").c_str(), F_OK), 0);
      unlink(path.c_str());
    }
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
