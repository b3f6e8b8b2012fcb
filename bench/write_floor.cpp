// The floor of the dump benchmark: writes BYTES bytes of text to standard
// output in writes of WRITE_SIZE bytes, without reading or formatting
// anything, so that the time of a dump can be set against the time that
// merely handing the same amount of text to the kernel takes. A pipe is
// enlarged as far as the system allows first, as chunklens does.
// Usage: write_floor BYTES WRITE_SIZE

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void enlarge_pipe()
{
#ifdef F_SETPIPE_SZ
    long size = 1 << 20;
    if (std::FILE *limit = std::fopen("/proc/sys/fs/pipe-max-size", "re")) {
        if (std::fscanf(limit, "%ld", &size) != 1)
            size = 1 << 20;
        std::fclose(limit);
    }
    if (size > (1 << 20))
        size = 1 << 20;
    const long current = ::fcntl(STDOUT_FILENO, F_GETPIPE_SZ);
    for (; current >= 0 && size > current; size /= 2)
        if (::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, static_cast<int>(size)) >= 0)
            break;
#endif
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fputs("usage: write_floor BYTES WRITE_SIZE\n", stderr);
        return 2;
    }
    unsigned long long remaining = std::strtoull(argv[1], nullptr, 10);
    const std::size_t write_size = std::strtoull(argv[2], nullptr, 10);
    if (write_size == 0) {
        std::fputs("write_floor: WRITE_SIZE must be at least 1\n", stderr);
        return 2;
    }
    enlarge_pipe();
    // Text of the dump's kind, so that a file system sees what it would see.
    std::vector<char> text(write_size);
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = "0123456789ABCDEF \n"[i % 18];
    while (remaining > 0) {
        const std::size_t length = remaining < write_size ? remaining : write_size;
        std::size_t done = 0;
        while (done < length) {
            const ssize_t written = ::write(STDOUT_FILENO, text.data() + done, length - done);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                std::fprintf(stderr, "write_floor: %s\n", std::strerror(errno));
                return 1;
            }
            done += static_cast<std::size_t>(written);
        }
        remaining -= length;
    }
    return 0;
}
