// A reporter whose two streams land in temporary files, so that a test reads
// what an action said on either stream without capturing the process's own.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "util/reporter.h"

class RecordingReporter {
 public:
  Reporter reporter() const { return {out_.get(), err_.get(), nullptr, out_.get()}; }
  std::string out() const { return read(out_.get()); }
  std::string err() const { return read(err_.get()); }

 private:
  static std::string read(std::FILE* file) {
    std::string text;
    std::rewind(file);  // flushes what was written
    for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
    return text;
  }
  using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
  File out_{std::tmpfile(), &std::fclose}, err_{std::tmpfile(), &std::fclose};
};
