// Runs the built program in a fresh directory and checks all it prints, its
// exit status and every file it leaves. The command that starts the program
// follows the test framework's own flags; its words that name files, relative
// to the directory the runner starts in, are made absolute.
#include "support.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using support::pattern;

namespace {

std::vector<std::string> command;

#ifdef _WIN32
const std::string eol = "\r\n";
#else
const std::string eol = "\n";
#endif

std::string quote(const std::string &word)
{
#ifdef _WIN32
    return '"' + word + '"';
#else
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
#endif
}

struct Result {
    int status;
    std::vector<std::string> lines;
    std::string errors;
};

// Starts the command in the current directory with these arguments, behind
// the words of prefix; its standard error goes to errors_file, outside that
// directory.
Result run(const std::vector<std::string> &args, const fs::path &errors_file,
           const std::string &redirect = "", const std::vector<std::string> &prefix = {})
{
    std::string line;
    for (const std::string &word : prefix)
        line += quote(word) + " ";
    for (const std::string &word : command)
        line += quote(word) + " ";
    for (const std::string &arg : args)
        line += quote(arg) + " ";
    line += "2>" + quote(errors_file.string()) + redirect;

    std::string out;
#ifdef _WIN32
    // cmd /c drops the outer pair of quotes.
    std::FILE *pipe = _popen(('"' + line + '"').c_str(), "rb");
#else
    std::FILE *pipe = popen(line.c_str(), "r");
#endif
    if (pipe == nullptr)
        return {-1, {"<cannot start> " + line}, ""};
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
#ifdef _WIN32
    const int status = _pclose(pipe);
#else
    const int wait_status = pclose(pipe);
    const int status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
#endif
    return {status, support::split_lines(out, eol), support::read_file(errors_file)};
}

// A directory's entries, with the bytes of each file; subdirectories show as
// "<directory>", symbolic links as where they point.
using Files = std::map<std::string, std::string>;
const std::string directory = "<directory>";
const std::string link_to = "<link to ";
const std::string hard_link_to = "<hard link to ";

Files list(const fs::path &dir)
{
    Files files;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(dir)) {
        const std::string name = entry.path().lexically_relative(dir).generic_string();
        if (entry.is_symlink())
            files[name] = link_to + fs::read_symlink(entry.path()).string() + ">";
        else if (entry.is_directory())
            files[name] = directory;
        else
            files[name] = support::read_file(entry.path());
    }
    return files;
}

// The NAME of "<link to NAME>" or "<hard link to NAME>", whichever marker
// is given; "" where the bytes are not that.
std::string link_target(const std::string &bytes, const std::string &marker)
{
    if (bytes.rfind(marker, 0) != 0)
        return "";
    return bytes.substr(marker.size(), bytes.size() - marker.size() - 1);
}

// Makes the entries of a listing; "<hard link to NAME>" makes a second name
// for a file of the listing, which reads back as that file's bytes.
void make(const Files &files)
{
    for (const auto &[name, bytes] : files) {
        if (bytes == directory)
            fs::create_directory(name);
        else if (const std::string to = link_target(bytes, link_to); !to.empty())
            fs::create_symlink(to, name);
        else if (link_target(bytes, hard_link_to).empty())
            support::write_file(name, bytes);
    }
    // Last, as they need the files they name.
    for (const auto &[name, bytes] : files) {
        if (const std::string to = link_target(bytes, hard_link_to); !to.empty())
            fs::create_hard_link(to, name);
    }
}

const std::vector<std::string> banner = {
    "NOVLAR ROM CUTTER v0.1",
    "Written by the NOVLAR ROM CUTTER authors",
    "",
    "This program requires the following files:",
    " 1. FBASIC.BIN",
    " 2. SUBMON.BIN",
    " 3. BOOTROM.BIN",
    "You have to extract above files from your FM-7 ROM before you run this program.",
    "",
};

// What a run prints: the banner, then these lines.
std::vector<std::string> after_banner(const std::vector<std::string> &lines)
{
    std::vector<std::string> all = banner;
    all.insert(all.end(), lines.begin(), lines.end());
    return all;
}

const std::string cut1 = "$0000 to $7bff of 'FBASIC.BIN' is cut for 'FBASIC30.ROM'";
const std::string cut2 = "$5800 to $7fff of 'SUBMON.BIN' is cut for 'SUBSYS_C.ROM'";
const std::string cut3 = "$0000 to $01ff of 'BOOTROM.BIN' is cut for 'BOOT_BAS.ROM'";
const std::string cut4 = "$0400 to $05ff of 'BOOTROM.BIN' is cut for 'BOOT_DOS.ROM'";
const std::string aborted = "Program aborted";

