// AFL++ harness over the whole program: the input's header chooses the
// options (see fuzz_input.h), the rest becomes the file, and the tool's own
// main runs on it; inputs with the stream prefix have the file fed through
// a pipe. Every run ends in exit(), so this uses the fork server
// (one fresh process per input) and not the persistent mode. Besides
// crashes and sanitizer reports, an output that disagrees with the file
// (output_check.h) aborts the run, so the fuzzer saves it as a crash.
// Usage: chunklens_fuzz INPUT

#include "fuzz_input.h"
#include "output_check.h"

#include <libinstpatch/libinstpatch.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
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

// Waits until the tool has read all that the pipe holds; false once the
// tool has gone. The tool enlarges a pipe that it reads, so the pipe's
// size cannot tell when it is empty: its count of unread bytes does.
bool wait_until_pipe_is_empty(int write_end)
{
    for (;;) {
        pollfd room = {write_end, POLLOUT, 0};
        if (poll(&room, 1, -1) < 0 && errno != EINTR)
            return false;
        if ((room.revents & (POLLERR | POLLHUP)) != 0)
            return false;
        int unread = 0;
        if (ioctl(write_end, FIONREAD, &unread) != 0)
            return false;
        if (unread == 0)
            return true;
        usleep(20);
    }
}

// Writes BYTES into the pipe WRITE_END in pieces as fuzz_input.h has them,
// each once the pipe is empty; stops early when the reader has gone.
void feed_pipe(int write_end, const std::vector<std::uint8_t> &bytes, std::size_t chosen_piece)
{
    std::size_t pieces = 0;
    for (std::size_t done = 0; done < bytes.size();) {
        const std::size_t piece = pieces < chunklens_fuzz::CHOSEN_PIECE_COUNT
                                      ? chosen_piece
                                      : chunklens_fuzz::LARGEST_PIPE_PIECE;
        if (!wait_until_pipe_is_empty(write_end))
            return;
        const std::size_t length = std::min(piece, bytes.size() - done);
        const ssize_t written = write(write_end, bytes.data() + done, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        done += static_cast<std::size_t>(written);
        ++pieces;
    }
}

// The writer puts each piece in once the tool has read all of the one
// before: the tool's reads end where the pieces do, whatever the timing, and
// a saved input runs the same way again. Returns the pipe's read end.
//
// It is a thread, started before the tool runs: the tool's confinement
// holds the thread that loads it, and lets through none of what a writer
// process would need at exit (closing the pipe, signalling or waiting for
// the writer). The thread goes with the process, so its coverage is all in
// when the run ends, and nothing of it reaches the next run.
int pipe_from_writer(const std::vector<std::uint8_t> &bytes, std::size_t piece)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        std::perror("chunklens_fuzz: pipe");
        _exit(2);
    }
    std::thread([write_end = ends[1], &bytes, piece] {
        // A reader that leaves is seen as a failed write: SIGPIPE, sent to
        // the thread that wrote, stays blocked here.
        sigset_t pipe_signal;
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
        feed_pipe(write_end, bytes, piece);
        close(write_end);
    }).detach();
    return ends[0];
}

int output_fd = -1;

// What the run reads and what it printed, for the check at exit.
std::vector<std::uint8_t> input_file;

// The tool flushes standard output before every exit.
void check_output_at_exit()
{
    std::fflush(stdout);
    // Its size through fstat, which the confinement lets through.
    struct stat status;
    if (fstat(output_fd, &status) != 0)
        return;
    std::string out(static_cast<std::size_t>(status.st_size), '\0');
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
    // Static: the pipe's writer reads it until the process ends.
    static const chunklens_fuzz::DecodedInput decoded =
        chunklens_fuzz::decode_input(input.data(), input.size());

    // The file lives in memory and is opened by name through /proc, so
    // that parallel runs never share a scratch file; so does the output.
    // A file fed through a pipe is named as /dev/fd/N, as a shell's process
    // substitution names one.
    input_file = decoded.file;
    output_fd = memory_file({});
    if (dup2(output_fd, STDOUT_FILENO) < 0)
        return 2;
    std::atexit(check_output_at_exit);

    std::vector<std::string> texts{"chunklens"};
    texts.insert(texts.end(), decoded.options.begin(), decoded.options.end());
    if (decoded.through_pipe)
        texts.push_back("/dev/fd/" +
                        std::to_string(pipe_from_writer(decoded.file, decoded.pipe_piece)));
    else
        texts.push_back("/proc/self/fd/" + std::to_string(memory_file(decoded.file)));
    std::vector<char *> args;
    for (std::string &text : texts)
        args.push_back(text.data());
    args.push_back(nullptr);
    return chunklens_main(static_cast<int>(texts.size()), args.data());
}
