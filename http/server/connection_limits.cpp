#include <map>

#include "http_server.h"

namespace httpserver {

namespace {

// The oldest connection of `account` that waits for a request; -1 when none does.
long oldest_waiting(const std::vector<OpenConnection>& open, long account) {
  long found = -1;
  for (std::size_t i = 0; i < open.size(); ++i) {
    if (open[i].account != account || open[i].answering) continue;
    if (found < 0 || open[i].opened < open[static_cast<std::size_t>(found)].opened) found = static_cast<long>(i);
  }
  return found;
}

}  // namespace

long admit(const std::vector<OpenConnection>& open, long account, long own_account) {
  std::map<long, std::size_t> held;
  for (const OpenConnection& connection : open) ++held[connection.account];
  if (account != own_account && held[account] >= max_connections_per_other_account) {
    long victim = oldest_waiting(open, account);
    return victim < 0 ? admit_refused : victim;
  }
  if (open.size() < max_connections) return static_cast<long>(open.size());
  // Full: the account with the most connections that has one waiting gives one up.
  long victim = -1;
  std::size_t most = 0;
  for (const auto& [holder, count] : held) {
    long candidate = oldest_waiting(open, holder);
    if (candidate < 0) continue;
    bool more = count > most;
    bool tie_but_older = count == most && victim >= 0 &&
                         open[static_cast<std::size_t>(candidate)].opened < open[static_cast<std::size_t>(victim)].opened;
    if (more || tie_but_older) {
      victim = candidate;
      most = count;
    }
  }
  return victim < 0 ? admit_refused : victim;
}

}  // namespace httpserver
