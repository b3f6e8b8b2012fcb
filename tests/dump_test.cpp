// The dump of a chosen data chunk: header line, rows of 16 bytes labelled
// with their decimal file offset and split into groups of 4, blank columns
// before data that starts in mid-row; or raw, one line of hex pairs. The
// data is read in blocks of 16384 bytes, which must not show in the output.

#include "fixtures.h"
#include "test_support.h"

namespace chunklens_test {
namespace {

using riff::Bytes;
using riff::data_chunk;
using riff::riff_file;
using riff::serialize;
using riff::with_declared_size;

const Bytes SIX_BYTES = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

// "data" is the first child: header at 12, data at 20, index 1.
Bytes data_at_20(Bytes data)
{
    return serialize(riff_file("WAVE", {data_chunk("data", std::move(data))}));
}

// "data" follows a 4-byte chunk: header at 24, data at 32, index 2.
Bytes data_at_32(Bytes data)
{
    return serialize(riff_file("WAVE", {data_chunk("fmt ", {1, 2, 3, 4}),
                                        data_chunk("data", std::move(data))}));
}

std::vector<Case> layout_cases()
{
    return {
        {"SixBytesAtOffset20", data_at_20(SIX_BYTES), {"-d", "1", "@FILE@"},
         "Dump chunk: (data)[   1] (ofs = 0xc, size = 6)\n"
         "00000016" + blanks(15) + "|  AA BB CC DD  |  EE FF \n",
         "", 0},
        {"SixBytesAtOffset20Raw", data_at_20(SIX_BYTES), {"-r", "-d", "1", "@FILE@"},
         "AA BB CC DD EE FF \n", "", 0},
        {"TwentyBytesAtOffset32", data_at_32(riff::counting_bytes(20)), {"-d", "2", "@FILE@"},
         "Dump chunk: (data)[   2] (ofs = 0x18, size = 20)\n"
         "00000032  00 01 02 03  |  04 05 06 07  |  08 09 0A 0B  |  0C 0D 0E 0F \n"
         "00000048  10 11 12 13 \n",
         "", 0},
        {"TwentyBytesAtOffset32Raw", data_at_32(riff::counting_bytes(20)),
         {"-r", "-d", "2", "@FILE@"},
         "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 \n", "", 0},
        {"SizeZeroAtOffset32", data_at_32({}), {"-d", "2", "@FILE@"},
         "Dump chunk: (data)[   2] (ofs = 0x18, size = 0)\n", "", 0},
        {"SizeZeroAtOffset20", data_at_20({}), {"-d", "1", "@FILE@"},
         "Dump chunk: (data)[   1] (ofs = 0xc, size = 0)\n00000016" + blanks(14) + "\n", "", 0},
        {"SizeZeroRaw", data_at_20({}), {"-r", "-d", "1", "@FILE@"}, "\n", "", 0},
        {"SelectedById", data_at_32(riff::counting_bytes(20)), {"-t", "data", "@FILE@"},
         "Dump chunk: (data)[   2] (ofs = 0x18, size = 20)\n"
         "00000032  00 01 02 03  |  04 05 06 07  |  08 09 0A 0B  |  0C 0D 0E 0F \n"
         "00000048  10 11 12 13 \n",
         "", 0},
        // Odd size: the pad byte is not part of the dump.
        {"OddSizeStopsBeforePadByte", wav_file(), {"-d", "3", "@FILE@"},
         "Dump chunk: (INAM)[   3] (ofs = 0x30, size = 5)\n00000048  " + blanks(12) + " |  " +
             blanks(12) + " |  54 6F 6E 65  |  00 \n",
         "", 0},
        {"BigEndianFile", rifx_file(), {"-d", "1", "@FILE@"},
         "Dump chunk: (fmt )[   1] (ofs = 0xc, size = 3)\n00000016" + blanks(14) +
             " |  00 01 02 \n",
         "", 0},
    };
}

// Sizes around the block size, checked against a byte-by-byte rendering of
// the dump format; the data never repeats with the block size as period.
std::vector<Case> block_seam_cases()
{
    std::vector<Case> cases;
    for (const std::uint32_t size : {16383u, 16384u, 16385u, 32768u, 40000u}) {
        const Bytes data = scrambled_bytes(size);
        const std::string suffix = std::to_string(size);
        cases.push_back({"Size" + suffix + "AtOffset20", data_at_20(data), {"-d", "1", "@FILE@"},
                         reference_dump({"data", 1, 12, size, false}, data), "", 0});
        cases.push_back({"Size" + suffix + "AtOffset20Raw", data_at_20(data),
                         {"-r", "-d", "1", "@FILE@"},
                         reference_dump({"data", 1, 12, size, true}, data), "", 0});
        cases.push_back({"Size" + suffix + "AtOffset32", data_at_32(data), {"-d", "2", "@FILE@"},
                         reference_dump({"data", 2, 24, size, false}, data), "", 0});
    }
    // The dump reads ahead of its blocks, so the walk must go on from the
    // end of each dumped chunk, not from where reading stopped: three
    // matches, the first of odd size (a pad byte follows), the second inside
    // a list, each followed by more chunks. Raw dumps print no header, so
    // the layouts' index and offset are the plain listing's.
    const Bytes first = scrambled_bytes(20001);
    const Bytes second = scrambled_bytes(70000);
    const Bytes third = riff::counting_bytes(5);
    cases.push_back(
        {"SeveralLargeMatchesRaw",
         serialize(riff_file("WAVE", {data_chunk("big1", first), data_chunk("fmt ", {1, 2, 3, 4}),
                                      riff::list_chunk("INFO", {data_chunk("big1", second),
                                                                data_chunk("ISFT", {7})}),
                                      data_chunk("big1", third)})),
         {"-r", "-t", "big1", "@FILE@"},
         reference_dump({"big1", 1, 12, 20001, true}, first) +
             reference_dump({"big1", 4, 20046, 70000, true}, second) +
             reference_dump({"big1", 6, 90064, 5, true}, third),
         "", 0});
    return cases;
}

class DumpTest : public CaseTest {};

TEST_P(DumpTest, MatchesExpectedOutput)
{
    run_case(GetParam(), dir);
}

INSTANTIATE_TEST_SUITE_P(Layout, DumpTest, ::testing::ValuesIn(layout_cases()), CaseName());
INSTANTIATE_TEST_SUITE_P(BlockSeams, DumpTest, ::testing::ValuesIn(block_seam_cases()),
                         CaseName());

// The block-seam expectations come from reference_dump; it must render the
// worked examples of the dump format exactly as they are written above.
TEST(ReferenceDump, RendersTheWorkedExamples)
{
    EXPECT_EQ(reference_dump({"data", 1, 12, 6, false}, SIX_BYTES),
              "Dump chunk: (data)[   1] (ofs = 0xc, size = 6)\n"
              "00000016" + blanks(15) + "|  AA BB CC DD  |  EE FF \n");
    EXPECT_EQ(reference_dump({"data", 2, 24, 20, false}, riff::counting_bytes(20)),
              "Dump chunk: (data)[   2] (ofs = 0x18, size = 20)\n"
              "00000032  00 01 02 03  |  04 05 06 07  |  08 09 0A 0B  |  0C 0D 0E 0F \n"
              "00000048  10 11 12 13 \n");
    EXPECT_EQ(reference_dump({"data", 1, 12, 0, false}, {}),
              "Dump chunk: (data)[   1] (ofs = 0xc, size = 0)\n00000016" + blanks(14) + "\n");
    EXPECT_EQ(reference_dump({"data", 1, 12, 6, true}, SIX_BYTES), "AA BB CC DD EE FF \n");
}

// A data chunk whose declared size runs past the end of the file: the block
// that the end cuts short is not written at all, nor is the final newline.
Bytes truncated_at_20(std::size_t present, std::uint32_t declared)
{
    riff::Chunk chunk = with_declared_size(data_chunk("data", scrambled_bytes(present)), declared);
    return serialize(with_declared_size(riff_file("WAVE", {chunk}), 4 + 8 + declared));
}

std::string truncated_error(const std::string &offset, std::uint32_t declared)
{
    return parse_error("Unexpected end of file",
                       " (ofs=" + offset + ", traceback ['data' ofs=0xC, size=" +
                           std::to_string(declared) + " <= 'WAVE' ofs=0x0, size=" +
                           std::to_string(4 + 8 + declared) + "])");
}

std::vector<Case> truncated_cases()
{
    const Bytes first_block = scrambled_bytes(16384);
    return {
        {"FirstBlockFormatted", truncated_at_20(6, 40), {"-d", "1", "@FILE@"},
         "Dump chunk: (data)[   1] (ofs = 0xc, size = 40)\n00000016" + blanks(14),
         truncated_error("12", 40), 1},
        {"FirstBlockRaw", truncated_at_20(6, 40), {"-r", "-d", "1", "@FILE@"}, "",
         truncated_error("12", 40), 1},
        {"FirstBlockSelectedById", truncated_at_20(6, 40), {"-t", "data", "@FILE@"},
         "Dump chunk: (data)[   1] (ofs = 0xc, size = 40)\n00000016" + blanks(14),
         truncated_error("12", 40), 1},
        {"SecondBlockFormatted", truncated_at_20(16484, 20000), {"-d", "1", "@FILE@"},
         reference_dump({"data", 1, 12, 20000, false}, first_block, false),
         truncated_error("4070", 20000), 1},
        {"SecondBlockRaw", truncated_at_20(16484, 20000), {"-r", "-d", "1", "@FILE@"},
         reference_dump({"data", 1, 12, 20000, true}, first_block, false),
         truncated_error("4070", 20000), 1},
        {"SecondBlockSelectedByIdRaw", truncated_at_20(16484, 20000), {"-r", "-t", "data", "@FILE@"},
         reference_dump({"data", 1, 12, 20000, true}, first_block, false),
         truncated_error("4070", 20000), 1},
    };
}

INSTANTIATE_TEST_SUITE_P(TruncatedChunk, DumpTest, ::testing::ValuesIn(truncated_cases()),
                         CaseName());

}  // namespace
}  // namespace chunklens_test
