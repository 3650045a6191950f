#include "page_text.h"

#include <gtest/gtest.h>

TEST(Base64, MatchesTheStandardVectors) {
  EXPECT_EQ(base64_encode(""), "");
  EXPECT_EQ(base64_encode("f"), "Zg==");
  EXPECT_EQ(base64_encode("fo"), "Zm8=");
  EXPECT_EQ(base64_encode("foo"), "Zm9v");
  EXPECT_EQ(base64_encode("foob"), "Zm9vYg==");
  EXPECT_EQ(base64_encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(base64_encode("foobar"), "Zm9vYmFy");
}

TEST(Base64, EncodesHighBytesAndZeros) {
  EXPECT_EQ(base64_encode(std::string("\xff\xfe\xfd", 3)), "//79");
  EXPECT_EQ(base64_encode(std::string("\0\0", 2)), "AAA=");
}

TEST(UriEncode, KeepsOnlyUnreservedCharacters) {
  EXPECT_EQ(uri_encode("Az09-._~"), "Az09-._~");
  EXPECT_EQ(uri_encode("a b+c/d=e"), "a%20b%2Bc%2Fd%3De");
  EXPECT_EQ(uri_encode("\xc3\xa9%"), "%C3%A9%25");
}

TEST(DataUri, CarriesTheTextAsEncodedBase64) {
  EXPECT_EQ(GetDataUri("<h2>hi</h2>", "text/html"), "data:text/html;base64,PGgyPmhpPC9oMj4%3D");
  EXPECT_EQ(GetDataUri("<p>\xc3\xa9 \xe2\x9c\x93</p>", "text/html"),
            "data:text/html;base64,PHA%2Bw6kg4pyTPC9wPg%3D%3D");
}

TEST(HtmlEscape, ReplacesEveryMarkupCharacter) {
  EXPECT_EQ(html_escape("<a href=\"x\" title='y'>&amp;</a>"),
            "&lt;a href=&quot;x&quot; title=&#39;y&#39;&gt;&amp;amp;&lt;/a&gt;");
  EXPECT_EQ(html_escape("plain text \xc3\xa9"), "plain text \xc3\xa9");
}

TEST(LoadErrorPage, NamesTheUrlTheErrorAndTheCode) {
  EXPECT_EQ(load_error_page("http://127.0.0.1:7681/", "net::ERR_CONNECTION_REFUSED", -102),
            "<html><body bgcolor=\"white\"><h2>Failed to load URL http://127.0.0.1:7681/ with error "
            "net::ERR_CONNECTION_REFUSED (-102).</h2></body></html>");
}

TEST(LoadErrorPage, ShowsMarkupFromOutsideAsText) {
  const std::string page = load_error_page("http://h/#<script>alert(1)</script>", "<b>bad</b> & \"worse\"", 7);
  EXPECT_EQ(page.find("<script>"), std::string::npos);
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_NE(page.find("http://h/#&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(page.find("&lt;b&gt;bad&lt;/b&gt; &amp; &quot;worse&quot; (7)."), std::string::npos);
}
