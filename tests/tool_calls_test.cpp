// Every system call that the tool makes once it has confined itself is one
// that its seccomp program lets through (or one that a run is known to try
// and must be refused, such as opening a message catalogue). The tool runs
// under a tracer, strace on this machine or qemu's own under an emulator,
// on each kind of input and output and on damaged files, and each call the
// trace shows after the confinement is put to the program in the test's
// interpreter, with its arguments. A call forgotten in the list shows up
// here, not as a run that fails in a user's hands.

#include "fixtures.h"
#include "seccomp_program.h"
#include "syscall_policy.h"
#include "test_support.h"

#include <seccomp.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <optional>
#include <sstream>
#include <thread>

#ifndef CHUNKLENS_NATIVE_SYSCALL_FILTER
#error "CHUNKLENS_NATIVE_SYSCALL_FILTER must name the tool's seccomp program"
#endif

namespace chunklens_test {
namespace {

// One call as a trace shows it.
struct TracedCall {
    long pid = 0;
    std::string name;
    std::vector<std::string> args;
    // What it returned, when the trace says (not for exit_group).
    std::optional<long> result;
    std::string line;
};

std::string trim(const std::string &text)
{
    const std::size_t first = text.find_first_not_of(' ');
    const std::size_t last = text.find_last_not_of(' ');
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// The arguments between the call's parentheses, split at the commas that
// are not inside quotes, brackets or braces.
std::vector<std::string> split_arguments(const std::string &text)
{
    std::vector<std::string> args;
    std::string current;
    int depth = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '\\' && i + 1 < text.size())
                current += text[i++];
            else if (c == '"')
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '(' || c == '[' || c == '{') {
            ++depth;
        } else if (c == ')' || c == ']' || c == '}') {
            if (depth == 0) {
                args.push_back(trim(current));
                return args;
            }
            --depth;
        } else if (c == ',' && depth == 0) {
            args.push_back(trim(current));
            current.clear();
            continue;
        }
        current += c;
    }
    return args;
}

// "PID name(arguments) = result", as strace -f and qemu's strace write it;
// lines of signals, exits and unfinished calls are not calls.
std::optional<TracedCall> parse_call(const std::string &line)
{
    std::istringstream stream(line);
    TracedCall call;
    if (!(stream >> call.pid))
        return std::nullopt;
    std::string rest;
    std::getline(stream, rest);
    rest = trim(rest);
    const std::size_t open = rest.find('(');
    if (open == std::string::npos || open == 0)
        return std::nullopt;
    call.name = rest.substr(0, open);
    for (const char c : call.name) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_'))
            return std::nullopt;
    }
    call.args = split_arguments(rest.substr(open + 1));
    const std::size_t equals = rest.rfind(") = ");
    if (equals != std::string::npos)
        call.result = std::strtol(rest.c_str() + equals + 4, nullptr, 0);
    call.line = line;
    return call;
}

// Names that qemu's strace writes for some arguments.
const std::map<std::string, std::uint64_t> SYMBOLS = {
    {"F_DUPFD", 0},        {"F_GETFD", 1},           {"F_SETFD", 2},
    {"F_GETFL", 3},        {"F_SETFL", 4},           {"F_DUPFD_CLOEXEC", 1030},
    {"F_SETPIPE_SZ", 1031}, {"F_GETPIPE_SZ", 1032},  {"TCGETS", 0x5401},
    {"PR_SET_NO_NEW_PRIVS", 38}, {"PR_SET_SECCOMP", 22},
};

std::optional<std::uint64_t> numeric(const std::string &text)
{
    if (const auto symbol = SYMBOLS.find(text); symbol != SYMBOLS.end())
        return symbol->second;
    if (text.empty())
        return std::nullopt;
    const char *start = text.c_str();
    char *end = nullptr;
    const std::uint64_t value = text[0] == '-' ? static_cast<std::uint64_t>(std::strtoll(start, &end, 0))
                                               : std::strtoull(start, &end, 0);
    if (end == start || *end != '\0')
        return std::nullopt;
    return value;
}

std::vector<TracedCall> read_trace(const std::string &path)
{
    std::ifstream file(path);
    std::vector<TracedCall> calls;
    std::string line;
    while (std::getline(file, line)) {
        if (std::optional<TracedCall> call = parse_call(line))
            calls.push_back(*call);
    }
    return calls;
}

bool is_prctl(const TracedCall &call, std::uint64_t option)
{
    return call.name == "prctl" && !call.args.empty() && numeric(call.args[0]) == option;
}

