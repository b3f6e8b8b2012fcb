#include "process_runner.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
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

// Opens path on a descriptor above the standard streams, which the child
// replaces (the runner itself may have been started without them).
int open_above_standard_streams(const char *path, int flags)
{
    const int fd = ::open(path, flags);
    if (fd < 0 || fd > 2)
        return fd;
    const int moved = ::fcntl(fd, (flags & O_CLOEXEC) ? F_DUPFD_CLOEXEC : F_DUPFD, 3);
    ::close(fd);
    return moved;
}

bool starts_with(const char *text, const char *prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// A sanitizer report must never pass for the tool's own status 1, so it
// aborts the child (status -SIGABRT) and its text on stderr fails every
// exact comparison. Full stacks on allocation let the suppressions name the
// tool's functions.
// The suppressions are named by suppressions_path.
std::vector<std::string> sanitizer_settings(const std::string &suppressions_path)
{
    return {
        "ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:fast_unwind_on_malloc=0",
        "UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1",
        "LSAN_OPTIONS=print_suppressions=0:suppressions=" + suppressions_path,
    };
}

std::vector<std::string> child_environment(const RunOptions &options,
                                           const std::string &suppressions_path)
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
    for (std::string &setting : sanitizer_settings(suppressions_path))
        entries.push_back(std::move(setting));
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

// In the child, once its error file is on descriptor 2: says why it gives
// up before the tool could run.
[[noreturn]] void child_gives_up(const char *why)
{
    const ssize_t ignored = ::write(2, why, std::strlen(why));
    (void)ignored;
    ::_exit(126);
}

// Root passes file permissions through CAP_DAC_OVERRIDE, and reads and
// searches through CAP_DAC_READ_SEARCH. An execve by root grants again
// every capability left in the bounding set, so the two leave that set as
// well as the current ones (which takes them from the ambient set too).
bool drop_permission_override()
{
    for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        if (::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0)
            return false;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, sets) != 0)
        return false;
    const __u32 kept = ~(CAP_TO_MASK(CAP_DAC_OVERRIDE) | CAP_TO_MASK(CAP_DAC_READ_SEARCH));
    sets[0].effective &= kept;
    sets[0].permitted &= kept;
    sets[0].inheritable &= kept;
    return ::syscall(SYS_capset, &header, sets) == 0;
}

// In the child: only async-signal-safe calls from here to execve.
[[noreturn]] void exec_child(const std::string &work_dir, int binary_fd, int out_fd, int err_fd,
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
    if (options.without_permission_override && !drop_permission_override())
        child_gives_up("process_runner: cannot drop CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH\n");
    ::fexecve(binary_fd, argv, envp);
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
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
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

    // Opened here, while the folders above them may still be searched; the
    // child runs the binary through its descriptor. A child that cannot
    // search those folders reads the suppressions through an inherited
    // descriptor instead of their path.
    const char *const binary = options.binary ? options.binary : CHUNKLENS_BINARY;
    const int binary_fd = open_above_standard_streams(binary, O_PATH | O_CLOEXEC);
    if (binary_fd < 0)
        throw std::runtime_error(std::string("cannot open ") + binary + ": " +
                                 std::strerror(errno));
    std::string suppressions_path = CHUNKLENS_LSAN_SUPPRESSIONS;
    int suppressions_fd = -1;
    if (options.without_permission_override) {
        suppressions_fd = open_above_standard_streams(CHUNKLENS_LSAN_SUPPRESSIONS, O_RDONLY);
        if (suppressions_fd < 0)
            throw std::runtime_error(std::string("cannot open " CHUNKLENS_LSAN_SUPPRESSIONS ": ") +
                                     std::strerror(errno));
        suppressions_path = "/proc/self/fd/" + std::to_string(suppressions_fd);
    }
    std::vector<std::string> env_texts = child_environment(options, suppressions_path);
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
        exec_child(work_dir, binary_fd, out_fd, err_fd, options, argv.data(), envp.data());

    if (out_fd >= 0)
        ::close(out_fd);
    ::close(err_fd);
    ::close(binary_fd);
    if (suppressions_fd >= 0)
        ::close(suppressions_fd);

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
