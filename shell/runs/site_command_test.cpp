#include "runs/site_command.h"

#include <gtest/gtest.h>

namespace {

using Words = std::vector<std::string>;

QuietRun ran(const std::string& out, const std::string& err, int exit_code, bool timed_out = false,
             const std::string& start_error = "") {
  return {out, err, exit_code, timed_out, start_error};
}

TEST(SiteChange, MakesTheCommandAndRefusesWhatCannotBeDone) {
  struct Case { const char* change; Words arguments; bool asks; const char* error; };
  const Case cases[] = {
      {R"({"op":"add","name":"hall-3","address":"192.0.2.12","notes":"-x, \"y\""})",
       {"add", "--notes=-x, \"y\"", "--", "/s/b.csv", "hall-3", "192.0.2.12"}, false, ""},
      // An unchanged name is no rename; an empty notes text clears the notes; a missing value stays.
      {R"({"op":"edit","name":"-h","new_name":"-h","notes":"","unpin":true})",
       {"edit", "--notes=", "--unpin", "--", "/s/b.csv", "-h"}, false, ""},
      {R"({"op":"edit","name":"h","new_name":"k","address":"192.0.2.9"})",
       {"edit", "--name=k", "--address=192.0.2.9", "--", "/s/b.csv", "h"}, false, ""},
      {R"({"op":"remove","name":"h"})", {"remove", "--", "/s/b.csv", "h"}, true, ""},
      {R"({"op":"pin","name":"h"})", {"pin", "--", "/s/b.csv", "h"}, false, ""},
      {R"({"op":"drop","name":"h"})", {}, false, "Unknown change 'drop'."},
      {R"({"op":"pin"})", {}, false, "The change names no gateway."},
      {"[1]", {}, false, "The change names no gateway."},
  };
  for (const Case& c : cases) {
    const SiteChange made = site_change("/s/b.csv", c.change);
    EXPECT_EQ(made.arguments, c.arguments) << c.change;
    EXPECT_EQ(!made.question.empty(), c.asks) << c.change;
    EXPECT_EQ(made.error, c.error) << c.change;
  }
  EXPECT_EQ(site_change("/s/b.csv", R"({"op":"remove","name":"h"})").question,
            "Remove the gateway h from the site file b.csv?\n\nIts versions stay in the site's history.");
}

TEST(SiteAnswer, PassesTheDocumentOrTellsWhyThereIsNone) {
  struct Case { const char* name; QuietRun run; QByteArray answer; };
  const Case cases[] = {
      {"list", ran(R"({"site":{},"gateways":[]})", "", 0), R"({"gateways":[],"site":{}})"},
      {"status rows, one failing", ran(R"([{"name":"a","state":"no answer"}])", "", 1),
       R"({"gateways":[{"name":"a","state":"no answer"}]})"},
      {"site file errors", ran(R"({"errors":["b.csv:7: bad"]})", "", 2), R"({"errors":["b.csv:7: bad"]})"},
      {"usage", ran(R"({"site":{}})", "usage: varnu-site list\n\n", 2), R"({"error":"usage: varnu-site list"})"},
      {"no document", ran("", "", 1), R"({"error":"varnu-site ended with exit status 1."})"},
      {"crash", ran("{", "", -1), R"({"error":"varnu-site ended with exit status -1."})"},
      {"timed out", ran("", "", -1, true), R"({"error":"varnu-site did not finish within 30 s."})"},
      {"not started", ran("", "", -1, false, "No file"), R"({"error":"varnu-site could not be started: No file"})"},
  };
  for (const Case& c : cases) EXPECT_EQ(site_answer(c.run, kSiteReadLimitMs), c.answer) << c.name;
}

