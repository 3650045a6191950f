// Collecting list values must survive the heap running dry: this binary
// replaces the global allocation functions so that they fail on demand.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "main/options.h"
#include "testing/argv_support.h"

namespace {
bool g_fail_allocations = false;

void* allocate(std::size_t size) {
  if (g_fail_allocations) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return g_fail_allocations ? nullptr : std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return g_fail_allocations ? nullptr : std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

TEST(CommandLineOutOfMemory, ListOptionsEndTheRunWithAMessage) {
  const char* const values[] = {"--channel=[1,2]", "--backupconfig=[\"a\",\"b\"]",
                                "--channelcsvfile=\"a.csv\""};
  for (const char* value : values) {
    TestArgv args({"varnu-cli", value});
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    CommandLine line;
    g_fail_allocations = true;
    const ParseOutcome outcome = parse_command_line(args.argc(), args.argv(), "varnu-cli", &line, Reporter{out, err});
    g_fail_allocations = false;
    EXPECT_EQ(outcome, ParseOutcome::OutOfMemory) << value;
    EXPECT_EQ(read_and_close(err), "varnu-cli: out of memory while reading the command line\n") << value;
    read_and_close(out);
  }
}

}  // namespace
