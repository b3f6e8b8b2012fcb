// Builds, when chunklens is built, the seccomp program that the tool loads
// once FILE is open (see syscall_policy.h for what it allows), and writes it
// as C++ initialisers of struct sock_filter, one instruction per line.
//
// Made here rather than in every run: libseccomp would otherwise be loaded
// and the program built at each start, which cost more than the rest of the
// confinement together. libseccomp builds programs for any architecture it
// knows, so the same maker also writes the programs that the tests check
// for the other architectures.
//
// Usage: syscall_filter_maker ARCH OUTPUT
//   ARCH is libseccomp's name of an architecture (x86_64, x86, aarch64,
//   arm, ppc64le, s390x, ...) or "native".

#include "syscall_policy.h"

#include <seccomp.h>

#include <linux/filter.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[noreturn]] void give_up(const std::string &message)
{
    std::fprintf(stderr, "syscall_filter_maker: %s\n", message.c_str());
    std::exit(1);
}

void check(int result, const std::string &what)
{
    if (result < 0)
        give_up(what + ": " + std::strerror(-result));
}

bool is_powerpc(std::uint32_t arch)
{
    return arch == SCMP_ARCH_PPC || arch == SCMP_ARCH_PPC64 || arch == SCMP_ARCH_PPC64LE;
}

// AUDIT_ARCH values carry a bit for little-endian architectures.
bool is_little_endian(std::uint32_t arch) { return (arch & 0x40000000U) != 0; }

bool host_is_little_endian()
{
    const std::uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

class Maker {
public:
    explicit Maker(std::uint32_t arch) : arch_(arch)
    {
        filter_ = seccomp_init(SCMP_ACT_ERRNO(syscall_policy::DEFAULT_ERROR));
        if (filter_ == nullptr)
            give_up("cannot start a filter");
        if (arch != seccomp_arch_native()) {
            // Dropped first: libseccomp refuses to mix byte orders.
            check(seccomp_arch_remove(filter_, SCMP_ARCH_NATIVE), "cannot drop the native one");
            check(seccomp_arch_add(filter_, arch), "cannot add the architecture");
        }
        // A call through another architecture's entry (int 0x80 or x32 on
        // amd64) has other numbers than the ones compared here.
        check(seccomp_attr_set(filter_, SCMP_FLTATR_ACT_BADARCH,
                               SCMP_ACT_ERRNO(syscall_policy::DEFAULT_ERROR)),
              "cannot set the action for other architectures");
        // Calls found by a binary search rather than one comparison after
        // another.
        check(seccomp_attr_set(filter_, SCMP_FLTATR_CTL_OPTIMIZE, 2), "cannot ask for a tree");
    }

    ~Maker() { seccomp_release(filter_); }
    Maker(const Maker &) = delete;
    Maker &operator=(const Maker &) = delete;

    void add_rules()
    {
        using namespace syscall_policy;
        for (const char *name : ANY_ARGUMENTS)
            add(name, SCMP_ACT_ALLOW, {});
        for (const Refusal &refusal : REFUSED)
            add(refusal.name, SCMP_ACT_ERRNO(refusal.error_number), {});
        for (const char *name : FCNTL_CALLS)
            for (std::uint32_t command : FCNTL_COMMANDS)
                add(name, SCMP_ACT_ALLOW, {low_32_bits_equal(1, command)});
        if (is_powerpc(arch_))
            add_terminal_requests(TERMINAL_REQUESTS_POWERPC);
        else
            add_terminal_requests(TERMINAL_REQUESTS_GENERIC);
        for (const char *name : SIGNAL_CALLS)
            add(name, SCMP_ACT_ALLOW, {low_32_bits_equal(0, OWN_PID_PLACEHOLDER)});
    }

    // The program, its instructions in this machine's order.
    std::vector<sock_filter> program() const
    {
        std::FILE *file = std::tmpfile();
        if (file == nullptr)
            give_up("cannot make a temporary file");
        check(seccomp_export_bpf(filter_, fileno(file)), "cannot export the program");
        std::rewind(file);
        std::vector<sock_filter> instructions;
        sock_filter instruction;
        while (std::fread(&instruction, sizeof instruction, 1, file) == 1)
            instructions.push_back(instruction);
        std::fclose(file);
        // libseccomp writes a program in its architecture's byte order.
        if (is_little_endian(arch_) != host_is_little_endian()) {
            for (sock_filter &each : instructions) {
                each.code = __builtin_bswap16(each.code);
                each.k = __builtin_bswap32(each.k);
            }
        }
        return instructions;
    }

private:
    static scmp_arg_cmp low_32_bits_equal(unsigned argument, std::uint32_t value)
    {
        return SCMP_CMP(argument, SCMP_CMP_MASKED_EQ, 0xffffffffU, value);
    }

    template <std::size_t N>
    void add_terminal_requests(const std::uint32_t (&requests)[N])
    {
        for (std::uint32_t request : requests)
            add("ioctl", SCMP_ACT_ALLOW, {low_32_bits_equal(1, request)});
    }

    void add(const char *name, std::uint32_t action, std::vector<scmp_arg_cmp> conditions)
    {
        if (seccomp_syscall_resolve_name_arch(arch_, name) < 0)
            return;  // not a call of this architecture
        // libseccomp takes the number as this machine numbers the call (or
        // its own stand-in for a call that this machine lacks) and finds
        // the target's number by the name: the target's own number would
        // be read as another call.
        const int number = seccomp_syscall_resolve_name(name);
        if (number == __NR_SCMP_ERROR)
            give_up(std::string("libseccomp does not know ") + name);
        check(seccomp_rule_add_exact_array(filter_, action, number,
                                           static_cast<unsigned>(conditions.size()),
                                           conditions.data()),
              std::string("cannot add the rule for ") + name);
    }

    std::uint32_t arch_;
    scmp_filter_ctx filter_;
};

// The tool patches its pid into every instruction that compares with the
// placeholder; that works only if those are all comparisons of the
// accumulator with a constant.
void check_placeholder(const std::vector<sock_filter> &program)
{
    bool found = false;
    for (const sock_filter &instruction : program) {
        if (instruction.k != syscall_policy::OWN_PID_PLACEHOLDER)
            continue;
        if (instruction.code != (BPF_JMP | BPF_JEQ | BPF_K))
            give_up("the pid placeholder appears in something other than a comparison");
        found = true;
    }
    if (!found)
        give_up("the program never compares with the pid placeholder");
}

void write_program(const std::vector<sock_filter> &program, const char *arch_name,
                   const char *output)
{
    std::FILE *file = std::fopen(output, "w");
    if (file == nullptr)
        give_up(std::string("cannot write ") + output);
    std::fprintf(file, "// The seccomp program for %s, made by syscall_filter_maker.\n", arch_name);
    for (const sock_filter &instruction : program)
        std::fprintf(file, "{0x%04x, %u, %u, 0x%08x},\n", instruction.code, instruction.jt,
                     instruction.jf, instruction.k);
    if (std::fclose(file) != 0)
        give_up(std::string("cannot write ") + output);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 3)
        give_up("usage: syscall_filter_maker ARCH OUTPUT");
    const std::uint32_t arch = std::strcmp(argv[1], "native") == 0
                                   ? seccomp_arch_native()
                                   : seccomp_arch_resolve_name(argv[1]);
    if (arch == 0)
        give_up(std::string("unknown architecture ") + argv[1]);
    Maker maker(arch);
    maker.add_rules();
    const std::vector<sock_filter> program = maker.program();
    check_placeholder(program);
    write_program(program, argv[1], argv[2]);
    return 0;
}
