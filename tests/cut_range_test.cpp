#include "cut_range.hpp"
#include "support.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using support::read_file;
using support::write_file;

namespace {

// Descriptors this process has open, or -1 where that cannot be counted.
long open_descriptors()
{
#ifdef __linux__
    const fs::directory_iterator fds("/proc/self/fd");
    return static_cast<long>(std::distance(fds, fs::directory_iterator()));
#else
    return -1;
#endif
}

struct Outcome {
    bool result;
    std::vector<std::string> lines;
};

class CutRangeTest : public support::TempDirTest {
  protected:
    // Runs the cut, collecting what it prints; every file it opened must be
    // closed again when it returns.
    static Outcome cut(const char *source, const char *output, std::int32_t first,
                       std::int32_t last)
    {
        const long before = open_descriptors();
        testing::internal::CaptureStdout();
        const bool result = cut_range(source, output, first, last);
        const std::string text = testing::internal::GetCapturedStdout();
        EXPECT_EQ(open_descriptors(), before) << "a file was left open";
        return {result, support::split_lines(text, "\n")};
    }
};

enum class Fill { pattern, all_ff };

struct Slice {
    const char *name;
    std::size_t source_size;
    Fill fill;
    std::int32_t first;
    std::int32_t last;
    const char *header;
    bool result;
    std::size_t copied; // the output holds this many source bytes from first
};

const char eof_line[] = "Unexpected EOF in 'SOURCE.BIN'";

const Slice slices[] = {
    {"SourceShorterThanFirst", 10, Fill::pattern, 16, 31,
     "$0010 to $001f of 'SOURCE.BIN' is cut for 'OUTPUT.ROM'", false, 0},
    {"SourceEndsAtFirst", 16, Fill::pattern, 16, 31,
     "$0010 to $001f of 'SOURCE.BIN' is cut for 'OUTPUT.ROM'", false, 0},
    {"SourceEndsInsideRange", 21, Fill::pattern, 16, 31,
     "$0010 to $001f of 'SOURCE.BIN' is cut for 'OUTPUT.ROM'", false, 5},
    {"SourceEndsAtLast", 32, Fill::pattern, 16, 31,
     "$0010 to $001f of 'SOURCE.BIN' is cut for 'OUTPUT.ROM'", true, 16},
    {"SourceLongerThanLast", 5000, Fill::pattern, 16, 31,
     "$0010 to $001f of 'SOURCE.BIN' is cut for 'OUTPUT.ROM'", true, 16},
    {"FirstZeroSkipsNothing", 40, Fill::pattern, 0, 31,
     "$0000 to $001f of 'SOURCE.BIN' is cut for 'OUTPUT.ROM'", true, 32},
    {"EmptySource", 0, Fill::pattern, 0, 0,
     "$0000 to $0000 of 'SOURCE.BIN' is cut for 'OUTPUT.ROM'", false, 0},
    {"FirstAfterLastGivesEmptyOutput", 32, Fill::pattern, 20, 19,
     "$0014 to $0013 of 'SOURCE.BIN' is cut for 'OUTPUT.ROM'", true, 0},
    {"WideOffsetsPrintInFull", 0x12345, Fill::pattern, 0x12345, 0x12344,
     "$12345 to $12344 of 'SOURCE.BIN' is cut for 'OUTPUT.ROM'", true, 0},
    {"RangeOfFFBeyondBuffer", 0x8000, Fill::all_ff, 0x5800, 0x7FFF,
     "$5800 to $7fff of 'SOURCE.BIN' is cut for 'OUTPUT.ROM'", true, 0x2800},
    {"PatternBeyondBuffer", 0x8000, Fill::pattern, 0x5800, 0x7FFF,
     "$5800 to $7fff of 'SOURCE.BIN' is cut for 'OUTPUT.ROM'", true, 0x2800},
};

class CutRangeSlices : public CutRangeTest, public testing::WithParamInterface<Slice> {};

TEST_P(CutRangeSlices, CopiesExactlyTheRangeAndReportsShortSources)
{
    const Slice &s = GetParam();
    const std::string source = s.fill == Fill::all_ff ? std::string(s.source_size, '\xff')
                                                      : support::pattern(s.source_size);
    write_file("SOURCE.BIN", source);
    write_file("OUTPUT.ROM", "old, longer content that must go");

    const Outcome got = cut("SOURCE.BIN", "OUTPUT.ROM", s.first, s.last);

    std::vector<std::string> lines{s.header};
    if (!s.result)
        lines.emplace_back(eof_line);
    EXPECT_EQ(got.result, s.result);
    EXPECT_EQ(got.lines, lines);
    const std::string expected =
        s.copied == 0 ? std::string() : source.substr(static_cast<std::size_t>(s.first), s.copied);
    EXPECT_EQ(read_file("OUTPUT.ROM"), expected);
    EXPECT_EQ(read_file("SOURCE.BIN"), source);
}

INSTANTIATE_TEST_SUITE_P(Lengths, CutRangeSlices, testing::ValuesIn(slices), support::CaseName());

// A reference model of the cut, from its rules alone: the skip phase needs
// first bytes, then every byte up to last is copied until the source ends.
struct Expected {
    bool result;
    std::string output;
};

Expected model(const std::string &source, std::size_t first, std::size_t last)
{
    if (source.size() < first)
        return {false, ""};
    if (first > last)
        return {true, ""};
    if (source.size() > last)
        return {true, source.substr(first, last - first + 1)};
    return {false, source.substr(first)};
}

std::string hex(std::size_t offset)
{
    std::ostringstream text;
    text << '$' << std::hex << std::setw(4) << std::setfill('0') << offset;
    return text.str();
}

// Every pairing of the given source lengths and offsets, without sampling:
// the sweep is the same on every run.
struct Sweep {
    const char *name;
    std::vector<std::size_t> lengths;
    std::vector<std::size_t> offsets;
};

std::vector<std::size_t> up_to(std::size_t n)
{
    std::vector<std::size_t> all(n + 1);
    for (std::size_t i = 0; i <= n; ++i)
        all[i] = i;
    return all;
}

const Sweep sweeps[] = {
    {"SmallSources", up_to(20), up_to(20)},
    {"AroundTheStreamBuffer",
     {4095, 4096, 4097, 8192},
     {0, 1, 4094, 4095, 4096, 4097, 8190, 8191, 8192, 8193}},
};

class CutRangeModel : public CutRangeTest, public testing::WithParamInterface<Sweep> {};

TEST_P(CutRangeModel, AgreesWithTheModel)
{
    for (const std::size_t length : GetParam().lengths) {
        const std::string source = support::pattern(length, static_cast<unsigned>(length));
        write_file("SOURCE.BIN", source);
        for (const std::size_t first : GetParam().offsets) {
            for (const std::size_t last : GetParam().offsets) {
                const Expected want = model(source, first, last);
                const Outcome got =
                    cut("SOURCE.BIN", "OUTPUT.ROM", static_cast<std::int32_t>(first),
                        static_cast<std::int32_t>(last));
                std::vector<std::string> lines{hex(first) + " to " + hex(last) +
                                               " of 'SOURCE.BIN' is cut for 'OUTPUT.ROM'"};
                if (!want.result)
                    lines.emplace_back(eof_line);
                if (got.result != want.result || got.lines != lines ||
                    read_file("OUTPUT.ROM") != want.output) {
                    ADD_FAILURE() << "source of " << length << " bytes, first " << first
                                  << ", last " << last << ": got " << got.result << " and "
                                  << testing::PrintToString(got.lines) << ", want " << want.result;
                    return;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sweeps, CutRangeModel, testing::ValuesIn(sweeps), support::CaseName());

// The last offset is the largest a byte offset can be: the position loop
// must end there rather than wrap around. A sparse source keeps this cheap
// on disk; reading up to it still takes a few seconds.
TEST_F(CutRangeTest, LastOffsetAtInt32MaxEndsTheCopy)
{
    write_file("SOURCE.BIN", "");
    fs::resize_file("SOURCE.BIN", std::uintmax_t{INT32_MAX} + 1);

    const Outcome got = cut("SOURCE.BIN", "OUTPUT.ROM", INT32_MAX - 3, INT32_MAX);

    EXPECT_TRUE(got.result);
    EXPECT_EQ(got.lines, std::vector<std::string>{
                             "$7ffffffc to $7fffffff of 'SOURCE.BIN' is cut for 'OUTPUT.ROM'"});
    EXPECT_EQ(read_file("OUTPUT.ROM"), std::string(4, '\0'));
}

TEST_F(CutRangeTest, MissingSourceCreatesAndTouchesNoOutput)
{
    write_file("KEPT.ROM", "old content");

    for (const char *output : {"KEPT.ROM", "NEW.ROM"}) {
        const Outcome got = cut("MISSING.BIN", output, 0, 15);
        EXPECT_FALSE(got.result);
        EXPECT_EQ(got.lines,
                  (std::vector<std::string>{"$0000 to $000f of 'MISSING.BIN' is cut for '" +
                                                std::string(output) + "'",
                                            "Failed to open source file 'MISSING.BIN'"}));
    }
    EXPECT_EQ(read_file("KEPT.ROM"), "old content");
    EXPECT_FALSE(fs::exists("NEW.ROM"));
}

TEST_F(CutRangeTest, OutputThatCannotBeCreatedIsReported)
{
    write_file("SOURCE.BIN", support::pattern(32));
    fs::create_directory("OUTPUT.ROM");

    const Outcome got = cut("SOURCE.BIN", "OUTPUT.ROM", 0, 15);

    EXPECT_FALSE(got.result);
    EXPECT_EQ(got.lines,
              (std::vector<std::string>{"$0000 to $000f of 'SOURCE.BIN' is cut for 'OUTPUT.ROM'",
                                        "Failed to create output file 'OUTPUT.ROM'"}));
    EXPECT_TRUE(fs::is_directory("OUTPUT.ROM"));
    EXPECT_TRUE(fs::is_empty("OUTPUT.ROM"));
}

// Another name for the source, by which creating the output would empty it
// before a byte of it was read.
struct Alias {
    const char *name;
    const char *output;
    void (*make)(const fs::path &source, const fs::path &output);
};

const Alias aliases[] = {
    {"SameName", "SOURCE.BIN", [](const fs::path &, const fs::path &) {}},
    {"HardLink", "OUTPUT.ROM",
     [](const fs::path &source, const fs::path &output) {
         fs::create_hard_link(source, output);
     }},
#ifndef _WIN32
    {"SymbolicLink", "OUTPUT.ROM",
     [](const fs::path &source, const fs::path &output) {
         fs::create_symlink(source, output);
     }},
#endif
};

class CutRangeAliases : public CutRangeTest, public testing::WithParamInterface<Alias> {};

TEST_P(CutRangeAliases, OutputThatIsTheSourceIsRefused)
{
    const Alias &a = GetParam();
    const std::string source = support::pattern(32);
    write_file("SOURCE.BIN", source);
    a.make("SOURCE.BIN", a.output);

    const Outcome got = cut("SOURCE.BIN", a.output, 0, 15);

    EXPECT_FALSE(got.result);
    EXPECT_EQ(got.lines,
              (std::vector<std::string>{
                  "$0000 to $000f of 'SOURCE.BIN' is cut for '" + std::string(a.output) + "'",
                  "Output file '" + std::string(a.output) + "' is the same file as 'SOURCE.BIN'"}));
    EXPECT_EQ(read_file("SOURCE.BIN"), source);
}

INSTANTIATE_TEST_SUITE_P(Names, CutRangeAliases, testing::ValuesIn(aliases), support::CaseName());

// Windows will not open a directory as a file; Linux opens it, and the
// first read fails.
TEST_F(CutRangeTest, SourceThatIsADirectory)
{
    fs::create_directory("SOURCE.BIN");

    const Outcome got = cut("SOURCE.BIN", "OUTPUT.ROM", 0, 15);

    EXPECT_FALSE(got.result);
    const std::string header = "$0000 to $000f of 'SOURCE.BIN' is cut for 'OUTPUT.ROM'";
#ifdef _WIN32
    EXPECT_EQ(got.lines,
              (std::vector<std::string>{header, "Failed to open source file 'SOURCE.BIN'"}));
    EXPECT_FALSE(fs::exists("OUTPUT.ROM"));
#else
    EXPECT_EQ(got.lines, (std::vector<std::string>{header, eof_line}));
    EXPECT_EQ(read_file("OUTPUT.ROM"), "");
#endif
}

// A device that takes no byte: on Linux a link to /dev/full; under Wine,
// its Z:\dev\full, as a Windows program cannot make such a link there.
#ifdef _WIN32
const char full_disk[] = "Z:\\dev\\full";
#else
const char full_disk[] = "OUTPUT.ROM";
#endif

class FullDiskTest : public CutRangeTest {
  protected:
    void SetUp() override
    {
        CutRangeTest::SetUp();
#ifdef _WIN32
        std::FILE *device = std::fopen(full_disk, "wb");
        ASSERT_NE(device, nullptr) << "these tests run under Wine, which has " << full_disk;
        std::fclose(device);
#else
        fs::create_symlink("/dev/full", full_disk);
#endif
    }
};

class CutRangeFullDisk : public FullDiskTest, public testing::WithParamInterface<std::int32_t> {};

// A range longer than the stream's buffer fails on a write inside the copy;
// a shorter one only when the output is flushed at the end.
TEST_P(CutRangeFullDisk, FailedWriteIsAFailedCut)
{
    const std::int32_t size = GetParam();
    write_file("SOURCE.BIN", support::pattern(static_cast<std::size_t>(size)));

    const Outcome got = cut("SOURCE.BIN", full_disk, 0, size - 1);

    EXPECT_FALSE(got.result);
    ASSERT_EQ(got.lines.size(), 2U);
    EXPECT_EQ(got.lines[1], "Failed to write output file '" + std::string(full_disk) + "'");
}

// The cutter's output buffer holds 64 KiB: 256 KiB overflows it for sure.
INSTANTIATE_TEST_SUITE_P(Sizes, CutRangeFullDisk, testing::Values(512, 1 << 18),
                         [](const testing::TestParamInfo<std::int32_t> &row) {
                             return row.param == 512 ? "FlushFailsAtClose"
                                                     : "WriteFailsWhileCopying";
                         });

// Why the cutter checks an explicit flush as well as the close: after a
// failed flush, glibc's fclose reports success, while the Windows runtime's
// reports the failure again.
TEST_F(FullDiskTest, RuntimeReportsAFailedFlushAtCloseOnlyOnWindows)
{
    std::FILE *out = std::fopen(full_disk, "wb");
    ASSERT_NE(out, nullptr);
    EXPECT_NE(std::fputc('x', out), EOF);
    EXPECT_EQ(std::fflush(out), EOF);
#ifdef _WIN32
    EXPECT_EQ(std::fclose(out), EOF);
#else
    EXPECT_EQ(std::fclose(out), 0);
#endif
}

} // namespace
