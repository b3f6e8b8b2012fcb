// Runs the chunklens binary as a child process and captures what it writes.
#pragma once

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
};

// Runs CHUNKLENS_BINARY with argv[0] "chunklens" followed by args, in the
// directory work_dir, with standard input from /dev/null and SIGPIPE at its
// default, as a shell starts it. The capture files are created in work_dir.
// The child's environment sets the sanitizers' options (when the binary has
// them): any report aborts the run, and leak checking skips what the tool
// keeps on purpose until exit.
RunResult run_chunklens(const std::vector<std::string> &args, const std::string &work_dir,
                        const RunOptions &options = {});

// The command line as one text, for failure messages.
std::string describe_command(const std::vector<std::string> &args, const RunOptions &options);

}  // namespace chunklens_test
