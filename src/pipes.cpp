// Pipes, on either end of the tool.

#include "pipes.h"

#include <fcntl.h>

#include <algorithm>
#include <cstdio>

namespace {

// A pipe is not enlarged beyond this: it then holds fourteen blocks of dump
// text, enough for the writer and its reader to run side by side, and a
// larger one would only pin more kernel memory.
constexpr long PIPE_SIZE_LIMIT = 1 << 20;

// The largest pipe an unprivileged process may make; 0 when unknown.
long read_pipe_max_size()
{
    long size = 0;
    if (std::FILE *limit = std::fopen("/proc/sys/fs/pipe-max-size", "re")) {
        if (std::fscanf(limit, "%ld", &size) != 1)
            size = 0;
        std::fclose(limit);
    }
    return size;
}

// Read once: the output pipe is enlarged at the first dump, when the
// process can no longer open anything.
long pipe_max_size()
{
    static const long size = read_pipe_max_size();
    return size;
}

}  // namespace

void read_pipe_size_limit()
{
    pipe_max_size();
}

std::size_t enlarge_pipe(int descriptor)
{
#ifdef F_SETPIPE_SZ
    const long current = ::fcntl(descriptor, F_GETPIPE_SZ);
    if (current < 0)
        return 0;
    const long largest = pipe_max_size();
    for (long size = std::min(largest > 0 ? largest : PIPE_SIZE_LIMIT, PIPE_SIZE_LIMIT);
         size > current; size /= 2) {
        const long granted = ::fcntl(descriptor, F_SETPIPE_SZ, static_cast<int>(size));
        if (granted >= 0)
            return static_cast<std::size_t>(granted);
    }
    return static_cast<std::size_t>(current);
#else
    (void)descriptor;
    return 0;
#endif
}

