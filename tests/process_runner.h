// Runs the chunklens binary as a child process and captures what it writes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace chunklens_test {

enum class StdoutMode {
    Capture,       // standard output to its own file
    DevFull,       // standard output to /dev/full: every write fails
    Closed,        // file descriptor 1 closed before exec
    SharedWithStderr,  // both streams to one file, in the order written
    // A pipe whose reader takes the first line and then closes it, like
    // `chunklens ... | head -1`.
    PipeClosedAfterFirstLine,
    // A pipe read to its end, like `chunklens ... | cat`.
    Pipe,
};

class OutputSoFar;

// The writing end of a stream that the tool reads: a pipe or a socket on
// one of its descriptors, or a FIFO that it names. A writer can pause
// between pieces, stop at any byte or make input of gigabytes on the fly.
// SIGPIPE is ignored in the test program once one exists, so a writer whose
// reader has left sees EPIPE instead of ending the whole test program.
class StreamWriter {
public:
    // Takes over descriptor; output, when given, is the tool's standard
    // output as its reader has seen it so far.
    explicit StreamWriter(int descriptor, OutputSoFar *output = nullptr);
    ~StreamWriter();
    StreamWriter(const StreamWriter &) = delete;
    StreamWriter &operator=(const StreamWriter &) = delete;

    // Writes all the bytes. False once the reader has closed its end: the
    // rest is dropped, and so is everything written after.
    bool write(const std::uint8_t *data, std::size_t size);
    bool write(const std::vector<std::uint8_t> &bytes);
    bool write_zeros(std::uint64_t count);
    // Waits until the reader has taken every byte written so far, so that
    // the next write arrives on its own: true once the stream is empty,
    // false when the reader has left or the timeout has passed first.
    bool wait_until_taken(std::chrono::milliseconds timeout);
    // Ends the stream: the reader sees the end of its input.
    void close();
    // Whether the reader closed its end before taking everything that was
    // written: a write met EPIPE, or a wait found the reader gone.
    bool reader_left() const { return reader_left_; }

    // Waits until what the tool has written to its standard output so far
    // satisfies done, or the tool has closed it, or the timeout has passed;
    // says whether done was met. Only with StdoutMode::Pipe: otherwise no
    // output can be seen while the tool runs, and this is false at once.
    bool wait_for_output(const std::function<bool(const std::string &)> &done,
                         std::chrono::milliseconds timeout) const;

private:
    int descriptor_;
    OutputSoFar *output_;
    bool reader_left_ = false;
};

using StreamWriting = std::function<void(StreamWriter &)>;

// A pseudo-terminal, both sides open until it is destroyed (or the slave
// side closed): the slave side is a terminal that no one types on. Neither
// side becomes the controlling terminal of the test program.
class Pseudoterminal {
public:
    Pseudoterminal();
    ~Pseudoterminal();
    Pseudoterminal(const Pseudoterminal &) = delete;
    Pseudoterminal &operator=(const Pseudoterminal &) = delete;

    const std::string &slave_path() const { return slave_path_; }
    int slave_descriptor() const { return slave_fd_; }
    int master_descriptor() const { return master_fd_; }

    // The bytes waiting in the terminal's input for a program on the slave
    // side to read, whole lines or not: the input is switched out of
    // canonical mode first, where only whole lines would be counted.
    std::size_t unread_input();
    // Once no one else holds the slave side either, the master side reads
    // what is left and then fails with EIO.
    void close_slave();

private:
    int master_fd_ = -1;
    int slave_fd_ = -1;
    std::string slave_path_;
};

