// The process confines itself once FILE is open. Three of the kernel's
// mechanisms, each used where the running kernel has it:
// - no_new_privs, which both others need and which keeps an exec (were one
//   to get through) from gaining privileges;
// - a seccomp filter that lets through only the calls a run makes from here
//   on (syscall_policy.h): reading, writing, memory, the terminal query,
//   the pipe size, signals to itself, the exit. Everything else fails with
//   ENOSYS, as on a kernel without the call: the user's terminal (TIOCSTI),
//   System V IPC, keys, sockets, new processes, exec, and every way into
//   the kernel that a run has no use for. The program is built with the
//   tool (syscall_filter_maker.cpp), so a run only loads it;
// - Landlock, with no rule at all: every path is out of reach (open, create,
//   remove, rename, link, truncate, exec), and, on kernels that have them,
//   TCP binds and connects, signals to processes outside and abstract UNIX
//   sockets. Descriptors opened before keep working. It is the second lock,
//   and the only one where seccomp is refused (some containers, emulators).
//
// Every step is best effort: a kernel, container or emulator that refuses
// one leaves the others in place, and nothing is printed.

#include "confinement.h"

#include "syscall_policy.h"

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <iterator>

#ifndef CHUNKLENS_NO_CONFINEMENT

namespace {

// Landlock's interface, written out here rather than taken from
// <linux/landlock.h>: the build's kernel headers may be older than the
// kernel the tool runs on (Debian 12's stop at ABI 2, where kernels offer
// 7), and what counts is what the running kernel reports.
#ifndef SYS_landlock_create_ruleset
#define SYS_landlock_create_ruleset 444
#endif
#ifndef SYS_landlock_restrict_self
#define SYS_landlock_restrict_self 446
#endif

struct LandlockRulesetAttr {
    std::uint64_t handled_access_fs;
    std::uint64_t handled_access_net;  // ABI 4
    std::uint64_t scoped;              // ABI 6
};

constexpr unsigned LANDLOCK_CREATE_RULESET_VERSION_FLAG = 1U << 0;

// File-system rights by the ABI that brought them: execute up to make-sym
// (bits 0 to 12) in ABI 1, refer in 2, truncate in 3, ioctl on devices in 5.
constexpr std::uint64_t landlock_fs_rights(int abi)
{
    std::uint64_t rights = (1ULL << 13) - 1;
    if (abi >= 2)
        rights |= 1ULL << 13;
    if (abi >= 3)
        rights |= 1ULL << 14;
    if (abi >= 5)
        rights |= 1ULL << 15;
    return rights;
}

// Bind and connect on TCP.
constexpr std::uint64_t LANDLOCK_NET_TCP_RIGHTS = (1ULL << 0) | (1ULL << 1);
constexpr int LANDLOCK_NET_ABI = 4;
// Abstract UNIX sockets and signals, scoped to the process's own domain.
constexpr std::uint64_t LANDLOCK_SCOPES = (1ULL << 0) | (1ULL << 1);
constexpr int LANDLOCK_SCOPE_ABI = 6;

int landlock_abi()
{
    const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0,
                               LANDLOCK_CREATE_RULESET_VERSION_FLAG);
    return abi > 0 ? static_cast<int>(abi) : 0;
}

// A ruleset that handles every right the kernel knows and grants none.
void restrict_with_landlock()
{
    const int abi = landlock_abi();
    if (abi == 0)
        return;
    LandlockRulesetAttr ruleset = {};
    ruleset.handled_access_fs = landlock_fs_rights(abi);
    if (abi >= LANDLOCK_NET_ABI)
        ruleset.handled_access_net = LANDLOCK_NET_TCP_RIGHTS;
    if (abi >= LANDLOCK_SCOPE_ABI)
        ruleset.scoped = LANDLOCK_SCOPES;
    const long ruleset_fd = ::syscall(SYS_landlock_create_ruleset, &ruleset, sizeof ruleset, 0);
    if (ruleset_fd < 0)
        return;
    ::syscall(SYS_landlock_restrict_self, ruleset_fd, 0);
    ::close(static_cast<int>(ruleset_fd));
}

// The program that syscall_filter_maker built for this architecture from
// the list in syscall_policy.h. Not const: the pid is patched in.
sock_filter seccomp_program[] = {
#include "syscall_filter.inc"
};

// The signal rule lets the process signal itself; which pid that is, only
// the run knows.
void patch_in_own_pid()
{
    const auto own_pid = static_cast<std::uint32_t>(::getpid());
    for (sock_filter &instruction : seccomp_program) {
        if (instruction.k == syscall_policy::OWN_PID_PLACEHOLDER)
            instruction.k = own_pid;
    }
}

void load_seccomp_filter()
{
    patch_in_own_pid();
    const sock_fprog program = {static_cast<unsigned short>(std::size(seccomp_program)),
                                seccomp_program};
    // Through prctl where seccomp(2) is missing or unknown to an emulator
    // (Valgrind 3.19): the same filter, loaded the older way.
    if (::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) != 0)
        ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0);
}

}  // namespace

void confine_process()
{
    // Without it neither Landlock nor an unprivileged seccomp filter is
    // allowed; with it, nothing the tool does changes.
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    restrict_with_landlock();
    load_seccomp_filter();
}

#else

// The sanitizer build, and the reference that the start-up benchmark
// measures the confinement against (see CMakeLists.txt).
void confine_process() {}

#endif
