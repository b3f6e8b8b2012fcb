// The process confines itself once FILE is open. Three of the kernel's
// mechanisms, each used where the running kernel has it:
// - no_new_privs, which both others need and which keeps an exec (were one
//   to get through) from gaining privileges;
// - Landlock, with no rule at all: every path is out of reach (open, create,
//   remove, rename, link, truncate, exec), and, on kernels that have them,
//   TCP binds and connects, signals to processes outside and abstract UNIX
//   sockets. Descriptors opened before keep working;
// - a seccomp filter for what Landlock leaves: new sockets, new processes,
//   exec, io_uring, changes of mode and owner; and whatever the running
//   kernel's Landlock lacks: signals to others below ABI 6, truncate below
//   ABI 3, and without Landlock the path calls and tracing too.
//
// The filter fails what it denies with an error and lets everything else
// through. A filter that lists the calls it allows, or that kills, breaks
// whenever a new C library reaches the same end by another call; a denied
// call that a legitimate run never makes costs nothing to refuse with an
// error, and a run that did make one would see an error it handles, never
// a killed process.
//
// Every step is best effort: a kernel, container or emulator that refuses
// one leaves the others in place, and nothing is printed.

#include "confinement.h"

#include <seccomp.h>

#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

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

struct Landlock {
    int abi = 0;  // 0 when the kernel has none
    bool restricted = false;
};

int landlock_abi()
{
    const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0,
                               LANDLOCK_CREATE_RULESET_VERSION_FLAG);
    return abi > 0 ? static_cast<int>(abi) : 0;
}

// A ruleset that handles every right the kernel knows and grants none.
Landlock restrict_with_landlock()
{
    Landlock landlock;
    landlock.abi = landlock_abi();
    if (landlock.abi == 0)
        return landlock;
    LandlockRulesetAttr ruleset = {};
    ruleset.handled_access_fs = landlock_fs_rights(landlock.abi);
    if (landlock.abi >= LANDLOCK_NET_ABI)
        ruleset.handled_access_net = LANDLOCK_NET_TCP_RIGHTS;
    if (landlock.abi >= LANDLOCK_SCOPE_ABI)
        ruleset.scoped = LANDLOCK_SCOPES;
    const long ruleset_fd = ::syscall(SYS_landlock_create_ruleset, &ruleset, sizeof ruleset, 0);
    if (ruleset_fd < 0)
        return landlock;
    landlock.restricted = ::syscall(SYS_landlock_restrict_self, ruleset_fd, 0) == 0;
    ::close(static_cast<int>(ruleset_fd));
    return landlock;
}

// Calls the tool never makes once FILE is open, refused whatever their
// arguments. Names the kernel or libseccomp does not know on this
// architecture are passed over. Each rule costs start-up time (libseccomp
// builds the filter anew in every run), so the list holds what Landlock
// leaves open, not everything the tool does without.
struct DeniedCall {
    const char *name;
    int error_number;
};

constexpr DeniedCall ALWAYS_DENIED[] = {
    // Sockets: none is made, and none that is open is connected anywhere;
    // without one, binding, listening and accepting have nothing to work
    // on. i386 reaches these through socketcall as well.
    {"socket", EACCES}, {"socketpair", EACCES}, {"connect", EACCES}, {"socketcall", EACCES},
    // New processes and programs. clone3 answers "not here", as on an older
    // kernel, so that a thread would be made through clone instead, where
    // the flags can be seen.
    {"fork", EPERM}, {"vfork", EPERM}, {"clone3", ENOSYS}, {"execve", EPERM},
    {"execveat", EPERM}, {"pidfd_open", EPERM},
    // Ways around the rest: io_uring, whose operations (sockets among them)
    // pass no filter; a new user namespace; the user's keys.
    {"io_uring_setup", EPERM}, {"unshare", EPERM}, {"keyctl", EPERM},
    // Changes of mode and owner by path, which Landlock leaves alone.
    {"chmod", EPERM}, {"fchmodat", EPERM}, {"fchmodat2", EPERM}, {"chown", EPERM},
    {"lchown", EPERM}, {"fchownat", EPERM},
};

