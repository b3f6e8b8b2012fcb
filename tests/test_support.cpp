#include "test_support.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace chunklens_test {

const char USAGE[] =
    "Usage: chunklens [OPTION]... FILE\n"
    "  -d, --dump=CHUNK_INDEX       Dump a chunk by index\n"
    "  -t, --dump-type='CHNK'       Dump a chunk by RIFF FOURCC ID\n"
    "  -r, --raw                    Do raw dump rather than formatted hex dump\n\n"
    "CHUNK_INDEX - The chunk index (number in brackets [])\n";

ScratchDir::ScratchDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "chunklens-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed for " + pattern);
    path_ = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::write(const std::string &name, const riff::Bytes &bytes) const
{
    const std::string file_path = path_ + "/" + name;
    riff::write_file(file_path, bytes);
    return file_path;
}

std::string ScratchDir::write_with_hole(const std::string &name, const riff::Bytes &head,
                                        std::uint64_t tail_offset, const riff::Bytes &tail) const
{
    const std::string file_path = write(name, head);
    std::fstream file(file_path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(tail_offset));
    file.write(reinterpret_cast<const char *>(tail.data()),
               static_cast<std::streamsize>(tail.size()));
    if (!file)
        throw std::runtime_error("cannot write " + file_path);
    return file_path;
}

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string with_path(std::string text, const std::string &path)
{
    return replaced(std::move(text), "@FILE@", path);
}

namespace {

// Runs the case with name standing for "@FILE@" in its arguments and in
// what it must print.
void run_case_as(const Case &c, const ScratchDir &dir, const std::string &name,
                 const RunOptions &options)
{
    std::vector<std::string> args;
    for (const std::string &arg : c.args)
        args.push_back(with_path(arg, name));
    SCOPED_TRACE(describe_command(args, options));

    const RunResult result = run_chunklens(args, dir.path(), options);
    EXPECT_EQ(result.out, with_path(c.out, name));
    EXPECT_EQ(result.err, with_path(c.err, name));
    EXPECT_EQ(result.status, c.status);
}

// Whether the case is also run with its bytes through a pipe. Not when it
// names no file of its own; not when it is about the file rather than its
// bytes (run without the permission override, it checks the file's mode
// bits, which a pipe from the test program does not have); not when it
// brings its own standard input.
bool also_through_a_pipe(const Case &c)
{
    const bool names_file = std::any_of(c.args.begin(), c.args.end(), [](const std::string &arg) {
        return arg.find("@FILE@") != std::string::npos;
    });
    const RunOptions &options = c.options;
    const bool own_stdin = options.stdin_bytes || options.stdin_writer || options.stdin_terminal;
    return names_file && !options.without_permission_override && !own_stdin;
}

}  // namespace

bool host_reads_rifx_right()
{
    return std::endian::native == std::endian::little;
}

bool is_rifx(const riff::Bytes &file)
{
    return file.size() >= 4 && std::equal(file.begin(), file.begin() + 4, "RIFX");
}

const char RIFX_ON_BIG_ENDIAN_HOST[] =
    "libinstpatch reads the sizes of a RIFX file byte-swapped on a big-endian host "
    "(RifxExample.ListsAsTheLibraryReadsItOnThisHost shows what it gives)";

void run_case(const Case &c, const ScratchDir &dir)
{
    if (is_rifx(c.file) && !host_reads_rifx_right())
        GTEST_SKIP() << RIFX_ON_BIG_ENDIAN_HOST;
    run_case_as(c, dir, dir.write("input.riff", c.file), c.options);
    if (also_through_a_pipe(c)) {
        RunOptions piped = c.options;
        piped.stdin_bytes = c.file;
        run_case_as(c, dir, "/dev/stdin", piped);
    }
}

::testing::AssertionResult same_text(const std::string &actual, const std::string &expected)
{
    if (actual == expected)
        return ::testing::AssertionSuccess();
    const std::size_t common = std::min(actual.size(), expected.size());
    std::size_t at = 0;
    while (at < common && actual[at] == expected[at])
        ++at;
    const std::size_t from = at < 80 ? 0 : at - 80;
    return ::testing::AssertionFailure()
           << "the text (" << actual.size() << " bytes) differs from the expected ("
           << expected.size() << " bytes) from byte " << at << " on\n  actual:   \""
           << actual.substr(from, 160) << "\"\n  expected: \"" << expected.substr(from, 160)
           << "\"";
}

std::string parse_error(const std::string &message, const std::string &detail)
{
    return "Error while parsing RIFF file '@FILE@': " + message + detail + "\n";
}

namespace {

std::string printf_text(const char *format, auto... values)
{
    char text[128];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

// What stands before the item at a file offset: a row label at the start of
// a row, a separator at the start of a group, otherwise nothing.
std::string item_prefix(std::uint32_t offset)
{
    if (offset % 16 == 0)
        return printf_text("\n%08u  ", offset);
    if (offset % 4 == 0)
        return " |  ";
    return "";
}

}  // namespace

std::string reference_dump(const DumpLayout &layout, const riff::Bytes &data, bool complete)
{
    const std::uint32_t data_offset = layout.header_offset + 8;
    std::string text;
    if (!layout.raw) {
        text += "Dump chunk: (" + layout.id + ")" + printf_text("[%4d]", layout.index) +
                printf_text(" (ofs = 0x%x, size = %u)", layout.header_offset, layout.declared_size);
        for (std::uint32_t offset = data_offset - data_offset % 16; offset < data_offset; ++offset)
            text += item_prefix(offset) + "   ";
    }
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (!layout.raw)
            text += item_prefix(data_offset + static_cast<std::uint32_t>(i));
        text += printf_text("%02X ", data[i]);
    }
    if (complete)
        text += "\n";
    return text;
}

riff::Bytes scrambled_bytes(std::size_t n)
{
    riff::Bytes bytes(n);
    std::uint32_t state = 12345;
    for (std::uint8_t &byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

}  // namespace chunklens_test