TEST(SiteGatewayRow, GivesTheAddressAndThePinArguments) {
  const std::string list = R"({"gateways":[{"name":"a","address":"192.0.2.1","model":"","serial":"","mac":""},
    {"name":"b","address":"192.0.2.2","model":"LUMARO-2","serial":"LM2-1","mac":""},
    {"name":"c","address":"192.0.2.3","model":"LUMARO-2","serial":"LM,2","mac":""}]})";
  EXPECT_FALSE(site_gateway(list, "d"));
  EXPECT_FALSE(site_gateway("varnu-site: cannot read", "a"));
  struct Case { const char* name; Words arguments; bool error; };
  for (const Case& c :
       {Case{"a", {}, false}, Case{"b", {"--gateway-pin=LUMARO-2,LM2-1,"}, false}, Case{"c", {}, true}}) {
    const std::optional<SiteGateway> row = site_gateway(list, c.name);
    ASSERT_TRUE(row) << c.name;
    const PinArguments pin = gateway_pin_arguments(c.name, *row);
    EXPECT_EQ(pin.arguments, c.arguments) << c.name;
    EXPECT_EQ(!pin.error.empty(), c.error) << c.name;
  }
  EXPECT_EQ(site_gateway(list, "b")->address, "192.0.2.2");
}

TEST(RecentSites, NewestFirstEachOnceAtMostEight) {
  Words recent;
  for (int i = 0; i < 10; ++i) recent = recent_sites_with(recent, "/s/" + std::to_string(i % 9) + ".csv");
  EXPECT_EQ(recent, (Words{"/s/0.csv", "/s/8.csv", "/s/7.csv", "/s/6.csv", "/s/5.csv", "/s/4.csv", "/s/3.csv",
                           "/s/2.csv"}));
}

TEST(ReportFiles, NamesAndPdfSuffix) {
  EXPECT_EQ(report_names("[]"), Words{});
  EXPECT_EQ(report_names(R"(["a","b"])"), (Words{"a", "b"}));
  for (const char* bad : {"", "a", R"(["a",1])", R"([""])", "{}"}) EXPECT_FALSE(report_names(bad)) << bad;
  EXPECT_EQ(pdf_path("/r/handover"), "/r/handover.pdf");
  EXPECT_EQ(pdf_path("/r/handover.PDF"), "/r/handover.PDF");
  EXPECT_EQ(pdf_path("/r/.pdf"), "/r/.pdf");
}

TEST(SiteRestoreQuestion, TellsTheIdentityFirstAndThePlan) {
  const std::string plan = R"({"identity":"%s","refused":1,"configurations":[{"name":"rlc","outcome":"unchanged"},
    {"name":"dali1","outcome":"refused","reason":"record version 3 cannot go down to version 2 of firmware 1.3.1"}]})";
  const GatewayStatus gateway{
      {{"model_name", "LUMARO-2"}, {"serial_number", "LM4-9"}, {"firmware_version", "1.3.1"}}, ""};
  struct Case { const char* identity; const char* first_line; };
  for (const Case& c : {Case{"ok", "1 configuration of 2 would be refused:"},
                        Case{"not pinned", "Warning: the gateway is not pinned: nothing checks that the one at "
                                           "192.0.2.1 is the right one."},
                        Case{"other gateway at this address: serial 'LM4-9'",
                             "Warning: not the pinned gateway (other gateway at this address: serial 'LM4-9'). "
                             "The restore will be refused."}}) {
    std::string document = plan;
    document.replace(document.find("%s"), 2, c.identity);
    const SiteRestorePlan planned = read_site_restore_plan(ran(document, "", 1));
    EXPECT_EQ(planned.identity, c.identity);
    const Confirmation asked =
        history_restore_confirmation("version abc1234 of h", "192.0.2.1", gateway, planned.plan, planned.identity);
    EXPECT_TRUE(asked.warned);
    EXPECT_EQ(asked.text.substr(0, asked.text.find('\n')), c.first_line) << c.identity;
    EXPECT_NE(asked.text.find("- 1 channel record cannot go down to version 2: upgrade the gateway's firmware first\n\n"
                              "Restore version abc1234 of h onto the gateway at 192.0.2.1?\n\n"
                              "Gateway: LUMARO-2, serial number LM4-9, firmware 1.3.1.\n\n"
                              "Plan: 1 uploaded unchanged, 0 converted, 1 refused."),
              std::string::npos)
        << asked.text;
  }
  const SiteRestorePlan none = read_site_restore_plan(ran("", "varnu-site: hall-2 has no backup\n", 1));
  EXPECT_EQ(none.plan.problem, "varnu-site: hall-2 has no backup");
  EXPECT_NE(history_restore_confirmation("v", "a", gateway, none.plan, none.identity).text.find("not known"),
            std::string::npos);
}

}  // namespace
