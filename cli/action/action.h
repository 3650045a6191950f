// The actions of varnu-cli. Each reaches the gateway only through
// `gateway` and tells what happens through `reporter`; lists and texts are
// nullptr when absent. Results: 0 success, 1 failure, 2 missing or wrong
// arguments.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/net.h"
#include "util/reporter.h"

// Action "get_status": reads the gateway's status report; with `json`, prints
// all of it as one JSON object instead of the model line.
int get_status(Gateway& gateway, const Reporter& reporter, const char* ip, bool json = false);
// Action "get_backup": fetches the configurations into a backup archive or folder.
// 0 when every configuration was stored.
int get_backup(Gateway& gateway, const Reporter& reporter, const char* ip, const char* backupfileout,
               const char* backupfileouttype, const std::vector<std::string>* backupconfig);
// Action "put_backup": restores a backup archive or a single tar onto the gateway;
// with `plan`, tells per configuration what a restore would do and writes
// nothing (with `json` also as one JSON document, which names `identity`,
// the caller's check of who answers, when given). 1 when any would be refused.
int put_backup(Gateway& gateway, const Reporter& reporter, const char* ip, const char* backupfilein,
               bool plan = false, bool json = false, const char* identity = nullptr);
// Action "setup_channel": a 0 in `channel` ends it. 0 when every channel
// handled was pushed and restored, 1 when any was skipped or failed or the
// run was stopped.
int setup_channel(Gateway& gateway, const Reporter& reporter, const char* ip, const std::vector<int32_t>* channel,
                  const std::vector<std::string>* channelcsvfile, const std::vector<std::string>* channelgroupscsvfile,
                  const std::vector<std::string>* channelinputscsvfile);
// Action "push_firmware": 0 when uploaded and the upgrade was accepted (with
// `verify`: and the gateway came back running the image's version), 2 without
// an address or a firmware file.
int push_firmware(Gateway& gateway, const Reporter& reporter, const char* ip, const char* firmwarefile,
                  bool verify = false);
// Action "show_backup": a backup archive, configuration archive or backup
// folder as text, or as one JSON document with `json`.
int show_backup(const Reporter& reporter, const char* backupfilein, bool json);
// Action "diff_backup": as diff(1), 0 when no configuration differs, 1 when
// any does, 2 when either backup cannot be read or one is missing.
int diff_backup(const Reporter& reporter, const char* backupfilein, const char* with, bool json);
// Action "export_channel": one CSV file per channel, of the kind whose list is
// given, from the gateway at `ip` or from the backup `backupfilein`. 0 when
// every file was written; 2 for missing arguments or an unwritable path.
int export_channel(Gateway& gateway, const Reporter& reporter, const char* ip, const char* backupfilein,
                   const std::vector<int32_t>* channel, const std::vector<std::string>* channelcsvfile,
                   const std::vector<std::string>* channelgroupscsvfile,
                   const std::vector<std::string>* channelinputscsvfile);
