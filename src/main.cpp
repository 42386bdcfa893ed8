#include "cut_range.hpp"

#include <cstdint>
#include <cstdio>

namespace {

struct Job {
    const char *source;
    const char *output;
    std::int32_t first;
    std::int32_t last;
};

const Job jobs[] = {
    {"FBASIC.BIN", "FBASIC30.ROM", 0x0000, 0x7BFF},
    {"SUBMON.BIN", "SUBSYS_C.ROM", 0x5800, 0x7FFF},
    {"BOOTROM.BIN", "BOOT_BAS.ROM", 0x0000, 0x01FF},
    {"BOOTROM.BIN", "BOOT_DOS.ROM", 0x0400, 0x05FF},
};

const char *const banner[] = {
    "NOVLAR ROM CUTTER v0.1",
    "Written by the NOVLAR ROM CUTTER authors",
    "",
    "This program requires the following files:",
    " 1. FBASIC.BIN",
    " 2. SUBMON.BIN",
    " 3. BOOTROM.BIN",
    "You have to extract above files from your FM-7 ROM before you run this program.\n",
};

} // namespace

// Arguments are ignored: the program always makes the same four cuts.
int main()
{
    for (const char *line : banner)
        std::puts(line);
    for (const Job &job : jobs) {
        if (!cut_range(job.source, job.output, job.first, job.last)) {
            std::puts("Program aborted");
            return 1;
        }
    }
    // The report is part of the result: a run whose lines could not be
    // written does not end as a success.
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
