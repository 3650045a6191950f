#include <cstddef>
#include <cstdint>

#include "json/json.h"

// Any bytes: the reader must end in Done or Error without reading outside the input.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  json::JsonReader r;
  json::open_bytes(r, data, size);
  for (;;) {
    json::Token t = json::next_token(r);
    if (t == json::Token::Done || t == json::Token::Error) break;
    std::size_t n = 0;
    const char* text = json::token_text(r, &n);
    if (n == 0 || text[n - 1] != '\0') __builtin_trap();
    (void)json::token_number(r);
  }
  json::close(r);
  return 0;
}
