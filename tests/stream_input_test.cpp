// FILE as a stream: a pipe or a socket named as /dev/stdin or /dev/fd/N, a
// FIFO, a writer that gives a few bytes at a time, stops short or goes on
// long after the chosen chunk; and a terminal, which is refused. The output
// is the regular file's, byte for byte: only the way the bytes come in
// differs, so each test below makes that awkward in one way. Every case
// table elsewhere is also run through a plain pipe (see run_case).

#include "fixtures.h"
#include "test_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <thread>

namespace chunklens_test {
namespace {

using namespace std::chrono_literals;
using riff::Bytes;
using riff::counting_bytes;
using riff::data_chunk;
using riff::riff_file;
using riff::serialize;
using riff::with_declared_size;

constexpr std::uint32_t BLOCK_SIZE = 16384;

// "data" is the first child: header at 12, data at 20, index 1.
Bytes data_at_20(Bytes data)
{
    return serialize(riff_file("WAVE", {data_chunk("data", std::move(data))}));
}

Bytes prefix(const Bytes &bytes, std::size_t length)
{
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

// Data of two blocks and a bit, which a stream delivers in several reads.
constexpr std::uint32_t TWO_BLOCKS_SIZE = 20000;
const Bytes TWO_BLOCKS = scrambled_bytes(TWO_BLOCKS_SIZE);

// data_at_20(TWO_BLOCKS) cut 50 bytes into the second block.
constexpr std::uint32_t CUT_IN_SECOND_BLOCK = 20 + BLOCK_SIZE + 50;

// What each way in below must show, exactly as a regular file does.
std::vector<Case> stream_cases()
{
    const std::string hello = "hello, world\n";
    const Bytes text(hello.begin(), hello.end());
    const Bytes wav = wav_file();
    const Bytes exceeds = serialize(riff_file(
        "WAVE", {data_chunk("fmt ", {1, 2, 3, 4}),
                 with_declared_size(data_chunk("data", {1, 2, 3, 4, 5, 6}), 40)}));
    const std::string cut_detail =
        " (ofs=403e, traceback ['data' ofs=0xC, size=20000 <= 'WAVE' ofs=0x0, size=20012])";
    return {
        {"WavListing", wav, {"@FILE@"}, WAV_LISTING, "", 0},
        {"TreeRawDumpsById", tree_file(), {"-r", "-t", "aaaa", "@FILE@"},
         "01 02 \n04 05 06 \n07 \n", "", 0},
        {"RifxDumpById", rifx_file(), {"-t", "data", "@FILE@"},
         reference_dump({"data", 4, 0x2e, 300, false}, counting_bytes(300)), "", 0},
        {"TwoBlockDump", data_at_20(TWO_BLOCKS), {"-d", "1", "@FILE@"},
         reference_dump({"data", 1, 12, TWO_BLOCKS_SIZE, false}, TWO_BLOCKS), "", 0},
        {"TwoBlockRawDump", data_at_20(TWO_BLOCKS), {"-r", "-d", "1", "@FILE@"},
         reference_dump({"data", 1, 12, TWO_BLOCKS_SIZE, true}, TWO_BLOCKS), "", 0},
        // The first block is shown, the second cannot be read whole; the
        // library's detail gives its position when the bytes ran out.
        {"DumpCutInSecondBlock", prefix(data_at_20(TWO_BLOCKS), CUT_IN_SECOND_BLOCK),
         {"-d", "1", "@FILE@"},
         reference_dump({"data", 1, 12, TWO_BLOCKS_SIZE, false}, prefix(TWO_BLOCKS, BLOCK_SIZE),
                        false),
         parse_error("Unexpected end of file", cut_detail), 1},
        // The listing skips the data of the last chunk, and nothing is
        // read after it: a file that ends inside it goes unnoticed.
        {"ListingCutInLastChunk", prefix(data_at_20(TWO_BLOCKS), CUT_IN_SECOND_BLOCK), {"@FILE@"},
         "<WAVE>[   0] (ofs = 0x0, size = 20012)\n  (data)[   1] (ofs = 0xc, size = 20000)\n", "",
         0},
        {"ChildExceedsParent", exceeds, {"@FILE@"},
         "<WAVE>[   0] (ofs = 0x0, size = 30)\n  (fmt )[   1] (ofs = 0xc, size = 4)\n",
         parse_error("Child chunk 'data' (size = 40, level = 1) exceeds parent chunk 'WAVE' "
                     "(size = 30, level = 0)",
                     " (ofs=18, traceback ['WAVE' ofs=0x0, size=30])"),
         1},
        {"HeaderCutShort", prefix(wav, 0x30 + 5), {"@FILE@"},
         "<WAVE>[   0] (ofs = 0x0, size = 80)\n  (fmt )[   1] (ofs = 0xc, size = 16)\n"
         "  <INFO>[   2] (ofs = 0x24, size = 30)\n",
         parse_error("Unexpected end of file",
                     " (ofs=2d, traceback ['INFO' ofs=0x24, size=30 <= 'WAVE' ofs=0x0, size=80])"),
         1},
        {"NothingComes", {}, {"@FILE@"}, "",
         "Failed to start RIFF parse of file '@FILE@': Unexpected end of file\n", 1},
        {"NotRiff", text, {"@FILE@"}, "",
         "Failed to start RIFF parse of file '@FILE@': Not a RIFF file\n", 1},
    };
}

// Writes the bytes 1 to 7 at a time, each piece only once the tool has
// taken the one before, so that every read it makes ends early: inside IDs,
// size fields and blocks.
void write_in_small_pieces(StreamWriter &writer, const Bytes &bytes)
{
    std::mt19937 random(20261211);
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t piece = std::min<std::size_t>(1 + random() % 7, bytes.size() - at);
        if (!writer.write(bytes.data() + at, piece))
            return;
        at += piece;
        writer.wait_until_taken(5s);
    }
}

// Opens the FIFO for writing once the tool has opened it for reading, and
// not before: the tool's open finds no writer and has to wait for one. A
// blocking open would wait for the reader, and hang the test if the tool
// never opened the FIFO; a non-blocking one fails until the reader is
// there. Returns the descriptor, or -1 if no reader came.
int open_fifo_once_read(const std::string &path)
{
    std::this_thread::sleep_for(200ms);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::fcntl(fd, F_SETFL, 0);  // writes wait for room, as a shell's would
            return fd;
        }
        std::this_thread::sleep_for(10ms);
    }
    return -1;
}

