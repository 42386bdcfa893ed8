#pragma once

#include <cstdint>

// Copies the bytes at positions first to last, both included, of the file
// named source into the file named output, which is created or emptied.
// Prints a header line naming the cut, and at most one line saying why it
// failed. Returns true only when every byte of the range was read and the
// output was written and closed without error; a failed cut leaves in place
// whatever it wrote of the output. An output that is the source itself, or
// the file that standard output goes to, under whatever name or link, is
// refused before anything is created or emptied.
//
// first must not be negative. A first offset greater than last gives an
// empty output. Any last offset up to INT32_MAX is safe.
bool cut_range(const char *source, const char *output, std::int32_t first, std::int32_t last);
