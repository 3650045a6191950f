#include <gtest/gtest.h>

#include "http_server.h"

using namespace httpserver;

namespace {

// Feeds `text` one byte at a time, as a slow client sends it; returns the
// scanner's first verdict and how many bytes it had then.
std::pair<int, std::size_t> scan_bytewise(const std::string& text, std::size_t& end) {
  HeadScanner scanner;
  std::string buffer;
  for (char c : text) {
    buffer += c;
    int result = scanner.scan(buffer, end);
    if (result != head_incomplete) return {result, buffer.size()};
  }
  return {head_incomplete, buffer.size()};
}

std::string fields(std::size_t count, std::size_t value_size) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += "X-F" + std::to_string(i) + ": " + std::string(value_size, 'v') + "\r\n";
  return text;
}

}  // namespace

TEST(HttpRequestHead, ScannerStopsAtTheLimitWhileBytesArrive) {
  const std::string line = "GET / HTTP/1.1\r\n";
  struct Case {
    std::string text;
    int expected;
    std::size_t most_bytes;  // the scanner has decided by then
  };
  const Case cases[] = {
      {line + "Host: a\r\n\r\nGET /next", head_complete, 0},
      {"\r\n" + line + "Host: a\n\n", head_complete, 0},
      {line + fields(64, 200) + "\r\n", head_complete, 0},
      {"GET /" + std::string(100000, 'a'), head_line_too_long, max_request_line + 3},
      {line + "X: " + std::string(100000, 'a'), head_too_big, line.size() + max_header_bytes + 5},
      {line + fields(1000, 1), head_too_big, line.size() + 65 * 12},
      {line + fields(60, 16000), head_too_big, max_head_bytes + 1},
      {line + "Host: a\r\n", head_incomplete, 0},
  };
  for (const Case& c : cases) {
    std::size_t end = 0;
    auto [result, seen] = scan_bytewise(c.text, end);
    EXPECT_EQ(result, c.expected) << c.text.substr(0, 40);
    if (c.most_bytes) {
      EXPECT_LE(seen, c.most_bytes) << c.text.substr(0, 40);
    }
    if (result == head_complete) {
      EXPECT_TRUE(c.text.substr(end - 2, 2) == "\n\n" || c.text.substr(end - 4, 4) == "\r\n\r\n");
    }
    // Whole at once, the verdict is the same.
    std::size_t whole_end = 0;
    HeadScanner scanner;
    EXPECT_EQ(scanner.scan(c.text, whole_end), result) << c.text.substr(0, 40);
    EXPECT_EQ(whole_end, end);
  }
}

TEST(HttpRequestHead, ParsesRequestLineAndFields) {
  RequestHead request;
  ASSERT_EQ(parse_request_head("GET /a%20b/c%2e?x=1&challenge=ab%43+d HTTP/1.1\r\nHost:  127.0.0.1:1 \r\n"
                               "RANGE: bytes=0-1\r\nX-Empty:\r\nhost: second\r\n\r\n",
                               request),
            0);
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.target, "/a%20b/c%2e?x=1&challenge=ab%43+d");
  EXPECT_EQ(request.path, "/a b/c.");
  EXPECT_FALSE(request.http10);
  EXPECT_EQ(request.value("host"), "127.0.0.1:1");
  EXPECT_EQ(request.count("host"), 2u);
  EXPECT_EQ(request.value("range"), "bytes=0-1");
  EXPECT_EQ(request.value("x-empty"), "");
  EXPECT_EQ(query_value(request.query, "challenge"), "abC d");
  EXPECT_EQ(query_value(request.query, "x"), "1");
  EXPECT_EQ(query_value(request.query, "missing"), "");
  ASSERT_EQ(parse_request_head("HEAD / HTTP/1.0\n\n", request), 0);
  EXPECT_TRUE(request.http10);
}

TEST(HttpRequestHead, RefusesMalformedAndOversizedHeads) {
  const std::pair<std::string, int> cases[] = {
      {"NONSENSE\r\n\r\n", 400},
      {"GET / HTTP/2.0\r\n\r\n", 400},
      {"GET  / HTTP/1.1\r\n\r\n", 400},
      {"G(T / HTTP/1.1\r\n\r\n", 400},
      {"GET /%zz HTTP/1.1\r\n\r\n", 400},
      {"GET /% HTTP/1.1\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nNo colon\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nName : v\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nA: b\r\n folded\r\n\r\n", 400},
      {"\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\n" + fields(65, 1) + "\r\n", 431},
      {"GET / HTTP/1.1\r\n" + fields(2, 8200) + "\r\n", 431},
      {"GET / HTTP/1.1\r\n" + fields(64, 240) + "\r\n", 0},
  };
  for (const auto& [head, status] : cases) {
    RequestHead request;
    EXPECT_EQ(parse_request_head(head, request), status) << head.substr(0, 40);
  }
}
