// Damaged and hostile input: every truncation of a few files, seeded byte
// flips in chunk headers, absurd sizes and nesting, files that are not
// regular files, awkward file names. Whatever comes in, a run ends with
// status 0 or 1, prints only lines that the intact file would print, and
// says what went wrong in one line on stderr.

#include "fixtures.h"
#include "fuzz_input.h"
#include "output_check.h"
#include "test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace chunklens_test {
namespace {

using riff::Bytes;
using riff::data_chunk;
using riff::list_chunk;
using riff::riff_file;
using riff::serialize;
using riff::with_declared_size;

bool starts_with(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// A failed run says so in exactly one line, in one of the tool's own forms:
// no library warnings, no sanitizer report.
void expect_clean_failure_message(const std::string &err)
{
    EXPECT_TRUE(starts_with(err, "Failed to open file '") ||
                starts_with(err, "Failed to start RIFF parse of file '") ||
                starts_with(err, "Error while parsing RIFF file '"))
        << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
}

// Status 0 with nothing on stderr, or status 1 with a clean message.
void expect_clean_end(const RunResult &result)
{
    ASSERT_TRUE(result.status == 0 || result.status == 1) << "status " << result.status << "\n"
                                                          << result.err;
    if (result.status == 0)
        EXPECT_EQ(result.err, "");
    else
        expect_clean_failure_message(result.err);
}

RunResult run_on_bytes(const ScratchDir &dir, const Bytes &file, std::vector<std::string> options)
{
    options.push_back(dir.write("input.riff", file));
    return run_chunklens(options, dir.path());
}

// The bytes of the last run_on_bytes through a pipe, as `cat input.riff |
// chunklens OPTIONS /dev/stdin`: its run in every respect, but for the name
// in the messages.
void expect_same_through_a_pipe(const ScratchDir &dir, const Bytes &file,
                                std::vector<std::string> options, const RunResult &from_file)
{
    options.push_back("/dev/stdin");
    RunOptions piped;
    piped.stdin_bytes = file;
    SCOPED_TRACE(describe_command(options, piped));
    const RunResult result = run_chunklens(options, dir.path(), piped);
    EXPECT_EQ(result.out, from_file.out);
    EXPECT_EQ(result.err, replaced(from_file.err, dir.path() + "/input.riff", "/dev/stdin"));
    EXPECT_EQ(result.status, from_file.status);
}

struct SweepCase {
    std::string name;
    Bytes file;
    std::vector<std::string> options;
    // Cuts at and past this length are not tried: the run has stopped
    // reading before it.
    std::size_t cut_limit = SIZE_MAX;
};

void PrintTo(const SweepCase &c, std::ostream *os)
{
    *os << c.name;
}

struct SweepCaseName {
    std::string operator()(const ::testing::TestParamInfo<SweepCase> &info) const
    {
        return info.param.name;
    }
};

class TruncationSweep : public ::testing::TestWithParam<SweepCase> {
protected:
    ScratchDir dir;
};

// A file cut anywhere gives the intact file's output up to some point: what
// comes before the cut is the same, and nothing after it may be made up.
// The cut bytes through a pipe give the cut file's output.
TEST_P(TruncationSweep, OutputIsAPrefixOfTheIntactFilesOutput)
{
    const SweepCase &c = GetParam();
    if (is_rifx(c.file) && !host_reads_rifx_right())
        GTEST_SKIP() << RIFX_ON_BIG_ENDIAN_HOST;
    const RunResult whole = run_on_bytes(dir, c.file, c.options);
    ASSERT_EQ(whole.status, 0) << whole.err;
    for (std::size_t length = 0; length < std::min(c.file.size(), c.cut_limit); ++length) {
        SCOPED_TRACE("file cut to " + std::to_string(length) + " bytes");
        const Bytes cut_file(c.file.begin(), c.file.begin() + length);
        const RunResult cut = run_on_bytes(dir, cut_file, c.options);
        expect_clean_end(cut);
        EXPECT_TRUE(starts_with(whole.out, cut.out)) << cut.out;
        if (cut.status == 0) {
            EXPECT_EQ(cut.out, whole.out);
        }
        expect_same_through_a_pipe(dir, cut_file, c.options, cut);
        if (HasFailure())
            return;  // one broken length tells all; the rest would repeat it
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, TruncationSweep,
    ::testing::Values(SweepCase{"WavListing", wav_file(), {}},
                      SweepCase{"TreeById", tree_file(), {"-t", "aaaa"}},
                      // smpl ends at 0x52, the start of pdta.
                      SweepCase{"SoundFontRawDumpByIndex", soundfont_file(), {"-r", "-d", "5"}, 0x5e},
                      // The header of the 300-byte data chunk is at 0x2e.
                      SweepCase{"RifxFormattedDump", rifx_file(), {"-d", "1"}, 0x40}),
    SweepCaseName());

// Header offsets and lengths of the chunks in a listing, from its lines.
struct HeaderSpan {
    std::uint32_t offset;
    std::uint32_t length;
};

std::vector<HeaderSpan> header_spans(const std::string &listing)
{
    std::vector<HeaderSpan> spans;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t at = line.find("ofs = 0x");
        const bool is_list = line.find('<') < line.find('(');
        spans.push_back({static_cast<std::uint32_t>(std::stoul(line.substr(at + 8), nullptr, 16)),
                         is_list ? 12u : 8u});
    }
    return spans;
}

// The lines of chunks whose headers lie wholly before position.
std::string lines_before(const std::string &listing, std::uint32_t position)
{
    std::istringstream lines(listing);
    std::string line;
    std::string text;
    for (const HeaderSpan &span : header_spans(listing)) {
        std::getline(lines, line);
        if (span.offset + span.length <= position)
            text += line + "\n";
    }
    return text;
}

class HeaderFlipSweep : public ::testing::TestWithParam<SweepCase> {
protected:
    ScratchDir dir;
};

// One byte of a chunk header (ID, size or list type) changed at a time, at
// seeded random places and to seeded random values, under the listing and
// both kinds of selection. The listing keeps every line before the change.
TEST_P(HeaderFlipSweep, EndsCleanlyAndKeepsTheLinesBeforeTheChange)
{
    const SweepCase &c = GetParam();
    const RunResult intact = run_on_bytes(dir, c.file, {});
    ASSERT_EQ(intact.status, 0) << intact.err;
    std::vector<std::uint32_t> header_bytes;
    for (const HeaderSpan &span : header_spans(intact.out))
        for (std::uint32_t i = 0; i < span.length; ++i)
            header_bytes.push_back(span.offset + i);

    const std::vector<std::vector<std::string>> option_sets = {
        {}, {"-d", "3"}, {"-r", "-t", "aaaa"}, {"-t", "INFO"}};
    std::mt19937 random(20261210);
    for (int round = 0; round < 40; ++round) {
        const std::uint32_t position = header_bytes[random() % header_bytes.size()];
        const std::uint8_t value = static_cast<std::uint8_t>(random());
        const std::vector<std::string> &options = option_sets[random() % option_sets.size()];
        Bytes file = c.file;
        file[position] = value;
        SCOPED_TRACE("byte " + std::to_string(position) + " set to " + std::to_string(value) +
                     ", options " + std::to_string(options.size()));
        const RunResult result = run_on_bytes(dir, file, options);
        expect_clean_end(result);
        if (options.empty()) {
            EXPECT_TRUE(starts_with(result.out, lines_before(intact.out, position))) << result.out;
        }
        if (HasFailure())
            return;
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, HeaderFlipSweep,
                         ::testing::Values(SweepCase{"Wav", wav_file(), {}},
                                           SweepCase{"Tree", tree_file(), {}},
                                           SweepCase{"SoundFont", soundfont_file(), {}},
                                           SweepCase{"NestedIds", nested_ids_file(), {}}),
                         SweepCaseName());

// nested_lists_file's layout, written directly: building 100,000 levels as
// nested Chunk values would take quadratic time.
Bytes deeply_nested_file(std::uint32_t depth)
{
    Bytes out;
    const auto header = [&out](const char *id, std::uint32_t size, const char *type) {
        out.insert(out.end(), id, id + 4);
        riff::append_u32(out, size, false);
        out.insert(out.end(), type, type + 4);
    };
    header("RIFF", 4 + 12 * depth + 10, "DEEP");
    for (std::uint32_t level = 1; level <= depth; ++level)
        header("LIST", 4 + 12 * (depth - level) + 10, "nest");
    out.insert(out.end(), {'l', 'e', 'a', 'f', 2, 0, 0, 0, 0xAB, 0xCD});
    return out;
}

// The lines of deeply_nested_file(depth) for levels 0 to last_level.
std::string nested_listing(std::uint32_t depth, std::uint32_t last_level)
{
    std::string text;
    char line[96];
    for (std::uint32_t level = 0; level <= last_level; ++level) {
        std::snprintf(line, sizeof line, "<%s>[%4u] (ofs = 0x%x, size = %u)\n",
                      level == 0 ? "DEEP" : "nest", level, 12 * level, 14 + 12 * (depth - level));
        text += blanks(2 * level) + line;
    }
    return text;
}

// Nesting far past the 127 levels that fit: the run stops where they end,
// in bounded time (the runner's timeout) and in no more memory than a file
// that just fits.
TEST(DeepNesting, HundredThousandLevelsFailCleanly)
{
    ScratchDir dir;
    const Bytes shallow = deeply_nested_file(126);
    ASSERT_EQ(shallow, riff::nested_lists_file(126));
    const RunResult fits = run_on_bytes(dir, shallow, {});
    ASSERT_EQ(fits.status, 0) << fits.err;

    const Bytes deep = deeply_nested_file(100000);
    const std::vector<std::vector<std::string>> option_sets = {
        {}, {"-t", "nest"}, {"-d", "99999"}, {"-r", "-t", "leaf"}};
    for (const std::vector<std::string> &options : option_sets) {
        SCOPED_TRACE("options " + std::to_string(options.size()));
        RunOptions run_options;
        run_options.timeout_seconds = 20;
        std::vector<std::string> args = options;
        args.push_back(dir.write("deep.riff", deep));
        const RunResult result = run_chunklens(args, dir.path(), run_options);
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(starts_with(result.err, "Error while parsing RIFF file '")) << result.err;
        EXPECT_NE(result.err.find(": chunk nesting deeper than 127 levels (ofs="),
                  std::string::npos)
            << result.err;
        EXPECT_LT(result.max_rss_kib, fits.max_rss_kib + 16 * 1024);
        if (options.empty()) {
            EXPECT_EQ(result.out, nested_listing(100000, 127));
        }
    }
}

// Declared sizes that cannot be right, and headers that the end of the file
// cuts short. A header that is not all there, or a list too small for its
// type, is not listed: its ID or type would be bytes that are not its own.
std::vector<Case> size_cases()
{
    const Bytes data_ff = serialize(riff_file(
        "WAVE", {data_chunk("fmt ", {1, 2}), with_declared_size(data_chunk("data", {7, 8}), 0xFFFFFFFFu)}));
    const Bytes list_ff = serialize(riff_file(
        "WAVE", {data_chunk("fmt ", {1, 2}),
                 with_declared_size(list_chunk("INFO", {data_chunk("INAM", {'a', 0})}), 0xFFFFFFFFu)}));
    const Bytes top_ff = serialize(with_declared_size(
        riff_file("WAVE", {data_chunk("fmt ", {1, 2})}), 0xFFFFFFFFu));
    const Bytes list_past_parent = serialize(riff_file(
        "WAVE", {data_chunk("fmt ", {1, 2}),
                 with_declared_size(list_chunk("INFO", {data_chunk("INAM", {'a', 0})}), 100)}));
    const Bytes top_past_file = serialize(with_declared_size(
        riff_file("WAVE", {data_chunk("fmt ", {1, 2}), data_chunk("data", {0x78, 0x79})}), 1000));
    const auto list_of_size = [](std::uint32_t size) {
        Bytes file = serialize(riff_file(
            "WAVE", {data_chunk("fmt ", {1, 2}), with_declared_size(list_chunk("TYPE", {}), size),
                     data_chunk("data", {7, 8})}));
        // The builder writes the type's four bytes; the list holds only size.
        file.erase(file.begin() + 0x1e, file.begin() + 0x1e + 4 - size);
        riff::Bytes top;
        riff::append_u32(top, static_cast<std::uint32_t>(file.size() - 8), false);
        std::copy(top.begin(), top.end(), file.begin() + 4);
        return file;
    };
    const Bytes wav = wav_file();
    // wav_file() cut inside the header of INAM, inside the type of INFO,
    // and inside the top-level chunk's form type.
    const Bytes cut_data_header(wav.begin(), wav.begin() + 0x30 + 5);
    // Cut in the ID and in the size field, where the reader would judge the
    // chunk on bytes it never read.
    const Bytes cut_data_id(wav.begin(), wav.begin() + 0x30 + 2);
    const Bytes cut_data_size(wav.begin(), wav.begin() + 0x30 + 6);
    const Bytes cut_riff_id(wav.begin(), wav.begin() + 3);
    const Bytes cut_list_type(wav.begin(), wav.begin() + 0x24 + 10);
    const Bytes cut_form_type(wav.begin(), wav.begin() + 10);
    const std::string wav_head = "<WAVE>[   0] (ofs = 0x0, size = 80)\n"
                                 "  (fmt )[   1] (ofs = 0xc, size = 16)\n";
    const std::string small_lines = "<WAVE>[   0] (ofs = 0x0, size = @SIZE@)\n"
                                    "  (fmt )[   1] (ofs = 0xc, size = 2)\n";
    const auto with_size = [](std::string text, const std::string &size) {
        return text.replace(text.find("@SIZE@"), 6, size);
    };
    return {
        {"DataSizeFFFFFFFF", data_ff, {"@FILE@"},
         "<WAVE>[   0] (ofs = 0x0, size = 24)\n"
         "  (fmt )[   1] (ofs = 0xc, size = 2)\n"
         "  (data)[   2] (ofs = 0x16, size = 4294967295)\n",
         parse_error("Unexpected end of file", " (ofs=16, traceback ['WAVE' ofs=0x0, size=24])"), 1},
        {"DataSizeFFFFFFFFRawDump", data_ff, {"-r", "-d", "2", "@FILE@"}, "",
         parse_error("Unexpected end of file",
                     " (ofs=18, traceback ['data' ofs=0x16, size=-1 <= 'WAVE' ofs=0x0, size=24])"),
         1},
        {"ListSizeFFFFFFFF", list_ff, {"@FILE@"},
         "<WAVE>[   0] (ofs = 0x0, size = 36)\n"
         "  (fmt )[   1] (ofs = 0xc, size = 2)\n",
         parse_error("Invalid RIFF LIST chunk size (odd number)",
                     " (ofs=1a, traceback ['WAVE' ofs=0x0, size=36])"),
         1},
        {"TopLevelSizeFFFFFFFF", top_ff, {"@FILE@"}, "",
         "Failed to start RIFF parse of file '@FILE@': Invalid RIFF LIST chunk size (odd number)\n",
         1},
        {"ListLargerThanParent", list_past_parent, {"@FILE@"},
         "<WAVE>[   0] (ofs = 0x0, size = 36)\n"
         "  (fmt )[   1] (ofs = 0xc, size = 2)\n",
         parse_error("Child chunk 'INFO' (size = 100, level = 1) exceeds parent chunk 'WAVE' "
                     "(size = 36, level = 0)",
                     " (ofs=1a, traceback ['WAVE' ofs=0x0, size=36])"),
         1},
        {"TopLevelLargerThanFile", top_past_file, {"@FILE@"},
         "<WAVE>[   0] (ofs = 0x0, size = 1000)\n"
         "  (fmt )[   1] (ofs = 0xc, size = 2)\n"
         "  (data)[   2] (ofs = 0x16, size = 2)\n",
         parse_error("Unexpected end of file", " (ofs=18, traceback ['WAVE' ofs=0x0, size=1000])"),
         1},
        {"TopLevelLargerThanFileRawDump", top_past_file, {"-r", "-t", "data", "@FILE@"},
         "78 79 \n",
         parse_error("Unexpected end of file", " (ofs=18, traceback ['WAVE' ofs=0x0, size=1000])"),
         1},
        {"ListOfSize0", list_of_size(0), {"@FILE@"}, with_size(small_lines, "32"),
         parse_error("List chunk of size 0 is too small for its type",
                     " (ofs=1a, traceback ['WAVE' ofs=0x0, size=32])"),
         1},
        {"ListOfSize2", list_of_size(2), {"-t", "data", "@FILE@"}, "",
         parse_error("List chunk of size 2 is too small for its type",
                     " (ofs=1a, traceback ['WAVE' ofs=0x0, size=34])"),
         1},
        {"TopLevelOfSize2", serialize(with_declared_size(riff_file("WAVE", {}), 2)), {"@FILE@"},
         "", "Failed to start RIFF parse of file '@FILE@': List chunk of size 2 is too small for "
             "its type\n",
         1},
        {"DataHeaderCutByEndOfFile", cut_data_header, {"@FILE@"},
         wav_head + "  <INFO>[   2] (ofs = 0x24, size = 30)\n",
         parse_error("Unexpected end of file",
                      " (ofs=2d, traceback ['INFO' ofs=0x24, size=30 <= 'WAVE' ofs=0x0, size=80])"),
         1},
        {"DataIdCutByEndOfFile", cut_data_id, {"@FILE@"},
         wav_head + "  <INFO>[   2] (ofs = 0x24, size = 30)\n",
         parse_error("Unexpected end of file",
                     " (ofs=2a, traceback ['INFO' ofs=0x24, size=30 <= 'WAVE' ofs=0x0, size=80])"),
         1},
        {"DataSizeCutByEndOfFile", cut_data_size, {"@FILE@"},
         wav_head + "  <INFO>[   2] (ofs = 0x24, size = 30)\n",
         parse_error("Unexpected end of file",
                     " (ofs=2e, traceback ['INFO' ofs=0x24, size=30 <= 'WAVE' ofs=0x0, size=80])"),
         1},
        {"RiffIdCutByEndOfFile", cut_riff_id, {"@FILE@"}, "",
         "Failed to start RIFF parse of file '@FILE@': Unexpected end of file\n", 1},
        {"ListTypeCutByEndOfFile", cut_list_type, {"-t", "fmt ", "@FILE@"},
         reference_dump({"fmt ", 1, 0xc, 16, false}, riff::counting_bytes(16)),
         parse_error("Unexpected end of file", " (ofs=26, traceback ['WAVE' ofs=0x0, size=80])"),
         1},
        {"FormTypeCutByEndOfFile", cut_form_type, {"@FILE@"}, "",
         "Failed to start RIFF parse of file '@FILE@': Unexpected end of file\n", 1},
    };
}

class DamagedSizeTest : public CaseTest {};

TEST_P(DamagedSizeTest, MatchesExpectedOutput)
{
    run_case(GetParam(), dir);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DamagedSizeTest, ::testing::ValuesIn(size_cases()), CaseName());

// The minimised corpus of the fuzz campaigns (scripts/fuzz), each input run
// and checked as the harness does, so what the fuzzer once found stays
// fixed; and run again through a pipe, which must change nothing.
TEST(FuzzCorpus, EveryInputEndsCleanly)
{
    ScratchDir dir;
    int inputs = 0;
    for (const auto &entry : std::filesystem::directory_iterator(CHUNKLENS_FUZZ_CORPUS)) {
        std::ifstream stream(entry.path(), std::ios::binary);
        const Bytes input{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
        const chunklens_fuzz::DecodedInput decoded =
            chunklens_fuzz::decode_input(input.data(), input.size());
        SCOPED_TRACE(entry.path().filename().string());
        const RunResult result = run_on_bytes(dir, decoded.file, decoded.options);
        expect_clean_end(result);
        // The output check reads sizes as the file's byte order says.
        if (host_reads_rifx_right() || !is_rifx(decoded.file)) {
            EXPECT_EQ(chunklens_fuzz::check_output(result.out, decoded.file), "");
        }
        expect_same_through_a_pipe(dir, decoded.file, decoded.options, result);
        ++inputs;
    }
    EXPECT_GT(inputs, 0) << "no corpus in " << CHUNKLENS_FUZZ_CORPUS;
}

// What is named on the command line but is no regular file to read.
void expect_open_failure(const std::string &path, const std::string &err, RunOptions options = {})
{
    ScratchDir work;
    const RunResult result = run_chunklens({path}, work.path(), options);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, err);
    EXPECT_EQ(result.status, 1);
}

TEST(NotARegularFile, Directory)
{
    ScratchDir dir;
    expect_open_failure(dir.path(),
                        "Failed to start RIFF parse of file '" + dir.path() + "': Is a directory\n");
}

// Root reads a file of mode 000 all the same, so as root the run is made
// without the capabilities that let it. The file is named from its own
// folder, so that only its mode, not a folder above it, can refuse it.
TEST(NotARegularFile, Unreadable)
{
    ScratchDir dir;
    const std::string path = dir.write("locked.wav", wav_file());
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    RunOptions options;
    options.without_permission_override = ::geteuid() == 0;
    const RunResult result = run_chunklens({"locked.wav"}, dir.path(), options);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Failed to open file 'locked.wav': Permission denied\n");
    EXPECT_EQ(result.status, 1);
}

// Names are printed as given, never read as a format.
TEST(FileNames, SpacesPercentSignsAndNewlinesAreShownAsGiven)
{
    const Bytes damaged = serialize(riff_file(
        "WAVE", {data_chunk("fmt ", {1, 2}), with_declared_size(data_chunk("data", {3, 4}), 40)}));
    for (const std::string name : {"two words.wav", "100%s%n%%d.wav", "line\nbreak.wav"}) {
        SCOPED_TRACE(name);
        ScratchDir dir;
        dir.write(name, damaged);
        const RunResult result = run_chunklens({name}, dir.path());
        EXPECT_EQ(result.out, "<WAVE>[   0] (ofs = 0x0, size = 24)\n"
                              "  (fmt )[   1] (ofs = 0xc, size = 2)\n");
        EXPECT_EQ(result.err, "Error while parsing RIFF file '" + name +
                                  "': Child chunk 'data' (size = 40, level = 1) exceeds parent "
                                  "chunk 'WAVE' (size = 24, level = 0) (ofs=16, traceback ['WAVE' "
                                  "ofs=0x0, size=24])\n");
        EXPECT_EQ(result.status, 1);

        const RunResult missing = run_chunklens({"no " + name}, dir.path());
        EXPECT_EQ(missing.err,
                  "Failed to open file 'no " + name + "': No such file or directory\n");
    }
}

}  // namespace
}  // namespace chunklens_test