// What Landlock refuses when the kernel has it: every call that reaches a
// file by its path, and any access to another process (tracing, its
// memory).
constexpr DeniedCall LANDLOCK_CALLS[] = {
    {"open", EACCES},       {"openat", EACCES},     {"openat2", EACCES},
    {"creat", EACCES},      {"truncate", EACCES},   {"unlink", EACCES},
    {"unlinkat", EACCES},   {"rmdir", EACCES},      {"rename", EACCES},
    {"renameat", EACCES},   {"renameat2", EACCES},  {"link", EACCES},
    {"linkat", EACCES},     {"symlink", EACCES},    {"symlinkat", EACCES},
    {"mkdir", EACCES},      {"mkdirat", EACCES},    {"mknod", EACCES},
    {"mknodat", EACCES},    {"uselib", EACCES},     {"open_by_handle_at", EACCES},
    {"ptrace", EPERM},      {"process_vm_readv", EPERM}, {"process_vm_writev", EPERM},
};

// Landlock refuses a truncate by path from ABI 3 on (an open that
// truncates needs the right to write, refused from ABI 1).
constexpr int LANDLOCK_TRUNCATE_ABI = 3;
constexpr DeniedCall TRUNCATE_CALL[] = {{"truncate", EACCES}};

template <std::size_t N>
void deny_calls(scmp_filter_ctx filter, const DeniedCall (&calls)[N])
{
    for (const DeniedCall &call : calls) {
        const int number = seccomp_syscall_resolve_name(call.name);
        if (number != __NR_SCMP_ERROR)
            seccomp_rule_add(filter, SCMP_ACT_ERRNO(call.error_number), number, 0);
    }
}

// Landlock keeps signals within the process from ABI 6 on; below it, the
// filter does.
constexpr int LANDLOCK_SIGNAL_SCOPE_ABI = LANDLOCK_SCOPE_ABI;

// Signals to itself stay (abort() raises SIGABRT with tgkill); any other
// target, a process group or every process is refused.
void deny_signals_to_others(scmp_filter_ctx filter)
{
    const auto self = static_cast<scmp_datum_t>(::getpid());
    for (const char *name : {"kill", "tkill", "tgkill", "rt_sigqueueinfo", "rt_tgsigqueueinfo"}) {
        const int number = seccomp_syscall_resolve_name(name);
        if (number != __NR_SCMP_ERROR)
            seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), number, 1,
                             SCMP_CMP(0, SCMP_CMP_NE, self, 0));
    }
}

// clone makes a thread or a process; only a process is refused. Its flags
// come first, except on s390, where the stack does.
void deny_new_processes(scmp_filter_ctx filter)
{
    const std::uint32_t arch = seccomp_arch_native();
    const unsigned flags_argument = arch == SCMP_ARCH_S390X || arch == SCMP_ARCH_S390 ? 1 : 0;
    seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(clone), 1,
                     SCMP_CMP(flags_argument, SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0));
}

void load_seccomp_filter(const Landlock &landlock)
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (filter == nullptr)
        return;
    // A call made through another architecture's entry (int 0x80 on amd64)
    // would pass a filter written for this one's numbers: refuse them all.
    seccomp_attr_set(filter, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_ERRNO(ENOSYS));
    // Calls found by a binary search rather than one comparison after
    // another: the kernel runs the filter for each of its system call
    // numbers when it is loaded, and for every call it cannot answer from
    // its cache afterwards.
    seccomp_attr_set(filter, SCMP_FLTATR_CTL_OPTIMIZE, 2);
    deny_calls(filter, ALWAYS_DENIED);
    deny_new_processes(filter);
    if (!landlock.restricted)
        deny_calls(filter, LANDLOCK_CALLS);
    else if (landlock.abi < LANDLOCK_TRUNCATE_ABI)
        deny_calls(filter, TRUNCATE_CALL);
    if (!landlock.restricted || landlock.abi < LANDLOCK_SIGNAL_SCOPE_ABI)
        deny_signals_to_others(filter);
    seccomp_load(filter);
    seccomp_release(filter);
}

}  // namespace

void confine_process()
{
#ifdef CHUNKLENS_NO_CONFINEMENT
    return;  // the sanitizer build (see CMakeLists.txt)
#endif
    // Without it neither Landlock nor an unprivileged seccomp filter is
    // allowed; with it, nothing the tool does changes.
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    const Landlock landlock = restrict_with_landlock();
    load_seccomp_filter(landlock);
}
