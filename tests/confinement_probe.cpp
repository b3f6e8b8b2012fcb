// A probe that the confinement tests load into chunklens with LD_PRELOAD.
//
// At the first read of FILE, by when the tool must have confined itself, it
// tries everything that a file taking over the parser might try, against
// the targets that the test set up, and writes one line per attempt to a
// descriptor of its own: "NAME refused ERRNO" or "NAME ALLOWED". An exec
// that gets through runs a shell that writes "NAME ALLOWED" itself. The
// last line is "done". The tool's own reads, output and status are left as
// they were: errno is restored, and nothing it holds is touched.
//
// It can also stand in for another kernel. For one without the mechanisms,
// it installs before main a seccomp filter of its own that fails the
// Landlock calls with ENOSYS, as a kernel without Landlock does, or the
// seccomp calls, as a kernel or container without seccomp does. For an
// older Landlock, it answers the tool's question for the ABI with that
// version, so that the tool uses only what such a kernel has (Debian 12's
// Linux 6.1 has ABI 2: no truncate, TCP, signal or abstract socket rights).
//
// Settings, from the environment:
//   CHUNKLENS_PROBE_KERNEL    "no-landlock", "no-seccomp", "neither" or
//                             "landlock-abi-2" (optional)
//   CHUNKLENS_PROBE_INPUT     FILE as the tool is given it
//   CHUNKLENS_PROBE_REPORT_FD the descriptor for the report
//   CHUNKLENS_PROBE_DIR       a writable folder with the files "secret"
//                             (to read), "kept" (to write and truncate),
//                             "doomed" (to remove), "movable" (to rename),
//                             "linkable" (to link) and the listening UNIX
//                             socket "socket"
//   CHUNKLENS_PROBE_ABSTRACT  the name of a listening abstract UNIX socket
//   CHUNKLENS_PROBE_TCP_PORT, CHUNKLENS_PROBE_UDP_PORT  listeners on
//                             127.0.0.1
//   CHUNKLENS_PROBE_PID       another process, to signal and to trace

// The tool reads with pread64; both names are defined here.
#undef _FILE_OFFSET_BITS

#include <seccomp.h>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int report_fd = -1;
dev_t input_device = 0;
ino_t input_inode = 0;
bool probing = false;
bool probed = false;
int shell_fd = -1;

const char *setting(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

void report(const std::string &line)
{
    const std::string text = line + "\n";
    const ssize_t ignored = ::write(report_fd, text.data(), text.size());
    (void)ignored;
}

// Reports the outcome of an attempt that returned result (-1 and errno on
// failure).
void outcome(const char *name, long result)
{
    if (result < 0)
        report(std::string(name) + " refused " + std::strerror(errno));
    else
        report(std::string(name) + " ALLOWED");
}

std::string in_dir(const char *name)
{
    return std::string(setting("CHUNKLENS_PROBE_DIR")) + "/" + name;
}

long connect_unix(const std::string &path, bool abstract)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;  // an abstract name starts with a zero byte
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    const socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    return ::connect(fd, reinterpret_cast<sockaddr *>(&address), length);
}

sockaddr_in loopback(const char *port_setting)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(std::atoi(setting(port_setting))));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

long connect_tcp()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const sockaddr_in address = loopback("CHUNKLENS_PROBE_TCP_PORT");
    return ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
}

long send_udp()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const sockaddr_in address = loopback("CHUNKLENS_PROBE_UDP_PORT");
    return ::sendto(fd, "probe", 5, 0, reinterpret_cast<const sockaddr *>(&address),
                    sizeof address);
}

long trace_other()
{
    const pid_t pid = std::atoi(setting("CHUNKLENS_PROBE_PID"));
    const long result = ::ptrace(PTRACE_ATTACH, pid, nullptr, nullptr);
    if (result == 0) {
        ::waitpid(pid, nullptr, __WALL);
        ::ptrace(PTRACE_DETACH, pid, nullptr, nullptr);
    }
    return result;
}

long make_process()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    if (child > 0)
        ::waitpid(child, nullptr, 0);
    return child;
}

// An exec that works replaces the tool with a shell that reports it.
long run_shell(const char *name, bool from_descriptor)
{
    const std::string command = std::string("echo '") + name + " ALLOWED' >&" +
                                std::to_string(report_fd);
    char *argv[] = {const_cast<char *>("sh"), const_cast<char *>("-c"),
                    const_cast<char *>(command.c_str()), nullptr};
    char *envp[] = {nullptr};
    if (from_descriptor)
        return ::syscall(SYS_execveat, shell_fd, "", argv, envp, AT_EMPTY_PATH);
    return ::execve("/bin/sh", argv, envp);
}