// How the bytes reach the tool, and the name it is given for them.
enum class Route {
    PipeAsDevFd0,         // cat input | chunklens /dev/fd/0
    ProcessSubstitution,  // chunklens <(cat input): a pipe on descriptor 63
    // A connected Unix socket, which cannot be opened by a name under /dev
    // or /proc: as standard input, and on descriptor 5.
    SocketAsDevStdin,
    SocketAsProcSelfFd5,
    PipeInSmallPieces,    // a writer that gives 1 to 7 bytes at a time
    // The same into a socket that some other program left non-blocking:
    // the tool's reads find it empty.
    NonBlockingSocketInSmallPieces,
    Fifo,                 // mkfifo; chunklens FIFO, started before its writer
};

struct StreamRoute {
    std::string name;
    Route route;
};

const StreamRoute ROUTES[] = {
    {"PipeAsDevFd0", Route::PipeAsDevFd0},
    {"ProcessSubstitution", Route::ProcessSubstitution},
    {"SocketAsDevStdin", Route::SocketAsDevStdin},
    {"SocketAsProcSelfFd5", Route::SocketAsProcSelfFd5},
    {"PipeInSmallPieces", Route::PipeInSmallPieces},
    {"NonBlockingSocketInSmallPieces", Route::NonBlockingSocketInSmallPieces},
    {"Fifo", Route::Fifo},
};

void PrintTo(const StreamRoute &route, std::ostream *os)
{
    *os << route.name;
}

class StreamRouteTest : public ::testing::TestWithParam<std::tuple<Case, StreamRoute>> {
protected:
    ScratchDir dir;
};

