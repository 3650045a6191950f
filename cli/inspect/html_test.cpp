#include "inspect/html.h"

#include <gtest/gtest.h>

#include <functional>

#include "inspect/report_html.h"
#include "testing/inspect_support.h"

namespace {

TEST(Html, TextIsNeverMarkup) {
  const std::pair<std::string, std::string> cases[] = {
      {"Stair light", "Stair light"},
      {"<b>&\"x\"</b>", "&lt;b&gt;&amp;&quot;x&quot;&lt;/b&gt;"},
      {"it's &amp; <!-- -->", "it&#39;s &amp;amp; &lt;!-- --&gt;"},
      {"</td><script>", "&lt;/td&gt;&lt;script&gt;"},
      // UTF-8 stays as it is, up to four bytes.
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xa1", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xa1"},
      // Control characters show as their pictures: NUL, tab, newline, ESC, DEL.
      {std::string("a\0b", 3), "a\xe2\x90\x80" "b"},
      {"\t\n\x1b\x7f", "\xe2\x90\x89\xe2\x90\x8a\xe2\x90\x9b\xe2\x90\xa1"},
      // C1 controls, written in UTF-8 or as bare bytes, are replaced.
      {"\xc2\x85|\x85", "\xef\xbf\xbd|\xef\xbf\xbd"},
      // Other bytes that are not UTF-8 read as Latin-1: é, a cut sequence, an overlong '<', a surrogate.
      {"caf\xe9", "caf\xc3\xa9"},
      {"\xe2\x82", "\xc3\xa2\xef\xbf\xbd"},
      {"\xc0\xbc", "\xc3\x80\xc2\xbc"},
      {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\xef\xbf\xbd"},
  };
  for (const auto& [text, html] : cases) EXPECT_EQ(html_text(text), html) << text;
}

TEST(Html, TablesEscapeEveryCell) {
  struct Case {
    HtmlTable table;
    std::string html;
  };
  const Case cases[] = {
      {{"gear", {"Name", "<Groups>"}, {{"a&b", "1"}, {"\"q\"", ""}}, false},
       "<table class=\"gear\">\n<thead><tr><th>Name</th><th>&lt;Groups&gt;</th></tr></thead>\n<tbody>\n"
       "<tr><td>a&amp;b</td><td>1</td></tr>\n<tr><td>&quot;q&quot;</td><td></td></tr>\n</tbody>\n</table>\n"},
      {{"", {}, {{"Serial", "<i>"}}, true},
       "<table>\n<tbody>\n<tr><th>Serial</th><td>&lt;i&gt;</td></tr>\n</tbody>\n</table>\n"},
      {{"facts", {"only"}, {}, false},
       "<table class=\"facts\">\n<thead><tr><th>only</th></tr></thead>\n<tbody>\n</tbody>\n</table>\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(html_table(c.table), c.html);
  EXPECT_EQ(html_element("p", "<b>", "missing"), "<p class=\"missing\">&lt;b&gt;</p>");
}

// Whatever a backup lacks is said in the gateway's section, never left out.
TEST(Report, SaysWhatEachGatewayLacks) {
  const BackupSet full = inspect_test::set_of(inspect_test::full_backup("1.5.0"), "full");
  const auto named = [](BackupSet& set, const char* name) -> BackupConfiguration& {
    for (BackupConfiguration& c : set.configurations)
      if (c.name == name) return c;
    ADD_FAILURE() << "no configuration " << name;
    return set.configurations.front();
  };
  struct Case {
    std::function<void(BackupSet&)> change;
    std::string shown;
  };
  const Case cases[] = {
      {[](BackupSet&) {},
       "<td>63</td><td>Channel 3 luminaire number 63 xy</td><td>DT0</td>"
       "<td>0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15</td><td>254 / – / 254 / 63</td>"},
      {[](BackupSet&) {},
       "<td>9</td><td>Keypad 9 of ch 4</td><td>6</td><td>3 push button, 1 occupancy, 1 light, 1 type 9</td>"},
      {[&](BackupSet& s) { named(s, "dali2").data.resize(100); },
       "<p class=\"missing\">The gear record (dali2) could not be read: "},
      {[&](BackupSet& s) { named(s, "cd3").problem = "<cut>"; },
       "<p class=\"missing\">The input-device record (cd3) could not be read: &lt;cut&gt;</p>"},
      {[&](BackupSet& s) { s.configurations.erase(s.configurations.begin() + 5); },
       "<p class=\"missing\">The backup holds no gear record of this channel.</p>"},
      {[&](BackupSet& s) { named(s, "rlc").problem = "not a tar"; }, "<td>rlc</td><td>not a tar</td>"},
      {[](BackupSet& s) { s.problem = "no such file"; }, "The backup could not be read: no such file"},
  };
  for (const Case& c : cases) {
    BackupSet set = full;
    c.change(set);
    const ReportDocument report{"Site", "2026-12-08", "", {}, {{"gw", "", "", "v1", set}, {"spare", "", "", "", {}}}};
    const std::string html = render_report_html(report);
    EXPECT_NE(html.find(c.shown), std::string::npos) << c.shown;
    EXPECT_NE(html.find("<h2>Gateway spare</h2>"), std::string::npos);
    EXPECT_NE(html.find("No backup yet"), std::string::npos);
  }
}

}  // namespace
