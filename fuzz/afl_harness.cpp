// AFL++ harness over the whole program: the input's header chooses the
// options (see fuzz_input.h), the rest becomes the file, and the tool's own
// main runs on it. Every run ends in exit(), so this uses the fork server
// (one fresh process per input) and not the persistent mode. Besides
// crashes and sanitizer reports, an output that disagrees with the file
// (output_check.h) aborts the run, so the fuzzer saves it as a crash.
// Usage: chunklens_fuzz INPUT

#include "fuzz_input.h"
#include "output_check.h"

#include <libinstpatch/libinstpatch.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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

int memory_file(const std::vector<std::uint8_t> &bytes)
{
    const int fd = memfd_create("chunklens-fuzz", 0);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        std::perror("chunklens_fuzz: memory file");
        _exit(2);
    }
    return fd;
}

// What the run reads and what it printed, for the check at exit.
std::vector<std::uint8_t> input_file;
int output_fd = -1;

// The tool flushes standard output before every exit.
void check_output_at_exit()
{
    std::fflush(stdout);
    std::string out(static_cast<std::size_t>(lseek(output_fd, 0, SEEK_END)), '\0');
    if (pread(output_fd, out.data(), out.size(), 0) != static_cast<ssize_t>(out.size()))
        return;
    const std::string problem = chunklens_fuzz::check_output(out, input_file);
    if (!problem.empty()) {
        std::fprintf(stderr, "chunklens_fuzz: output disagrees with the file: %s\n",
                     problem.c_str());
        std::abort();
    }
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

    // The file lives in memory and is opened by name through /proc, so
    // that parallel runs never share a scratch file; so does the output.
    input_file = decoded.file;
    output_fd = memory_file({});
    if (dup2(output_fd, STDOUT_FILENO) < 0)
        return 2;
    std::atexit(check_output_at_exit);

    std::vector<std::string> texts{"chunklens"};
    texts.insert(texts.end(), decoded.options.begin(), decoded.options.end());
    texts.push_back("/proc/self/fd/" + std::to_string(memory_file(decoded.file)));
    std::vector<char *> args;
    for (std::string &text : texts)
        args.push_back(text.data());
    args.push_back(nullptr);
    return chunklens_main(static_cast<int>(texts.size()), args.data());
}
