#include "support.hpp"

#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

namespace support {

std::string pattern(std::size_t n, unsigned salt)
{
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t k = i % 16;
        bytes[i] =
            k < sizeof tricky ? tricky[k] : static_cast<char>((i * 37 + (i >> 8) + salt) & 0xff);
    }
    return bytes;
}

std::string read_file(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.is_open()) << "cannot read " << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const fs::path &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    out.close();
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::vector<std::string> split_lines(const std::string &text, const std::string &eol)
{
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t end; (end = text.find(eol, from)) != std::string::npos;
         from = end + eol.size())
        lines.push_back(text.substr(from, end - from));
    if (from < text.size())
        lines.push_back("<no line end> " + text.substr(from));
    return lines;
}

void TempDirTest::SetUp()
{
    home = fs::current_path();
    std::random_device seed;
    std::mt19937_64 random(seed());
    do
        dir = fs::temp_directory_path() / ("romcutter-test-" + std::to_string(random()));
    while (!fs::create_directory(dir));
    fs::current_path(dir);
}

void TempDirTest::TearDown()
{
    fs::current_path(home);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

} // namespace support
