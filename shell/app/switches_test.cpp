#include "app/switches.h"

#include <gtest/gtest.h>

namespace {

ShellSwitches parse(std::vector<std::string> arguments) { return parse_switches(arguments); }

}  // namespace

TEST(Switches, NoneGiven) {
  const ShellSwitches s = parse({});
  EXPECT_FALSE(s.use_views);
  EXPECT_EQ(start_url(s), "http://127.0.0.1:7681/");
}

TEST(Switches, UseViewsCountsWhateverItsValue) {
  EXPECT_TRUE(parse({"--use-views"}).use_views);
  EXPECT_TRUE(parse({"-use-views"}).use_views);
  EXPECT_TRUE(parse({"--use-views=0"}).use_views);
  EXPECT_FALSE(parse({"use-views"}).use_views);
  EXPECT_FALSE(parse({"--use-viewsx"}).use_views);
  EXPECT_FALSE(parse({"--USE-VIEWS"}).use_views);
}

TEST(Switches, UrlValueFollowsTheFirstEqualsSign) {
  EXPECT_EQ(start_url(parse({"--url=http://127.0.0.1:9000/a?b=c"})), "http://127.0.0.1:9000/a?b=c");
  EXPECT_EQ(start_url(parse({"-url=file:///x"})), "file:///x");
}

TEST(Switches, EmptyOrMissingUrlValueMeansTheDefault) {
  EXPECT_EQ(start_url(parse({"--url="})), kDefaultStartUrl);
  EXPECT_EQ(start_url(parse({"--url"})), kDefaultStartUrl);
  // A separate word is a plain argument, not the switch's value.
  EXPECT_EQ(start_url(parse({"--url", "http://127.0.0.1:9000/"})), kDefaultStartUrl);
}

TEST(Switches, LaterSwitchOverridesEarlier) {
  EXPECT_EQ(parse({"--url=http://a/", "--url=http://b/"}).url, "http://b/");
  EXPECT_EQ(parse({"--url=http://a/", "--url="}).url, "");
}

TEST(Switches, NothingAfterDoubleDashCounts) {
  const ShellSwitches s = parse({"--url=http://a/", "--", "--use-views", "--url=http://b/"});
  EXPECT_FALSE(s.use_views);
  EXPECT_EQ(s.url, "http://a/");
}

TEST(Switches, OtherArgumentsAreIgnored) {
  const ShellSwitches s = parse({"-", "--no-sandbox", "page.html", "--urlx=http://b/", "--use-views"});
  EXPECT_TRUE(s.use_views);
  EXPECT_EQ(s.url, "");
}
