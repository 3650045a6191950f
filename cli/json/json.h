// JSON pull reader: hands out one token at a time over a byte range (RFC 8259).
// Reads the gateway's status report, status.txt, JSON-valued options and CSV cells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace json {

enum class Token { Error, Done, ObjectStart, ObjectEnd, ArrayStart, ArrayEnd, String, Number, True, False, Null };

// Its fields belong to the functions below; other code reaches them only through those.
struct JsonReader {
  struct Level {
    bool object = false;
    uint64_t count = 0;  // members or elements seen so far
    bool after_name = false;
  };
  const uint8_t* input = nullptr;
  std::size_t length = 0;
  std::size_t pos = 0;
  Token kind = Token::Done;
  std::vector<char> text;  // decoded text of the last String/Number plus its terminating zero byte
  std::vector<Level> stack;
  bool failed = false;
  bool out_of_memory = false;  // the error was running out of memory, not bad input
  char message[128] = {};
  uint64_t tokens = 0;
  bool streaming = false;
};

// Prepares the reader on a NUL-terminated text (measured first).
void open_text(JsonReader& reader, const char* text);
// Prepares the reader on exactly `count` bytes (received data has no terminator).
void open_bytes(JsonReader& reader, const void* bytes, std::size_t count);
Token next_token(JsonReader& reader);
// Text of the last String or Number token, "" when there is none. `out_length`
// receives its byte count including the terminating zero byte.
const char* token_text(const JsonReader& reader, std::size_t* out_length = nullptr);
// The last Number token converted to a double; 0 without a text.
double token_number(const JsonReader& reader);
// Why the reader stopped with Token::Error ("" before an error).
const char* error_message(const JsonReader& reader);
// True when that error was running out of memory rather than bad input.
bool ran_out_of_memory(const JsonReader& reader);
void close(JsonReader& reader);
// The kind's name as written above ("ObjectStart"), for traces and tools.
const char* token_name(Token kind);

}  // namespace json
