// Helpers of this folder's tests: command lines as argv, and captured output.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

// A writable argv over owned copies of the words, ended by nullptr as main() gets it.
class TestArgv {
 public:
  explicit TestArgv(std::vector<std::string> words) : words_(std::move(words)) {
    for (std::string& word : words_) pointers_.push_back(word.data());
    pointers_.push_back(nullptr);
  }
  TestArgv(const TestArgv&) = delete;
  TestArgv& operator=(const TestArgv&) = delete;

  int argc() const { return static_cast<int>(words_.size()); }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> pointers_;
};

// Everything written to a temporary file (std::tmpfile), which is then closed.
inline std::string read_and_close(std::FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(file);
  return text;
}
