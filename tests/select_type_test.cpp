// --dump-type ID: every chunk with that ID is dumped (a data chunk) or has
// its contents listed (a list chunk); such a chunk takes no line and no
// index of its own, and the walk goes on to the end of the file.

#include "fixtures.h"
#include "test_support.h"
#include "tree_dumps.h"

namespace chunklens_test {
namespace {

Case tree_case(std::string name, std::vector<std::string> args, std::string out)
{
    return {std::move(name), tree_file(), std::move(args), std::move(out), "", 0};
}

// The contents of blst, numbered from blst's own index (2) on.
const char BLST_CONTENTS[] =
    "    (cccc)[   2] (ofs = 0x22, size = 1)\n"
    "    <dlst>[   3] (ofs = 0x2c, size = 16)\n"
    "      (aaaa)[   4] (ofs = 0x38, size = 3)\n"
    "    (eeee)[   5] (ofs = 0x44, size = 0)\n";

std::vector<Case> type_cases()
{
    return {
        tree_case("DataChunk", {"--dump-type", "cccc", "@FILE@"}, tree_dump_cccc("   3")),
        tree_case("EmptyDataChunk", {"-t", "eeee", "@FILE@"}, tree_dump_eeee("   6")),
        // Each match leaves the counter where it was, so later indices drop.
        tree_case("SeveralMatchesShiftLaterIndices", {"-t", "aaaa", "@FILE@"},
                  tree_dump_1() + tree_dump_deep_aaaa("   4") + tree_dump_last_aaaa("   6")),
        tree_case("RawSeveralMatches", {"-r", "-t", "aaaa", "@FILE@"},
                  "01 02 \n04 05 06 \n07 \n"),
        tree_case("ListChunkContentsOneLevelDeeper", {"-t", "blst", "@FILE@"}, BLST_CONTENTS),
        tree_case("NestedListChunk", {"-t", "dlst", "@FILE@"},
                  "      (aaaa)[   4] (ofs = 0x38, size = 3)\n"),
        tree_case("EmptyListPrintsNothing", {"-t", "mpty", "@FILE@"}, ""),
        tree_case("TopLevelIdListsEverything", {"-t", "TREE", "@FILE@"}, TREE_LISTING),
        tree_case("CaseSensitiveData", {"-t", "AAAA", "@FILE@"}, ""),
        tree_case("CaseSensitiveTopLevel", {"-t", "tree", "@FILE@"}, ""),
        // A shorter ID would need a zero byte after it in the chunk's ID.
        tree_case("ShortIdMatchesNothing", {"-t", "aaa", "@FILE@"}, ""),
        tree_case("OneCharacterIdMatchesNothing", {"-t", "c", "@FILE@"}, ""),
        tree_case("EmptyIdMatchesNothing", {"-t", "", "@FILE@"}, ""),
        // An ID that ends in a blank needs the blank.
        {"IdEndingInBlankNeedsTheBlank", wav_file(), {"-t", "fmt", "@FILE@"}, "", "", 0},
        {"IdEndingInBlankGivenWhole", wav_file(), {"-r", "-t", "fmt ", "@FILE@"},
         "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n", "", 0},
        tree_case("LongIdCountsFirstFour", {"--dump-type=ccccXYZ", "@FILE@"},
                  tree_dump_cccc("   3")),
        // Lists are known by their list type, the top-level chunk by its form.
        tree_case("ListHeaderIdMatchesNothing", {"-t", "LIST", "@FILE@"}, ""),
        tree_case("RiffHeaderIdMatchesNothing", {"-t", "RIFF", "@FILE@"}, ""),
        tree_case("LastDumpTypeCounts", {"-t", "cccc", "-t", "dlst", "@FILE@"},
                  "      (aaaa)[   4] (ofs = 0x38, size = 3)\n"),
        // Both selections: chunks taken by ID are not counted, so the index
        // reaches a chunk that the plain listing numbers higher.
        tree_case("IndexShiftedByDataMatch", {"-t", "aaaa", "-d", "2", "@FILE@"},
                  tree_dump_1() + tree_dump_cccc("   2")),
        // Index 5 is mpty, numbered 7 in the plain listing.
        tree_case("IndexShiftedByTwoDataMatches", {"-t", "aaaa", "-d", "5", "@FILE@"},
                  tree_dump_1() + tree_dump_deep_aaaa("   4") +
                      "  <mpty>[   5] (ofs = 0x4c, size = 4)\n"),
        tree_case("IndexShiftedByListMatch", {"-d", "7", "-t", "blst", "@FILE@"},
                  BLST_CONTENTS + tree_dump_last_aaaa("   7")),
        // A chunk matching both is taken by index, and the walk stops.
        tree_case("IndexWinsOverIdAtTopLevel", {"-d", "1", "-t", "aaaa", "@FILE@"}, tree_dump_1()),
        tree_case("IndexWinsOverIdDeeper", {"-t", "aaaa", "-d", "4", "@FILE@"},
                  tree_dump_1() + tree_dump_deep_aaaa("   4")),
        tree_case("IndexWinsOverIdForList", {"-t", "blst", "-d", "2", "@FILE@"},
                  "  <blst>[   2] (ofs = 0x16, size = 46)\n"
                  "    (cccc)[   3] (ofs = 0x22, size = 1)\n"
                  "    <dlst>[   4] (ofs = 0x2c, size = 16)\n"
                  "      (aaaa)[   5] (ofs = 0x38, size = 3)\n"
                  "    (eeee)[   6] (ofs = 0x44, size = 0)\n"),
    };
}

std::vector<Case> nested_match_cases()
{
    return {
        // Case one: the data chunk "item" inside the first list "item" is
        // dumped among that list's lines. Case two: after the inner list
        // "item" of the second list, listing is off, so "late" has no line
        // but is counted, and the later inner list "item" is listed again.
        {"DataAndListsSharingTheId",
         nested_ids_file(),
         {"-t", "item", "@FILE@"},
         "    (head)[   1] (ofs = 0x18, size = 1)\n"
         "Dump chunk: (item)[   2] (ofs = 0x22, size = 2)\n00000032  " +
             blanks(12) + " |  " + blanks(12) + " |  " + blanks(6) +
             "22 33 \n"
             "    (tail)[   2] (ofs = 0x2c, size = 0)\n"
             "      (deep)[   3] (ofs = 0x4c, size = 1)\n"
             "      (more)[   5] (ofs = 0x6c, size = 0)\n",
         "",
         0},
        // The top-level chunk carries the ID: listing is on from the start
        // and off after the contents of the first inner list with that ID.
        {"TopLevelAndInnerListsSharingTheId",
         form_type_file(),
         {"-t", "band", "@FILE@"},
         "<band>[   0] (ofs = 0x0, size = 66)\n"
         "  (name)[   1] (ofs = 0xc, size = 1)\n"
         "    (memb)[   2] (ofs = 0x22, size = 1)\n"
         "    (solo)[   4] (ofs = 0x42, size = 0)\n",
         "",
         0},
        {"PlainListingOfSharedIds",
         form_type_file(),
         {"@FILE@"},
         "<band>[   0] (ofs = 0x0, size = 66)\n"
         "  (name)[   1] (ofs = 0xc, size = 1)\n"
         "  <band>[   2] (ofs = 0x16, size = 14)\n"
         "    (memb)[   3] (ofs = 0x22, size = 1)\n"
         "  (year)[   4] (ofs = 0x2c, size = 1)\n"
         "  <band>[   5] (ofs = 0x36, size = 12)\n"
         "    (solo)[   6] (ofs = 0x42, size = 0)\n",
         "",
         0},
    };
}

class SelectTypeTest : public CaseTest {};

TEST_P(SelectTypeTest, MatchesExpectedOutput)
{
    run_case(GetParam(), dir);
}

INSTANTIATE_TEST_SUITE_P(Id, SelectTypeTest, ::testing::ValuesIn(type_cases()), CaseName());
INSTANTIATE_TEST_SUITE_P(NestedId, SelectTypeTest, ::testing::ValuesIn(nested_match_cases()),
                         CaseName());

}  // namespace
}  // namespace chunklens_test