TEST_P(StreamRouteTest, SameOutputAsTheFile)
{
    // Named one by one rather than as a structured binding: the lambdas
    // below capture c, which clang accepts of a binding only from version 16.
    const Case &c = std::get<0>(GetParam());
    const StreamRoute &route = std::get<1>(GetParam());
    if (is_rifx(c.file) && !host_reads_rifx_right())
        GTEST_SKIP() << RIFX_ON_BIG_ENDIAN_HOST;
    RunOptions options = c.options;
    options.stdin_bytes = c.file;
    std::string name = "/dev/stdin";
    switch (route.route) {
    case Route::PipeAsDevFd0:
        name = "/dev/fd/0";
        break;
    case Route::ProcessSubstitution:
        options.stream_descriptor = 63;
        name = "/dev/fd/63";
        break;
    case Route::SocketAsDevStdin:
        options.stream_through_socket = true;
        break;
    case Route::SocketAsProcSelfFd5:
        options.stream_through_socket = true;
        options.stream_descriptor = 5;
        name = "/proc/self/fd/5";
        break;
    case Route::NonBlockingSocketInSmallPieces:
        options.stream_through_socket = true;
        options.stream_non_blocking = true;
        [[fallthrough]];
    case Route::PipeInSmallPieces:
        options.stdin_bytes.reset();
        options.stdin_writer = [&c](StreamWriter &writer) { write_in_small_pieces(writer, c.file); };
        break;
    case Route::Fifo:
        options.stdin_bytes.reset();
        name = dir.path() + "/fifo";
        ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0);
        break;
    }
    std::vector<std::string> args;
    for (const std::string &arg : c.args)
        args.push_back(with_path(arg, name));
    SCOPED_TRACE(describe_command(args, options));

    bool fifo_read = false;
    std::thread fifo_writer;
    if (route.route == Route::Fifo) {
        fifo_writer = std::thread([&] {
            const int fd = open_fifo_once_read(name);
            fifo_read = fd >= 0;
            if (fifo_read) {
                StreamWriter writer(fd);
                writer.write(c.file);
            }
        });
    }
    const RunResult result = run_chunklens(args, dir.path(), options);
    if (fifo_writer.joinable()) {
        fifo_writer.join();
        EXPECT_TRUE(fifo_read) << "the tool never opened the FIFO";
    }
    EXPECT_TRUE(same_text(result.out, with_path(c.out, name)));
    EXPECT_EQ(result.err, with_path(c.err, name));
    EXPECT_EQ(result.status, c.status);
}

std::string route_test_name(const ::testing::TestParamInfo<std::tuple<Case, StreamRoute>> &info)
{
    return std::get<0>(info.param).name + "Through" + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Routes, StreamRouteTest,
                         ::testing::Combine(::testing::ValuesIn(stream_cases()),
                                            ::testing::ValuesIn(ROUTES)),
                         route_test_name);

// A writer that stops after some bytes, while the tool waits for more: the
// tool meets the end where it is and reports it as for the file cut at the
// same byte. The status is the cut file's: 1, except where the cut lies in
// data that is skipped and nothing is read after it.
struct StopCase {
    std::string name;
    Bytes file;
    std::vector<std::string> options;
    std::size_t stop_after;
    int status = 1;
};

void PrintTo(const StopCase &c, std::ostream *os)
{
    *os << c.name;
}

std::vector<StopCase> stop_cases()
{
    const Bytes wav = wav_file();
    const Bytes dump = data_at_20(TWO_BLOCKS);
    return {
        {"InTopLevelSize", wav, {}, 6},
        {"InFormType", wav, {}, 10},
        {"InListType", wav, {}, 0x24 + 10},
        {"InChunkId", wav, {}, 0x30 + 2},
        {"InChunkSize", wav, {}, 0x30 + 6},
        {"InSkippedData", wav, {}, 0x14 + 5},
        {"InLastChunkData", wav, {}, 0x52 + 3, 0},
        {"InChosenDataById", tree_file(), {"-r", "-t", "aaaa"}, 0x38 + 9},
        {"InFirstBlock", dump, {"-d", "1"}, 20 + 100},
        {"AtBlockSeam", dump, {"-d", "1"}, 20 + BLOCK_SIZE},
        {"InSecondBlock", dump, {"-d", "1"}, CUT_IN_SECOND_BLOCK},
        {"OneByteShortRaw", dump, {"-r", "-d", "1"}, dump.size() - 1},
        {"InSkippedBlocks", dump, {"-t", "none"}, CUT_IN_SECOND_BLOCK, 0},
        {"InSkippedBlocksBeforeAChunk",
         serialize(riff_file("WAVE", {data_chunk("data", TWO_BLOCKS), data_chunk("next", {1})})), {},
         CUT_IN_SECOND_BLOCK},
    };
}

class WriterStopsTest : public ::testing::TestWithParam<StopCase> {
protected:
    ScratchDir dir;
};

