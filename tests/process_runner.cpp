#include "process_runner.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifndef CHUNKLENS_BINARY
#error "CHUNKLENS_BINARY must name the chunklens executable"
#endif
#ifndef CHUNKLENS_LSAN_SUPPRESSIONS
#error "CHUNKLENS_LSAN_SUPPRESSIONS must name the leak suppressions file"
#endif

extern char **environ;

namespace chunklens_test {

// What the tool has written to its standard output pipe so far, shared by
// the reader of that pipe and a stream writer that waits for it.
class OutputSoFar {
public:
    void append(const char *data, std::size_t size)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            text_.append(data, size);
        }
        changed_.notify_all();
    }

    // The reader has stopped: nothing more will come.
    void end()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ended_ = true;
        }
        changed_.notify_all();
    }

    bool wait_until(const std::function<bool(const std::string &)> &done,
                    std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return ended_ || done(text_); });
        return done(text_);
    }

    std::string text()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string text_;
    bool ended_ = false;
};

StreamWriter::StreamWriter(int descriptor, OutputSoFar *output)
    : descriptor_(descriptor), output_(output)
{
    std::signal(SIGPIPE, SIG_IGN);
}

StreamWriter::~StreamWriter()
{
    close();
}

bool StreamWriter::write(const std::uint8_t *data, std::size_t size)
{
    if (reader_left_)
        return false;
    if (descriptor_ < 0)
        throw std::logic_error("StreamWriter: write after close");
    while (size > 0) {
        const ssize_t written = ::write(descriptor_, data, size);
        if (written > 0) {
            data += written;
            size -= static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EPIPE || errno == ECONNRESET)) {
            reader_left_ = true;
            return false;
        } else {
            throw std::runtime_error(std::string("StreamWriter: write: ") + std::strerror(errno));
        }
    }
    return true;
}

bool StreamWriter::write(const std::vector<std::uint8_t> &bytes)
{
    return write(bytes.data(), bytes.size());
}

bool StreamWriter::write_zeros(std::uint64_t count)
{
    static const std::vector<std::uint8_t> zeros(1 << 16);
    while (count > 0) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(count, zeros.size()));
        if (!write(zeros.data(), piece))
            return false;
        count -= piece;
    }
    return true;
}

bool StreamWriter::wait_until_taken(std::chrono::milliseconds timeout)
{
    // What a pipe holds is counted on either end; on a socket, the writer
    // counts what it sent and the reader has yet to take.
    struct stat status;
    if (descriptor_ < 0 || ::fstat(descriptor_, &status) != 0)
        return false;
    const unsigned long unread_request = S_ISSOCK(status.st_mode) ? SIOCOUTQ : FIONREAD;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!reader_left_) {
        int unread = 0;
        if (::ioctl(descriptor_, unread_request, &unread) != 0)
            throw std::runtime_error(std::string("StreamWriter: ioctl: ") + std::strerror(errno));
        if (unread == 0)
            return true;
        // The writing end polls as an error (a socket: as hung up) once no
        // reader is left.
        pollfd watched = {descriptor_, POLLOUT, 0};
        if (::poll(&watched, 1, 0) > 0 && (watched.revents & (POLLERR | POLLHUP)) != 0)
            reader_left_ = true;
        else if (std::chrono::steady_clock::now() > deadline)
            return false;
        else
            std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return false;
}

void StreamWriter::close()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
    descriptor_ = -1;
}

bool StreamWriter::wait_for_output(const std::function<bool(const std::string &)> &done,
                                   std::chrono::milliseconds timeout) const
{
    return output_ != nullptr && output_->wait_until(done, timeout);
}