struct RunOptions {
    // The value of POSIXLY_CORRECT for the child; when empty the variable is
    // removed from the child's environment.
    std::optional<std::string> posixly_correct = std::nullopt;
    StdoutMode stdout_mode = StdoutMode::Capture;
    // When set, the child (of a runner that is root) stays root but without
    // the capabilities that let root pass file permissions, so that a file's
    // mode bars it as it bars any other owner. The child keeps the working
    // directory it was given and runs the binary from an open descriptor, so
    // that the folders above the build and the scratch files need not be open
    // to anyone else: a clone in /root or in a mode-700 folder works.
    bool without_permission_override = false;
    // A child still running after this long is killed (status -SIGKILL).
    int timeout_seconds = 60;
    // The executable to run; null for the chunklens under test.
    const char *binary = nullptr;

    // Standard input is /dev/null, unless a stream or a terminal is chosen
    // here. A stream is a pipe fed with stdin_bytes, then closed (`cat
    // input | chunklens`), or fed by stdin_writer, which runs on a thread of
    // its own while the child runs; the stream is closed when it returns.
    std::optional<std::vector<std::uint8_t>> stdin_bytes = std::nullopt;
    StreamWriting stdin_writer = nullptr;
    // The child's descriptor for the stream: 0, standard input, or another
    // one, as bash's process substitution hands over /dev/fd/63.
    int stream_descriptor = 0;
    // A connected Unix socket instead of a pipe.
    bool stream_through_socket = false;
    // The child's end of the stream is non-blocking, as a program that
    // shares its descriptors may leave them. (Opening /dev/stdin on a pipe
    // makes a new, blocking, open file; a socket's is the same.)
    bool stream_non_blocking = false;
    // Standard input is the slave side of a new pseudo-terminal, as in an
    // interactive shell.
    bool stdin_terminal = false;
    // Standard input, output and error are all the slave side of a new
    // pseudo-terminal, which is the child's controlling terminal, as for a
    // command typed at a shell prompt: the child leads a session of its own
    // and is in the foreground there. RunResult::terminal gets what it
    // writes; stdout_mode must stay Capture, and no stream may be on
    // standard input.
    bool on_controlling_terminal = false;

    // Entries ("NAME=value") added to the child's environment.
    std::vector<std::string> extra_environment = {};
    // A descriptor of the test's that the child inherits under the same
    // number (-1: none), such as the report channel of a preloaded probe.
    int inherited_descriptor = -1;
};

struct RunResult {
    // With StdoutMode::SharedWithStderr, out holds both streams and err is
    // empty; with DevFull and Closed, out is empty.
    std::string out;
    std::string err;
    // The exit status, or -N when the child died from signal N.
    int status = 0;
    // The child's peak resident memory, in KiB.
    long max_rss_kib = 0;
    // The child closed the stream, or ended, before it had taken everything
    // written to it (StreamWriter::reader_left).
    bool stream_reader_left = false;
    // With on_controlling_terminal: every byte read on the master side, as a
    // terminal emulator gets it (standard output and error together, each
    // "\n" written as "\r\n"); out and err stay empty.
    std::string terminal;
    // With on_controlling_terminal: the bytes left in the terminal's input
    // once the child has ended. No one types, so any are the child's doing.
    std::size_t terminal_input_left = 0;
};

// Runs CHUNKLENS_BINARY with argv[0] "chunklens" followed by args, in the
// directory work_dir, with standard input from /dev/null (unless options
// choose a stream or a terminal) and SIGPIPE at its default, as a shell
// starts it. The capture files are created in work_dir.
// The child's environment sets the sanitizers' options (when the binary has
// them): any report aborts the run, and leak checking skips what the tool
// keeps on purpose until exit.
RunResult run_chunklens(const std::vector<std::string> &args, const std::string &work_dir,
                        const RunOptions &options = {});

// Whether the binaries under test are of another architecture than the
// machine's, run through an interpreter such as qemu-user that binfmt_misc
// starts: the cross builds of cmake/cross that need one say so.
bool binaries_run_under_emulator();

// The command line as one text, for failure messages.
std::string describe_command(const std::vector<std::string> &args, const RunOptions &options);

}  // namespace chunklens_test