// Dumps of the smallest lengths that serve, and longer ones.
const std::string fbasic = pattern(0x7C00, 1);
const std::string submon = pattern(0x8000, 2);
const std::string bootrom = pattern(0x600, 3);
const std::string long_fbasic = pattern(0x8000, 4);
const std::string long_submon = pattern(0x10000, 5);
const std::string long_bootrom = pattern(0x800, 6);
const std::string short_bootrom = pattern(0x500, 7);

const Files dumps = {{"FBASIC.BIN", fbasic}, {"SUBMON.BIN", submon}, {"BOOTROM.BIN", bootrom}};
const Files images = {
    {"FBASIC30.ROM", fbasic},
    {"SUBSYS_C.ROM", submon.substr(0x5800)},
    {"BOOT_BAS.ROM", bootrom.substr(0, 0x200)},
    {"BOOT_DOS.ROM", bootrom.substr(0x400)},
};

Files join(Files a, const Files &b)
{
    for (const auto &[name, bytes] : b)
        a[name] = bytes;
    return a;
}

struct Case {
    const char *name;
    Files before;
    std::vector<std::string> args;
    std::vector<std::string> lines; // what follows the banner
    int status;
    Files after;
};

const Case cases[] = {
    {"EmptyDirectory", {}, {}, {cut1, "Failed to open source file 'FBASIC.BIN'", aborted}, 1, {}},
    {"OnlyFbasic",
     {{"FBASIC.BIN", fbasic}},
     {},
     {cut1, cut2, "Failed to open source file 'SUBMON.BIN'", aborted},
     1,
     {{"FBASIC.BIN", fbasic}, {"FBASIC30.ROM", fbasic}}},
    {"BootromEndsInsideFourthCut",
     join(dumps, {{"BOOTROM.BIN", short_bootrom}}),
     {},
     {cut1, cut2, cut3, cut4, "Unexpected EOF in 'BOOTROM.BIN'", aborted},
     1,
     join(join(dumps, images), {{"BOOTROM.BIN", short_bootrom},
                                {"BOOT_BAS.ROM", short_bootrom.substr(0, 0x200)},
                                {"BOOT_DOS.ROM", short_bootrom.substr(0x400)}})},
    {"OutputIsADirectory",
     join(dumps, {{"FBASIC30.ROM", directory}}),
     {},
     {cut1, "Failed to create output file 'FBASIC30.ROM'", aborted},
     1,
     join(dumps, {{"FBASIC30.ROM", directory}})},
    {"CompleteRun", dumps, {}, {cut1, cut2, cut3, cut4}, 0, join(dumps, images)},
    {"ArgumentsAreIgnored",
     dumps,
     {"--help", "-v", "FBASIC.BIN", "OTHER.ROM"},
     {cut1, cut2, cut3, cut4},
     0,
     join(dumps, images)},
    {"LongerDumps",
     {{"FBASIC.BIN", long_fbasic}, {"SUBMON.BIN", long_submon}, {"BOOTROM.BIN", long_bootrom}},
     {},
     {cut1, cut2, cut3, cut4},
     0,
     {{"FBASIC.BIN", long_fbasic},
      {"SUBMON.BIN", long_submon},
      {"BOOTROM.BIN", long_bootrom},
      {"FBASIC30.ROM", long_fbasic.substr(0, 0x7C00)},
      {"SUBSYS_C.ROM", long_submon.substr(0x5800, 0x2800)},
      {"BOOT_BAS.ROM", long_bootrom.substr(0, 0x200)},
      {"BOOT_DOS.ROM", long_bootrom.substr(0x400, 0x200)}}},
    {"BootDumpHardLinkedToItsImage",
     join(dumps, {{"BOOT_BAS.ROM", hard_link_to + "BOOTROM.BIN>"}}),
     {},
     {cut1, cut2, cut3, "Output file 'BOOT_BAS.ROM' is the same file as 'BOOTROM.BIN'", aborted},
     1,
     join(dumps, {{"FBASIC30.ROM", fbasic},
                  {"SUBSYS_C.ROM", images.at("SUBSYS_C.ROM")},
                  {"BOOT_BAS.ROM", bootrom}})},
    // Equal bytes do not make one file.
    {"OldImageEqualToItsDump",
     join(dumps, {{"BOOT_BAS.ROM", bootrom}}),
     {},
     {cut1, cut2, cut3, cut4},
     0,
     join(dumps, images)},
#ifndef _WIN32
    // A Windows program cannot make a symbolic link under Wine.
    {"DumpLinkedToItsImage",
     join(dumps, {{"FBASIC.BIN", link_to + "FBASIC30.ROM>"}, {"FBASIC30.ROM", fbasic}}),
     {},
     {cut1, "Output file 'FBASIC30.ROM' is the same file as 'FBASIC.BIN'", aborted},
     1,
     join(dumps, {{"FBASIC.BIN", link_to + "FBASIC30.ROM>"}, {"FBASIC30.ROM", fbasic}})},
#endif
    {"SecondRunOverLongerOldImages",
     join(dumps, {{"FBASIC30.ROM", pattern(0x9000, 8)},
                  {"SUBSYS_C.ROM", pattern(0x9000, 9)},
                  {"BOOT_BAS.ROM", pattern(0x9000, 10)},
                  {"BOOT_DOS.ROM", pattern(0x9000, 11)}}),
     {},
     {cut1, cut2, cut3, cut4},
     0,
     join(dumps, images)},
};

