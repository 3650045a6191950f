#include "inspect/html.h"

#include <gtest/gtest.h>

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

}  // namespace
