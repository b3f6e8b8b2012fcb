// A classic BPF interpreter for seccomp programs, so that the tests can ask
// the tool's filter, for any architecture the build makes one for, what it
// decides about a call, without loading it into a kernel of that
// architecture.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace chunklens_test {

struct BpfInstruction {
    std::uint16_t code;
    std::uint8_t jt;
    std::uint8_t jf;
    std::uint32_t k;
};

using SeccompProgram = std::vector<BpfInstruction>;

// Reads a program as syscall_filter_maker writes it: one "{code, jt, jf,
// k}," per line.
SeccompProgram read_seccomp_program(const std::string &path);

// The same, with pid in place of the placeholder of the signal rule, as
// the tool patches its own in before it loads the program.
SeccompProgram read_seccomp_program_for_pid(const std::string &path, std::uint32_t pid);

// What the kernel hands a filter for one call (struct seccomp_data).
struct SeccompCall {
    std::int32_t number = 0;
    std::uint32_t arch = 0;
    std::uint64_t instruction_pointer = 0;
    std::array<std::uint64_t, 6> args = {};
};

// The filter's return value (SECCOMP_RET_* with its data) for the call, on
// an architecture of the given byte order. Throws std::runtime_error for a
// program the kernel would refuse to load (an unknown instruction, a jump
// or a load out of bounds, no return at the end).
std::uint32_t run_seccomp_program(const SeccompProgram &program, const SeccompCall &call,
                                  bool big_endian);

// The return values the tests compare with.
std::uint32_t seccomp_allow();
std::uint32_t seccomp_error(int error_number);

// Whether an AUDIT_ARCH value names a big-endian architecture.
bool arch_is_big_endian(std::uint32_t arch);

}  // namespace chunklens_test