class ProgramTest : public support::TempDirTest {
  protected:
    void SetUp() override
    {
        support::TempDirTest::SetUp();
        ASSERT_FALSE(command.empty()) << "no command given to start the program";
        errors = dir / "stderr.txt";
        fs::create_directory(dir / "work");
        fs::current_path(dir / "work");
    }

    fs::path errors;
};

class ProgramCases : public ProgramTest, public testing::WithParamInterface<Case> {};

TEST_P(ProgramCases, PrintsWritesAndExitsAsExpected)
{
    const Case &c = GetParam();
    make(c.before);

    const Result got = run(c.args, errors);

    EXPECT_EQ(got.lines, after_banner(c.lines));
    EXPECT_EQ(got.status, c.status);
    EXPECT_EQ(got.errors, "") << "the program wrote to standard error";
    EXPECT_EQ(list("."), c.after);
}

INSTANTIATE_TEST_SUITE_P(Runs, ProgramCases, testing::ValuesIn(cases), support::CaseName());

#ifndef _WIN32
TEST_F(ProgramTest, FullDiskAbortsTheRun)
{
    make(dumps);
    fs::create_symlink("/dev/full", "SUBSYS_C.ROM");

    const Result got = run({}, errors);

    EXPECT_EQ(got.lines,
              after_banner({cut1, cut2, "Failed to write output file 'SUBSYS_C.ROM'", aborted}));
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(list("."),
              join(dumps, {{"FBASIC30.ROM", fbasic}, {"SUBSYS_C.ROM", "<link to /dev/full>"}}));
}

// The images are written, but the run cannot say so: it must not end as a
// success.
TEST_F(ProgramTest, UnwritableStandardOutputFailsTheRun)
{
    make(dumps);

    const Result got = run({}, errors, " >/dev/full");

    EXPECT_EQ(got.lines, std::vector<std::string>{});
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(list("."), join(dumps, images));
}

// Redirected into an image, the report would be written over the image
// that the run has just cut. Native only: under Wine, an inherited standard
// output cannot be identified (GetFileInformationByHandle fails on it).
TEST_F(ProgramTest, ImageThatIsStandardOutputIsRefused)
{
    make(dumps);

    const Result got = run({}, errors, " >FBASIC30.ROM");

    std::string report;
    for (const std::string &line : after_banner(
             {cut1, "Output file 'FBASIC30.ROM' is the same file as standard output", aborted}))
        report += line + eol;
    EXPECT_EQ(got.lines, std::vector<std::string>{});
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.errors, "");
    EXPECT_EQ(list("."), join(dumps, {{"FBASIC30.ROM", report}}));
}

// A source that blocks, such as a pipe, must not keep a piped run from
// showing which cut it waits for: the header line is written out before the
// source is opened.
TEST_F(ProgramTest, HeaderLineIsWrittenBeforeTheSourceIsOpened)
{
    make(dumps);
    const fs::path trace = dir / "trace.txt";

    const Result got = run({}, errors, "",
                           {"strace", "-f", "-qq", "-s", "4096", "-o", trace.string(), "-e",
                            "trace=openat,write", "-E", "ASAN_OPTIONS=detect_leaks=0"});

    ASSERT_EQ(got.status, 0) << support::read_file(trace);
    const std::string calls = support::read_file(trace);
    const std::size_t header = calls.find("is cut for 'FBASIC30.ROM'\\n");
    const std::size_t open = calls.find("\"FBASIC.BIN\", O_RDONLY");
    ASSERT_NE(open, std::string::npos) << calls;
    EXPECT_LT(header, open) << calls;
}

// Faults injected into the program's own system calls by strace: a read
// that fails must end the cut at once, whichever phase it comes in, and a
// failed write or close of an output must fail the run.
struct Fault {
    const char *name;
    const char *file; // whose calls fail: it must exist before strace starts
    const char *inject;
    std::vector<std::string> lines; // what follows the banner
    // The directory afterwards, given the size in which the source is read.
    Files (*after)(std::size_t block);
};

