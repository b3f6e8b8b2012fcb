// The seccomp program that the build makes for each architecture, run in an
// interpreter for every system call number of that architecture: exactly
// the listed calls pass, the calls that would let a file that took over the
// tool reach anything fail whatever their arguments, the rules on arguments
// hold (the terminal, fcntl, signals), and a call through another
// architecture's entry fails. The architectures where qemu cannot confine
// the tool are checked here all the same.

#include "seccomp_program.h"
#include "syscall_policy.h"

#include <gtest/gtest.h>
#include <seccomp.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>

#ifndef CHUNKLENS_SYSCALL_FILTERS
#error "CHUNKLENS_SYSCALL_FILTERS must name the folder of the programs"
#endif

namespace chunklens_test {
namespace {

// libseccomp's names of the architectures the project builds for: amd64,
// i386, arm64, armhf, ppc64el, s390x.
const char *const ARCHITECTURES[] = {"x86_64", "x86", "aarch64", "arm", "ppc64le", "s390x"};

constexpr std::uint32_t OWN_PID = 4242;
constexpr std::uint32_t OTHER_PID = 4243;
constexpr std::uint64_t HIGH_BITS = 0xffffffff00000000ULL;

std::uint32_t arch_token(const std::string &name)
{
    const std::uint32_t token = seccomp_arch_resolve_name(name.c_str());
    if (token == 0)
        throw std::runtime_error("libseccomp does not know " + name);
    return token;
}

std::optional<std::string> call_name(std::uint32_t arch, int number)
{
    char *name = seccomp_syscall_resolve_num_arch(arch, number);
    if (name == nullptr)
        return std::nullopt;
    std::string text = name;
    std::free(name);
    return text;
}

template <typename List>
bool listed(const List &list, const std::string &name)
{
    return std::find_if(std::begin(list), std::end(list),
                        [&](const auto &entry) { return name == entry; }) != std::end(list);
}

std::optional<int> refusal_of(const std::string &name)
{
    for (const syscall_policy::Refusal &refusal : syscall_policy::REFUSED) {
        if (name == refusal.name)
            return refusal.error_number;
    }
    return std::nullopt;
}

class SyscallFilterTest : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override
    {
        arch_ = arch_token(GetParam());
        program_ = read_seccomp_program_for_pid(
            std::string(CHUNKLENS_SYSCALL_FILTERS) + "/" + GetParam() + ".inc", OWN_PID);
    }

    std::uint32_t decide(int number, std::array<std::uint64_t, 6> args = {}) const
    {
        SeccompCall call;
        call.number = number;
        call.arch = arch_;
        call.args = args;
        return run_seccomp_program(program_, call, arch_is_big_endian(arch_));
    }

    // The decision for a call by name, or nothing where the architecture
    // lacks it.
    std::optional<std::uint32_t> decide(const char *name, std::array<std::uint64_t, 6> args = {}) const
    {
        const int number = seccomp_syscall_resolve_name_arch(arch_, name);
        if (number < 0)
            return std::nullopt;
        return decide(number, args);
    }

    bool is_powerpc() const
    {
        return arch_ == SCMP_ARCH_PPC64LE || arch_ == SCMP_ARCH_PPC64 || arch_ == SCMP_ARCH_PPC;
    }

    // Every number the architecture gives a call, and every number of the
    // range that it does not, which must fail too.
    std::vector<int> numbers_to_try() const
    {
        std::vector<int> numbers;
        for (int number = 0; number < 1024; ++number)
            numbers.push_back(number);
        if (arch_ == SCMP_ARCH_ARM) {  // ARM's private calls
            for (int number = 0xf0000; number < 0xf0010; ++number)
                numbers.push_back(number);
        }
        return numbers;
    }

