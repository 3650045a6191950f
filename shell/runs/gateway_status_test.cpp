#include "runs/gateway_status.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {

std::string compact(const QJsonObject& object) {
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

}  // namespace

TEST(ReadStatusOutput, TakesTheReportsStringMembersOrTheToolsError) {
  struct Case {
    std::string out, err;
    int exit_code;
    std::string json;
  };
  const Case cases[] = {
      {"varnu-cli\nACTION=get_status\n" R"({"model_name":"LUMARO-2","serial_number":"S 1","mac":"00:11"} )" "\n", "", 0,
       R"({"mac":"00:11","model_name":"LUMARO-2","serial_number":"S 1"})"},
      {R"({"model_name":"LUMARO-2"})", "", 1, R"({"error":"The gateway at gw did not report its status."})"},
      {R"({"serial_number":"S 1"})", "", 0, R"({"error":"The gateway at gw did not report its status."})"},
      // Only a flat object of strings is a report: the old name=value lines, numbers or nesting are not.
      {"model_name=LUMARO-2\r\n", "", 0, R"({"error":"The gateway at gw did not report its status."})"},
      {R"({"model_name":"LUMARO-2","channels":4})", "", 0, R"({"error":"The gateway at gw did not report its status."})"},
      {R"({"model_name":"LUMARO-2","x":{"y":"z"}})", "", 0, R"({"error":"The gateway at gw did not report its status."})"},
      {R"({"model_name":"LUMARO-2")", "", 0, R"({"error":"The gateway at gw did not report its status."})"},
      {"", "No answer from gw within 15 s.\n", 1, R"({"error":"No answer from gw within 15 s."})"},
      {"", "curl_easy_perform() failed: Couldn't connect to server\n\n", 1,
       R"({"error":"The gateway at gw could not be reached (Couldn't connect to server)."})"},
  };
  for (const Case& c : cases) EXPECT_EQ(compact(status_json(read_status_output(c.out, c.err, c.exit_code, "gw"))), c.json) << c.out;
  EXPECT_EQ(compact(status_json(read_status_output(R"({"model_name":"\"q\"\\\u0001é"})", "", 0, "gw"))),
            "{\"model_name\":\"\\\"q\\\"\\\\\\u0001\xC3\xA9\"}");
  EXPECT_EQ(compact(status_json(status_timed_out("gw"))), R"({"error":"No answer from gw within 50 s."})");
}
