// The plain listing: one line per chunk, depth first, in file order.

#include "fixtures.h"
#include "test_support.h"

#include <fstream>
#include <iterator>

namespace chunklens_test {
namespace {

using riff::data_chunk;
using riff::riff_file;
using riff::serialize;

const char SOUNDFONT_LISTING[] =
    "<sfbk>[   0] (ofs = 0x0, size = 198)\n"
    "  <INFO>[   1] (ofs = 0xc, size = 32)\n"
    "    (ifil)[   2] (ofs = 0x18, size = 4)\n"
    "    (INAM)[   3] (ofs = 0x24, size = 7)\n"
    "  <sdta>[   4] (ofs = 0x34, size = 22)\n"
    "    (smpl)[   5] (ofs = 0x40, size = 10)\n"
    "  <pdta>[   6] (ofs = 0x52, size = 116)\n"
    "    (phdr)[   7] (ofs = 0x5e, size = 38)\n"
    "    (pbag)[   8] (ofs = 0x8c, size = 4)\n"
    "    (shdr)[   9] (ofs = 0x98, size = 46)\n";

// 12 chunks, so indices of two digits and offsets past 0xff.
riff::Bytes many_chunks_file()
{
    std::vector<riff::Chunk> chunks;
    for (int i = 0; i < 11; ++i)
        chunks.push_back(data_chunk("blob", riff::Bytes(30, static_cast<std::uint8_t>(i))));
    return serialize(riff_file("MANY", chunks));
}

std::string many_chunks_listing()
{
    std::string text = "<MANY>[   0] (ofs = 0x0, size = 422)\n";
    const char *const offsets[] = {"c", "32", "58", "7e", "a4", "ca", "f0", "116", "13c", "162", "188"};
    for (int i = 0; i < 11; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "  (blob)[%4d] (ofs = 0x%s, size = 30)\n", i + 1, offsets[i]);
        text += line;
    }
    return text;
}

std::vector<Case> listing_cases()
{
    return {
        {"WavWithInfoList", wav_file(), {"@FILE@"}, WAV_LISTING, "", 0},
        {"SoundFontNestedLists", soundfont_file(), {"@FILE@"}, SOUNDFONT_LISTING, "", 0},
        {"ThreeLevelsWithEmptyListAndEmptyData", tree_file(), {"@FILE@"}, TREE_LISTING, "", 0},
        {"EmptyListKeepsItsIndentationAndIndex", empty_list_file(), {"@FILE@"},
         "<WAVE>[   0] (ofs = 0x0, size = 36)\n"
         "  (fmt )[   1] (ofs = 0xc, size = 2)\n"
         "  <INFO>[   2] (ofs = 0x16, size = 4)\n"
         "  (data)[   3] (ofs = 0x22, size = 1)\n",
         "", 0},
        {"TopLevelWithoutChildren", serialize(riff_file("WAVE", {})), {"@FILE@"},
         "<WAVE>[   0] (ofs = 0x0, size = 4)\n", "", 0},
        {"TopLevelWithoutChildrenChosenById", serialize(riff_file("WAVE", {})),
         {"-t", "WAVE", "@FILE@"}, "<WAVE>[   0] (ofs = 0x0, size = 4)\n", "", 0},
        {"TopLevelWithoutChildrenIndexOne", serialize(riff_file("WAVE", {})), {"-d", "1", "@FILE@"},
         "", "", 0},
        {"BigEndianRifx", rifx_file(), {"@FILE@"},
         "<WAVE>[   0] (ofs = 0x0, size = 346)\n"
         "  (fmt )[   1] (ofs = 0xc, size = 3)\n"
         "  <INFO>[   2] (ofs = 0x18, size = 14)\n"
         "    (INAM)[   3] (ofs = 0x24, size = 2)\n"
         "  (data)[   4] (ofs = 0x2e, size = 300)\n",
         "", 0},
        {"TwoDigitIndicesAndLongOffsets", many_chunks_file(), {"@FILE@"}, many_chunks_listing(),
         "", 0},
        {"RawAloneChangesNothing", wav_file(), {"--raw", "@FILE@"}, WAV_LISTING, "", 0},
    };
}

class ListingTest : public CaseTest {};

TEST_P(ListingTest, MatchesExpectedOutput)
{
    run_case(GetParam(), dir);
}

INSTANTIATE_TEST_SUITE_P(Plain, ListingTest, ::testing::ValuesIn(listing_cases()), CaseName());

// The RIFX example as the library reads it here: right on a little-endian
// host; with every size byte-swapped on a big-endian one, where the walk
// stops at the second chunk, whose size seems to run past the file. The
// man page's CAVEATS show this output; a library that reads RIFX right on
// big-endian hosts fails this test.
TEST(RifxExample, ListsAsTheLibraryReadsItOnThisHost)
{
    std::ifstream stream(CHUNKLENS_EXAMPLES "/sample.rifx", std::ios::binary);
    const riff::Bytes bytes{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    ASSERT_FALSE(bytes.empty()) << "cannot read " CHUNKLENS_EXAMPLES "/sample.rifx";
    ScratchDir dir;
    dir.write("sample.rifx", bytes);
    const RunResult result = run_chunklens({"sample.rifx"}, dir.path());
    if (host_reads_rifx_right()) {
        EXPECT_EQ(result.out, "<WAVE>[   0] (ofs = 0x0, size = 60)\n"
                              "  (fmt )[   1] (ofs = 0xc, size = 16)\n"
                              "  (data)[   2] (ofs = 0x24, size = 24)\n");
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.status, 0);
    } else {
        EXPECT_EQ(result.out, "<WAVE>[   0] (ofs = 0x0, size = 1006632960)\n"
                              "  (fmt )[   1] (ofs = 0xc, size = 268435456)\n");
        EXPECT_EQ(result.err,
                  "Error while parsing RIFF file 'sample.rifx': Unexpected end of file "
                  "(ofs=1000000c, traceback ['WAVE' ofs=0x0, size=1006632960])\n");
        EXPECT_EQ(result.status, 1);
    }
}

}  // namespace
}  // namespace chunklens_test
