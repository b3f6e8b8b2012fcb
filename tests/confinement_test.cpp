// Once FILE is open, a file that takes over the tool reaches nothing but
// its output. A probe loaded into the tool (confinement_probe.cpp) tries,
// at the first read of FILE, to open, truncate, create, remove, rename and
// link real files, to reach listening sockets, to signal and trace another
// process, to push characters into the user's terminal, to make or attach
// System V and POSIX IPC objects, to add a key to the session keyring, to
// reach the kernel through userfaultfd, BPF, perf events, a new mount,
// anonymous files or a user namespace, to fork and to exec; every attempt
// must be refused, nothing may arrive anywhere or be left behind, and the
// run must print and return exactly what it does without the probe. Some
// runs are on a terminal, as at a shell prompt, where a character pushed
// into the input would be run by the shell after the tool. The same holds
// where the kernel has an older Landlock (Debian 12's) or none (the seccomp
// filter then closes what Landlock leaves), and where it refuses Landlock,
// seccomp or both, the output and status stay the same.

#include "fixtures.h"
#include "syscall_policy.h"
#include "test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/keyctl.h>
#include <mqueue.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/msg.h>
#include <sys/prctl.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <tuple>

#ifndef CHUNKLENS_CONFINEMENT_PROBE
#error "CHUNKLENS_CONFINEMENT_PROBE must name the probe library"
#endif

namespace chunklens_test {
namespace {

// Every attempt the probe makes, in its order, and the error it must get.
// Most attempts may be refused by either lock, each with its own error.
// The rest only the seccomp filter can refuse, and where the kernel itself
// would refuse them too (a pseudo-terminal has no selection to paste; a
// user without privileges may not make BPF maps), only the filter's error
// shows that it was the filter.
struct Attempt {
    const char *name;
    bool refused_by_filter_alone;
};
const Attempt ATTEMPTS[] = {
    {"open_to_read", false}, {"open_to_write", false}, {"open_truncating", false},
    {"truncate", false}, {"create", false}, {"remove", false},
    {"rename", false}, {"link", false}, {"unix_socket_by_path", false},
    {"unix_socket_abstract", false}, {"tcp_connect", false}, {"udp_send", false},
    {"trace", false}, {"signal", false},
    {"terminal_push", true}, {"terminal_push_high_bits", true}, {"terminal_paste", true},
    {"sysv_shared_memory", true}, {"sysv_message_queue", true}, {"sysv_semaphores", true},
    {"sysv_attach", true}, {"posix_message_queue", true}, {"session_key", true},
    {"userfaultfd", true}, {"bpf_map", true}, {"perf_event", true},
    {"tmpfs_mount", true}, {"anonymous_file", true}, {"user_namespace", true},
    {"fork", false}, {"exec_path", false}, {"exec_descriptor", false},
};

// The files that the probe tries to read, write, truncate, remove, rename
// and link.
const char *const UNTOUCHABLE[] = {"secret", "kept", "doomed", "movable", "linkable"};

std::string read_file(const std::string &path)
{
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

bool exists(const std::string &path)
{
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0;
}

int listening_socket(int domain, int type, const sockaddr *address, socklen_t length)
{
    const int fd = ::socket(domain, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || ::bind(fd, address, length) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 8) != 0))
        throw std::runtime_error(std::string("cannot set up a listener: ") + std::strerror(errno));
    return fd;
}

sockaddr_un unix_address(const std::string &name, bool abstract, socklen_t &length)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    std::memcpy(address.sun_path + offset, name.data(), name.size());
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + name.size());
    return address;
}

int loopback_listener(int type, int &port)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int fd = listening_socket(AF_INET, type, reinterpret_cast<sockaddr *>(&address),
                                     sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

// Whether anything reached the listener: a connection or a datagram.
bool received_anything(int fd, int type)
{
    if (type == SOCK_STREAM) {
        const int connection = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0)
            ::close(connection);
        return connection >= 0;
    }
    char byte;
    return ::recv(fd, &byte, 1, MSG_DONTWAIT) >= 0;
}

// The System V IPC objects made with IPC_PRIVATE, as the probe makes them,
// each as "shm 42": its kind and id.
std::set<std::string> private_sysv_objects()
{
    std::set<std::string> objects;
    for (const char *kind : {"shm", "msg", "sem"}) {
        std::istringstream lines(read_file(std::string("/proc/sysvipc/") + kind));
        std::string line;
        std::getline(lines, line);  // the headings
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            long key = -1;
            std::string id;
            if (fields >> key >> id && key == IPC_PRIVATE)
                objects.insert(std::string(kind) + ' ' + id);
        }
    }
    return objects;
}

