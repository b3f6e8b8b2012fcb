// The system calls that chunklens may make once FILE is open, by the names
// of libseccomp's tables, for every architecture the tool is built for. The
// build turns this list into the seccomp program that the tool loads
// (syscall_filter_maker.cpp); the tests check that program against it.
//
// Everything not named here fails with ENOSYS, what a kernel without the
// call answers, so that a library that tries something new falls back as it
// does on an older kernel, and nothing is killed. A name that an
// architecture does not have is passed over there (arm64 has no poll, its C
// library calls ppoll; 32-bit ones add the *64 forms).
#pragma once

#include <cerrno>
#include <cstdint>

namespace syscall_policy {

// Allowed whatever their arguments.
inline constexpr const char *ANY_ARGUMENTS[] = {
    // FILE and the output: reading, writing, waiting for a stream, looking
    // at what standard output is.
    "read", "pread64", "write", "poll", "ppoll", "ppoll_time64",
    "fstat", "fstat64", "newfstatat", "fstatat64", "statx",
    // Memory, as malloc gets it and gives it back.
    "brk", "mmap", "mmap2", "munmap", "mremap",
    // GLib's locks, uncontended, still wake.
    "futex", "futex_time64",
    // The clock, where the vDSO does not answer it (some emulators).
    "clock_gettime", "clock_gettime64",
    // The end of the run, and what abort() needs on its way there.
    "exit", "exit_group", "getpid", "gettid", "rt_sigprocmask", "rt_sigaction",
    // A call interrupted by a stop (Ctrl-Z) and resumed; the return from a
    // signal handler.
    "restart_syscall", "rt_sigreturn", "sigreturn",
};

// Calls that a run makes and must not get, refused with the error they get
// from the path rules: the C library and GLib look for message catalogues,
// locale files and character set modules when they first build an error
// message, and handle EACCES as "not there".
struct Refusal {
    const char *name;
    int error_number;
};
inline constexpr Refusal REFUSED[] = {
    {"open", EACCES},
    {"openat", EACCES},
};

// fcntl only for the size of a pipe, which the first dump enlarges.
inline constexpr std::uint32_t PIPE_SIZE_SET = 1031;  // F_SETPIPE_SZ
inline constexpr std::uint32_t PIPE_SIZE_GET = 1032;  // F_GETPIPE_SZ
inline constexpr const char *FCNTL_CALLS[] = {"fcntl", "fcntl64"};
inline constexpr std::uint32_t FCNTL_COMMANDS[] = {PIPE_SIZE_SET, PIPE_SIZE_GET};

// ioctl only for asking whether a descriptor is a terminal (isatty, stdio
// choosing its buffering): TCGETS, and TCGETS2, which newer C libraries
// ask instead. The request is compared on its low 32 bits, which is all the
// kernel reads of it: a request with high bits set is the request of its
// low bits. powerpc numbers its terminal requests differently and has no
// TCGETS2.
inline constexpr std::uint32_t TCGETS_GENERIC = 0x5401;
inline constexpr std::uint32_t TCGETS2_GENERIC = 0x802c542a;
inline constexpr std::uint32_t TCGETS_POWERPC = 0x402c7413;
inline constexpr std::uint32_t TERMINAL_REQUESTS_GENERIC[] = {TCGETS_GENERIC, TCGETS2_GENERIC};
inline constexpr std::uint32_t TERMINAL_REQUESTS_POWERPC[] = {TCGETS_POWERPC};

// Signals only to the process itself, which abort() sends with tgkill (kill
// and tkill are the older ways to the same). The pid is known only to the
// run: the program compares the first argument with OWN_PID_PLACEHOLDER,
// which the tool replaces with its pid before it loads it. The placeholder
// is above any pid Linux gives (at most 2^22) and no other constant of the
// program has its value.
inline constexpr const char *SIGNAL_CALLS[] = {"kill", "tkill", "tgkill"};
inline constexpr std::uint32_t OWN_PID_PLACEHOLDER = 0x7e1f5e1f;

// The error of every call not allowed above, and of calls made through
// another architecture's entry (i386 or x32 on amd64).
inline constexpr int DEFAULT_ERROR = ENOSYS;

}  // namespace syscall_policy