TEST_P(WriterStopsTest, AsTheFileCutAtTheSameByte)
{
    const StopCase &c = GetParam();
    const Bytes cut = prefix(c.file, c.stop_after);
    std::vector<std::string> args = c.options;
    args.push_back(dir.write("cut.riff", cut));
    const RunResult from_file = run_chunklens(args, dir.path());
    ASSERT_EQ(from_file.status, c.status) << from_file.err;

    args.back() = "/dev/stdin";
    RunOptions options;
    // The tool has taken what came, in small pieces, when the end comes.
    options.stdin_writer = [&cut](StreamWriter &writer) { write_in_small_pieces(writer, cut); };
    SCOPED_TRACE(describe_command(args, options));
    const RunResult from_stream = run_chunklens(args, dir.path(), options);
    EXPECT_TRUE(same_text(from_stream.out, from_file.out));
    EXPECT_EQ(from_stream.err, replaced(from_file.err, dir.path() + "/cut.riff", "/dev/stdin"));
    EXPECT_EQ(from_stream.status, from_file.status);
}

INSTANTIATE_TEST_SUITE_P(Cuts, WriterStopsTest, ::testing::ValuesIn(stop_cases()),
                         [](const ::testing::TestParamInfo<StopCase> &info) { return info.param.name; });

// The start of a RIFF file: the chunks before, then the header of "huge",
// which declares huge_size bytes. The top-level size counts those bytes and
// size_after more after them, all of which the writer makes as it goes.
Bytes head_of_huge_file(const std::vector<riff::Chunk> &before, std::uint32_t huge_size,
                        std::size_t size_after)
{
    Bytes head = serialize(riff_file("WAVE", before));
    Bytes huge = {'h', 'u', 'g', 'e'};
    riff::append_u32(huge, huge_size, false);
    head.insert(head.end(), huge.begin(), huge.end());
    const std::uint64_t riff_size = head.size() - 8 + std::uint64_t{huge_size} + size_after;
    Bytes size_field;
    riff::append_u32(size_field, static_cast<std::uint32_t>(riff_size), false);
    std::copy(size_field.begin(), size_field.end(), head.begin() + 4);
    return head;
}

// -d N is done once chunk N is: the tool leaves, and a writer still busy
// with the rest of the stream (here 3.5 GiB declared, of which 1 GiB would
// be sent) finds the pipe closed. A tool that read on would take the whole
// GiB and then fail on the missing rest.
struct EarlyEndCase {
    std::string name;
    std::vector<std::string> options;
    std::string out;
};

void PrintTo(const EarlyEndCase &c, std::ostream *os)
{
    *os << c.name;
}

class EarlyEndTest : public ::testing::TestWithParam<EarlyEndCase> {
protected:
    ScratchDir dir;
};

// fmt (16 bytes) [1] at 0xc, LIST INFO [2] at 0x24 with INAM [3] at 0x30,
// then "huge" [4] at 0x3e.
const std::vector<riff::Chunk> BEFORE_HUGE = {
    data_chunk("fmt ", counting_bytes(16)),
    riff::list_chunk("INFO", {data_chunk("INAM", {'T', 'o', 'n', 'e', 0})})};

TEST_P(EarlyEndTest, WriterOfTheRestFindsThePipeClosed)
{
    const EarlyEndCase &c = GetParam();
    const Bytes head = head_of_huge_file(BEFORE_HUGE, 0xE0000000u, 0);
    RunOptions options;
    options.timeout_seconds = 120;
    options.stdin_writer = [&head](StreamWriter &writer) {
        if (writer.write(head))
            writer.write_zeros(std::uint64_t{1} << 30);
    };
    std::vector<std::string> args = c.options;
    args.push_back("/dev/stdin");
    SCOPED_TRACE(describe_command(args, options));
    const RunResult result = run_chunklens(args, dir.path(), options);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.stream_reader_left) << "the tool read the whole stream";
}

INSTANTIATE_TEST_SUITE_P(
    ChosenByIndex, EarlyEndTest,
    ::testing::Values(
        EarlyEndCase{"FirstChunk", {"-d", "1"},
                     reference_dump({"fmt ", 1, 0xc, 16, false}, counting_bytes(16))},
        EarlyEndCase{"ChunkInsideAList", {"-r", "-d", "3"}, "54 6F 6E 65 00 \n"},
        EarlyEndCase{"AListWithItsChunks", {"-d", "2"},
                     "  <INFO>[   2] (ofs = 0x24, size = 18)\n"
                     "    (INAM)[   3] (ofs = 0x30, size = 5)\n"}),
    [](const ::testing::TestParamInfo<EarlyEndCase> &info) { return info.param.name; });