const Fault faults[] = {
    {"ReadErrorWhileCopying",
     "FBASIC.BIN",
     "read:error=EIO:when=3",
     {cut1, "Unexpected EOF in 'FBASIC.BIN'", aborted},
     [](std::size_t block) {
         return join(dumps, {{"FBASIC30.ROM", fbasic.substr(0, 2 * block)}});
     }},
    {"ReadErrorWhileSkipping",
     "SUBMON.BIN",
     "read:error=EIO:when=2",
     {cut1, cut2, "Unexpected EOF in 'SUBMON.BIN'", aborted},
     [](std::size_t) {
         return join(dumps, {{"FBASIC30.ROM", fbasic}, {"SUBSYS_C.ROM", ""}});
     }},
    {"WriteError",
     "SUBSYS_C.ROM",
     "write:error=ENOSPC:when=1",
     {cut1, cut2, "Failed to write output file 'SUBSYS_C.ROM'", aborted},
     [](std::size_t) {
         return join(dumps, {{"FBASIC30.ROM", fbasic}, {"SUBSYS_C.ROM", ""}});
     }},
    {"CloseError",
     "SUBSYS_C.ROM",
     "close:error=EIO:when=1",
     {cut1, cut2, "Failed to write output file 'SUBSYS_C.ROM'", aborted},
     [](std::size_t) {
         return join(dumps,
                     {{"FBASIC30.ROM", fbasic}, {"SUBSYS_C.ROM", images.at("SUBSYS_C.ROM")}});
     }},
};

class ProgramFaults : public ProgramTest, public testing::WithParamInterface<Fault> {};

TEST_P(ProgramFaults, FaultEndsTheRunAndKeepsWhatWasCopied)
{
    const Fault &f = GetParam();
    make(dumps);
    if (!fs::exists(f.file))
        support::write_file(f.file, "");
    struct stat source;
    ASSERT_EQ(stat("FBASIC.BIN", &source), 0);

    // LeakSanitizer cannot work under ptrace; the rest of a sanitized build
    // can.
    const std::vector<std::string> strace = {"strace",
                                             "-f",
                                             "-qq",
                                             "-o",
                                             "/dev/null",
                                             "-E",
                                             "ASAN_OPTIONS=detect_leaks=0",
                                             "-P",
                                             fs::absolute(f.file).string(),
                                             "-e",
                                             std::string("inject=") + f.inject};
    const Result got = run({}, errors, "", strace);

    EXPECT_EQ(got.lines, after_banner(f.lines));
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.errors, "");
    EXPECT_EQ(list("."), f.after(static_cast<std::size_t>(source.st_blksize)));
}

INSTANTIATE_TEST_SUITE_P(Injected, ProgramFaults, testing::ValuesIn(faults), support::CaseName());

// Root may read and write anything, so these run the program as nobody.
const fs::perms rwxr_xr_x = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec;

struct Denial {
    const char *name;
    fs::perms folder;
    fs::perms fbasic;
    std::vector<std::string> lines; // what follows the banner
};

const Denial denials[] = {
    {"UnreadableSource",
     fs::perms::all,
     fs::perms::none,
     {cut1, "Failed to open source file 'FBASIC.BIN'", aborted}},
    {"ReadOnlyFolder",
     rwxr_xr_x,
     fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
     {cut1, "Failed to create output file 'FBASIC30.ROM'", aborted}},
};

class ProgramDenials : public ProgramTest, public testing::WithParamInterface<Denial> {};

TEST_P(ProgramDenials, DeniedAccessEndsTheRun)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can run the program as another user";
    const Denial &d = GetParam();
    make(dumps);
    // Wherever the build tree is, nobody can run a copy from here.
    const fs::path program = dir / "romcutter";
    fs::copy_file(command.back(), program);
    fs::permissions(program, rwxr_xr_x);
    fs::permissions("FBASIC.BIN", d.fbasic);
    fs::permissions(".", d.folder);

    const Result got =
        run({}, errors, "",
            {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", program.string()});

    EXPECT_EQ(got.lines, after_banner(d.lines));
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.errors, "");
    EXPECT_EQ(list("."), dumps);
}

INSTANTIATE_TEST_SUITE_P(AsNobody, ProgramDenials, testing::ValuesIn(denials), support::CaseName());
#endif
} // namespace

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i)
        command.emplace_back(argv[i]);
    // The program runs in other directories: find it from here.
    for (std::string &word : command) {
        if (fs::exists(word))
            word = fs::absolute(word).string();
    }
    return RUN_ALL_TESTS();
}
