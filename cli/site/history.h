// The site's history: a bare git repository beside the site file
// ("building.csv" keeps it in "building.history"), one folder per gateway
// holding its configuration archives as fetched ("hall-2/dali1.tar"). A
// commit is made only for a run that changed something.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "site/gateway_run.h"

struct git_repository;

// The site file's path without its extension, which the files kept beside it
// share: "building.csv" keeps "building.history", "building.state", "building.lock".
std::string site_stem(const std::string& site_path);
// The history folder of a site file.
std::string history_folder(const std::string& site_path);

// An archive written into the history's object store, not yet in any version.
struct StoredArchive {
  std::string name;  // "dali1"
  std::string id;    // its object id
};

struct HistoryEntry {
  std::string id;       // full commit id
  int64_t time = 0;     // seconds since 1970
  std::string message;  // as committed
  bool changed = true;  // for a log of one gateway: its archives changed (not only named in the message)
};

class History {
 public:
  // Opens the history; with `create`, makes an empty one when there is none.
  // nullptr with `problem` set when it cannot.
  static std::unique_ptr<History> open(const std::string& folder, bool create, std::string* problem);
  ~History();
  History(const History&) = delete;
  History& operator=(const History&) = delete;

  // The archives of one gateway at `version` (a commit id, a prefix of one or
  // anything git names a commit by; "" for the latest). Empty when the
  // gateway or the version is not there, with `problem` set for a version git
  // does not know.
  std::vector<FetchedArchive> archives(const std::string& gateway, const std::string& version,
                                       std::string* problem) const;
  // Writes archives into the object store, so that only their ids need be
  // kept until the commit. Safe to call from several threads, each with a
  // History of its own. Empty with `problem` set when git refused one.
  std::vector<StoredArchive> store(const std::vector<FetchedArchive>& archives, std::string* problem);
  // Sets stored archives of a gateway for the next commit (they replace those
  // of the same name; others stay).
  void stage(const std::string& gateway, std::vector<StoredArchive> archives);
  // Commits what was staged, or, with `allow_empty`, a commit that only
  // records `message`. The new id, or "" when nothing was committed (nothing
  // staged, or a failure: `problem` says which).
  std::string commit(const std::string& message, bool allow_empty, std::string* problem);
  // Commits from the latest back; with `gateway`, only those that changed it
  // or name it in a line of their message.
  std::vector<HistoryEntry> log(const std::string& gateway) const;
  // The commit id that `version` names; "" when none.
  std::string resolve(const std::string& version) const;
  // The commit before the latest one that changed the gateway; "" when there is none.
  std::string previous_version(const std::string& gateway) const;

 private:
  explicit History(git_repository* repository) : repository_(repository) {}
  git_repository* repository_;
  std::vector<std::pair<std::string, std::vector<StoredArchive>>> staged_;
};