// A data chunk of 300 MB in the middle of a stream is read and thrown away
// to reach the chunk after it; the tool's memory stays that of a small file.
TEST(HugeChunk, SkippedOnAStreamToReachTheChunkAfterIt)
{
    constexpr std::uint32_t huge_size = 300000000;
    const Bytes next = serialize(data_chunk("next", {0x77, 0x78, 0x79, 0x7A}));
    const auto stream_of = [&next](std::uint32_t size) {
        const Bytes head = head_of_huge_file({data_chunk("fmt ", {1, 2, 3, 4})}, size, next.size());
        return [head, &next, size](StreamWriter &writer) {
            if (writer.write(head) && writer.write_zeros(size))
                writer.write(next);
        };
    };
    // huge is at 0x18, next 8 + 300000000 bytes on; the file ends with next,
    // and the top-level size leaves out the first 8 bytes.
    const std::uint32_t next_offset = 0x20 + huge_size;
    const std::uint32_t riff_size = next_offset + 12 - 8;
    char lines[256];
    std::snprintf(lines, sizeof lines,
                  "<WAVE>[   0] (ofs = 0x0, size = %u)\n"
                  "  (fmt )[   1] (ofs = 0xc, size = 4)\n"
                  "  (huge)[   2] (ofs = 0x18, size = %u)\n"
                  "  (next)[   3] (ofs = 0x%x, size = 4)\n",
                  riff_size, huge_size, next_offset);
    const std::vector<std::pair<std::vector<std::string>, std::string>> runs = {
        {{"/dev/stdin"}, lines},
        {{"-d", "3", "/dev/stdin"},
         reference_dump({"next", 3, next_offset, 4, false}, {0x77, 0x78, 0x79, 0x7A})},
        {{"-r", "-t", "next", "/dev/stdin"}, "77 78 79 7A \n"},
    };
    ScratchDir dir;
    RunOptions small;
    small.stdin_writer = stream_of(300);
    const RunResult small_run = run_chunklens({"/dev/stdin"}, dir.path(), small);
    ASSERT_EQ(small_run.status, 0) << small_run.err;
    for (const auto &[args, out] : runs) {
        RunOptions options;
        options.timeout_seconds = 300;
        options.stdin_writer = stream_of(huge_size);
        SCOPED_TRACE(describe_command(args, options));
        const RunResult result = run_chunklens(args, dir.path(), options);
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.status, 0);
        EXPECT_LT(result.max_rss_kib, small_run.max_rss_kib + 32 * 1024)
            << "the chunk was held in memory";
    }
}

// A terminal is refused before anything is read from it: RIFF data is not
// typed in, and a tool that waited for it would sit there until killed
// (the short timeout turns such a wait into a failure).
struct TerminalCase {
    std::string name;
    std::vector<std::string> options;
    // FILE; empty to name the terminal by its own path.
    std::string file_name;
};

void PrintTo(const TerminalCase &c, std::ostream *os)
{
    *os << c.name;
}

class TerminalTest : public ::testing::TestWithParam<TerminalCase> {};

TEST_P(TerminalTest, RefusedAtOnce)
{
    const TerminalCase &c = GetParam();
    ScratchDir dir;
    Pseudoterminal terminal;
    RunOptions options;
    options.timeout_seconds = 10;
    options.stdin_terminal = !c.file_name.empty();
    const std::string name = c.file_name.empty() ? terminal.slave_path() : c.file_name;
    std::vector<std::string> args = c.options;
    args.push_back(name);
    SCOPED_TRACE(describe_command(args, options));
    const RunResult result = run_chunklens(args, dir.path(), options);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Failed to open file '" + name +
                              "': RIFF data is not read from a terminal (name a file, or pipe "
                              "the data in)\n");
    EXPECT_EQ(result.status, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Input, TerminalTest,
    ::testing::Values(TerminalCase{"DevStdin", {}, "/dev/stdin"},
                      TerminalCase{"DevFd0WithDump", {"-d", "1"}, "/dev/fd/0"},
                      TerminalCase{"ProcSelfFd0", {}, "/proc/self/fd/0"},
                      TerminalCase{"NamedByPath", {}, ""},
                      TerminalCase{"NamedByPathWithRawDump", {"-r", "-t", "data"}, ""}),
    [](const ::testing::TestParamInfo<TerminalCase> &info) { return info.param.name; });

// A dump read from a stream into a pipe shows each block as it comes: the
// text of the first block reaches the reader of the output while the writer
// still holds back the rest. (From a regular file the tool may gather
// several blocks per write; here it must not, or a slow source would show
// nothing for a long time.)
// Runs chunklens on /dev/stdin into a pipe while the writer sends the first
// first_part bytes of the file, waits (up to 10 s) until what the tool has
// written satisfies shown, and only then sends the rest.
struct HeldBackRun {
    std::string command;
    RunResult result;
    bool shown_while_held_back = false;
};

