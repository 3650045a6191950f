#include <algorithm>

#include "http_server.h"

namespace httpserver {

namespace {

// Digits only, and small enough to add one to without overflow.
bool parse_number(const std::string& text, std::uint64_t& value) {
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

std::string trimmed(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool starts_with_bytes_unit(const std::string& field) {
  static constexpr char unit[] = "bytes=";
  if (field.size() < sizeof unit - 1) return false;
  for (std::size_t i = 0; i + 1 < sizeof unit; ++i) {
    char c = field[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != unit[i]) return false;
  }
  return true;
}

}  // namespace

int parse_ranges(const std::string& field, std::uint64_t size, std::vector<ByteRange>& ranges) {
  ranges.clear();
  if (!starts_with_bytes_unit(field)) return ranges_whole;
  std::size_t specs = 0;
  std::size_t start = 6;
  while (start <= field.size()) {
    std::size_t comma = field.find(',', start);
    if (comma == std::string::npos) comma = field.size();
    std::string range = trimmed(field.substr(start, comma - start));
    start = comma + 1;
    if (range.empty()) continue;
    if (++specs > max_ranges) return ranges_unsatisfiable;
    std::size_t dash = range.find('-');
    if (dash == std::string::npos) return ranges_whole;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    if (dash == 0) {
      // "-N": the last N bytes.
      if (!parse_number(range.substr(1), last)) return ranges_whole;
      if (last == 0 || size == 0) continue;
      ranges.push_back({last < size ? size - last : 0, size - 1});
      continue;
    }
    if (!parse_number(range.substr(0, dash), first)) return ranges_whole;
    if (dash + 1 == range.size()) {
      last = size == 0 ? 0 : size - 1;
    } else if (!parse_number(range.substr(dash + 1), last) || last < first) {
      return ranges_whole;
    }
    if (first >= size) continue;
    ranges.push_back({first, std::min(last, size - 1)});
  }
  if (specs == 0) return ranges_whole;
  if (ranges.empty()) return ranges_unsatisfiable;
  std::sort(ranges.begin(), ranges.end(), [](const ByteRange& a, const ByteRange& b) { return a.first < b.first; });
  std::vector<ByteRange> merged;
  for (const ByteRange& range : ranges) {
    if (!merged.empty() && range.first <= merged.back().last + 1) {
      merged.back().last = std::max(merged.back().last, range.last);
    } else {
      merged.push_back(range);
    }
  }
  ranges = std::move(merged);
  return ranges_partial;
}

}  // namespace httpserver
