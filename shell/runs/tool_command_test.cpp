#include "runs/tool_command.h"

#include <gtest/gtest.h>

using Arguments = std::vector<std::string>;

TEST(NativeActionByName, AcceptsExactlyTheActionFunctions) {
  EXPECT_EQ(native_action_by_name("native_actionBackup"), NativeAction::Backup);
  EXPECT_EQ(native_action_by_name("native_actionRestore"), NativeAction::Restore);
  EXPECT_EQ(native_action_by_name("native_actionFirmwareUpgrade"), NativeAction::FirmwareUpgrade);
  EXPECT_EQ(native_action_by_name("native_actionSetupChannel"), NativeAction::SetupChannel);
  EXPECT_EQ(native_action_by_name("native_actionExportChannel"), NativeAction::ExportChannel);
  for (const char* other : {"", "native_actionbackup", "native_actionBackup ", "/native_actionBackup",
                            "native_appVersion", "native_actionRestoreX"})
    EXPECT_FALSE(native_action_by_name(other)) << other;
}

TEST(PathPick, AFolderForBackupASaveDialogForTheExportAndAFileToReadOtherwise) {
  EXPECT_EQ(path_pick(NativeAction::Backup), PathPick::Folder);
  EXPECT_EQ(path_pick(NativeAction::ExportChannel), PathPick::SaveFile);
  for (NativeAction action : {NativeAction::Restore, NativeAction::FirmwareUpgrade, NativeAction::SetupChannel})
    EXPECT_EQ(path_pick(action), PathPick::OpenFile);
}

TEST(ToolArguments, BackupJoinsEveryOptionWithItsValue) {
  EXPECT_EQ(tool_arguments(NativeAction::Backup, "10.0.0.5", "/home/ann/backups"),
            (Arguments{"--action=get_backup", "--ip=10.0.0.5", "--backupfileouttype=zip",
                       "--backupfileout=/home/ann/backups"}));
}

TEST(ToolArguments, RestoreAndFirmwareGiveActionAndAddressAsSeparateWords) {
  EXPECT_EQ(tool_arguments(NativeAction::Restore, "10.0.0.5", "/b/backup.zip"),
            (Arguments{"--action", "put_backup", "--ip", "10.0.0.5", "--backupfilein=/b/backup.zip"}));
  EXPECT_EQ(tool_arguments(NativeAction::FirmwareUpgrade, "10.0.0.5", "/f/fw.zip"),
            (Arguments{"--action", "push_firmware", "--ip", "10.0.0.5", "--verify", "--firmwarefile=/f/fw.zip"}));
}

TEST(ToolArguments, AddressAndPathStayOneArgumentWhateverTheyHold) {
  const std::string address = "127.0.0.1:80; touch /tmp/x \"$(id)\" --action=get_status";
  const std::string path = "/tmp/my backups/a\"b'c;d";
  const Arguments backup = tool_arguments(NativeAction::Backup, address, path);
  ASSERT_EQ(backup.size(), 4u);
  EXPECT_EQ(backup[1], "--ip=" + address);
  EXPECT_EQ(backup[3], "--backupfileout=" + path);
  const Arguments restore = tool_arguments(NativeAction::Restore, address, path);
  ASSERT_EQ(restore.size(), 5u);
  EXPECT_EQ(restore[3], address);
  EXPECT_EQ(restore[4], "--backupfilein=" + path);
}

TEST(ToolArguments, LongPathsAreNotCut) {
  const std::string path = "/" + std::string(4000, 'p');
  EXPECT_EQ(tool_arguments(NativeAction::FirmwareUpgrade, "a", path).back(), "--firmwarefile=" + path);
}

