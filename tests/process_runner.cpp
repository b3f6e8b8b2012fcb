#include "process_runner.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef CHUNKLENS_BINARY
#error "CHUNKLENS_BINARY must name the chunklens executable"
#endif
#ifndef CHUNKLENS_LSAN_SUPPRESSIONS
#error "CHUNKLENS_LSAN_SUPPRESSIONS must name the leak suppressions file"
#endif

extern char **environ;

namespace chunklens_test {

namespace {

std::string read_whole_file(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

int open_capture_file(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
    return fd;
}

bool starts_with(const char *text, const char *prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// A sanitizer report must never pass for the tool's own status 1, so it
// aborts the child (status -SIGABRT) and its text on stderr fails every
// exact comparison. Full stacks on allocation let the suppressions name the
// tool's functions.
const char *const SANITIZER_SETTINGS[] = {
    "ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:fast_unwind_on_malloc=0",
    "UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1",
    "LSAN_OPTIONS=print_suppressions=0:suppressions=" CHUNKLENS_LSAN_SUPPRESSIONS,
};

std::vector<std::string> child_environment(const RunOptions &options)
{
    static const char *const replaced[] = {"POSIXLY_CORRECT=", "ASAN_OPTIONS=", "UBSAN_OPTIONS=",
                                           "LSAN_OPTIONS="};
    std::vector<std::string> entries;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        bool keep = true;
        for (const char *prefix : replaced)
            keep = keep && !starts_with(*entry, prefix);
        if (keep)
            entries.emplace_back(*entry);
    }
    if (options.posixly_correct)
        entries.push_back("POSIXLY_CORRECT=" + *options.posixly_correct);
    entries.insert(entries.end(), std::begin(SANITIZER_SETTINGS), std::end(SANITIZER_SETTINGS));
    return entries;
}

std::vector<char *> pointers_to(std::vector<std::string> &texts)
{
    std::vector<char *> pointers;
    for (std::string &text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// In the child: only async-signal-safe calls from here to execve.
[[noreturn]] void exec_child(const std::string &work_dir, int out_fd, int err_fd,
                             const RunOptions &options, char **argv, char **envp)
{
    // The test program or its runner may ignore SIGPIPE; a shell does not.
    ::signal(SIGPIPE, SIG_DFL);
    const int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null_fd < 0 || ::dup2(null_fd, 0) < 0)
        ::_exit(126);
    if (::dup2(err_fd, 2) < 0)
        ::_exit(126);
    switch (options.stdout_mode) {
    case StdoutMode::Capture:
    case StdoutMode::DevFull:
    case StdoutMode::PipeClosedAfterFirstLine:
    case StdoutMode::Pipe:
        if (::dup2(out_fd, 1) < 0)
            ::_exit(126);
        break;
    case StdoutMode::SharedWithStderr:
        if (::dup2(err_fd, 1) < 0)
            ::_exit(126);
        break;
    case StdoutMode::Closed:
        ::close(1);
        break;
    }
    if (::chdir(work_dir.c_str()) != 0)
        ::_exit(126);
    if (options.run_as_user) {
        const uid_t user = *options.run_as_user;
        if (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0)
            ::_exit(126);
    }
    ::execve(options.binary ? options.binary : CHUNKLENS_BINARY, argv, envp);
    ::_exit(127);
}

// The reader of `| head -1`: takes bytes up to the first newline, then
// closes its end while the writer may still be going.
std::string read_first_line_and_close(int fd)
{
    std::string line;
    char byte;
    while (line.find('\n') == std::string::npos && ::read(fd, &byte, 1) == 1)
        line += byte;
    ::close(fd);
    return line;
}

// The reader of `| cat`: takes everything until the writer closes its end,
// or until the timeout, after which the child is killed anyway.
std::string read_all_and_close(int fd, int timeout_seconds)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeout_seconds);
    std::string text;
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd readable = {fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) == 0)
            break;
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0)
            text.append(buffer, static_cast<std::size_t>(count));
        else if (count == 0 || errno != EINTR)
            break;
    }
    ::close(fd);
    return text;
}