    std::uint32_t arch_ = 0;
    SeccompProgram program_;
};

const std::uint32_t ALLOW = seccomp_allow();
const std::uint32_t NO_SUCH_CALL = seccomp_error(syscall_policy::DEFAULT_ERROR);

TEST_P(SyscallFilterTest, ExactlyTheListedCallsPass)
{
    // Arguments that no rule on arguments accepts.
    const std::array<std::uint64_t, 6> unmatched = {0x7fff0000, 0x7fff0000, 1, 2, 3, 4};
    for (const int number : numbers_to_try()) {
        const std::string name = call_name(arch_, number).value_or("(none)");
        std::uint32_t expected = NO_SUCH_CALL;
        if (listed(syscall_policy::ANY_ARGUMENTS, name))
            expected = ALLOW;
        else if (const std::optional<int> error = refusal_of(name))
            expected = seccomp_error(*error);
        EXPECT_EQ(decide(number, unmatched), expected) << name << " (" << number << ")";
        EXPECT_EQ(decide(number), expected) << name << " (" << number << ") without arguments";
    }
}

// What a run needs, whatever the architecture calls it: one of each group
// must pass.
TEST_P(SyscallFilterTest, WhatARunNeedsPasses)
{
    const std::vector<std::vector<const char *>> needs = {
        {"read"}, {"pread64"}, {"write"}, {"exit_group"}, {"brk"}, {"munmap"},
        {"mmap", "mmap2"}, {"poll", "ppoll", "ppoll_time64"},
        {"fstat", "fstat64", "newfstatat", "fstatat64", "statx"},
        {"rt_sigprocmask"}, {"getpid"}, {"futex", "futex_time64"},
    };
    for (const std::vector<const char *> &group : needs) {
        bool passes = false;
        for (const char *name : group)
            passes = passes || decide(name) == ALLOW;
        EXPECT_TRUE(passes) << "none of the group of " << group.front() << " passes";
    }
}

// Whatever their arguments, none of these gets through: the ways to other
// processes, programs, sockets, the user's keys and shared objects, and the
// parts of the kernel that an exploit of it would need.
TEST_P(SyscallFilterTest, CallsThatReachBeyondTheOutputFail)
{
    const char *const beyond[] = {
        "socket", "socketpair", "connect", "bind", "sendto", "sendmsg", "socketcall",
        "execve", "execveat", "fork", "vfork", "clone", "clone3", "ptrace",
        "process_vm_readv", "process_vm_writev", "pidfd_open", "pidfd_getfd", "kcmp",
        "shmget", "shmat", "shmctl", "msgget", "msgsnd", "semget", "semop", "ipc",
        "mq_open", "mq_timedsend", "add_key", "keyctl", "request_key",
        "userfaultfd", "bpf", "perf_event_open", "fsopen", "fsmount", "open_tree",
        "move_mount", "mount", "umount2", "setns", "unshare", "memfd_create",
        "io_uring_setup", "io_uring_enter", "mprotect", "personality", "prctl", "seccomp",
        "chmod", "fchmod", "fchmodat", "chown", "fchown", "truncate", "ftruncate", "unlink",
        "unlinkat", "rename", "renameat2", "link", "linkat", "symlink", "mkdir", "mknod",
        "setxattr", "fsetxattr", "removexattr", "rt_sigqueueinfo", "rt_tgsigqueueinfo",
        "landlock_create_ruleset", "dup", "dup2", "dup3", "splice", "vmsplice", "sendfile",
    };
    const std::array<std::uint64_t, 6> some = {OWN_PID, 0x5401, 1031, 0, 0, 0};
    for (const char *name : beyond) {
        for (const std::array<std::uint64_t, 6> &args : {std::array<std::uint64_t, 6>{}, some})
            EXPECT_NE(decide(name, args).value_or(NO_SUCH_CALL), ALLOW) << name;
    }
}

TEST_P(SyscallFilterTest, TheTerminalIsOnlyAsked)
{
    const std::uint64_t terminal_query = is_powerpc() ? 0x402c7413 : 0x5401;  // TCGETS
    const std::uint64_t push_input = is_powerpc() ? 0x80017472 : 0x5412;      // TIOCSTI
    const std::uint64_t console = 0x541c;                                      // TIOCLINUX
    const std::uint64_t set_size = is_powerpc() ? 0x80087467 : 0x5414;        // TIOCSWINSZ
    EXPECT_EQ(decide("ioctl", {1, terminal_query}), ALLOW);
    // The kernel reads the request's low 32 bits alone.
    EXPECT_EQ(decide("ioctl", {2, terminal_query | HIGH_BITS}), ALLOW);
    for (const std::uint64_t request : {push_input, push_input | HIGH_BITS, push_input | (std::uint64_t{1} << 32),
                                        console, console | HIGH_BITS, set_size})
        EXPECT_EQ(decide("ioctl", {2, request}), NO_SUCH_CALL) << std::hex << request;
}

TEST_P(SyscallFilterTest, FcntlOnlyForThePipeSize)
{
    for (const char *name : syscall_policy::FCNTL_CALLS) {
        if (!decide(name))
            continue;
        EXPECT_EQ(decide(name, {1, 1031, 1 << 20}), ALLOW) << name << " F_SETPIPE_SZ";
        EXPECT_EQ(decide(name, {1, 1032}), ALLOW) << name << " F_GETPIPE_SZ";
        // F_DUPFD, F_SETFD, F_SETFL, F_SETOWN, F_SETLK, F_DUPFD_CLOEXEC
        for (const std::uint64_t command : {0, 2, 4, 8, 6, 1030})
            EXPECT_EQ(decide(name, {1, command}), NO_SUCH_CALL) << name << " " << command;
    }
}

TEST_P(SyscallFilterTest, SignalsOnlyToItself)
{
    EXPECT_EQ(decide("kill", {OWN_PID, 6}), ALLOW);
    EXPECT_EQ(decide("tgkill", {OWN_PID, OWN_PID, 6}), ALLOW);
    EXPECT_EQ(decide("tkill", {OWN_PID, 6}), ALLOW);
    // Another process, the process group, every process.
    for (const std::uint64_t target : {std::uint64_t{OTHER_PID}, std::uint64_t{0}, ~std::uint64_t{0}}) {
        EXPECT_EQ(decide("kill", {target, 15}), NO_SUCH_CALL) << target;
        EXPECT_EQ(decide("tgkill", {target, OWN_PID, 15}), NO_SUCH_CALL) << target;
        EXPECT_EQ(decide("tkill", {target, 15}).value_or(NO_SUCH_CALL), NO_SUCH_CALL) << target;
    }
}

TEST_P(SyscallFilterTest, NoNewProcessOrThread)
{
    // SIGCHLD alone makes a process; CLONE_VM | CLONE_FS | CLONE_FILES |
    // CLONE_SIGHAND | CLONE_THREAD a thread, which no run needs either. s390
    // passes the flags second.
    for (const std::uint64_t flags : {std::uint64_t{0x11}, std::uint64_t{0x10f00}}) {
        EXPECT_EQ(decide("clone", {flags, 0}), NO_SUCH_CALL) << flags;
        EXPECT_EQ(decide("clone", {0, flags}), NO_SUCH_CALL) << flags;
    }
}

TEST_P(SyscallFilterTest, AnotherArchitecturesEntryFails)
{
    const int read_number = seccomp_syscall_resolve_name_arch(arch_, "read");
    for (const char *other : ARCHITECTURES) {
        const std::uint32_t other_arch = arch_token(other);
        if (other_arch == arch_)
            continue;
        SeccompCall call;
        call.arch = other_arch;
        call.number = seccomp_syscall_resolve_name_arch(other_arch, "read");
        EXPECT_EQ(run_seccomp_program(program_, call, arch_is_big_endian(arch_)), NO_SUCH_CALL)
            << other;
        call.number = read_number;
        EXPECT_EQ(run_seccomp_program(program_, call, arch_is_big_endian(arch_)), NO_SUCH_CALL)
            << other;
    }
    if (arch_ == SCMP_ARCH_X86_64) {
        // x32's calls come through amd64's entry with bit 30 set.
        const int x32_bit = 0x40000000;
        EXPECT_EQ(decide(x32_bit | read_number), NO_SUCH_CALL);
        EXPECT_EQ(decide(x32_bit | seccomp_syscall_resolve_name_arch(arch_, "write")),
                  NO_SUCH_CALL);
    }
}

INSTANTIATE_TEST_SUITE_P(Architectures, SyscallFilterTest, ::testing::ValuesIn(ARCHITECTURES),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             return std::string(info.param);
                         });

// The program in the tool is the one made for the architecture it runs on.
TEST(SyscallFilter, TheToolHasTheProgramOfItsArchitecture)
{
    const std::uint32_t native = seccomp_arch_native();
    const char *native_name = nullptr;
    for (const char *name : ARCHITECTURES) {
        if (arch_token(name) == native)
            native_name = name;
    }
    if (native_name == nullptr)
        GTEST_SKIP() << "this architecture has no program among the ones checked";
    const SeccompProgram tool = read_seccomp_program(CHUNKLENS_NATIVE_SYSCALL_FILTER);
    const SeccompProgram checked =
        read_seccomp_program(std::string(CHUNKLENS_SYSCALL_FILTERS) + "/" + native_name + ".inc");
    ASSERT_EQ(tool.size(), checked.size());
    for (std::size_t i = 0; i < tool.size(); ++i) {
        EXPECT_EQ(tool[i].code, checked[i].code) << i;
        EXPECT_EQ(tool[i].jt, checked[i].jt) << i;
        EXPECT_EQ(tool[i].jf, checked[i].jf) << i;
        EXPECT_EQ(tool[i].k, checked[i].k) << i;
    }
}

}  // namespace
}  // namespace chunklens_test
