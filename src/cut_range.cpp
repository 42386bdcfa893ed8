#include "cut_range.hpp"

#include <cstddef>
#include <cstdio>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

// Each stream belongs to one call on one thread, so the byte calls skip the
// stream lock that the plain ones take for every byte.
//
// names_open_file tells whether name names the disk file that stream has
// open: the same volume or device and the same file number there, so that
// two links to one file are known as one.
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

bool names_open_file(const char *name, std::FILE *stream)
{
    const auto open = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    BY_HANDLE_FILE_INFORMATION open_file;
    BY_HANDLE_FILE_INFORMATION named_file;
    if (GetFileType(open) != FILE_TYPE_DISK || !GetFileInformationByHandle(open, &open_file))
        return false;
    // A handle that asks for no access neither blocks nor is blocked by
    // whoever else has the file open.
    const HANDLE named =
        CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE)
        return false;
    const bool known = GetFileInformationByHandle(named, &named_file) != 0;
    CloseHandle(named);
    return known && open_file.dwVolumeSerialNumber == named_file.dwVolumeSerialNumber &&
           open_file.nFileIndexHigh == named_file.nFileIndexHigh &&
           open_file.nFileIndexLow == named_file.nFileIndexLow;
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

bool names_open_file(const char *name, std::FILE *stream)
{
    struct stat open_file;
    struct stat named_file;
    return fstat(fileno(stream), &open_file) == 0 && S_ISREG(open_file.st_mode) &&
           stat(name, &named_file) == 0 && open_file.st_dev == named_file.st_dev &&
           open_file.st_ino == named_file.st_ino;
}
#endif

// An output buffer larger than the default 4 KiB cuts the number of write
// calls by sixteen, which measurably speeds up large cuts; a larger source
// buffer does not. glibc ignores a size given without a buffer.
constexpr std::size_t out_buffer_size = 1 << 16;

// Creating the output empties it, so it must be neither the source being
// read nor the file that this report goes to. Says which, when it is.
bool output_is_an_input(const char *source, const char *output, std::FILE *in)
{
    if (names_open_file(output, in))
        std::printf("Output file '%s' is the same file as '%s'\n", output, source);
    else if (names_open_file(output, stdout))
        std::printf("Output file '%s' is the same file as standard output\n", output);
    else
        return false;
    return true;
}

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
    // Shown before any file is opened, even where standard output is a pipe
    // and the source a device that blocks.
    (void)std::fflush(stdout);

    std::FILE *in = std::fopen(source, "rb");
    if (in == nullptr) {
        std::printf("Failed to open source file '%s'\n", source);
        return false;
    }
    if (output_is_an_input(source, output, in)) {
        (void)std::fclose(in);
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
