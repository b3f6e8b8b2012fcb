// The dump formats sixteen bytes at a time in vector registers, with SSSE3
// or generic vectors (or from tables, on targets without them), the partial
// rows at either end of a block item by item, advances the row label with
// decimal arithmetic, and gathers the text of blocks before writing it to a
// file. Here its output
// is compared with a byte-by-byte rendering of the format, for data that
// starts at every even residue of the row (chunks start at even offsets)
// and past 10^8, where the label grows a ninth digit, with sizes around the
// vector, the row and the block, in both modes, whole and cut short, from
// every formatter, and into a file, a pipe and a file shared with stderr.

#include "test_support.h"

#include <random>

namespace chunklens_test {
namespace {

using riff::Bytes;

constexpr std::uint32_t BLOCK_SIZE = 16384;
constexpr std::uint32_t SMALLEST_PADDED_START = 28;

// Where a chunk's data starts and how many of its bytes the file holds.
struct DumpInput {
    std::uint32_t data_start;  // 20, or even and at least 28
    std::uint32_t declared_size;
    Bytes present;  // the whole data, or a prefix of it when the file is cut short
    bool raw;
};

// The "data" chunk of a WAV file whose data starts at data_start: the first
// chunk when data_start is 20, otherwise after a "JUNK" chunk whose body is
// left as a hole, so that starts past 10^8 take no disk space.
std::string write_input(const ScratchDir &dir, const DumpInput &input)
{
    const std::uint32_t header_offset = input.data_start - 8;
    const std::uint32_t pad = input.declared_size % 2;
    const std::uint32_t riff_size = header_offset - 8 + 8 + input.declared_size + pad;
    std::vector<riff::Chunk> hole_chunk;
    if (input.data_start != 20)
        hole_chunk.push_back(riff::with_declared_size(riff::data_chunk("JUNK", {}),
                                                      input.data_start - SMALLEST_PADDED_START));
    const Bytes head =
        riff::serialize(riff::with_declared_size(riff::riff_file("WAVE", hole_chunk), riff_size));
    Bytes tail = {'d', 'a', 't', 'a'};
    riff::append_u32(tail, input.declared_size, false);
    tail.insert(tail.end(), input.present.begin(), input.present.end());
    if (input.present.size() == input.declared_size && pad != 0)
        tail.push_back(0);
    return dir.write_with_hole("input.wav", head, header_offset, tail);
}

// The tool as built, as built without its AVX2 path (SSSE3 alone), without
// its SSSE3 path (generic vectors alone), and with the tables of targets
// without vector units.
const std::vector<RunOptions> EVERY_FORMATTER = {
    {},
    {.binary = CHUNKLENS_NO_WIDE_SHUFFLE_FORMAT_BINARY},
    {.binary = CHUNKLENS_NO_SHUFFLE_FORMAT_BINARY},
    {.binary = CHUNKLENS_SCALAR_FORMAT_BINARY}};

// Runs the dump of the input and compares it with the reference rendering:
// all of it when the data is whole; when it is cut short, the blocks before
// the one the end of the file cuts, no final newline, and a failure, whose
// message follows the dump when both streams share the file.
void expect_reference_dump(const DumpInput &input, const RunOptions &options)
{
    ScratchDir dir;
    const std::string path = write_input(dir, input);
    const int index = input.data_start == 20 ? 1 : 2;
    std::vector<std::string> args = {"-d", std::to_string(index), path};
    if (input.raw)
        args.insert(args.begin(), "-r");
    const RunResult result = run_chunklens(args, dir.path(), options);

    const bool complete = input.present.size() == input.declared_size;
    const std::size_t whole_blocks = complete ? input.present.size()
                                              : input.present.size() / BLOCK_SIZE * BLOCK_SIZE;
    const Bytes printed(input.present.begin(), input.present.begin() + whole_blocks);
    const DumpLayout layout{"data", index, input.data_start - 8, input.declared_size, input.raw};
    const std::string expected = reference_dump(layout, printed, complete);
    const std::string context = describe_command(args, options) + " with " +
                                std::to_string(input.present.size()) + " bytes present";
    const bool shared = options.stdout_mode == StdoutMode::SharedWithStderr;
    const std::string message =
        shared ? result.out.substr(std::min(expected.size(), result.out.size())) : result.err;
    EXPECT_TRUE(same_text(result.out.substr(0, shared ? expected.size() : std::string::npos),
                          expected))
        << context;
    if (complete) {
        EXPECT_EQ(message, "") << context;
        EXPECT_EQ(result.status, 0) << context;
    } else {
        const std::string failure =
            "Error while parsing RIFF file '" + path + "': Unexpected end of file";
        EXPECT_EQ(message.rfind(failure, 0), 0u)
            << context << "\n" << message;
        EXPECT_EQ(result.status, 1) << context;
    }
}

void expect_reference_dumps(const DumpInput &input)
{
    for (const RunOptions &options : EVERY_FORMATTER)
        expect_reference_dump(input, options);
}

// Every even residue of the 16-byte row, and starts on both sides of the
// eight-digit limit of the row label: from 99999970 the label advances
// past 10^8 after two rows, 100000000 starts a row with nine digits.
std::vector<std::uint32_t> data_starts()
{
    std::vector<std::uint32_t> starts = {20};
    for (std::uint32_t start = 32; start < 48; start += 2)
        starts.push_back(start);
    starts.push_back(99999970);
    starts.push_back(100000000);
    return starts;
}

struct DifferentialCase {
    std::uint32_t data_start;
    std::uint32_t size;
    bool raw;
};

std::vector<DifferentialCase> differential_cases()
{
    std::vector<DifferentialCase> cases;
    for (const std::uint32_t start : data_starts())
        for (const std::uint32_t size : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 48u, 64u, 16383u,
                                         16384u, 16385u, 32768u, 100000u})
            for (const bool raw : {false, true})
                cases.push_back({start, size, raw});
    return cases;
}

std::string differential_case_name(const ::testing::TestParamInfo<DifferentialCase> &info)
{
    return "At" + std::to_string(info.param.data_start) + "Size" +
           std::to_string(info.param.size) + (info.param.raw ? "Raw" : "Formatted");
}

class DumpDifferentialTest : public ::testing::TestWithParam<DifferentialCase> {};

TEST_P(DumpDifferentialTest, MatchesByteByByteRendering)
{
    const DifferentialCase &c = GetParam();
    expect_reference_dumps({c.data_start, c.size, scrambled_bytes(c.size), c.raw});
}

INSTANTIATE_TEST_SUITE_P(StartsAndSizes, DumpDifferentialTest,
                         ::testing::ValuesIn(differential_cases()), differential_case_name);

// Seeded random starts, sizes, modes and cuts; the seed is fixed so that a
// failure can be replayed.
TEST(DumpDifferentialSweep, RandomStartsSizesAndCuts)
{
    std::mt19937 random(20261210);
    std::uniform_int_distribution<std::uint32_t> small_start(14, 400);
    std::uniform_int_distribution<std::uint32_t> size(0, 3 * BLOCK_SIZE + 100);
    for (int run = 0; run < 40; ++run) {
        const std::uint32_t start = run % 5 == 0 ? 99999000 + 2 * (random() % 600)
                                                 : 2 * small_start(random);
        const std::uint32_t declared = size(random);
        Bytes data = scrambled_bytes(declared);
        if (run % 3 == 0 && declared > 0)
            data.resize(random() % declared);
        expect_reference_dumps({start, declared, data, random() % 2 == 0});
        if (::testing::Test::HasFailure())
            break;
    }
}

// Dumps of megabytes, whose text a file receives in batches of about 1 MiB
// and a pipe a block at a time: the same text either way, and when the end
// of the file cuts the data short, all of it before the message.
struct SinkCase {
    const char *name;
    StdoutMode sink;
    bool raw;
    bool cut_short;
};

void PrintTo(const SinkCase &c, std::ostream *os)
{
    *os << c.name;
}

class DumpSinkTest : public ::testing::TestWithParam<SinkCase> {};

TEST_P(DumpSinkTest, WritesEveryBlockInOrder)
{
    const SinkCase &c = GetParam();
    constexpr std::uint32_t size = 3 * 1024 * 1024 + 1000;
    Bytes data = scrambled_bytes(size);
    if (c.cut_short)
        data.resize(size - 5000);
    expect_reference_dump({36, size, data, c.raw}, {.stdout_mode = c.sink});
}

INSTANTIATE_TEST_SUITE_P(
    FilePipeAndShared, DumpSinkTest,
    ::testing::Values(SinkCase{"FileFormatted", StdoutMode::Capture, false, false},
                      SinkCase{"FileRaw", StdoutMode::Capture, true, false},
                      SinkCase{"FileFormattedCutShort", StdoutMode::Capture, false, true},
                      SinkCase{"PipeFormatted", StdoutMode::Pipe, false, false},
                      SinkCase{"PipeRaw", StdoutMode::Pipe, true, false},
                      SinkCase{"PipeRawCutShort", StdoutMode::Pipe, true, true},
                      SinkCase{"SharedFormattedCutShort", StdoutMode::SharedWithStderr, false, true},
                      SinkCase{"SharedRawCutShort", StdoutMode::SharedWithStderr, true, true}),
    [](const ::testing::TestParamInfo<SinkCase> &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace chunklens_test