namespace {

// Moves a new descriptor above the standard streams, which the child
// replaces (the runner itself may have been started without them), keeping
// its close-on-exec flag.
int above_standard_streams(int fd)
{
    if (fd < 0 || fd > 2)
        return fd;
    const bool close_on_exec = (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
    const int moved = ::fcntl(fd, close_on_exec ? F_DUPFD_CLOEXEC : F_DUPFD, 3);
    ::close(fd);
    if (moved < 0)
        throw std::runtime_error(std::string("fcntl: ") + std::strerror(errno));
    return moved;
}

}  // namespace

Pseudoterminal::Pseudoterminal()
{
    master_fd_ = above_standard_streams(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    char name[128];
    if (master_fd_ < 0 || ::grantpt(master_fd_) != 0 || ::unlockpt(master_fd_) != 0 ||
        ::ptsname_r(master_fd_, name, sizeof name) != 0) {
        const int error = errno;
        if (master_fd_ >= 0)
            ::close(master_fd_);
        throw std::runtime_error(std::string("cannot make a pseudo-terminal: ") +
                                 std::strerror(error));
    }
    slave_path_ = name;
    slave_fd_ = above_standard_streams(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (slave_fd_ < 0) {
        const int error = errno;
        ::close(master_fd_);
        throw std::runtime_error("cannot open " + slave_path_ + ": " + std::strerror(error));
    }
}

Pseudoterminal::~Pseudoterminal()
{
    close_slave();
    ::close(master_fd_);
}

std::size_t Pseudoterminal::unread_input()
{
    termios settings;
    if (::tcgetattr(slave_fd_, &settings) != 0)
        throw std::runtime_error(std::string("tcgetattr: ") + std::strerror(errno));
    settings.c_lflag &= ~static_cast<tcflag_t>(ICANON);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    int unread = 0;
    if (::tcsetattr(slave_fd_, TCSANOW, &settings) != 0 ||
        ::ioctl(slave_fd_, FIONREAD, &unread) != 0)
        throw std::runtime_error(std::string("cannot count the terminal's input: ") +
                                 std::strerror(errno));
    return static_cast<std::size_t>(unread);
}

void Pseudoterminal::close_slave()
{
    if (slave_fd_ >= 0)
        ::close(slave_fd_);
    slave_fd_ = -1;
}

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
    return above_standard_streams(fd);
}

int open_above_standard_streams(const char *path, int flags)
{
    return above_standard_streams(::open(path, flags));
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
    entries.insert(entries.end(), options.extra_environment.begin(),
                   options.extra_environment.end());
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

// What the child reads: its standard input (-1 for /dev/null) and, on a
// descriptor of its own, the stream of a process substitution (-1 for none).
struct ChildInput {
    int stdin_fd = -1;
    int stream_fd = -1;
    int stream_number = 0;
};

// In the child: puts fd on descriptor number, open across the execve.
bool place_descriptor(int fd, int number)
{
    if (fd == number)
        return ::fcntl(fd, F_SETFD, 0) == 0;
    return ::dup2(fd, number) >= 0;
}

// In the child: leads a session of its own, whose controlling terminal is
// terminal_fd, and puts its standard streams on it, as a shell starts a job.
bool take_terminal(int terminal_fd)
{
    if (::setsid() < 0 || ::ioctl(terminal_fd, TIOCSCTTY, 0) != 0)
        return false;
    for (const int number : {0, 1, 2})
        if (::dup2(terminal_fd, number) < 0)
            return false;
    return true;
}

// In the child: only async-signal-safe calls from here to execve.
[[noreturn]] void exec_child(const std::string &work_dir, int binary_fd, bool under_emulator,
                             const ChildInput &input, int out_fd, int err_fd,
                             const RunOptions &options, char **argv, char **envp)
{
    // The test program or its runner may ignore SIGPIPE; a shell does not.
    ::signal(SIGPIPE, SIG_DFL);
    const int in_fd = input.stdin_fd >= 0 ? input.stdin_fd : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (in_fd < 0 || !place_descriptor(in_fd, 0))
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
    if (options.on_controlling_terminal && !take_terminal(input.stdin_fd))
        child_gives_up("process_runner: cannot make the pseudo-terminal the controlling "
                       "terminal\n");
    if (input.stream_fd >= 0 && !place_descriptor(input.stream_fd, input.stream_number))
        ::_exit(126);
    if (options.inherited_descriptor >= 0 &&
        !place_descriptor(options.inherited_descriptor, options.inherited_descriptor))
        ::_exit(126);
    if (::chdir(work_dir.c_str()) != 0)
        ::_exit(126);
    if (options.without_permission_override && !drop_permission_override())
        child_gives_up("process_runner: cannot drop CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH\n");
    // A binary of another architecture is run by an interpreter that
    // binfmt_misc starts with the name /dev/fd/N, which it then opens
    // (unless the handler has the kernel open the binary for it, as
    // update-binfmts does not): the descriptor must outlive the exec there.
    // On the tool's own machine it is closed by the exec, so the tool
    // starts with only what a shell would give it.
    if (under_emulator && ::fcntl(binary_fd, F_SETFD, 0) != 0)
        ::_exit(126);
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
// or until the timeout, after which the child is killed anyway. What has
// come is in output as soon as it is read.
void read_all_and_close(int fd, int timeout_seconds, OutputSoFar &output)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeout_seconds);
    char buffer[65536];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd readable = {fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) == 0)
            break;
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0)
            output.append(buffer, static_cast<std::size_t>(count));
        else if (count == 0 || errno != EINTR)
            break;
    }
    ::close(fd);
    output.end();
}

