#include "http_server.h"

#include <gtest/gtest.h>

using httpserver::access_log_line;

namespace {

std::tm at(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

}  // namespace

TEST(HttpAccessLog, OneLineWithTimePeerRequestStatusAndSize) {
  EXPECT_EQ(access_log_line(at(2026, 12, 7, 9, 5, 3), "127.0.0.1:50312", "GET", "/app.css?v=2", 200, 2345),
            "2026-12-07 09:05:03 127.0.0.1:50312 GET /app.css?v=2 200 2345\n");
}

TEST(HttpAccessLog, ClientTextCannotSplitOrForgeLines) {
  std::string line = access_log_line(at(2026, 1, 2, 3, 4, 5), "127.0.0.1:1", "GET",
                                     "/x\r\n2026-01-02 03:04:05 127.0.0.1:1 GET /forged 200 1\x7f\xc3\xa9\\ ", 404, 0);
  EXPECT_EQ(line,
            "2026-01-02 03:04:05 127.0.0.1:1 GET "
            "/x\\x0D\\x0A2026-01-02\\x2003:04:05\\x20127.0.0.1:1\\x20GET\\x20/forged\\x20200\\x201\\x7F\\xC3\\xA9\\x5C\\x20"
            " 404 0\n");
}

TEST(HttpAccessLog, EmptyFieldsShowAsDashAndLongTargetsAreCut) {
  // A request line the library could not parse has neither method nor target.
  EXPECT_EQ(access_log_line(at(2026, 1, 2, 3, 4, 5), "127.0.0.1:1", "", "", 400, 0),
            "2026-01-02 03:04:05 127.0.0.1:1 - - 400 0\n");
  std::string line = access_log_line(at(2026, 1, 2, 3, 4, 5), "p", "GET", "/" + std::string(5000, 'a'), 404, 0);
  EXPECT_LT(line.size(), 600u);
  EXPECT_NE(line.find("aaa... 404 0\n"), std::string::npos);
}