void remove_sysv_object(const std::string &object)
{
    std::istringstream fields(object);
    std::string kind;
    int id = -1;
    fields >> kind >> id;
    if (kind == "shm")
        ::shmctl(id, IPC_RMID, nullptr);
    else if (kind == "msg")
        ::msgctl(id, IPC_RMID, nullptr);
    else
        ::semctl(id, 0, IPC_RMID);
}

// The "user" keys of that description that the test program can see, in
// whichever keyring. A line of /proc/keys:
// "1a2b3c4d I--Q---     1 perm 3f010000     0     0 user      NAME: 5".
std::vector<long> user_keys_described(const std::string &description)
{
    std::vector<long> ids;
    std::istringstream lines(read_file("/proc/keys"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string id, flags, usage, expiry, permissions, uid, gid, type, rest;
        fields >> id >> flags >> usage >> expiry >> permissions >> uid >> gid >> type >> rest;
        if (type == "user" && rest == description + ":")
            ids.push_back(std::stol(id, nullptr, 16));
    }
    return ids;
}

// A key that the tool adds to its session keyring must outlive it for the
// test to see it. The tool inherits the test program's session keyring;
// were there none, the kernel would make the tool one of its own, gone with
// it. Where keys are out of reach (a container may refuse them), the tool
// cannot add one either.
void join_a_session_keyring()
{
    static const long joined = ::syscall(SYS_keyctl, KEYCTL_JOIN_SESSION_KEYRING, nullptr);
    (void)joined;
}

bool posix_queue_exists(const std::string &name)
{
    const mqd_t queue = ::mq_open(("/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (queue == static_cast<mqd_t>(-1))
        return false;
    ::mq_close(queue);
    return true;
}

// A shared memory segment of the test's, which the probe tries to attach
// and write to; it holds TEXT, then zeros.
class TestSegment {
public:
    static constexpr std::size_t SIZE = 4096;
    static constexpr char TEXT[] = "written by the test alone";

    TestSegment()
    {
        // Under a key of its own, not IPC_PRIVATE: the objects made with
        // IPC_PRIVATE during a run are counted as the tool's, and the
        // segment of a test that runs beside this one must not be.
        key_t key = static_cast<key_t>(0x636c0000 | (::getpid() & 0xffff));
        do {
            id_ = ::shmget(key++, SIZE, IPC_CREAT | IPC_EXCL | 0600);
        } while (id_ < 0 && errno == EEXIST);
        void *const address = id_ < 0 ? nullptr : ::shmat(id_, nullptr, 0);
        if (address == nullptr || address == reinterpret_cast<void *>(-1)) {
            const int error = errno;
            if (id_ >= 0)
                ::shmctl(id_, IPC_RMID, nullptr);
            throw std::runtime_error(std::string("cannot make a shared memory segment: ") +
                                     std::strerror(error));
        }
        std::memcpy(address, TEXT, sizeof TEXT);
        ::shmdt(address);
    }

    ~TestSegment() { ::shmctl(id_, IPC_RMID, nullptr); }
    TestSegment(const TestSegment &) = delete;
    TestSegment &operator=(const TestSegment &) = delete;

    int id() const { return id_; }

    // Attached by no one, last attached and detached by the test, and
    // holding what the test wrote.
    void expect_untouched() const
    {
        shmid_ds status;
        ASSERT_EQ(::shmctl(id_, IPC_STAT, &status), 0) << std::strerror(errno);
        EXPECT_EQ(status.shm_nattch, 0U) << "the segment is still attached";
        EXPECT_EQ(status.shm_lpid, ::getpid()) << "another process attached the segment";
        const void *const address = ::shmat(id_, nullptr, SHM_RDONLY);
        ASSERT_NE(address, reinterpret_cast<void *>(-1)) << std::strerror(errno);
        std::string expected(TEXT, sizeof TEXT);
        expected.resize(SIZE, '\0');
        EXPECT_EQ(std::string(static_cast<const char *>(address), SIZE), expected)
            << "the segment was written to";
        ::shmdt(address);
    }

private:
    int id_ = -1;
};

// What the probe attacks: files, listeners, another process, IPC objects
// and keys, each checked afterwards for any trace of the attempt.
class Targets {
public:
    Targets()
    {
        for (const char *name : UNTOUCHABLE)
            dir_.write(name, riff::Bytes(name, name + std::strlen(name)));
        socklen_t length;
        sockaddr_un address = unix_address(dir_.path() + "/socket", false, length);
        unix_path_fd_ = listening_socket(AF_UNIX, SOCK_STREAM,
                                         reinterpret_cast<sockaddr *>(&address), length);
        name_ = "chunklens-probe-" + std::to_string(::getpid());
        address = unix_address(name_, true, length);
        unix_abstract_fd_ = listening_socket(AF_UNIX, SOCK_STREAM,
                                             reinterpret_cast<sockaddr *>(&address), length);
        tcp_fd_ = loopback_listener(SOCK_STREAM, tcp_port_);
        udp_fd_ = loopback_listener(SOCK_DGRAM, udp_port_);
        start_other_process();
        join_a_session_keyring();
        sysv_objects_before_ = private_sysv_objects();
    }

    // Also removes what a run that got through left behind, so that a
    // failing test leaves nothing on the machine.
    ~Targets()
    {
        for (int fd : {unix_path_fd_, unix_abstract_fd_, tcp_fd_, udp_fd_})
            ::close(fd);
        ::kill(other_process_, SIGKILL);
        ::waitpid(other_process_, nullptr, 0);
        for (const std::string &object : sysv_objects_made())
            remove_sysv_object(object);
        ::mq_unlink(("/" + name_).c_str());
        for (const long key : user_keys_described(name_))
            ::syscall(SYS_keyctl, KEYCTL_INVALIDATE, key);
    }

    std::vector<std::string> environment() const
    {
        return {"CHUNKLENS_PROBE_DIR=" + dir_.path(),
                "CHUNKLENS_PROBE_NAME=" + name_,
                "CHUNKLENS_PROBE_TCP_PORT=" + std::to_string(tcp_port_),
                "CHUNKLENS_PROBE_UDP_PORT=" + std::to_string(udp_port_),
                "CHUNKLENS_PROBE_PID=" + std::to_string(other_process_),
                "CHUNKLENS_PROBE_SHM_ID=" + std::to_string(segment_.id())};
    }

    void expect_untouched() const
    {
        // Each file holds its own name.
        for (const char *name : UNTOUCHABLE)
            EXPECT_EQ(read_file(dir_.path() + "/" + name), name);
        for (const char *made : {"new", "renamed", "linked"})
            EXPECT_FALSE(exists(dir_.path() + "/" + made)) << made;
        EXPECT_FALSE(received_anything(unix_path_fd_, SOCK_STREAM)) << "UNIX socket by path";
        EXPECT_FALSE(received_anything(unix_abstract_fd_, SOCK_STREAM)) << "abstract socket";
        EXPECT_FALSE(received_anything(tcp_fd_, SOCK_STREAM)) << "TCP listener";
        EXPECT_FALSE(received_anything(udp_fd_, SOCK_DGRAM)) << "UDP receiver";
        EXPECT_EQ(::waitpid(other_process_, nullptr, WNOHANG), 0) << "the other process ended";
        EXPECT_NE(read_file("/proc/" + std::to_string(other_process_) + "/status")
                      .find("TracerPid:\t0\n"),
                  std::string::npos)
            << "the other process is traced";
        EXPECT_EQ(sysv_objects_made(), std::set<std::string>()) << "System V IPC objects made";
        EXPECT_FALSE(posix_queue_exists(name_)) << "a POSIX message queue was made";
        EXPECT_EQ(user_keys_described(name_), std::vector<long>()) << "a key was added";
        segment_.expect_untouched();
    }

private:
    // Any process may trace it, so that only the confinement stands in the
    // way (Yama would otherwise refuse a tracer that is not its parent).
    void start_other_process()
    {
        other_process_ = ::fork();
        if (other_process_ < 0)
            throw std::runtime_error("cannot fork");
        if (other_process_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY);
            for (;;)
                ::pause();
        }
    }

    std::set<std::string> sysv_objects_made() const
    {
        std::set<std::string> made;
        for (const std::string &object : private_sysv_objects())
            if (!sysv_objects_before_.count(object))
                made.insert(object);
        return made;
    }

    ScratchDir dir_;
    // The abstract socket's, the message queue's and the key's.
    std::string name_;
    int unix_path_fd_ = -1;
    int unix_abstract_fd_ = -1;
    int tcp_fd_ = -1;
    int udp_fd_ = -1;
    int tcp_port_ = 0;
    int udp_port_ = 0;
    pid_t other_process_ = -1;
    TestSegment segment_;
    std::set<std::string> sysv_objects_before_;
};

// One name per line: "NAME refused ENAME", "NAME ALLOWED" or "done".
std::map<std::string, std::string> read_report(const std::string &text)
{
    std::map<std::string, std::string> outcomes;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t blank = line.find(' ');
        outcomes[line.substr(0, blank)] = blank == std::string::npos ? "" : line.substr(blank + 1);
    }
    return outcomes;
}

// Where the tool's standard streams are: input from /dev/null (or the
// pipe), output and error to files; or all three on its controlling
// terminal, as at a shell prompt.
enum class Streams { Files, Terminal };

struct ConfinedRun {
    std::string name;
    std::vector<std::string> options;
    bool through_pipe;
    riff::Bytes file;
    Streams streams = Streams::Files;
};

void PrintTo(const ConfinedRun &run, std::ostream *os) { *os << run.name; }

riff::Bytes cut_wav_file()
{
    riff::Bytes bytes = wav_file();
    bytes.resize(0x40);
    return bytes;
}

const ConfinedRun RUNS[] = {
    {"ListingOfFile", {}, false, soundfont_file()},
    {"ListingOfPipe", {}, true, soundfont_file()},
    {"FormattedDumpOfFile", {"-d", "5"}, false, wav_file()},
    {"FormattedDumpOfPipe", {"-d", "5"}, true, wav_file()},
    {"RawDumpOfFile", {"-r", "-t", "data"}, false, wav_file()},
    {"RawDumpOfPipe", {"-r", "-t", "data"}, true, wav_file()},
    {"CutFile", {}, false, cut_wav_file()},
    {"CutPipe", {}, true, cut_wav_file()},
    // FILE by name: standard input is the terminal.
    {"ListingOnTerminal", {}, false, soundfont_file(), Streams::Terminal},
    {"FormattedDumpOnTerminal", {"-d", "5"}, false, wav_file(), Streams::Terminal},
    {"RawDumpOnTerminal", {"-r", "-t", "data"}, false, wav_file(), Streams::Terminal},
    {"CutFileOnTerminal", {}, false, cut_wav_file(), Streams::Terminal},
};

// The kernel that the probe stands in for: this one, Debian 12's (Landlock
// ABI 2), one without Landlock, one (or a container) without seccomp, one
// without either.
const char *const KERNELS[] = {"this-kernel", "landlock-abi-2", "no-landlock", "no-seccomp",
                               "neither"};
// With seccomp, what an older Landlock or none leaves is closed by the
// filter, and every attempt is refused; without seccomp, what Landlock
// leaves open (new sockets, processes) stays open.
const char *const KERNELS_WITH_SECCOMP[] = {"this-kernel", "landlock-abi-2", "no-landlock"};

bool kernel_has_landlock()
{
    return ::syscall(444 /* landlock_create_ruleset */, nullptr, 0, 1U) > 0;
}

bool kernel_has_seccomp() { return ::prctl(PR_GET_SECCOMP, 0, 0, 0, 0) >= 0; }

class ConfinementTest : public ::testing::TestWithParam<std::tuple<ConfinedRun, const char *>> {
protected:
    void SetUp() override
    {
#ifdef CHUNKLENS_NO_CONFINEMENT
        GTEST_SKIP() << "this build runs unconfined, for LeakSanitizer's check at exit";
#endif
        if (binaries_run_under_emulator())
            GTEST_SKIP() << "the emulator refuses seccomp filters and Landlock, so the tool runs "
                            "unconfined there";
        if (!kernel_has_landlock() || !kernel_has_seccomp())
            GTEST_SKIP() << "this kernel lacks Landlock or seccomp, which the probe expects";
    }

    const ConfinedRun &run() const { return std::get<0>(GetParam()); }
    std::string kernel() const { return std::get<1>(GetParam()); }

    // The case's command line and standard streams.
    struct Invocation {
        std::vector<std::string> args;
        // FILE as the tool is given it.
        std::string input;
        RunOptions options;
    };

    Invocation invocation()
    {
        Invocation call{run().options, "", {}};
        if (run().through_pipe) {
            call.options.stdin_bytes = run().file;
            call.input = "/dev/stdin";
        } else {
            call.input = input_dir_.write("input.riff", run().file);
        }
        call.args.push_back(call.input);
        call.options.on_controlling_terminal = run().streams == Streams::Terminal;
        return call;
    }

    // Runs the tool with the probe, with the given environment added.
    RunResult run_tool(std::vector<std::string> environment, int report_fd = -1)
    {
        Invocation call = invocation();
        environment.push_back("CHUNKLENS_PROBE_INPUT=" + call.input);
        if (kernel() != "this-kernel")
            environment.push_back("CHUNKLENS_PROBE_KERNEL=" + kernel());
        environment.push_back(std::string("LD_PRELOAD=") + CHUNKLENS_CONFINEMENT_PROBE);
        call.options.extra_environment = environment;
        call.options.inherited_descriptor = report_fd;
        return run_chunklens(call.args, input_dir_.path(), call.options);
    }

    // The same run without the probe.
    RunResult reference_run()
    {
        const Invocation call = invocation();
        return run_chunklens(call.args, input_dir_.path(), call.options);
    }

    ScratchDir input_dir_;
};

void expect_same_run(const RunResult &actual, const RunResult &expected)
{
    EXPECT_EQ(actual.out, expected.out);
    EXPECT_EQ(actual.err, expected.err);
    EXPECT_EQ(actual.terminal, expected.terminal);
    EXPECT_EQ(actual.status, expected.status);
}

using ConfinedOutputTest = ConfinementTest;
using ConfinedAttemptsTest = ConfinementTest;

TEST_P(ConfinedOutputTest, OutputAndStatusAreThoseOfAnUnconfinedRun)
{
    const RunResult expected = reference_run();
    ASSERT_TRUE(expected.status == 0 || expected.status == 1) << expected.err;
    expect_same_run(run_tool({}), expected);
}

TEST_P(ConfinedAttemptsTest, EveryAttemptOfAFileThatTookOverIsRefused)
{
    const RunResult expected = reference_run();
    Targets targets;
    ScratchDir report_dir;
    const std::string report_path = report_dir.path() + "/report";
    const int report_fd =
        ::open(report_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(report_fd, 0);
    std::vector<std::string> environment = targets.environment();
    environment.push_back("CHUNKLENS_PROBE_REPORT_FD=" + std::to_string(report_fd));
    const RunResult actual = run_tool(environment, report_fd);
    ::close(report_fd);

    const std::string report = read_file(report_path);
    const std::map<std::string, std::string> outcomes = read_report(report);
    const std::string filter_refusal =
        std::string("refused ") + ::strerrorname_np(syscall_policy::DEFAULT_ERROR);
    for (const Attempt &attempt : ATTEMPTS) {
        // An exec that got through ends the probe.
        EXPECT_TRUE(outcomes.count(attempt.name))
            << attempt.name << " was not tried; report:\n" << report;
        if (!outcomes.count(attempt.name))
            continue;
        const std::string &outcome = outcomes.at(attempt.name);
        if (attempt.refused_by_filter_alone) {
            EXPECT_EQ(outcome, filter_refusal) << attempt.name;
        } else {
            EXPECT_TRUE(outcome.rfind("refused ", 0) == 0) << attempt.name << ": " << outcome;
        }
    }
    EXPECT_TRUE(outcomes.count("done")) << report;
    targets.expect_untouched();
    if (run().streams == Streams::Terminal) {
        EXPECT_EQ(actual.terminal_input_left, 0U) << "characters were pushed into the terminal";
    }
    expect_same_run(actual, expected);
}

std::string confinement_case_name(
    const ::testing::TestParamInfo<std::tuple<ConfinedRun, const char *>> &info)
{
    // "landlock-abi-2" -> "LandlockAbi2"
    std::string kernel;
    bool word_start = true;
    for (const char c : std::string(std::get<1>(info.param))) {
        if (c == '-') {
            word_start = true;
            continue;
        }
        kernel += word_start ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        word_start = false;
    }
    return std::get<0>(info.param).name + "_On" + kernel;
}

INSTANTIATE_TEST_SUITE_P(Runs, ConfinedOutputTest,
                         ::testing::Combine(::testing::ValuesIn(RUNS),
                                            ::testing::ValuesIn(KERNELS)),
                         confinement_case_name);
INSTANTIATE_TEST_SUITE_P(Runs, ConfinedAttemptsTest,
                         ::testing::Combine(::testing::ValuesIn(RUNS),
                                            ::testing::ValuesIn(KERNELS_WITH_SECCOMP)),
                         confinement_case_name);

}  // namespace
}  // namespace chunklens_test