void try_everything()
{
    outcome("open_to_read", ::open(in_dir("secret").c_str(), O_RDONLY | O_CLOEXEC));
    outcome("open_to_write", ::open(in_dir("kept").c_str(), O_WRONLY | O_CLOEXEC));
    outcome("open_truncating", ::open(in_dir("kept").c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    outcome("truncate", ::truncate(in_dir("kept").c_str(), 0));
    outcome("create", ::open(in_dir("new").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    outcome("remove", ::unlink(in_dir("doomed").c_str()));
    outcome("rename", ::rename(in_dir("movable").c_str(), in_dir("renamed").c_str()));
    outcome("link", ::link(in_dir("linkable").c_str(), in_dir("linked").c_str()));
    outcome("unix_socket_by_path", connect_unix(in_dir("socket"), false));
    outcome("unix_socket_abstract", connect_unix(setting("CHUNKLENS_PROBE_ABSTRACT"), true));
    outcome("tcp_connect", connect_tcp());
    outcome("udp_send", send_udp());
    // Traced first: a process that the signal ended could not be.
    outcome("trace", trace_other());
    outcome("signal", ::kill(std::atoi(setting("CHUNKLENS_PROBE_PID")), SIGTERM));
    outcome("fork", make_process());
    outcome("exec_path", run_shell("exec_path", false));
    outcome("exec_descriptor", run_shell("exec_descriptor", true));
    report("done");
}

bool is_input(int fd)
{
    struct stat status;
    return ::fstat(fd, &status) == 0 && status.st_dev == input_device &&
           status.st_ino == input_inode;
}

void probe_at_first_read(int fd)
{
    if (probed || probing || report_fd < 0 || !is_input(fd))
        return;
    probing = true;
    const int saved_errno = errno;
    try_everything();
    errno = saved_errno;
    probing = false;
    probed = true;
}

void add_refusal(scmp_filter_ctx filter, const char *name, int fallback_number, int error_number)
{
    int number = seccomp_syscall_resolve_name(name);
    if (number == __NR_SCMP_ERROR)
        number = fallback_number;
    seccomp_rule_add(filter, SCMP_ACT_ERRNO(error_number), number, 0);
}

// The Landlock ABI that the tool is told, or 0 for the kernel's own.
long landlock_abi_told = 0;

// What a kernel without the mechanisms answers.
void refuse_mechanisms(const std::string &kernel)
{
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (kernel == "no-landlock" || kernel == "neither") {
        add_refusal(filter, "landlock_create_ruleset", 444, ENOSYS);
        add_refusal(filter, "landlock_add_rule", 445, ENOSYS);
        add_refusal(filter, "landlock_restrict_self", 446, ENOSYS);
    }
    if (kernel == "no-seccomp" || kernel == "neither") {
        add_refusal(filter, "seccomp", __NR_seccomp, ENOSYS);
        seccomp_rule_add(filter, SCMP_ACT_ERRNO(EINVAL), SCMP_SYS(prctl), 1,
                         SCMP_CMP(0, SCMP_CMP_EQ, PR_SET_SECCOMP, 0));
    }
    if (seccomp_load(filter) != 0) {
        std::fputs("confinement_probe: cannot load the filter that refuses the mechanisms\n",
                   stderr);
        std::abort();
    }
    seccomp_release(filter);
}

__attribute__((constructor)) void set_up_probe()
{
    const std::string kernel = setting("CHUNKLENS_PROBE_KERNEL");
    if (kernel == "landlock-abi-2")
        landlock_abi_told = 2;
    else if (!kernel.empty())
        refuse_mechanisms(kernel);
    const std::string report_setting = setting("CHUNKLENS_PROBE_REPORT_FD");
    if (report_setting.empty())
        return;
    struct stat status;
    if (::stat(setting("CHUNKLENS_PROBE_INPUT"), &status) != 0)
        return;
    input_device = status.st_dev;
    input_inode = status.st_ino;
    shell_fd = ::open("/bin/sh", O_RDONLY | O_CLOEXEC);
    report_fd = std::atoi(report_setting.c_str());
}

template <typename Function>
Function next(const char *name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

// The tool asks for the Landlock ABI with landlock_create_ruleset(NULL, 0,
// LANDLOCK_CREATE_RULESET_VERSION) through syscall(2).
long syscall(long number, ...)
{
    static const auto real = next<long (*)(long, ...)>("syscall");
    va_list arguments;
    va_start(arguments, number);
    long argument[6];
    for (long &each : argument)
        each = va_arg(arguments, long);
    va_end(arguments);
    if (landlock_abi_told > 0 && number == SYS_landlock_create_ruleset && argument[0] == 0 &&
        argument[1] == 0 && argument[2] == 1)
        return landlock_abi_told;
    return real(number, argument[0], argument[1], argument[2], argument[3], argument[4],
                argument[5]);
}

ssize_t read(int fd, void *buffer, size_t size)
{
    static const auto real = next<ssize_t (*)(int, void *, size_t)>("read");
    probe_at_first_read(fd);
    return real(fd, buffer, size);
}

ssize_t pread(int fd, void *buffer, size_t size, off_t offset)
{
    static const auto real = next<ssize_t (*)(int, void *, size_t, off_t)>("pread");
    probe_at_first_read(fd);
    return real(fd, buffer, size, offset);
}

ssize_t pread64(int fd, void *buffer, size_t size, off64_t offset)
{
    static const auto real = next<ssize_t (*)(int, void *, size_t, off64_t)>("pread64");
    probe_at_first_read(fd);
    return real(fd, buffer, size, offset);
}

}  // extern "C"