// Waits for the child; one that outlives the timeout is killed, so that a
// run that hangs fails its test instead of the whole suite.
int wait_for_child(pid_t pid, int timeout_seconds, rusage &usage)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeout_seconds);
    int wait_status = 0;
    for (;;) {
        const pid_t done = ::wait4(pid, &wait_status, WNOHANG, &usage);
        if (done == pid)
            return wait_status;
        if (done < 0 && errno != EINTR)
            throw std::runtime_error(std::string("waitpid: ") + std::strerror(errno));
        if (Clock::now() > deadline)
            ::kill(pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

}  // namespace

RunResult run_chunklens(const std::vector<std::string> &args, const std::string &work_dir,
                        const RunOptions &options)
{
    const std::string out_path = work_dir + "/.stdout";
    const std::string err_path = work_dir + "/.stderr";

    std::vector<std::string> argv_texts{"chunklens"};
    argv_texts.insert(argv_texts.end(), args.begin(), args.end());
    std::vector<char *> argv = pointers_to(argv_texts);
    std::vector<std::string> env_texts = child_environment(options);
    std::vector<char *> envp = pointers_to(env_texts);

    int out_fd = -1;
    if (options.stdout_mode == StdoutMode::Capture)
        out_fd = open_capture_file(out_path);
    else if (options.stdout_mode == StdoutMode::DevFull)
        out_fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    int pipe_read_fd = -1;
    if (options.stdout_mode == StdoutMode::PipeClosedAfterFirstLine ||
        options.stdout_mode == StdoutMode::Pipe) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
        pipe_read_fd = ends[0];
        out_fd = ends[1];
    }
    const int err_fd = open_capture_file(err_path);

    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0)
        exec_child(work_dir, out_fd, err_fd, options, argv.data(), envp.data());

    if (out_fd >= 0)
        ::close(out_fd);
    ::close(err_fd);

    RunResult result;
    if (options.stdout_mode == StdoutMode::PipeClosedAfterFirstLine)
        result.out = read_first_line_and_close(pipe_read_fd);
    else if (options.stdout_mode == StdoutMode::Pipe)
        result.out = read_all_and_close(pipe_read_fd, options.timeout_seconds);
    rusage usage{};
    const int wait_status = wait_for_child(pid, options.timeout_seconds, usage);
    result.max_rss_kib = usage.ru_maxrss;
    if (WIFEXITED(wait_status))
        result.status = WEXITSTATUS(wait_status);
    else
        result.status = -WTERMSIG(wait_status);
    if (options.stdout_mode == StdoutMode::Capture)
        result.out = read_whole_file(out_path);
    if (options.stdout_mode == StdoutMode::SharedWithStderr)
        result.out = read_whole_file(err_path);
    else
        result.err = read_whole_file(err_path);
    return result;
}

std::string describe_command(const std::vector<std::string> &args, const RunOptions &options)
{
    std::string text;
    if (options.posixly_correct)
        text += "POSIXLY_CORRECT=" + *options.posixly_correct + " ";
    text += "chunklens";
    for (const std::string &arg : args)
        text += " '" + arg + "'";
    switch (options.stdout_mode) {
    case StdoutMode::Capture:
        break;
    case StdoutMode::DevFull:
        text += " >/dev/full";
        break;
    case StdoutMode::Closed:
        text += " >&-";
        break;
    case StdoutMode::SharedWithStderr:
        text += " 2>&1";
        break;
    case StdoutMode::PipeClosedAfterFirstLine:
        text += " | head -1";
        break;
    case StdoutMode::Pipe:
        text += " | cat";
        break;
    }
    if (options.binary)
        text += " (run as " + std::string(options.binary) + ")";
    return text;
}

}  // namespace chunklens_test
