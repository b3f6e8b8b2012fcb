// Files that cannot be opened, that are not RIFF, or that fail inside the
// chunk tree: what was listed stays, the message goes to stderr, status 1.

#include "fixtures.h"
#include "test_support.h"

namespace chunklens_test {
namespace {

using riff::Bytes;
using riff::data_chunk;
using riff::list_chunk;
using riff::riff_file;
using riff::serialize;
using riff::with_declared_size;

Bytes text_file()
{
    const std::string text = "hello, world\n";
    return Bytes(text.begin(), text.end());
}

// "data" declares 40 bytes, but the top-level chunk's real size leaves room
// for 6.
Bytes child_exceeds_parent()
{
    return serialize(riff_file(
        "WAVE", {data_chunk("fmt ", {1, 2, 3, 4}),
                 with_declared_size(data_chunk("data", {1, 2, 3, 4, 5, 6}), 40)}));
}

// The same inside a list: "ISFT" declares more than INFO holds.
Bytes child_exceeds_list()
{
    return serialize(riff_file(
        "WAVE", {data_chunk("fmt ", {1, 2}),
                 list_chunk("INFO", {data_chunk("INAM", {'a', 0}),
                                     with_declared_size(data_chunk("ISFT", {'b', 0}), 10)}),
                 data_chunk("data", {7})}));
}

// A chunk ID holding a zero byte, which the reader refuses.
Bytes zero_byte_in_id()
{
    return serialize(riff_file("WAVE", {data_chunk("fmt ", {1, 2}),
                                        data_chunk(std::string("ab\0d", 4), {3, 4})}));
}

const char EXCEEDS_PARENT[] =
    "Child chunk 'data' (size = 40, level = 1) exceeds parent chunk 'WAVE' (size = 30, level = 0)";

std::vector<Case> file_error_cases()
{
    return {
        {"MissingFile", {}, {"no-such.riff"}, "",
         "Failed to open file 'no-such.riff': No such file or directory\n", 1},
        {"MissingFilePathShownUnchanged", {}, {"./missing/../no-such.riff"}, "",
         "Failed to open file './missing/../no-such.riff': No such file or directory\n", 1},
        {"MissingFileWithSelection", {}, {"-d", "3", "no-such.riff"}, "",
         "Failed to open file 'no-such.riff': No such file or directory\n", 1},
        {"NotRiff", text_file(), {"@FILE@"}, "",
         "Failed to start RIFF parse of file '@FILE@': Not a RIFF file\n", 1},
        {"EmptyFile", {}, {"@FILE@"}, "",
         "Failed to start RIFF parse of file '@FILE@': Unexpected end of file\n", 1},
        {"ChildExceedsParentAfterListedLines", child_exceeds_parent(), {"@FILE@"},
         "<WAVE>[   0] (ofs = 0x0, size = 30)\n"
         "  (fmt )[   1] (ofs = 0xc, size = 4)\n",
         parse_error(EXCEEDS_PARENT, " (ofs=18, traceback ['WAVE' ofs=0x0, size=30])"), 1},
        {"ChildExceedsParentBeforeChosenIndex", child_exceeds_parent(), {"-d", "2", "@FILE@"}, "",
         parse_error(EXCEEDS_PARENT, " (ofs=18, traceback ['WAVE' ofs=0x0, size=30])"), 1},
        {"ChildExceedsListInsideTree", child_exceeds_list(), {"@FILE@"},
         "<WAVE>[   0] (ofs = 0x0, size = 56)\n"
         "  (fmt )[   1] (ofs = 0xc, size = 2)\n"
         "  <INFO>[   2] (ofs = 0x16, size = 24)\n"
         "    (INAM)[   3] (ofs = 0x22, size = 2)\n",
         parse_error("Child chunk 'ISFT' (size = 10, level = 2) exceeds parent chunk 'INFO' "
                     "(size = 24, level = 1)",
                     " (ofs=2c, traceback ['INFO' ofs=0x16, size=24 <= 'WAVE' ofs=0x0, size=56])"),
         1},
        {"InvalidChunkId", zero_byte_in_id(), {"@FILE@"},
         "<WAVE>[   0] (ofs = 0x0, size = 24)\n"
         "  (fmt )[   1] (ofs = 0xc, size = 2)\n",
         parse_error("Invalid RIFF chunk id", " (ofs=16, traceback ['WAVE' ofs=0x0, size=24])"), 1},
    };
}

class FileErrorTest : public CaseTest {};

TEST_P(FileErrorTest, MatchesExpectedOutput)
{
    run_case(GetParam(), dir);
}

INSTANTIATE_TEST_SUITE_P(Files, FileErrorTest, ::testing::ValuesIn(file_error_cases()),
                         CaseName());

}  // namespace
}  // namespace chunklens_test
