// A reporter whose two streams land in temporary files, for tests that check
// what an action said on each stream without capturing the process's own.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "util/reporter.h"

class RecordingReporter {
 public:
  Reporter reporter() const { return {out_.get(), err_.get()}; }
  std::string out() const { return read(out_.get()); }
  std::string err() const { return read(err_.get()); }

 private:
  struct Close {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  static std::string read(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
    return text;
  }
  std::unique_ptr<std::FILE, Close> out_{std::tmpfile()}, err_{std::tmpfile()};
};
