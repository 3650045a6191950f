#include "gateway_status.h"

#include <gtest/gtest.h>

TEST(ReadStatusOutput, TakesTheNamedLinesOrTheToolsError) {
  struct Case {
    std::string out, err;
    int exit_code;
    std::string json;
  };
  const Case cases[] = {
      {"status\tfetching http://h/api?a=b\nstatus\treceived 40 bytes.\nmodel_name=LUMARO-2\r\nserial_number=S 1\r\n", "", 0,
       R"({"model_name":"LUMARO-2","serial_number":"S 1"})"},
      {"model_name=LUMARO-2\r\n", "", 1, R"({"error":"The gateway at gw did not report its status."})"},
      {"status\treceived 2 bytes.\n", "", 0, R"({"error":"The gateway at gw did not report its status."})"},
      {"", "No answer from gw within 15 s.\n", 1, R"({"error":"No answer from gw within 15 s."})"},
      {"", "curl_easy_perform() failed: Couldn't connect to server\n\n", 0,
       R"({"error":"The gateway at gw could not be reached (Couldn't connect to server)."})"},
      {"mac=a\"b\\c\x01\n", "", 1, R"({"error":"The gateway at gw did not report its status."})"},
  };
  for (const Case& c : cases) EXPECT_EQ(status_json(read_status_output(c.out, c.err, c.exit_code, "gw")), c.json) << c.out;
  EXPECT_EQ(status_json(read_status_output("model_name=\"q\"\\\x01\n", "", 0, "gw")),
            R"({"model_name":"\"q\"\\\u0001"})");
  EXPECT_EQ(status_json(status_timed_out("gw")), R"({"error":"No answer from gw within 50 s."})");
}