// The calls made once the tool has confined itself: after the filter is
// loaded (seccomp, or prctl where the emulator has no seccomp), or, where
// neither shows, after no_new_privs and the Landlock calls and the close of
// the ruleset that follow it. Empty when the trace has no confinement.
std::vector<TracedCall> calls_after_confinement(const std::vector<TracedCall> &calls)
{
    std::optional<std::size_t> filter_loaded;
    std::optional<std::size_t> no_new_privs;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].name == "seccomp" || is_prctl(calls[i], 22))
            filter_loaded = i;
        if (is_prctl(calls[i], 38))
            no_new_privs = i;
    }
    std::size_t start = calls.size();
    if (filter_loaded) {
        start = *filter_loaded + 1;
    } else if (no_new_privs) {
        start = *no_new_privs + 1;
        while (start < calls.size() && (calls[start].name.rfind("landlock_", 0) == 0 ||
                                        calls[start].name == "close"))
            ++start;
    }
    return {calls.begin() + static_cast<long>(start), calls.end()};
}

// The arguments that a rule of the program looks at must be numbers in
// the trace.
bool has_rule_on_arguments(const std::string &name)
{
    for (const char *conditional : {"ioctl", "fcntl", "fcntl64", "kill", "tkill", "tgkill"}) {
        if (name == conditional)
            return true;
    }
    return false;
}

struct TracedRun {
    std::string name;
    std::vector<std::string> args;  // "@FILE@" is the input
    riff::Bytes file;
    enum { File, Pipe, Socket, Fifo, Directory } input;
    StdoutMode stdout_mode;
    // Standard input, output and error on the controlling terminal.
    bool on_terminal = false;
};

void PrintTo(const TracedRun &run, std::ostream *os) { *os << run.name; }

riff::Bytes cut(riff::Bytes bytes, std::size_t size)
{
    bytes.resize(size);
    return bytes;
}

// A dump longer than the first output pipe holds.
riff::Bytes long_dump_file()
{
    return riff::serialize(riff::riff_file("WAVE", {riff::data_chunk("data", scrambled_bytes(200000))}));
}

const TracedRun RUNS[] = {
    {"ListingOfFile", {"@FILE@"}, soundfont_file(), TracedRun::File, StdoutMode::Capture},
    {"ListingOfPipe", {"@FILE@"}, soundfont_file(), TracedRun::Pipe, StdoutMode::Pipe},
    {"ListingOfSocket", {"@FILE@"}, wav_file(), TracedRun::Socket, StdoutMode::Capture},
    {"ListingOfFifo", {"@FILE@"}, wav_file(), TracedRun::Fifo, StdoutMode::Capture},
    {"DumpOfFileIntoPipe", {"-d", "1", "@FILE@"}, long_dump_file(), TracedRun::File,
     StdoutMode::Pipe},
    {"RawDumpOfPipeIntoPipe", {"-r", "-t", "data", "@FILE@"}, long_dump_file(), TracedRun::Pipe,
     StdoutMode::Pipe},
    {"DumpOfFileIntoFile", {"-d", "5", "@FILE@"}, wav_file(), TracedRun::File,
     StdoutMode::Capture},
    {"CutFile", {"@FILE@"}, cut(wav_file(), 0x40), TracedRun::File, StdoutMode::Capture},
    {"CutPipe", {"-d", "5", "@FILE@"}, cut(wav_file(), 0x70), TracedRun::Pipe,
     StdoutMode::Capture},
    {"DirectoryAsFile", {"@FILE@"}, {}, TracedRun::Directory, StdoutMode::Capture},
    {"DumpToFullDisk", {"-d", "1", "@FILE@"}, long_dump_file(), TracedRun::File,
     StdoutMode::DevFull},
    {"DumpToClosedStdout", {"-d", "1", "@FILE@"}, long_dump_file(), TracedRun::File,
     StdoutMode::Closed},
    // A stream's output kind is looked at once the process is confined:
    // the terminal query.
    {"ListingOfFifoOnTerminal", {"@FILE@"}, wav_file(), TracedRun::Fifo, StdoutMode::Capture, true},
    {"DumpOfFifoOnTerminal", {"-d", "5", "@FILE@"}, wav_file(), TracedRun::Fifo,
     StdoutMode::Capture, true},
    {"DumpIntoPipeClosedEarly", {"-d", "1", "@FILE@"}, long_dump_file(), TracedRun::File,
     StdoutMode::PipeClosedAfterFirstLine},
};

class ToolCallsTest : public ::testing::TestWithParam<TracedRun> {
protected:
    void SetUp() override
    {
#ifdef CHUNKLENS_NO_CONFINEMENT
        GTEST_SKIP() << "this build runs unconfined, for LeakSanitizer's check at exit";
#endif
        if (!binaries_run_under_emulator() && ::access("/usr/bin/strace", X_OK) != 0)
            FAIL() << "strace is missing (scripts/test installs it)";
    }

