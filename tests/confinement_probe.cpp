// A probe that the confinement tests load into chunklens with LD_PRELOAD.
//
// At the first read of FILE, by when the tool must have confined itself, it
// tries everything that a file taking over the parser might try, against
// the targets that the test set up: files, sockets, other processes, the
// terminal it runs on (characters pushed into its input), System V and
// POSIX IPC, the session keyring, and the kernel's less travelled ways in
// (userfaultfd, BPF, perf events, a new mount, anonymous files, a user
// namespace). It writes one line per attempt to a descriptor of its own:
// "NAME refused ERRNO", with the error's symbolic name (ENOSYS), or "NAME
// ALLOWED". An exec that gets through runs a shell that writes "NAME
// ALLOWED" itself. The last line is "done". The tool's own reads, output
// and status are left as they were: errno is restored, and nothing it
// holds is touched.
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
//   CHUNKLENS_PROBE_NAME      a name of the test's own: its listening
//                             abstract UNIX socket, and the POSIX message
//                             queue and the key that the probe tries to make
//   CHUNKLENS_PROBE_TCP_PORT, CHUNKLENS_PROBE_UDP_PORT  listeners on
//                             127.0.0.1
//   CHUNKLENS_PROBE_PID       another process, to signal and to trace
//   CHUNKLENS_PROBE_SHM_ID    a System V shared memory segment, to attach

// The tool reads with pread64; both names are defined here.
#undef _FILE_OFFSET_BITS

#include <seccomp.h>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/bpf.h>
#include <linux/keyctl.h>
#include <linux/mount.h>
#include <linux/perf_event.h>
#include <linux/tiocl.h>
#include <mqueue.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/msg.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/sem.h>
#include <sys/shm.h>
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

// The error by its name, which no locale translates.
std::string error_name(int error_number)
{
    const char *const name = ::strerrorname_np(error_number);
    return name != nullptr ? name : std::to_string(error_number);
}

// Reports the outcome of an attempt that returned result (-1 and errno on
// failure).
void outcome(const char *name, long result)
{
    if (result < 0)
        report(std::string(name) + " refused " + error_name(errno));
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

// A character pushed into the input of the terminal on standard error, as
// if typed there: the shell that gets the terminal back would run it.
long push_into_terminal(unsigned long request)
{
    char typed = '#';
    return ::syscall(SYS_ioctl, STDERR_FILENO, request, &typed);
}

// The kernel reads only the low 32 bits of an ioctl request; a filter that
// looked at all 64 would let this one by. A 32-bit long cannot carry them,
// and there it is the plain request again.
constexpr unsigned long ABOVE_LOW_32_BITS = static_cast<unsigned long>(std::uint64_t{1} << 32);

// Only a virtual console has a selection to paste; a pseudo-terminal
// refuses the request by itself, with another error than the filter's.
long paste_selection()
{
    char subcode = TIOCL_PASTESEL;
    return ::ioctl(STDERR_FILENO, TIOCLINUX, &subcode);
}

// An attach that gets through leaves its mark in the segment's bytes, as
// well as in its attach count and last pid.
long attach_test_segment()
{
    void *const address = ::shmat(std::atoi(setting("CHUNKLENS_PROBE_SHM_ID")), nullptr, 0);
    if (address == reinterpret_cast<void *>(-1))
        return -1;
    std::memcpy(address, "probe", 5);
    return 0;
}

long make_posix_queue()
{
    const std::string name = std::string("/") + setting("CHUNKLENS_PROBE_NAME");
    return ::mq_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600, nullptr);
}

long add_session_key()
{
    static const char payload[] = "probe";
    return ::syscall(SYS_add_key, "user", setting("CHUNKLENS_PROBE_NAME"), payload,
                     sizeof payload - 1, KEY_SPEC_SESSION_KEYRING);
}

// What a kernel without the call answers, on an architecture that has none
// (unused where every call is there).
[[maybe_unused]] long no_such_call()
{
    errno = ENOSYS;
    return -1;
}

long make_userfaultfd()
{
#ifdef SYS_userfaultfd
    return ::syscall(SYS_userfaultfd, O_CLOEXEC);
#else
    return no_such_call();
#endif
}

long make_bpf_map()
{
#ifdef SYS_bpf
    bpf_attr attributes;
    std::memset(&attributes, 0, sizeof attributes);
    attributes.map_type = BPF_MAP_TYPE_ARRAY;
    attributes.key_size = 4;
    attributes.value_size = 4;
    attributes.max_entries = 1;
    return ::syscall(SYS_bpf, BPF_MAP_CREATE, &attributes, sizeof attributes);
#else
    return no_such_call();
#endif
}

// A software counter of the process itself, the event that asks the least.
long open_perf_event()
{
#ifdef SYS_perf_event_open
    perf_event_attr attributes;
    std::memset(&attributes, 0, sizeof attributes);
    attributes.type = PERF_TYPE_SOFTWARE;
    attributes.size = sizeof attributes;
    attributes.config = PERF_COUNT_SW_TASK_CLOCK;
    attributes.disabled = 1;
    attributes.exclude_kernel = 1;
    attributes.exclude_hv = 1;
    return ::syscall(SYS_perf_event_open, &attributes, 0, -1, -1, PERF_FLAG_FD_CLOEXEC);
#else
    return no_such_call();
#endif
}

long open_tmpfs()
{
#ifdef SYS_fsopen
    return ::syscall(SYS_fsopen, "tmpfs", FSOPEN_CLOEXEC);
#else
    return no_such_call();
#endif
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
    outcome("unix_socket_abstract", connect_unix(setting("CHUNKLENS_PROBE_NAME"), true));
    outcome("tcp_connect", connect_tcp());
    outcome("udp_send", send_udp());
    // Traced first: a process that the signal ended could not be.
    outcome("trace", trace_other());
    outcome("signal", ::kill(std::atoi(setting("CHUNKLENS_PROBE_PID")), SIGTERM));
    outcome("terminal_push", push_into_terminal(TIOCSTI));
    outcome("terminal_push_high_bits", push_into_terminal(TIOCSTI | ABOVE_LOW_32_BITS));
    outcome("terminal_paste", paste_selection());
    outcome("sysv_shared_memory", ::shmget(IPC_PRIVATE, 4096, IPC_CREAT | 0600));
    outcome("sysv_message_queue", ::msgget(IPC_PRIVATE, IPC_CREAT | 0600));
    outcome("sysv_semaphores", ::semget(IPC_PRIVATE, 1, IPC_CREAT | 0600));
    outcome("sysv_attach", attach_test_segment());
    outcome("posix_message_queue", make_posix_queue());
    outcome("session_key", add_session_key());
    outcome("userfaultfd", make_userfaultfd());
    outcome("bpf_map", make_bpf_map());
    outcome("perf_event", open_perf_event());
    outcome("tmpfs_mount", open_tmpfs());
    outcome("anonymous_file", ::memfd_create("chunklens-probe", MFD_CLOEXEC));
    outcome("user_namespace", ::unshare(CLONE_NEWUSER));
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