// Waits for the child, calling while_waiting (when given) between looks;
// one that outlives the timeout is killed, so that a run that hangs fails
// its test instead of the whole suite.
int wait_for_child(pid_t pid, int timeout_seconds, rusage &usage,
                   const std::function<void()> &while_waiting = nullptr)
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
        if (while_waiting)
            while_waiting();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

// Appends what the master side of a terminal has ready within wait_ms.
// False once the terminal has ended: no slave side is open any more, and
// all it wrote has been read.
bool read_terminal(int master_fd, int wait_ms, std::string &text)
{
    pollfd readable = {master_fd, POLLIN, 0};
    const int ready = ::poll(&readable, 1, wait_ms);
    if (ready == 0 || (ready < 0 && errno == EINTR))
        return true;
    char buffer[4096];
    const ssize_t count = ::read(master_fd, buffer, sizeof buffer);
    if (count > 0)
        text.append(buffer, static_cast<std::size_t>(count));
    return count > 0 || (count < 0 && errno == EINTR);
}

// Follows a child on its controlling terminal: reads the master side while
// the child runs, so that it never waits on a full terminal; once it has
// ended, counts what it left in the terminal's input, and reads the rest of
// its output, which the kernel may still be passing on, up to the end of the
// terminal. Returns the child's wait status.
int follow_on_terminal(Pseudoterminal &terminal, pid_t pid, int timeout_seconds, rusage &usage,
                       RunResult &result)
{
    const int master_fd = terminal.master_descriptor();
    const int wait_status = wait_for_child(pid, timeout_seconds, usage, [&] {
        read_terminal(master_fd, 10, result.terminal);
    });
    result.terminal_input_left = terminal.unread_input();
    terminal.close_slave();
    // A process that the child left behind may hold the slave side still.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline &&
           read_terminal(master_fd, 100, result.terminal)) {
    }
    return wait_status;
}

bool has_stream(const RunOptions &options)
{
    return options.stdin_bytes.has_value() || options.stdin_writer != nullptr;
}

// The two ends of the stream: the child's, to read, and ours, to write.
struct StreamEnds {
    int child = -1;
    int ours = -1;
};

StreamEnds open_stream(bool socket)
{
    int ends[2];
    const int made = socket ? ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends)
                            : ::pipe2(ends, O_CLOEXEC);
    if (made != 0)
        throw std::runtime_error(std::string(socket ? "socketpair: " : "pipe: ") +
                                 std::strerror(errno));
    return {above_standard_streams(ends[0]), above_standard_streams(ends[1])};
}

// Feeds the stream on a thread of its own while the child runs, and closes
// it when done. Joined at destruction, so that a failing test never leaves
// it behind; what it threw is thrown again by finish().
class WriterThread {
public:
    WriterThread(const RunOptions &options, int descriptor, OutputSoFar *output)
        : writer_(descriptor, output), thread_([this, &options] {
              try {
                  if (options.stdin_writer)
                      options.stdin_writer(writer_);
                  else
                      writer_.write(*options.stdin_bytes);
              } catch (...) {
                  error_ = std::current_exception();
              }
              writer_.close();
          })
    {
    }

    WriterThread(const WriterThread &) = delete;
    WriterThread &operator=(const WriterThread &) = delete;

    ~WriterThread()
    {
        if (thread_.joinable())
            thread_.join();
    }

    // Waits for the writer; true when it met EPIPE.
    bool finish()
    {
        thread_.join();
        if (error_)
            std::rethrow_exception(error_);
        return writer_.reader_left();
    }

private:
    StreamWriter writer_;
    std::exception_ptr error_;
    std::thread thread_;
};

}  // namespace

