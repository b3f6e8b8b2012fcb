// AFL++ harness over the whole program: the input's header chooses the
// options (see fuzz_input.h), the rest becomes the file, and the tool's own
// main runs on it. Every run ends in exit(), so this uses the fork server
// (one fresh process per input) and not the persistent mode.
// Usage: chunklens_fuzz INPUT

#include "fuzz_input.h"

#include <libinstpatch/libinstpatch.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int chunklens_main(int argc, char **argv);

namespace {

std::vector<std::uint8_t> read_input(const char *path)
{
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

// The file lives in memory and is opened by name through /proc, so that
// parallel runs never share a scratch file.
std::string memory_file(const std::vector<std::uint8_t> &bytes)
{
    const int fd = memfd_create("chunklens-fuzz", 0);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        std::perror("chunklens_fuzz: memory file");
        _exit(2);
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("Usage: chunklens_fuzz INPUT\n", stderr);
        return 2;
    }
    // The library's set-up is the same for every input: done once before
    // the fork server starts, it is not repeated per run.
    ipatch_init();
#ifdef __AFL_HAVE_MANUAL_CONTROL
    __AFL_INIT();
#endif
    const std::vector<std::uint8_t> input = read_input(argv[1]);
    const chunklens_fuzz::DecodedInput decoded =
        chunklens_fuzz::decode_input(input.data(), input.size());

    std::vector<std::string> texts{"chunklens"};
    texts.insert(texts.end(), decoded.options.begin(), decoded.options.end());
    texts.push_back(memory_file(decoded.file));
    std::vector<char *> args;
    for (std::string &text : texts)
        args.push_back(text.data());
    args.push_back(nullptr);
    return chunklens_main(static_cast<int>(texts.size()), args.data());
}
