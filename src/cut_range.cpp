#include "cut_range.hpp"

#include <cstdio>

namespace {

enum class Stop { done, source_ended, write_failed };

// Reads first bytes and throws them away, then copies the range one byte at
// a time. A read that yields no byte ends the cut in either phase: counting
// a failed read as skipped would shift the rest of the image by one byte.
Stop copy_range(std::FILE *in, std::FILE *out, std::int32_t first, std::int32_t last)
{
    for (std::int32_t i = 0; i < first; ++i) {
        if (std::fgetc(in) == EOF || std::feof(in))
            return Stop::source_ended;
    }
    // 64 bits, so that a last offset of INT32_MAX ends the loop.
    for (std::int64_t pos = first; pos <= last; ++pos) {
        const int c = std::fgetc(in);
        if (c == EOF || std::feof(in))
            return Stop::source_ended;
        if (std::fputc(c, out) == EOF)
            return Stop::write_failed;
    }
    return Stop::done;
}

} // namespace

bool cut_range(const char *source, const char *output, std::int32_t first, std::int32_t last)
{
    std::printf("$%04x to $%04x of '%s' is cut for '%s'\n", static_cast<unsigned>(first),
                static_cast<unsigned>(last), source, output);

    std::FILE *in = std::fopen(source, "rb");
    if (in == nullptr) {
        std::printf("Failed to open source file '%s'\n", source);
        return false;
    }
    std::FILE *out = std::fopen(output, "wb");
    if (out == nullptr) {
        std::printf("Failed to create output file '%s'\n", output);
        std::fclose(in);
        return false;
    }

    Stop stop = copy_range(in, out, first, last);
    std::fclose(in);
    // A failed flush is not always reported by fclose, so both are checked.
    if (std::fflush(out) != 0 && stop == Stop::done)
        stop = Stop::write_failed;
    if (std::fclose(out) != 0 && stop == Stop::done)
        stop = Stop::write_failed;

    if (stop == Stop::source_ended)
        std::printf("Unexpected EOF in '%s'\n", source);
    else if (stop == Stop::write_failed)
        std::printf("Failed to write output file '%s'\n", output);
    return stop == Stop::done;
}
