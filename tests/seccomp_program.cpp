#include "seccomp_program.h"

#include "syscall_policy.h"

#include <linux/filter.h>
#include <linux/seccomp.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace chunklens_test {
namespace {

// struct seccomp_data: nr, arch, instruction_pointer, args[6].
constexpr std::size_t DATA_SIZE = 64;

void put(std::array<std::uint8_t, DATA_SIZE> &data, std::size_t offset, std::uint64_t value,
         std::size_t width, bool big_endian)
{
    for (std::size_t i = 0; i < width; ++i) {
        const std::size_t shift = 8 * (big_endian ? width - 1 - i : i);
        data[offset + i] = static_cast<std::uint8_t>(value >> shift);
    }
}

// The call laid out in memory as the kernel of that byte order lays it out:
// a filter loads 32-bit words of it, the high or the low half of an
// argument depending on the order.
std::array<std::uint8_t, DATA_SIZE> seccomp_data(const SeccompCall &call, bool big_endian)
{
    std::array<std::uint8_t, DATA_SIZE> data = {};
    put(data, 0, static_cast<std::uint32_t>(call.number), 4, big_endian);
    put(data, 4, call.arch, 4, big_endian);
    put(data, 8, call.instruction_pointer, 8, big_endian);
    for (std::size_t i = 0; i < call.args.size(); ++i)
        put(data, 16 + 8 * i, call.args[i], 8, big_endian);
    return data;
}

std::uint32_t load_word(const std::array<std::uint8_t, DATA_SIZE> &data, std::uint32_t offset,
                        bool big_endian)
{
    // The kernel refuses a program with any other load when it is loaded.
    if (offset % 4 != 0 || offset + 4 > DATA_SIZE)
        throw std::runtime_error("a load outside the call's data, at " + std::to_string(offset));
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t shift = 8 * (big_endian ? 3 - i : i);
        value |= static_cast<std::uint32_t>(data[offset + i]) << shift;
    }
    return value;
}

std::uint32_t alu(std::uint16_t operation, std::uint32_t a, std::uint32_t operand)
{
    switch (operation) {
    case BPF_ADD: return a + operand;
    case BPF_SUB: return a - operand;
    case BPF_MUL: return a * operand;
    case BPF_DIV:
        if (operand == 0)
            throw std::runtime_error("division by zero");
        return a / operand;
    case BPF_MOD:
        if (operand == 0)
            throw std::runtime_error("division by zero");
        return a % operand;
    case BPF_AND: return a & operand;
    case BPF_OR: return a | operand;
    case BPF_XOR: return a ^ operand;
    case BPF_LSH: return operand < 32 ? a << operand : 0;
    case BPF_RSH: return operand < 32 ? a >> operand : 0;
    case BPF_NEG: return -a;
    default: throw std::runtime_error("an unknown arithmetic operation");
    }
}

bool condition(std::uint16_t test, std::uint32_t a, std::uint32_t operand)
{
    switch (test) {
    case BPF_JEQ: return a == operand;
    case BPF_JGT: return a > operand;
    case BPF_JGE: return a >= operand;
    case BPF_JSET: return (a & operand) != 0;
    default: throw std::runtime_error("an unknown jump");
    }
}

}  // namespace

SeccompProgram read_seccomp_program(const std::string &path)
{
    std::ifstream file(path);
    if (!file)
        throw std::runtime_error("cannot read " + path);
    SeccompProgram program;
    std::string line;
    while (std::getline(file, line)) {
        unsigned code, jt, jf, k;
        if (std::sscanf(line.c_str(), "{0x%x, %u, %u, 0x%x},", &code, &jt, &jf, &k) == 4)
            program.push_back({static_cast<std::uint16_t>(code), static_cast<std::uint8_t>(jt),
                               static_cast<std::uint8_t>(jf), k});
    }
    if (program.empty())
        throw std::runtime_error("no program in " + path);
    return program;
}

SeccompProgram read_seccomp_program_for_pid(const std::string &path, std::uint32_t pid)
{
    SeccompProgram program = read_seccomp_program(path);
    for (BpfInstruction &instruction : program) {
        if (instruction.k == syscall_policy::OWN_PID_PLACEHOLDER)
            instruction.k = pid;
    }
    return program;
}

std::uint32_t run_seccomp_program(const SeccompProgram &program, const SeccompCall &call,
                                  bool big_endian)
{
    if (program.empty() || program.size() > BPF_MAXINSNS)
        throw std::runtime_error("a program of " + std::to_string(program.size()) +
                                 " instructions");
    const std::array<std::uint8_t, DATA_SIZE> data = seccomp_data(call, big_endian);
    std::uint32_t a = 0;
    std::uint32_t x = 0;
    std::array<std::uint32_t, BPF_MEMWORDS> memory = {};
    std::size_t pc = 0;
    while (pc < program.size()) {
        const BpfInstruction &instruction = program[pc++];
        const std::uint16_t code = instruction.code;
        const std::uint32_t k = instruction.k;
        switch (BPF_CLASS(code)) {
        case BPF_LD:
            if (code == (BPF_LD | BPF_W | BPF_ABS))
                a = load_word(data, k, big_endian);
            else if (code == (BPF_LD | BPF_W | BPF_LEN))
                a = DATA_SIZE;
            else if (code == (BPF_LD | BPF_IMM))
                a = k;
            else if (code == (BPF_LD | BPF_MEM) && k < BPF_MEMWORDS)
                a = memory[k];
            else
                throw std::runtime_error("a load the kernel refuses in a filter");
            break;
        case BPF_LDX:
            if (code == (BPF_LDX | BPF_W | BPF_LEN))
                x = DATA_SIZE;
            else if (code == (BPF_LDX | BPF_IMM))
                x = k;
            else if (code == (BPF_LDX | BPF_MEM) && k < BPF_MEMWORDS)
                x = memory[k];
            else
                throw std::runtime_error("a load the kernel refuses in a filter");
            break;
        case BPF_ST:
        case BPF_STX:
            if (k >= BPF_MEMWORDS)
                throw std::runtime_error("a store outside the scratch memory");
            memory[k] = BPF_CLASS(code) == BPF_ST ? a : x;
            break;
        case BPF_ALU:
            a = alu(BPF_OP(code), a, BPF_SRC(code) == BPF_X ? x : k);
            break;
        case BPF_JMP: {
            std::size_t skip;
            if (BPF_OP(code) == BPF_JA)
                skip = k;
            else
                skip = condition(BPF_OP(code), a, BPF_SRC(code) == BPF_X ? x : k)
                           ? instruction.jt
                           : instruction.jf;
            if (pc + skip >= program.size())
                throw std::runtime_error("a jump past the end");
            pc += skip;
            break;
        }
        case BPF_RET:
            if (BPF_RVAL(code) == BPF_A)
                return a;
            if (BPF_RVAL(code) == BPF_K)
                return k;
            throw std::runtime_error("a return the kernel refuses");
        case BPF_MISC:
            if (BPF_MISCOP(code) == BPF_TAX)
                x = a;
            else
                a = x;
            break;
        default:
            throw std::runtime_error("an unknown instruction class");
        }
    }
    throw std::runtime_error("the program ends without a return");
}

std::uint32_t seccomp_allow() { return SECCOMP_RET_ALLOW; }

std::uint32_t seccomp_error(int error_number)
{
    return SECCOMP_RET_ERRNO | (static_cast<std::uint32_t>(error_number) & SECCOMP_RET_DATA);
}

bool arch_is_big_endian(std::uint32_t arch) { return (arch & 0x40000000U) == 0; }

}  // namespace chunklens_test
