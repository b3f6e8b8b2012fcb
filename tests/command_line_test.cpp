// The command line: options, their values and abbreviations, operands, and
// the errors that end the run with the parser's diagnostic and the usage.

#include "fixtures.h"
#include "test_support.h"
#include "tree_dumps.h"

namespace chunklens_test {
namespace {

// A command-line error: nothing on stdout, the parser's diagnostic (if any)
// and the usage text on stderr, status 1.
Case usage_error(std::string name, std::vector<std::string> args, std::string diagnostic = "")
{
    return {std::move(name), tree_file(), std::move(args), "", diagnostic + USAGE, 1};
}

Case tree_case(std::string name, std::vector<std::string> args, std::string out,
               RunOptions options = {})
{
    return {std::move(name), tree_file(), std::move(args), std::move(out), "", 0, options};
}

std::vector<Case> error_cases()
{
    return {
        usage_error("NoArguments", {}),
        usage_error("RawWithoutFile", {"--raw"}),
        usage_error("DumpWithoutFile", {"-d", "3"}),
        usage_error("DumpTypeWithoutFile", {"--dump-type=aaaa"}),
        // The option takes the would-be FILE as its value.
        usage_error("FileTakenAsDumpValue", {"--dump", "@FILE@"}),
        usage_error("HelpIsUnknown", {"--help", "@FILE@"},
                    "chunklens: unrecognized option '--help'\n"),
        usage_error("UnknownLongOption", {"@FILE@", "--rawx"},
                    "chunklens: unrecognized option '--rawx'\n"),
        usage_error("UnknownShortOption", {"-h", "@FILE@"}, "chunklens: invalid option -- 'h'\n"),
        usage_error("UnknownShortOptionInGroup", {"-rx", "@FILE@"},
                    "chunklens: invalid option -- 'x'\n"),
        // Nothing is opened: a missing FILE draws no message of its own.
        usage_error("NothingOpenedOnError", {"-q", "no-such-file"},
                    "chunklens: invalid option -- 'q'\n"),
        usage_error("DumpMissingValue", {"@FILE@", "--dump"},
                    "chunklens: option '--dump' requires an argument\n"),
        usage_error("DumpTypeMissingValue", {"@FILE@", "--dump-type"},
                    "chunklens: option '--dump-type' requires an argument\n"),
        usage_error("ShortDumpMissingValue", {"@FILE@", "-d"},
                    "chunklens: option requires an argument -- 'd'\n"),
        usage_error("ShortDumpTypeMissingValue", {"@FILE@", "-t"},
                    "chunklens: option requires an argument -- 't'\n"),
        usage_error("RawWithValue", {"--raw=x", "@FILE@"},
                    "chunklens: option '--raw' doesn't allow an argument\n"),
        usage_error("AbbreviatedRawWithValue", {"--r=1", "@FILE@"},
                    "chunklens: option '--raw' doesn't allow an argument\n"),
        usage_error("AmbiguousD", {"--d", "1", "@FILE@"},
                    "chunklens: option '--d' is ambiguous; possibilities: '--dump' '--dump-type'\n"),
        usage_error("AmbiguousDu", {"--du=1", "@FILE@"},
                    "chunklens: option '--du=1' is ambiguous; possibilities: '--dump' '--dump-type'\n"),
        usage_error("AmbiguousDum", {"--dum", "1", "@FILE@"},
                    "chunklens: option '--dum' is ambiguous; possibilities: '--dump' '--dump-type'\n"),
    };
}

std::vector<Case> accepted_cases()
{
    return {
        tree_case("LongValueWithEquals", {"--dump=5", "@FILE@"}, tree_dump_deep_aaaa("   5")),
        tree_case("LongValueAsNextArgument", {"--dump", "5", "@FILE@"}, tree_dump_deep_aaaa("   5")),
        tree_case("ShortValueAttached", {"-d5", "@FILE@"}, tree_dump_deep_aaaa("   5")),
        tree_case("ShortTypeValueAttached", {"-tcccc", "@FILE@"}, tree_dump_cccc("   3")),
        tree_case("ExactNameBeatsLongerRow", {"--dump", "3", "@FILE@"}, tree_dump_cccc("   3")),
        tree_case("AbbreviatedDumpHyphen", {"--dump-", "cccc", "@FILE@"}, tree_dump_cccc("   3")),
        tree_case("AbbreviatedDumpT", {"--dump-t=cccc", "@FILE@"}, tree_dump_cccc("   3")),
        tree_case("AbbreviatedDumpTyp", {"--dump-typ", "cccc", "@FILE@"}, tree_dump_cccc("   3")),
        tree_case("AbbreviatedR", {"--r", "-d", "5", "@FILE@"}, "04 05 06 \n"),
        tree_case("AbbreviatedRa", {"--ra", "-d", "5", "@FILE@"}, "04 05 06 \n"),
        tree_case("GroupedShortOptions", {"-rd5", "@FILE@"}, "04 05 06 \n"),
        tree_case("GroupedShortOptionsTypeLast", {"-rtaaaa", "@FILE@"}, "01 02 \n04 05 06 \n07 \n"),
        // -r is the value of -d here, atoi makes it 0: the full listing.
        tree_case("ValueThatLooksLikeAnOption", {"-d", "-r", "@FILE@"}, TREE_LISTING),
        tree_case("EmptyValueAfterEquals", {"--dump=", "@FILE@"}, TREE_LISTING),
        tree_case("DoubleHyphenEndsOptions", {"-r", "--", "@FILE@"}, TREE_LISTING),
        tree_case("OperandFirst", {"@FILE@", "-d", "5"}, tree_dump_deep_aaaa("   5")),
        tree_case("OperandBetweenOptions", {"-r", "@FILE@", "-d", "5"}, "04 05 06 \n"),
        tree_case("OperandLast", {"-r", "-d", "5", "@FILE@"}, "04 05 06 \n"),
        tree_case("SecondOperandIgnored", {"@FILE@", "no-such-file"}, TREE_LISTING),
        tree_case("SecondOperandBetweenOptionsIgnored", {"-d", "1", "@FILE@", "no-such-file", "-r"},
                  "01 02 \n"),
        // With POSIXLY_CORRECT the first operand ends the options.
        tree_case("PosixlyCorrectTrailingOptionIsOperand", {"@FILE@", "-d", "5"}, TREE_LISTING,
                  {.posixly_correct = "1"}),
        tree_case("PosixlyCorrectTrailingUnknownOptionIsOperand", {"@FILE@", "--bogus"},
                  TREE_LISTING, {.posixly_correct = "1"}),
        tree_case("PosixlyCorrectLeadingOptionsStillCount", {"-r", "-d", "5", "@FILE@", "-d", "1"},
                  "04 05 06 \n", {.posixly_correct = ""}),
    };
}

std::vector<Case> operand_cases()
{
    return {
        // After "--" even "-r" is FILE.
        {"DoubleHyphenMakesOptionLikeTextTheFile", tree_file(), {"-d", "1", "--", "-r", "@FILE@"},
         "", "Failed to open file '-r': No such file or directory\n", 1},
        {"LoneHyphenIsAnOperand", tree_file(), {"-", "@FILE@"}, "",
         "Failed to open file '-': No such file or directory\n", 1},
        {"PosixlyCorrectFirstOperandIsFile", tree_file(), {"no-such-file", "@FILE@"}, "",
         "Failed to open file 'no-such-file': No such file or directory\n", 1,
         {.posixly_correct = "1"}},
    };
}

class CommandLineTest : public CaseTest {};

TEST_P(CommandLineTest, MatchesExpectedOutput)
{
    run_case(GetParam(), dir);
}

INSTANTIATE_TEST_SUITE_P(Errors, CommandLineTest, ::testing::ValuesIn(error_cases()), CaseName());
INSTANTIATE_TEST_SUITE_P(Accepted, CommandLineTest, ::testing::ValuesIn(accepted_cases()),
                         CaseName());
INSTANTIATE_TEST_SUITE_P(Operands, CommandLineTest, ::testing::ValuesIn(operand_cases()),
                         CaseName());

}  // namespace
}  // namespace chunklens_test
