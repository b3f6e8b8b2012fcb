#include "process_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef CHUNKLENS_BINARY
#error "CHUNKLENS_BINARY must name the chunklens executable"
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

std::vector<std::string> child_environment(const RunOptions &options)
{
    static const std::string name = "POSIXLY_CORRECT=";
    std::vector<std::string> entries;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, name.c_str(), name.size()) != 0)
            entries.emplace_back(*entry);
    }
    if (options.posixly_correct)
        entries.push_back(name + *options.posixly_correct);
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
                             StdoutMode mode, char **argv, char **envp)
{
    const int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null_fd < 0 || ::dup2(null_fd, 0) < 0)
        ::_exit(126);
    if (::dup2(err_fd, 2) < 0)
        ::_exit(126);
    switch (mode) {
    case StdoutMode::Capture:
    case StdoutMode::DevFull:
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
    ::execve(CHUNKLENS_BINARY, argv, envp);
    ::_exit(127);
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
    const int err_fd = open_capture_file(err_path);

    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0)
        exec_child(work_dir, out_fd, err_fd, options.stdout_mode, argv.data(), envp.data());

    if (out_fd >= 0)
        ::close(out_fd);
    ::close(err_fd);

    int wait_status = 0;
    while (::waitpid(pid, &wait_status, 0) < 0) {
        if (errno != EINTR)
            throw std::runtime_error(std::string("waitpid: ") + std::strerror(errno));
    }

    RunResult result;
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
    }
    return text;
}

}  // namespace chunklens_test
