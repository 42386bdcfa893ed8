#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace support {

// Bytes that a text-mode stream would change or stop at: CR LF, ^Z, NUL,
// and 0xFF, which must not be taken for the end of the file.
inline constexpr char tricky[] = {'\x0d', '\x0a', '\x1a', '\x00', '\xff'};

// n bytes in which every run of 16 holds all of the tricky bytes; salt
// makes files of the same length differ.
std::string pattern(std::size_t n, unsigned salt = 0);

std::string read_file(const std::filesystem::path &path);
void write_file(const std::filesystem::path &path, const std::string &bytes);

// The lines of text, each of which must end with eol; text left after the
// last eol comes back as a line of its own, marked as unterminated.
std::vector<std::string> split_lines(const std::string &text, const std::string &eol);

// Names a parameterised case after the name field of its row.
struct CaseName {
    template <class Row> std::string operator()(const testing::TestParamInfo<Row> &row) const
    {
        return row.param.name;
    }
};

// Runs each test in a new, empty working directory, removed afterwards.
class TempDirTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::filesystem::path dir;

  private:
    std::filesystem::path home;
};

} // namespace support