HeldBackRun run_with_rest_held_back(const Bytes &file, std::size_t first_part,
                                    std::vector<std::string> args,
                                    const std::function<bool(const std::string &)> &shown)
{
    ScratchDir dir;
    HeldBackRun run;
    RunOptions options;
    options.stdout_mode = StdoutMode::Pipe;
    options.stdin_writer = [&](StreamWriter &writer) {
        writer.write(prefix(file, first_part));
        run.shown_while_held_back = writer.wait_for_output(shown, 10s);
        writer.write(Bytes(file.begin() + static_cast<std::ptrdiff_t>(first_part), file.end()));
    };
    args.push_back("/dev/stdin");
    run.command = describe_command(args, options);
    run.result = run_chunklens(args, dir.path(), options);
    return run;
}

struct FollowCase {
    std::string name;
    std::vector<std::string> options;
    bool raw;
    // Where the chosen chunk sits.
    bool after_another_chunk;
};

void PrintTo(const FollowCase &c, std::ostream *os)
{
    *os << c.name;
}

class FollowTest : public ::testing::TestWithParam<FollowCase> {};

TEST_P(FollowTest, FirstBlockShownBeforeTheRestIsSent)
{
    const FollowCase &c = GetParam();
    const Bytes data = scrambled_bytes(3 * BLOCK_SIZE + 100);
    std::vector<riff::Chunk> chunks;
    if (c.after_another_chunk)
        chunks.push_back(data_chunk("fmt ", {1, 2, 3, 4}));
    chunks.push_back(data_chunk("data", data));
    const Bytes file = serialize(riff_file("WAVE", chunks));
    const DumpLayout layout{"data", c.after_another_chunk ? 2 : 1,
                            c.after_another_chunk ? 24u : 12u,
                            static_cast<std::uint32_t>(data.size()), c.raw};
    const std::size_t first_block_end = layout.header_offset + 8 + BLOCK_SIZE;
    const std::string first_block_text = reference_dump(layout, prefix(data, BLOCK_SIZE), false);

    const HeldBackRun run =
        run_with_rest_held_back(file, first_block_end, c.options, [&](const std::string &out) {
            return out.size() >= first_block_text.size();
        });
    SCOPED_TRACE(run.command);
    EXPECT_TRUE(run.shown_while_held_back)
        << "no text of the first block came while the rest was held back";
    EXPECT_TRUE(same_text(run.result.out, reference_dump(layout, data)));
    EXPECT_EQ(run.result.err, "");
    EXPECT_EQ(run.result.status, 0);
}

INSTANTIATE_TEST_SUITE_P(
    DumpToPipe, FollowTest,
    ::testing::Values(FollowCase{"Formatted", {"-d", "1"}, false, false},
                      FollowCase{"Raw", {"-r", "-d", "1"}, true, false},
                      FollowCase{"FormattedById", {"-t", "data"}, false, true},
                      FollowCase{"RawById", {"-r", "-t", "data"}, true, true}),
    [](const ::testing::TestParamInfo<FollowCase> &info) { return info.param.name; });

// The lines of a listing that reach as far as a slow stream has come are
// shown while the tool waits for the rest: the listing into a pipe is not
// held back in stdio's buffer until the stream ends.
TEST(FollowListing, LinesShownWhileTheStreamWaits)
{
    const Bytes file = wav_file();
    // Up to the end of the INFO list's first child's header.
    const std::size_t first_part = 0x30 + 8;
    const std::string first_lines = "<WAVE>[   0] (ofs = 0x0, size = 80)\n"
                                    "  (fmt )[   1] (ofs = 0xc, size = 16)\n"
                                    "  <INFO>[   2] (ofs = 0x24, size = 30)\n"
                                    "    (INAM)[   3] (ofs = 0x30, size = 5)\n";
    const HeldBackRun run = run_with_rest_held_back(
        file, first_part, {}, [&](const std::string &out) { return out == first_lines; });
    SCOPED_TRACE(run.command);
    EXPECT_TRUE(run.shown_while_held_back)
        << "the lines of the part sent did not come while the rest was held back";
    EXPECT_EQ(run.result.out, WAV_LISTING);
    EXPECT_EQ(run.result.status, 0);
}

}  // namespace
}  // namespace chunklens_test
