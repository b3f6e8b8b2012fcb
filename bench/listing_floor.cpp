// The floor of the listing benchmark: prints the listing of a well-formed
// RIFF or RIFX file, line for line as chunklens does, through printf, from
// the file mapped into memory: no library, no system call per chunk,
// nothing checked beyond what keeps it inside the file. What chunklens
// takes beyond this is the cost of its reading and walking.
// bench/run checks that both print the same before it times them.
// Usage: listing_floor FILE

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// chunklens refuses deeper nesting; so does this.
constexpr int MAX_DEPTH = 127;

struct Riff {
    const unsigned char *bytes;
    std::size_t size;
    bool big_endian;

    std::uint32_t u32(std::size_t at) const
    {
        const unsigned char *p = bytes + at;
        return big_endian ? std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 |
                                std::uint32_t(p[2]) << 8 | p[3]
                          : std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 |
                                std::uint32_t(p[1]) << 8 | p[0];
    }
};

[[noreturn]] void give_up(const char *what, std::size_t offset)
{
    std::fflush(stdout);
    std::fprintf(stderr, "listing_floor: %s at offset 0x%zx\n", what, offset);
    std::exit(1);
}

// Each level's text is a tail of one string of blanks.
char blanks[2 * MAX_DEPTH + 1];

const char *indent(int depth)
{
    return blanks + sizeof blanks - 1 - 2 * depth;
}

void list(const Riff &riff)
{
    if (riff.size < 12)
        give_up("no room for the RIFF header", 0);
    const std::uint32_t top_size = riff.u32(4);
    std::printf("%s<%.4s>[%4d] (ofs = 0x%x, size = %u)\n", indent(0), riff.bytes + 8, 0, 0u,
                top_size);
    int index = 1;
    // The end of every list that is open, the top-level chunk first.
    std::vector<std::size_t> ends{8 + std::size_t(top_size)};
    std::size_t at = 12;
    while (!ends.empty()) {
        if (at >= ends.back()) {
            ends.pop_back();
            continue;
        }
        if (at + 8 > riff.size)
            give_up("chunk header cut by the end of the file", at);
        const std::uint32_t size = riff.u32(at + 4);
        const int depth = static_cast<int>(ends.size());
        if (std::memcmp(riff.bytes + at, "LIST", 4) == 0) {
            if (at + 12 > riff.size)
                give_up("list type cut by the end of the file", at);
            if (depth >= MAX_DEPTH)
                give_up("lists nested too deep", at);
            std::printf("%s<%.4s>[%4d] (ofs = 0x%x, size = %u)\n", indent(depth),
                        riff.bytes + at + 8, index++, static_cast<unsigned>(at), size);
            ends.push_back(at + 8 + ((std::size_t(size) + 1) & ~std::size_t(1)));
            at += 12;
        } else {
            std::printf("%s(%.4s)[%4d] (ofs = 0x%x, size = %u)\n", indent(depth),
                        riff.bytes + at, index++, static_cast<unsigned>(at), size);
            // A chunk of odd size is followed by a pad byte.
            at += 8 + ((std::size_t(size) + 1) & ~std::size_t(1));
        }
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("usage: listing_floor FILE\n", stderr);
        return 2;
    }
    const int fd = ::open(argv[1], O_RDONLY);
    struct stat status;
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    const std::size_t size = static_cast<std::size_t>(status.st_size);
    void *mapped = size == 0 ? nullptr : ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (mapped == MAP_FAILED) {
        std::perror(argv[1]);
        return 1;
    }
    std::memset(blanks, ' ', sizeof blanks - 1);
    // Output in large writes, as befits a floor: the text of a million
    // chunks is about 45 MB.
    static char buffer[1 << 20];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);

    const Riff riff{static_cast<const unsigned char *>(mapped), size,
                    size >= 4 && std::memcmp(mapped, "RIFX", 4) == 0};
    if (size < 4 || (!riff.big_endian && std::memcmp(mapped, "RIFF", 4) != 0))
        give_up("no RIFF or RIFX header", 0);
    list(riff);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
