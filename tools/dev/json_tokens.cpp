// Prints the token stream of a JSON file (or standard input), one token a
// line: "KIND" or "KIND text". For checking the reader against outside cases.
#include <cstdio>
#include <vector>

#include "json/json.h"

int main(int argc, char** argv) {
  FILE* in = argc > 1 ? std::fopen(argv[1], "rb") : stdin;
  if (!in) {
    std::perror(argv[1]);
    return 1;
  }
  std::vector<char> bytes;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  if (in != stdin) std::fclose(in);

  json::JsonReader r;
  json::open_bytes(r, bytes.data(), bytes.size());
  for (;;) {
    json::Token t = json::next_token(r);
    std::fputs(json::token_name(t), stdout);
    if (t == json::Token::String || t == json::Token::Number) {
      std::size_t n = 0;
      const char* text = json::token_text(r, &n);
      std::fputc(' ', stdout);
      std::fwrite(text, 1, n - 1, stdout);
    }
    std::fputc('\n', stdout);
    if (t == json::Token::Done || t == json::Token::Error) break;
  }
  json::close(r);
  return 0;
}