RunResult run_chunklens(const std::vector<std::string> &args, const std::string &work_dir,
                        const RunOptions &options)
{
    if (options.on_controlling_terminal &&
        (options.stdout_mode != StdoutMode::Capture ||
         (has_stream(options) && options.stream_descriptor == 0)))
        throw std::logic_error("run_chunklens: the controlling terminal takes all three "
                               "standard streams");
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
        out_fd = open_above_standard_streams("/dev/full", O_WRONLY | O_CLOEXEC);
    int pipe_read_fd = -1;
    if (options.stdout_mode == StdoutMode::PipeClosedAfterFirstLine ||
        options.stdout_mode == StdoutMode::Pipe) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
        pipe_read_fd = above_standard_streams(ends[0]);
        out_fd = above_standard_streams(ends[1]);
    }
    const int err_fd = open_capture_file(err_path);

    std::optional<Pseudoterminal> terminal;
    if (options.stdin_terminal || options.on_controlling_terminal)
        terminal.emplace();
    StreamEnds stream;
    if (has_stream(options))
        stream = open_stream(options.stream_through_socket);
    if (options.stream_non_blocking && ::fcntl(stream.child, F_SETFL, O_NONBLOCK) != 0)
        throw std::runtime_error(std::string("fcntl: ") + std::strerror(errno));
    ChildInput input;
    if (terminal)
        input.stdin_fd = terminal->slave_descriptor();
    if (has_stream(options) && options.stream_descriptor == 0)
        input.stdin_fd = stream.child;
    else if (has_stream(options))
        input = {input.stdin_fd, stream.child, options.stream_descriptor};

    const bool under_emulator = binaries_run_under_emulator();
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0)
        exec_child(work_dir, binary_fd, under_emulator, input, out_fd, err_fd,
                   options, argv.data(), envp.data());

    if (out_fd >= 0)
        ::close(out_fd);
    ::close(err_fd);
    ::close(binary_fd);
    if (suppressions_fd >= 0)
        ::close(suppressions_fd);
    if (stream.child >= 0)
        ::close(stream.child);

    OutputSoFar output;
    std::optional<WriterThread> writer;
    if (has_stream(options))
        writer.emplace(options, stream.ours,
                       options.stdout_mode == StdoutMode::Pipe ? &output : nullptr);

    RunResult result;
    if (options.stdout_mode == StdoutMode::PipeClosedAfterFirstLine) {
        result.out = read_first_line_and_close(pipe_read_fd);
    } else if (options.stdout_mode == StdoutMode::Pipe) {
        read_all_and_close(pipe_read_fd, options.timeout_seconds, output);
        result.out = output.text();
    }
    rusage usage{};
    const int wait_status =
        options.on_controlling_terminal
            ? follow_on_terminal(*terminal, pid, options.timeout_seconds, usage, result)
            : wait_for_child(pid, options.timeout_seconds, usage);
    result.max_rss_kib = usage.ru_maxrss;
    if (writer)
        result.stream_reader_left = writer->finish();
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

bool binaries_run_under_emulator()
{
#ifdef CHUNKLENS_TEST_EMULATOR
    return true;
#else
    return false;
#endif
}

std::string describe_command(const std::vector<std::string> &args, const RunOptions &options)
{
    const std::string source = options.stdin_bytes ? "cat input" : "writer";
    std::string text;
    if (has_stream(options) && options.stream_descriptor == 0)
        text += source + " | ";
    if (options.posixly_correct)
        text += "POSIXLY_CORRECT=" + *options.posixly_correct + " ";
    text += "chunklens";
    for (const std::string &arg : args)
        text += " '" + arg + "'";
    if (has_stream(options) && options.stream_descriptor != 0)
        text += ' ' + std::to_string(options.stream_descriptor) + "< <(" + source + ')';
    if (has_stream(options) && options.stream_through_socket)
        text += " (through a socket)";
    if (has_stream(options) && options.stream_non_blocking)
        text += " (non-blocking)";
    if (options.stdin_terminal)
        text += " < $(tty)";
    if (options.on_controlling_terminal)
        text += " (typed at a shell prompt: all on the terminal)";
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
