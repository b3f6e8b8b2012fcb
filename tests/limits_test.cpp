// Declared sizes of 2^31 and more, and nesting as deep as the indentation
// allows (127 levels) and one level deeper.

#include "fixtures.h"
#include "test_support.h"

#include <cstdio>

namespace chunklens_test {
namespace {

using riff::Bytes;
using riff::data_chunk;
using riff::list_chunk;
using riff::riff_file;
using riff::serialize;
using riff::with_declared_size;

// A list declaring 2^31 bytes inside a top-level chunk declaring 2^31 + 16;
// only the list's first child is really there.
Bytes huge_list_file()
{
    return serialize(with_declared_size(
        riff_file("WAVE", {with_declared_size(list_chunk("INFO", {data_chunk("abcd", {0x31, 0x32})}),
                                              0x80000000u)}),
        0x80000010u));
}

// A data chunk of the given declared size after a 4-byte chunk, with six
// bytes of it present; the top-level chunk declares 0xFFFFFFF0.
Bytes huge_data_file(std::uint32_t declared)
{
    return serialize(with_declared_size(
        riff_file("WAVE", {data_chunk("fmt ", {1, 2, 3, 4}),
                           with_declared_size(data_chunk("data", {1, 2, 3, 4, 5, 6}), declared)}),
        0xFFFFFFF0u));
}

std::string huge_data_detail(const std::string &signed_size)
{
    return " (ofs=1e, traceback ['data' ofs=0x18, size=" + signed_size +
           " <= 'WAVE' ofs=0x0, size=-16])";
}

std::vector<Case> size_cases()
{
    return {
        // The walk stops after the chosen chunk, inside the list, so the
        // run ends cleanly.
        {"ListingLinesOfHugeLists", huge_list_file(), {"-t", "WAVE", "-d", "2", "@FILE@"},
         "<WAVE>[   0] (ofs = 0x0, size = 2147483664)\n"
         "  <INFO>[   1] (ofs = 0xc, size = 2147483648)\n"
         "Dump chunk: (abcd)[   2] (ofs = 0x18, size = 2)\n00000032  31 32 \n",
         "", 0},
        // The line is printed; the file ends long before the chunk does.
        {"ListingLineOfHugeDataChunk", huge_data_file(0x80000000u), {"@FILE@"},
         "<WAVE>[   0] (ofs = 0x0, size = 4294967280)\n"
         "  (fmt )[   1] (ofs = 0xc, size = 4)\n"
         "  (data)[   2] (ofs = 0x18, size = 2147483648)\n",
         parse_error("Unexpected end of file",
                     " (ofs=80000018, traceback ['WAVE' ofs=0x0, size=-16])"), 1},
        {"DumpHeaderOfHugeDataChunk", huge_data_file(0x80000000u), {"-d", "2", "@FILE@"},
         "Dump chunk: (data)[   2] (ofs = 0x18, size = 2147483648)",
         parse_error("Unexpected end of file", huge_data_detail("-2147483648")), 1},
        {"DumpHeaderNearTwoToThe32", huge_data_file(0xFFFFFFD0u), {"-t", "data", "@FILE@"},
         "Dump chunk: (data)[   2] (ofs = 0x18, size = 4294967248)",
         parse_error("Unexpected end of file", huge_data_detail("-48")), 1},
        {"RawDumpOfHugeDataChunk", huge_data_file(0x80000000u), {"-r", "-d", "2", "@FILE@"}, "",
         parse_error("Unexpected end of file", huge_data_detail("-2147483648")), 1},
    };
}

// nested_lists_file(depth): "nest" lists at depths 1 to depth, each holding
// the next, and the data chunk "leaf" (2 bytes) below the deepest one.
// The list at depth k starts at 12 * k and declares 14 + 12 * (depth - k).
std::string nesting_line(int depth_in_file, int level, int index)
{
    char line[96];
    if (level == depth_in_file + 1)
        std::snprintf(line, sizeof line, "(leaf)[%4d] (ofs = 0x%x, size = 2)\n", index, 12 * level);
    else if (level == 0)
        std::snprintf(line, sizeof line, "<DEEP>[%4d] (ofs = 0x0, size = %d)\n", index,
                      14 + 12 * depth_in_file);
    else
        std::snprintf(line, sizeof line, "<nest>[%4d] (ofs = 0x%x, size = %d)\n", index,
                      12 * level, 14 + 12 * (depth_in_file - level));
    return blanks(2 * static_cast<std::size_t>(level)) + line;
}

// The reader's traceback for a failure inside the deepest list of
// nested_lists_file(127): every open chunk, innermost first.
std::string nesting_failure_detail()
{
    std::string detail = " (ofs=5f8, traceback [";
    char entry[64];
    for (int level = 127; level >= 1; --level) {
        std::snprintf(entry, sizeof entry, "'nest' ofs=0x%X, size=%d <= ", 12 * level,
                      14 + 12 * (127 - level));
        detail += entry;
    }
    return detail + "'DEEP' ofs=0x0, size=1538])";
}

const char TOO_DEEP[] = "chunk nesting deeper than 127 levels";

std::vector<Case> nesting_cases()
{
    std::string listing_126;
    for (int level = 0; level <= 127; ++level)
        listing_126 += nesting_line(126, level, level);
    std::string listing_127;
    for (int level = 0; level <= 127; ++level)
        listing_127 += nesting_line(127, level, level);

    return {
        {"DataChunksAtDepth127", riff::nested_lists_file(126), {"@FILE@"}, listing_126, "", 0},
        {"DataChunkAtDepth127SelectedById", riff::nested_lists_file(126),
         {"-t", "nest", "@FILE@"}, blanks(254) + "(leaf)[   1] (ofs = 0x5f4, size = 2)\n", "", 0},
        {"DataChunkAtDepth127Dumped", riff::nested_lists_file(126), {"-d", "127", "@FILE@"},
         "Dump chunk: (leaf)[ 127] (ofs = 0x5f4, size = 2)\n00001520  " + blanks(12) + " |  " +
             blanks(12) + " |  " + blanks(12) + " |  AB CD \n",
         "", 0},
        {"ListAtDepth127", riff::nested_lists_file(127), {"@FILE@"}, listing_127,
         parse_error(TOO_DEEP, nesting_failure_detail()), 1},
        {"ListAtDepth127SelectedByIndex", riff::nested_lists_file(127), {"-d", "127", "@FILE@"},
         nesting_line(127, 127, 127), parse_error(TOO_DEEP, nesting_failure_detail()), 1},
        {"ListAtDepth127SelectedById", riff::nested_lists_file(127), {"-t", "nest", "@FILE@"}, "",
         parse_error(TOO_DEEP, nesting_failure_detail()), 1},
    };
}

// 10000 empty data chunks "zero": chunk k starts at 12 + 8 * (k - 1), so
// the last, index 10000, at 80004 with its data position at 80012.
Bytes ten_thousand_chunks_file()
{
    return serialize(riff_file("WIDE", std::vector<riff::Chunk>(10000, data_chunk("zero", {}))));
}

std::string ten_thousand_chunks_listing()
{
    std::string text = "<WIDE>[   0] (ofs = 0x0, size = 80004)\n";
    char line[64];
    for (int index = 1; index <= 10000; ++index) {
        std::snprintf(line, sizeof line, "  (zero)[%4d] (ofs = 0x%x, size = 0)\n", index,
                      12 + 8 * (index - 1));
        text += line;
    }
    return text;
}

// Indices of five digits widen the bracketed field.
std::vector<Case> wide_index_cases()
{
    return {
        {"ListingPastIndex9999", ten_thousand_chunks_file(), {"@FILE@"},
         ten_thousand_chunks_listing(), "", 0},
        {"DumpHeaderOfIndex10000", ten_thousand_chunks_file(), {"-d", "10000", "@FILE@"},
         "Dump chunk: (zero)[10000] (ofs = 0x13884, size = 0)\n00080000  " + blanks(12) + " |  " +
             blanks(12) + " |  " + blanks(12) + "\n",
         "", 0},
    };
}

class LimitsTest : public CaseTest {};

// A real file with a 3 GiB data chunk (sparse, so it takes no disk space):
// the chunk after it is listed and dumped, with a ten-digit row label.
TEST(LargeFile, ChunkAfterThreeGigabytesOfData)
{
    constexpr std::uint32_t data_size = 0xC0000000u;
    ScratchDir dir;
    const Bytes head = serialize(with_declared_size(
        riff_file("WAVE", {with_declared_size(data_chunk("data", {}), data_size)}),
        4 + 8 + data_size + 12));
    const Bytes tail = serialize(data_chunk("next", {0x77, 0x78, 0x79, 0x7A}));
    const std::string path =
        dir.write_with_hole("large.wav", head, std::uint64_t{head.size()} + data_size, tail);

    const RunResult listing = run_chunklens({path}, dir.path());
    EXPECT_EQ(listing.out, "<WAVE>[   0] (ofs = 0x0, size = 3221225496)\n"
                           "  (data)[   1] (ofs = 0xc, size = 3221225472)\n"
                           "  (next)[   2] (ofs = 0xc0000014, size = 4)\n");
    EXPECT_EQ(listing.err, "");
    EXPECT_EQ(listing.status, 0);

    const RunResult dump = run_chunklens({"-d", "2", path}, dir.path());
    EXPECT_EQ(dump.out, "Dump chunk: (next)[   2] (ofs = 0xc0000014, size = 4)\n"
                        "3221225488  " + blanks(12) + " |  " + blanks(12) + " |  " + blanks(12) +
                            " |  77 78 79 7A \n");
    EXPECT_EQ(dump.err, "");
    EXPECT_EQ(dump.status, 0);
}

TEST_P(LimitsTest, MatchesExpectedOutput)
{
    run_case(GetParam(), dir);
}

INSTANTIATE_TEST_SUITE_P(HugeSizes, LimitsTest, ::testing::ValuesIn(size_cases()), CaseName());
INSTANTIATE_TEST_SUITE_P(Nesting, LimitsTest, ::testing::ValuesIn(nesting_cases()), CaseName());
INSTANTIATE_TEST_SUITE_P(WideIndices, LimitsTest, ::testing::ValuesIn(wide_index_cases()),
                         CaseName());

}  // namespace
}  // namespace chunklens_test
