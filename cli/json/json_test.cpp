#include "json/json.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using json::Token;

namespace {

// The whole token stream, one entry per token: "Kind" or "Kind text"; stops after Done or Error.
std::vector<std::string> tokens_of(const std::string& input) {
  json::JsonReader r;
  json::open_bytes(r, input.data(), input.size());
  std::vector<std::string> out;
  for (int guard = 0; guard < 100000; ++guard) {
    Token t = json::next_token(r);
    std::string entry = json::token_name(t);
    if (t == Token::String || t == Token::Number) {
      std::size_t n = 0;
      const char* text = json::token_text(r, &n);
      entry += " " + std::string(text, n - 1);
    }
    out.push_back(entry);
    if (t == Token::Done || t == Token::Error) break;
  }
  json::close(r);
  return out;
}

using Tokens = std::vector<std::string>;

bool accepts(const std::string& input) { return tokens_of(input).back() == "Done"; }

std::string string_value(const std::string& literal) {
  Tokens t = tokens_of(literal);
  return t.size() == 2 && t[1] == "Done" && t[0].rfind("String ", 0) == 0 ? t[0].substr(7) : "<rejected>";
}

TEST(JsonReader, BasicStreams) {
  EXPECT_EQ(tokens_of("2"), (Tokens{"Number 2", "Done"}));
  EXPECT_EQ(tokens_of("[1,\"3\"]"), (Tokens{"ArrayStart", "Number 1", "String 3", "ArrayEnd", "Done"}));
  EXPECT_EQ(tokens_of(""), (Tokens{"Done"}));
  EXPECT_EQ(tokens_of(" \t\r\n "), (Tokens{"Done"}));
  EXPECT_EQ(tokens_of("[1 2]"), (Tokens{"ArrayStart", "Number 1", "Error"}));
  EXPECT_EQ(tokens_of("abc"), (Tokens{"Error"}));
  EXPECT_EQ(tokens_of("{\"a\":true,\"b\":[null,false],\"c\":{}}"),
            (Tokens{"ObjectStart", "String a", "True", "String b", "ArrayStart", "Null", "False", "ArrayEnd",
                    "String c", "ObjectStart", "ObjectEnd", "ObjectEnd", "Done"}));
}

TEST(JsonReader, StopsAfterTheFirstTopLevelValue) {
  EXPECT_EQ(tokens_of("{\"a\":1}{\"b\":2}"), (Tokens{"ObjectStart", "String a", "Number 1", "ObjectEnd", "Done"}));
  // What follows the first value is never examined, even when it is not JSON.
  EXPECT_EQ(tokens_of("7 \xff garbage"), (Tokens{"Number 7", "Done"}));
  EXPECT_EQ(tokens_of("01"), (Tokens{"Number 0", "Done"}));
  EXPECT_EQ(tokens_of("[01]"), (Tokens{"ArrayStart", "Number 0", "Error"}));
}

TEST(JsonReader, StructuralErrors) {
  for (const char* bad : {"[1,]", "[,1]", "{\"a\" 1}", "{\"a\":1,}", "{1:2}", "{\"a\":1 \"b\":2}", "[1}", "{\"a\":1]",
                          "[", "{", "{\"a\"", "{\"a\":", "]", "}", ",", "tru", "nul", "True", "[truex]"}) {
    EXPECT_EQ(tokens_of(bad).back(), "Error") << bad;
  }
  EXPECT_EQ(tokens_of("falsey"), (Tokens{"False", "Done"}));
}

TEST(JsonReader, FirstErrorSticks) {
  json::JsonReader r;
  json::open_text(r, "[\"ok\", x, 1]");
  EXPECT_EQ(json::next_token(r), Token::ArrayStart);
  EXPECT_EQ(json::next_token(r), Token::String);
  EXPECT_EQ(json::next_token(r), Token::Error);
  EXPECT_STRNE(r.message, "");
  std::string first = r.message;
  EXPECT_EQ(json::next_token(r), Token::Error);
  EXPECT_EQ(json::next_token(r), Token::Error);
  EXPECT_EQ(first, r.message);
  json::close(r);
}

TEST(JsonReader, Escapes) {
  EXPECT_EQ(string_value(R"("\"\\\/\b\f\n\r\t")"), "\"\\/\b\f\n\r\t");
  EXPECT_EQ(string_value(R"("\u00e9")"), "\xC3\xA9");
  EXPECT_EQ(string_value(R"("\u00E9\u0041")"), "\xC3\xA9" "A");
  EXPECT_EQ(string_value(R"("\u20AC")"), "\xE2\x82\xAC");
  EXPECT_EQ(string_value(R"("\ud83d\ude00")"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(string_value(R"("\uDBFF\uDFFF")"), "\xF4\x8F\xBF\xBF");
  EXPECT_EQ(string_value(R"("a\u0000b")"), std::string("a\0b", 3));
  for (const char* bad : {R"("\x")", R"("\u12")", R"("\u12G4")", R"("\ud83d")", R"("\ud83dx")", R"("\ud83d\u0041")",
                          R"("\ude00")", R"("\")", "\"\\"}) {
    EXPECT_EQ(string_value(bad), "<rejected>") << bad;
  }
}

TEST(JsonReader, RawUtf8IsValidated) {
  EXPECT_EQ(string_value("\"\xC3\xA9\""), "\xC3\xA9");
  EXPECT_EQ(string_value("\"\xF0\x9F\x98\x80\""), "\xF0\x9F\x98\x80");
  EXPECT_EQ(string_value("\"\xF4\x8F\xBF\xBF\""), "\xF4\x8F\xBF\xBF");
  for (const char* bad : {
           "\"\xC0\x80\"",          // overlong NUL
           "\"\xC1\xBF\"",          // overlong
           "\"\xE0\x80\xAF\"",      // overlong three-byte
           "\"\xF0\x80\x80\xAF\"",  // overlong four-byte
           "\"\xED\xA0\x80\"",      // encoded surrogate
           "\"\xF4\x90\x80\x80\"",  // above 10FFFF
           "\"\xF5\x80\x80\x80\"",  // invalid lead
           "\"\x80\"",              // lone continuation
           "\"\xC3\"",              // truncated before the quote
           "\"\xE2\x82\"",          // truncated
       }) {
    EXPECT_EQ(string_value(bad), "<rejected>") << testing::PrintToString(std::string(bad));
  }
  // A sequence cut off by the end of the input.
  EXPECT_EQ(tokens_of("\"\xE2\x82").back(), "Error");
}

TEST(JsonReader, ControlBytesAreRejectedInStrings) {
  for (int c = 0; c < 0x20; ++c) {
    std::string s = "\"a";
    s += static_cast<char>(c);
    s += "\"";
    EXPECT_EQ(tokens_of(s).back(), "Error") << c;
  }
  EXPECT_EQ(string_value("\"\x7f\""), "\x7f");
}

TEST(JsonReader, NumberForms) {
  EXPECT_EQ(tokens_of("-0"), (Tokens{"Number -0", "Done"}));
  EXPECT_EQ(tokens_of("1e5"), (Tokens{"Number 1e5", "Done"}));
  EXPECT_EQ(tokens_of("-12.5E-3"), (Tokens{"Number -12.5E-3", "Done"}));
  EXPECT_EQ(tokens_of("[0.5e+2]"), (Tokens{"ArrayStart", "Number 0.5e+2", "ArrayEnd", "Done"}));
  for (const char* bad : {"1.", ".5", "-", "+1", "1e", "1e+", "-.5", "[1.]", "[1e]", "0x10"}) {
    std::string input = bad;
    Tokens t = tokens_of(input);
    // "0x10" is the number 0 followed by text that is never looked at.
    if (input == "0x10") {
      EXPECT_EQ(t, (Tokens{"Number 0", "Done"}));
    } else {
      EXPECT_EQ(t.back(), "Error") << bad;
    }
  }
}

TEST(JsonReader, NumberValues) {
  json::JsonReader r;
  json::open_text(r, "[2.9, -1e2, \"3\"]");
  ASSERT_EQ(json::next_token(r), Token::ArrayStart);
  ASSERT_EQ(json::next_token(r), Token::Number);
  EXPECT_DOUBLE_EQ(json::token_number(r), 2.9);
  ASSERT_EQ(json::next_token(r), Token::Number);
  EXPECT_DOUBLE_EQ(json::token_number(r), -100.0);
  ASSERT_EQ(json::next_token(r), Token::String);
  EXPECT_EQ(json::token_number(r), 0.0);
  ASSERT_EQ(json::next_token(r), Token::ArrayEnd);
  std::size_t n = 99;
  EXPECT_STREQ(json::token_text(r, &n), "");
  EXPECT_EQ(n, 1u);
  json::close(r);
}

TEST(JsonReader, BytesAreBoundedByTheirCount) {
  // Received data has no terminator: nothing past the count may be read.
  const char data[] = "[1,2]trailing";
  json::JsonReader r;
  json::open_bytes(r, data, 4);  // "[1,2"
  EXPECT_EQ(json::next_token(r), Token::ArrayStart);
  EXPECT_EQ(json::next_token(r), Token::Number);
  EXPECT_EQ(json::next_token(r), Token::Number);
  EXPECT_EQ(json::next_token(r), Token::Error);
  json::close(r);

  std::vector<char> heap(data, data + 3);  // exactly "[1,", so ASan sees any overread
  json::open_bytes(r, heap.data(), heap.size());
  while (json::next_token(r) != Token::Error) {
  }
  json::close(r);
}

TEST(JsonReader, LongStringsGrowTheTextBuffer) {
  std::string big(5000, 'x');
  EXPECT_EQ(string_value("\"" + big + "\""), big);
}

TEST(JsonReader, DeepNestingDoesNotRecurse) {
  const int depth = 10000;
  std::string deep = std::string(depth, '[') + std::string(depth, ']');
  Tokens t = tokens_of(deep);
  ASSERT_EQ(t.size(), 2u * depth + 1);
  EXPECT_EQ(t.back(), "Done");
  std::string objects;
  for (int i = 0; i < depth; ++i) objects += "{\"k\":";
  objects += "1" + std::string(depth, '}');
  EXPECT_EQ(tokens_of(objects).back(), "Done");
  EXPECT_EQ(tokens_of(std::string(depth, '[')).back(), "Error");
}

TEST(JsonReader, TokenTextLengthCountsTheTerminator) {
  json::JsonReader r;
  json::open_text(r, "\"abc\"");
  ASSERT_EQ(json::next_token(r), Token::String);
  std::size_t n = 0;
  EXPECT_STREQ(json::token_text(r, &n), "abc");
  EXPECT_EQ(n, 4u);
  json::close(r);
}

TEST(JsonReader, AcceptsTypicalStatusDocument) {
  EXPECT_TRUE(accepts(R"({"model_name":"LUMARO-2","firmware_version":"1.3.1","boot_count":"12"})"));
  EXPECT_TRUE(accepts("  {\n  \"a\" : [ 1 , 2 ] ,\r\n \"b\":\"\" }  "));
}

}  // namespace