    // Runs the case with the tool under a tracer; returns the trace's path.
    std::string traced_run()
    {
        const TracedRun &run = GetParam();
        const std::string trace = dir_.path() + "/trace";
        RunOptions options;
        options.stdout_mode = run.stdout_mode;
        options.on_controlling_terminal = run.on_terminal;
        std::string input;
        std::thread fifo_writer;
        switch (run.input) {
        case TracedRun::File:
            input = dir_.write("input.riff", run.file);
            break;
        case TracedRun::Directory:
            input = dir_.path();
            break;
        case TracedRun::Pipe:
        case TracedRun::Socket:
            options.stdin_bytes = run.file;
            options.stream_through_socket = run.input == TracedRun::Socket;
            input = "/dev/stdin";
            break;
        case TracedRun::Fifo:
            input = dir_.path() + "/fifo";
            EXPECT_EQ(::mkfifo(input.c_str(), 0600), 0);
            // Opening blocks until the tool opens its end.
            fifo_writer = std::thread([input, bytes = run.file] {
                const int fd = ::open(input.c_str(), O_WRONLY | O_CLOEXEC);
                if (fd >= 0) {
                    const ssize_t ignored = ::write(fd, bytes.data(), bytes.size());
                    (void)ignored;
                    ::close(fd);
                }
            });
            break;
        }
        std::vector<std::string> args;
        for (const std::string &arg : run.args)
            args.push_back(arg == "@FILE@" ? input : arg);
        if (binaries_run_under_emulator()) {
            options.extra_environment = {"QEMU_STRACE=1", "QEMU_LOG_FILENAME=" + trace};
        } else {
            options.binary = "/usr/bin/strace";
            args.insert(args.begin(), {"-f", "-qq", "-e", "raw=all", "-o", trace, CHUNKLENS_BINARY});
        }
        result_ = run_chunklens(args, dir_.path(), options);
        if (fifo_writer.joinable())
            fifo_writer.join();
        return trace;
    }

    ScratchDir dir_;
    RunResult result_;
};

bool is_refused(const std::string &name)
{
    for (const syscall_policy::Refusal &refusal : syscall_policy::REFUSED) {
        if (name == refusal.name)
            return true;
    }
    return false;
}

// Under an emulator the tool is not confined: an open that the confined
// tool is refused succeeds there, and the C library goes on to read, map
// and close what it opened. Those calls would never be made once
// confined, and are left out.
std::vector<TracedCall> without_use_of_refused_opens(const std::vector<TracedCall> &calls)
{
    std::set<std::string> opened;  // the descriptors, as the trace writes them
    std::vector<TracedCall> kept;
    for (const TracedCall &call : calls) {
        const bool uses_opened =
            (!call.args.empty() && opened.count(call.args[0]) != 0) ||
            ((call.name == "mmap" || call.name == "mmap2") && call.args.size() > 4 &&
             opened.count(call.args[4]) != 0);
        if (uses_opened) {
            if (call.name == "close")
                opened.erase(call.args[0]);
            continue;
        }
        if (is_refused(call.name) && call.result.value_or(-1) >= 0)
            opened.insert(std::to_string(*call.result));
        kept.push_back(call);
    }
    return kept;
}

TEST_P(ToolCallsTest, EveryCallAfterTheConfinementIsAllowed)
{
    const std::vector<TracedCall> all = read_trace(traced_run());
    ASSERT_FALSE(all.empty()) << "the tracer wrote no calls; the run: " << result_.err;
    const std::vector<TracedCall> confined =
        without_use_of_refused_opens(calls_after_confinement(all));
    ASSERT_FALSE(confined.empty()) << "the trace shows no confinement";

    const SeccompProgram program = read_seccomp_program_for_pid(
        CHUNKLENS_NATIVE_SYSCALL_FILTER, static_cast<std::uint32_t>(confined.front().pid));
    for (const TracedCall &call : confined) {
        SeccompCall data;
        data.arch = seccomp_arch_native();
        data.number = seccomp_syscall_resolve_name(call.name.c_str());
        ASSERT_GE(data.number, 0) << "a call libseccomp does not know: " << call.line;
        for (std::size_t i = 0; i < call.args.size() && i < data.args.size(); ++i) {
            const std::optional<std::uint64_t> value = numeric(call.args[i]);
            if (!value && has_rule_on_arguments(call.name) && i < 2)
                ADD_FAILURE() << "an argument the rules look at is not a number: " << call.line;
            data.args[i] = value.value_or(0);
        }
        const std::uint32_t decision =
            run_seccomp_program(program, data, arch_is_big_endian(data.arch));
        std::uint32_t expected = seccomp_allow();
        for (const syscall_policy::Refusal &refusal : syscall_policy::REFUSED) {
            if (call.name == refusal.name)
                expected = seccomp_error(refusal.error_number);
        }
        EXPECT_EQ(decision, expected) << "the filter does not let this call through: " << call.line;
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, ToolCallsTest, ::testing::ValuesIn(RUNS),
                         [](const ::testing::TestParamInfo<TracedRun> &info) {
                             return info.param.name;
                         });

}  // namespace
}  // namespace chunklens_test