TEST(ToolArguments, ChannelSetupNamesTheChannelAndTheKindsListWithThePathAsJson) {
  const std::pair<const char*, const char*> kinds[] = {
      {"gear", "--channelcsvfile="}, {"groups", "--channelgroupscsvfile="}, {"inputs", "--channelinputscsvfile="}};
  for (const auto& [kind, option] : kinds) {
    const std::optional<ChannelChoice> choice = channel_choice("3", kind);
    ASSERT_TRUE(choice) << kind;
    for (const auto& [action, name] : {std::pair{NativeAction::SetupChannel, "setup_channel"},
                                       {NativeAction::ExportChannel, "export_channel"}})
      EXPECT_EQ(tool_arguments(action, "gw", "/c/a \"b\"\\c.csv", *choice),
                (Arguments{"--action", name, "--ip", "gw", "--channel=3",
                           std::string(option) + "\"/c/a \\\"b\\\"\\\\c.csv\""}))
          << kind << " " << name;
  }
  for (const auto& [channel, kind] : {std::pair{"0", "gear"}, {"5", "gear"}, {"12", "gear"}, {"", "gear"},
                                      {"1", "Gear"}, {"1", ""}, {"1", "inputs "}})
    EXPECT_FALSE(channel_choice(channel, kind)) << channel << " " << kind;
}

TEST(PathDialog, SaysWhatForAndFiltersByTypeWithAllFilesSecond) {
  EXPECT_EQ(path_dialog(NativeAction::Backup, "192.0.2.10").title, "Choose the folder for the backup of 192.0.2.10");
  EXPECT_TRUE(path_dialog(NativeAction::Backup, "gw").filters.empty());
  const PathDialog restore = path_dialog(NativeAction::Restore, "gw");
  EXPECT_EQ(restore.title, "Choose a backup to restore");
  EXPECT_EQ(restore.filters, (Arguments{"Backups (*.zip *.tar)", "All files (*)"}));
  EXPECT_EQ(path_dialog(NativeAction::FirmwareUpgrade, "gw").filters,
            (Arguments{"Firmware packages (*.bin *.binary)", "All files (*)"}));
  EXPECT_EQ(path_dialog(NativeAction::SetupChannel, "gw", {2, "gear"}).filters, (Arguments{"CSV files (*.csv)", "All files (*)"}));
  EXPECT_NE(path_dialog(NativeAction::Restore, "gw").kind, path_dialog(NativeAction::FirmwareUpgrade, "gw").kind);
  EXPECT_EQ(path_dialog(NativeAction::ExportChannel, "192.0.2.10", {3, "groups"}).title,
            "Save channel 3 of 192.0.2.10 as CSV");
}

TEST(RunLog, NamesOneFileByTimeActionAndGatewayAndFindsTheSavedArchive) {
  EXPECT_EQ(log_file_name("20260102-030405", NativeAction::Restore, "192.0.2.10"), "20260102-030405-restore-192.0.2.10.log");
  EXPECT_EQ(log_file_name("20260102-030405", NativeAction::SetupChannel, "[fe80::1%eth0]:80/../x"),
            "20260102-030405-channel-_fe80__1_eth0__80_.._x.log");
  for (const char* name : {"20260102-030405-backup-gw.log", "a.log"}) EXPECT_TRUE(is_log_file_name(name)) << name;
  for (const char* name : {"", ".log", "../a.log", "a/b.log", "a.txt", ".hidden.log"}) EXPECT_FALSE(is_log_file_name(name)) << name;
}

TEST(LogsToPrune, KeepsTheNewestByCountAndByBytes) {
  std::vector<RunLogFile> logs;
  for (int i = 0; i < 203; ++i) logs.push_back({"2026" + std::to_string(1000 + i) + "-backup.log", 1});
  std::vector<std::string> pruned = logs_to_prune(logs);
  EXPECT_EQ(pruned, (std::vector<std::string>{"20261002-backup.log", "20261001-backup.log", "20261000-backup.log"}));
  // 20 MiB each: the newest two fit in 50 MiB, the third would not; a newest log bigger than the limit stays.
  const std::vector<RunLogFile> big = {{"a.log", 20u << 20}, {"c.log", 20u << 20}, {"b.log", 20u << 20}};
  EXPECT_EQ(logs_to_prune(big), std::vector<std::string>{"a.log"});
  EXPECT_EQ(logs_to_prune({{"only.log", 60u << 20}}), std::vector<std::string>{});
}
