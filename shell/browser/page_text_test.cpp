#include "browser/page_text.h"

#include <gtest/gtest.h>

TEST(HtmlEscape, ReplacesEveryMarkupCharacter) {
  EXPECT_EQ(html_escape("<a href=\"x\" title='y'>&amp;</a>"),
            "&lt;a href=&quot;x&quot; title=&#39;y&#39;&gt;&amp;amp;&lt;/a&gt;");
  EXPECT_EQ(html_escape("plain text \xc3\xa9"), "plain text \xc3\xa9");
}

TEST(LoadErrorPage, HasAShortTitleAndNamesTheUrlTheErrorAndTheCode) {
  const std::string page = load_error_page("http://127.0.0.1:7681/", "net::ERR_CONNECTION_REFUSED", -102);
  EXPECT_EQ(page.rfind("<html><head><title>varnkit: page not available</title></head><body bgcolor=\"white\">", 0), 0u);
  EXPECT_NE(page.find("<h2>Failed to load URL http://127.0.0.1:7681/ with error "
                      "net::ERR_CONNECTION_REFUSED (-102).</h2>"),
            std::string::npos);
}

TEST(LoadErrorPage, ShowsMarkupFromOutsideAsText) {
  const std::string page = load_error_page("http://h/#<script>alert(1)</script>", "<b>bad</b> & \"worse\"", 7);
  EXPECT_EQ(page.find("<script>"), std::string::npos);
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_NE(page.find("http://h/#&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(page.find("&lt;b&gt;bad&lt;/b&gt; &amp; &quot;worse&quot; (7)."), std::string::npos);
}
