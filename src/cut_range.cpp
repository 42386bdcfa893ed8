#include "cut_range.hpp"

#include <cstddef>
#include <cstdio>

namespace {

// Each stream belongs to one call on one thread, so the byte calls skip the
// stream lock that the plain ones take for every byte.
#ifdef _WIN32
inline int get_byte(std::FILE *in)
{
    return _getc_nolock(in);
}
inline int put_byte(int c, std::FILE *out)
{
    return _putc_nolock(c, out);
}
inline bool at_end(std::FILE *in)
{
    return std::feof(in) != 0;
}
#else
inline int get_byte(std::FILE *in)
{
    return getc_unlocked(in);
}
inline int put_byte(int c, std::FILE *out)
{
    return putc_unlocked(c, out);
}
inline bool at_end(std::FILE *in)
{
    return feof_unlocked(in) != 0;
}
#endif

// An output buffer larger than the default 4 KiB cuts the number of write
// calls by sixteen, which measurably speeds up large cuts; a larger source
// buffer does not. glibc ignores a size given without a buffer.
constexpr std::size_t out_buffer_size = 1 << 16;

enum class Stop { done, source_ended, write_failed };

// Reads first bytes and throws them away, then copies the range one byte at
// a time. A read that yields no byte ends the cut in either phase: counting
// a failed read as skipped would shift the rest of the image by one byte.
Stop copy_range(std::FILE *in, std::FILE *out, std::int32_t first, std::int32_t last)
{
    for (std::int32_t i = 0; i < first; ++i) {
        if (get_byte(in) == EOF || at_end(in))
            return Stop::source_ended;
    }
    // 64 bits, so that a last offset of INT32_MAX ends the loop.
    for (std::int64_t pos = first; pos <= last; ++pos) {
        const int c = get_byte(in);
        if (c == EOF || at_end(in))
            return Stop::source_ended;
        if (put_byte(c, out) == EOF)
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
        (void)std::fclose(in);
        return false;
    }

    char out_buffer[out_buffer_size];
    // Failing that, the stream keeps its default buffer.
    (void)std::setvbuf(out, out_buffer, _IOFBF, out_buffer_size);
    Stop stop = copy_range(in, out, first, last);
    // Closing a stream that was only read loses nothing.
    (void)std::fclose(in);
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
