// --dump CHUNK_INDEX: the chunk with that running index is dumped (a data
// chunk) or listed with all of its contents (a list chunk), and the walk
// stops there.

#include "fixtures.h"
#include "test_support.h"
#include "tree_dumps.h"

namespace chunklens_test {
namespace {

Case tree_case(std::string name, std::vector<std::string> args, std::string out)
{
    return {std::move(name), tree_file(), std::move(args), std::move(out), "", 0};
}

std::vector<Case> index_cases()
{
    return {
        tree_case("DataChunkAtTopLevel", {"--dump", "1", "@FILE@"}, tree_dump_1()),
        tree_case("DataChunkTwoListsDown", {"-d", "5", "@FILE@"}, tree_dump_deep_aaaa("   5")),
        tree_case("EmptyDataChunk", {"-d", "6", "@FILE@"}, tree_dump_eeee("   6")),
        tree_case("LastChunk", {"-d", "8", "@FILE@"}, tree_dump_last_aaaa("   8")),
        tree_case("ListChunkWithAllItsContents", {"-d", "2", "@FILE@"},
                  "  <blst>[   2] (ofs = 0x16, size = 46)\n"
                  "    (cccc)[   3] (ofs = 0x22, size = 1)\n"
                  "    <dlst>[   4] (ofs = 0x2c, size = 16)\n"
                  "      (aaaa)[   5] (ofs = 0x38, size = 3)\n"
                  "    (eeee)[   6] (ofs = 0x44, size = 0)\n"),
        tree_case("NestedListChunk", {"-d", "4", "@FILE@"},
                  "    <dlst>[   4] (ofs = 0x2c, size = 16)\n"
                  "      (aaaa)[   5] (ofs = 0x38, size = 3)\n"),
        tree_case("EmptyListShowsOnlyItsLine", {"-d", "7", "@FILE@"},
                  "  <mpty>[   7] (ofs = 0x4c, size = 4)\n"),
        tree_case("ZeroChoosesTopLevel", {"-d", "0", "@FILE@"}, TREE_LISTING),
        tree_case("BeyondLastSelectsNothing", {"-d", "9", "@FILE@"}, ""),
        tree_case("MinusOneSelectsNothing", {"-d", "-1", "@FILE@"}, ""),
        tree_case("NegativeSelectsNothing", {"-d", "-7", "@FILE@"}, ""),
        tree_case("RawDataChunk", {"-r", "-d", "5", "@FILE@"}, "04 05 06 \n"),
        tree_case("RawAfterIndex", {"-d", "1", "--raw", "@FILE@"}, "01 02 \n"),
        tree_case("RawDoesNotChangeListChunk", {"-r", "-d", "4", "@FILE@"},
                  "    <dlst>[   4] (ofs = 0x2c, size = 16)\n"
                  "      (aaaa)[   5] (ofs = 0x38, size = 3)\n"),
        tree_case("LastDumpOptionCounts", {"-d", "1", "--dump=8", "@FILE@"},
                  tree_dump_last_aaaa("   8")),
        // CHUNK_INDEX is read as atoi reads it.
        tree_case("AtoiWhiteSpaceSignAndTrailingText", {"-d", "  +3x", "@FILE@"},
                  tree_dump_cccc("   3")),
        tree_case("AtoiTabsAndNewlines", {"-d", "\t\n 8", "@FILE@"}, tree_dump_last_aaaa("   8")),
        tree_case("AtoiStopsAtDecimalPoint", {"-d", "5.9", "@FILE@"}, tree_dump_deep_aaaa("   5")),
        tree_case("AtoiLeadingZeros", {"-d", "007", "@FILE@"},
                  "  <mpty>[   7] (ofs = 0x4c, size = 4)\n"),
        tree_case("AtoiEmptyIsZero", {"-d", "", "@FILE@"}, TREE_LISTING),
        tree_case("AtoiLettersAreZero", {"-d", "abc", "@FILE@"}, TREE_LISTING),
        tree_case("AtoiTwoSignsAreZero", {"-d", "+-1", "@FILE@"}, TREE_LISTING),
        tree_case("AtoiBlankAfterSignIsZero", {"-d", "- 1", "@FILE@"}, TREE_LISTING),
        tree_case("AtoiHexPrefixIsZero", {"-d", "0x5", "@FILE@"}, TREE_LISTING),
        tree_case("AtoiMinusZero", {"-d", " -0", "@FILE@"}, TREE_LISTING),
    };
}

// Values beyond the 32-bit range saturate at INT32_MIN or INT32_MAX rather
// than wrapping, and no chunk has those indices.
std::vector<Case> saturation_cases()
{
    std::vector<Case> cases;
    const std::pair<const char *, const char *> values[] = {
        {"TwoToThe32PlusOne", "4294967297"},     // would wrap to 1
        {"TwoToThe32", "4294967296"},            // would wrap to 0
        {"TwoToThe32PlusFive", "4294967301"},    // would wrap to 5
        {"MinusTwoToThe32PlusOne", "-4294967295"},  // would wrap to 1
        {"TwoToThe31", "2147483648"},
        {"MinusTwoToThe31MinusOne", "-2147483649"},
        {"Int32Max", "2147483647"},
        {"Int32Min", "-2147483648"},
        {"TwentyDigits", "99999999999999999999"},
    };
    for (const auto &[name, value] : values)
        cases.push_back(tree_case(name, {"-d", value, "@FILE@"}, ""));
    return cases;
}

class SelectIndexTest : public CaseTest {};

TEST_P(SelectIndexTest, MatchesExpectedOutput)
{
    run_case(GetParam(), dir);
}

INSTANTIATE_TEST_SUITE_P(Index, SelectIndexTest, ::testing::ValuesIn(index_cases()), CaseName());
INSTANTIATE_TEST_SUITE_P(OutOfRangeIndex, SelectIndexTest,
                         ::testing::ValuesIn(saturation_cases()), CaseName());

}  // namespace
}  // namespace chunklens_test
