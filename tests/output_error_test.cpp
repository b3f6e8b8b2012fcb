// Standard output that cannot be written, and the order of the two streams
// when they go to the same file: stdout is flushed before any message.

#include "fixtures.h"
#include "test_support.h"

#include <csignal>

namespace chunklens_test {
namespace {

using riff::Bytes;
using riff::data_chunk;
using riff::riff_file;
using riff::serialize;
using riff::with_declared_size;

const RunOptions TO_DEV_FULL = {.stdout_mode = StdoutMode::DevFull};
const RunOptions STDOUT_CLOSED = {.stdout_mode = StdoutMode::Closed};
const RunOptions SHARED = {.stdout_mode = StdoutMode::SharedWithStderr};
const RunOptions HEAD_ONE = {.stdout_mode = StdoutMode::PipeClosedAfterFirstLine};

const char NO_SPACE[] = "chunklens: write error: No space left on device\n";
const char BAD_FD[] = "chunklens: write error: Bad file descriptor\n";

// A dump long enough to fill any stdio buffer before the run ends.
Bytes long_data_file()
{
    return serialize(riff_file("WAVE", {data_chunk("data", scrambled_bytes(40000))}));
}

// "data" declares 40 bytes and has 6, at offset 20.
Bytes truncated_data_file()
{
    return serialize(with_declared_size(
        riff_file("WAVE", {with_declared_size(data_chunk("data", {1, 2, 3, 4, 5, 6}), 40)}), 52));
}

Bytes child_exceeds_parent()
{
    return serialize(riff_file(
        "WAVE", {data_chunk("fmt ", {1, 2, 3, 4}),
                 with_declared_size(data_chunk("data", {1, 2, 3, 4, 5, 6}), 40)}));
}

std::vector<Case> unwritable_cases()
{
    return {
        {"ListingToDevFull", tree_file(), {"@FILE@"}, "", NO_SPACE, 1, TO_DEV_FULL},
        {"LongDumpToDevFull", long_data_file(), {"-d", "1", "@FILE@"}, "", NO_SPACE, 1, TO_DEV_FULL},
        {"LongRawDumpToDevFull", long_data_file(), {"-r", "-t", "data", "@FILE@"}, "", NO_SPACE, 1,
         TO_DEV_FULL},
        {"ListingToClosedStdout", tree_file(), {"@FILE@"}, "", BAD_FD, 1, STDOUT_CLOSED},
        {"LongDumpToClosedStdout", long_data_file(), {"-d", "1", "@FILE@"}, "", BAD_FD, 1,
         STDOUT_CLOSED},
        // The write error is what is reported, not the damage behind it.
        {"ParseErrorAfterListingToDevFull", child_exceeds_parent(), {"@FILE@"}, "", NO_SPACE, 1,
         TO_DEV_FULL},
        {"LongRawDumpToClosedStdout", long_data_file(), {"-r", "-d", "1", "@FILE@"}, "", BAD_FD, 1,
         STDOUT_CLOSED},
        // Runs that write nothing to stdout are not affected.
        {"NothingWrittenToDevFull", tree_file(), {"-d", "99", "@FILE@"}, "", "", 0, TO_DEV_FULL},
        {"UsageErrorWithClosedStdout", tree_file(), {"-x", "@FILE@"}, "",
         std::string("chunklens: invalid option -- 'x'\n") + USAGE, 1, STDOUT_CLOSED},
        {"MissingFileWithStdoutToDevFull", tree_file(), {"no-such.riff"}, "",
         "Failed to open file 'no-such.riff': No such file or directory\n", 1, TO_DEV_FULL},
    };
}

// Both streams in one file: what was written to stdout comes before the
// message, even where stdout is a fully buffered file.
std::vector<Case> shared_file_cases()
{
    return {
        {"ListingThenParseError", child_exceeds_parent(), {"@FILE@"},
         "<WAVE>[   0] (ofs = 0x0, size = 30)\n"
         "  (fmt )[   1] (ofs = 0xc, size = 4)\n"
         "Error while parsing RIFF file '@FILE@': Child chunk 'data' (size = 40, level = 1) "
         "exceeds parent chunk 'WAVE' (size = 30, level = 0) (ofs=18, traceback ['WAVE' ofs=0x0, "
         "size=30])\n",
         "", 1, SHARED},
        {"DumpHeaderThenReadError", truncated_data_file(), {"-d", "1", "@FILE@"},
         "Dump chunk: (data)[   1] (ofs = 0xc, size = 40)\n00000016" + blanks(14) +
             "Error while parsing RIFF file '@FILE@': Unexpected end of file (ofs=12, traceback "
             "['data' ofs=0xC, size=40 <= 'WAVE' ofs=0x0, size=52])\n",
         "", 1, SHARED},
        {"ListingWithoutError", tree_file(), {"@FILE@"}, TREE_LISTING, "", 0, SHARED},
        {"UsageErrorHasNoStdout", tree_file(), {"--d", "1", "@FILE@"},
         std::string("chunklens: option '--d' is ambiguous; possibilities: '--dump' "
                     "'--dump-type'\n") + USAGE,
         "", 1, SHARED},
    };
}

// chunklens enlarges a pipe on its standard output up to 1 MiB when it
// dumps, so output that is to meet a reader who left must be longer than
// that: with less, the whole run may fit in the pipe before the reader
// closes it, and the run then ends with status 0, as any filter's would.

// 60000 empty chunks: a listing of about 2.5 MB.
Bytes many_chunks_file()
{
    return serialize(riff_file("WIDE", std::vector<riff::Chunk>(60000, data_chunk("zero", {}))));
}

// 400000 bytes of data: a dump of about 1.7 MB of text.
Bytes pipe_filling_data_file()
{
    return serialize(riff_file("WAVE", {data_chunk("data", scrambled_bytes(400000))}));
}

// `chunklens FILE | head -1`: the reader leaves after one line, and the
// tool ends at its next write through SIGPIPE, without a word, as any
// filter does.
std::vector<Case> early_reader_cases()
{
    return {
        {"ListingToHeadOne", many_chunks_file(), {"@FILE@"},
         "<WIDE>[   0] (ofs = 0x0, size = 480004)\n", "", -SIGPIPE, HEAD_ONE},
        {"DumpToHeadOne", pipe_filling_data_file(), {"-d", "1", "@FILE@"},
         "Dump chunk: (data)[   1] (ofs = 0xc, size = 400000)\n", "", -SIGPIPE, HEAD_ONE},
    };
}

class OutputErrorTest : public CaseTest {};

TEST_P(OutputErrorTest, MatchesExpectedOutput)
{
    run_case(GetParam(), dir);
}

INSTANTIATE_TEST_SUITE_P(UnwritableStdout, OutputErrorTest,
                         ::testing::ValuesIn(unwritable_cases()), CaseName());
INSTANTIATE_TEST_SUITE_P(EarlyReader, OutputErrorTest, ::testing::ValuesIn(early_reader_cases()),
                         CaseName());
INSTANTIATE_TEST_SUITE_P(SharedFile, OutputErrorTest, ::testing::ValuesIn(shared_file_cases()),
                         CaseName());

}  // namespace
}  // namespace chunklens_test
