#include "cut_range.hpp"
#include "support.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
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

INSTANTIATE_TEST_SUITE_P(, CutRangeSlices, testing::ValuesIn(slices), support::CaseName());

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

INSTANTIATE_TEST_SUITE_P(, CutRangeFullDisk, testing::Values(512, 65536),
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
