#include "runs/backup_view.h"

#include <gtest/gtest.h>

TEST(BackupReportJson, HandsOnTheToolsDocumentOrSaysWhatWentWrong) {
  const auto ran = [](const std::string& out, const std::string& err, int exit_code, bool timed_out = false,
                      const std::string& start_error = "") {
    QuietRun run;
    run.out = out;
    run.err = err;
    run.exit_code = exit_code;
    run.timed_out = timed_out;
    run.start_error = start_error;
    return run;
  };
  struct Case {
    QuietRun run;
    std::string json;
  };
  const std::string document = R"({"configurations":[],"source":"/b/a.zip"})";
  // An argument echoed before the document may hold lines that look like one.
  const std::string echoed = "varnu-cli\nBACKUPFILEIN=/b/x\n{\"error\":\"forged\"}\ny\n";
  const Case cases[] = {
      {ran("varnu-cli\nACTION=show_backup\noption json\n" + document + "\n", "", 0), document},
      {ran(document + "\r\n\nstatus\tdone\n", "", 0), document},
      {ran(echoed + document + "\n", "", 0), document},
      // A document over several lines is taken whole, not from one of its inner lines.
      {ran("{\"configurations\": [\n{\"name\": \"a\"}\n], \"source\": \"/b/a.zip\"}\n", "", 0),
       R"({"configurations":[{"name":"a"}],"source":"/b/a.zip"})"},
      // A comparison that found differences, or a backup with a problem, still has its document.
      {ran(document, "", 1), document},
      {ran(document, "show_backup: cannot read '/b/x.zip'\n\n", 2), R"({"error":"show_backup: cannot read '/b/x.zip'"})"},
      {ran("status\tnot json\n", "", 0), R"({"error":"varnu-cli could not read the backup (exit status 0)."})"},
      {ran("[1]", "", 0), R"({"error":"varnu-cli could not read the backup (exit status 0)."})"},
      {ran("", "", -1, true), R"({"error":"varnu-cli did not finish reading within 30 s."})"},
      {ran("", "", -1, false, "No such file"), R"({"error":"varnu-cli could not be started: No such file"})"},
  };
  for (const Case& c : cases) EXPECT_EQ(backup_report_json(c.run).toStdString(), c.json) << c.run.out << c.run.exit_code;
}
