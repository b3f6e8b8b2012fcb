// What the end-to-end tests share: a scratch directory per test, tables of
// command-line cases with their exact expected output, and a reference
// formatter for chunk dumps.
#pragma once

#include "process_runner.h"
#include "riff_builder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace chunklens_test {

// The usage text that follows every command-line error.
extern const char USAGE[];

// A fresh directory, removed with everything in it at the end of the test.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::string &path() const { return path_; }
    // Writes bytes to a file of this name in the directory; returns its path.
    std::string write(const std::string &name, const riff::Bytes &bytes) const;
    // Writes head at the start of the file and tail at tail_offset, with a
    // hole between them, so that a file of gigabytes takes no disk space.
    std::string write_with_hole(const std::string &name, const riff::Bytes &head,
                                std::uint64_t tail_offset, const riff::Bytes &tail) const;

private:
    std::string path_;
};

// One run of the tool and exactly what it must print and return. In args,
// out and err, "@FILE@" stands for the path of the case's input file, which
// is written from `file` into the test's scratch directory as "input.riff".
struct Case {
    std::string name;
    riff::Bytes file;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status = 0;
    RunOptions options = {};
};

// Prints only the name, so that gtest does not dump the file's bytes.
void PrintTo(const Case &c, std::ostream *os);

// Names parameterised tests after their cases.
struct CaseName {
    std::string operator()(const ::testing::TestParamInfo<Case> &info) const
    {
        return info.param.name;
    }
};

// Replaces every "@FILE@" in text with path.
std::string with_path(std::string text, const std::string &path);
// Replaces every from in text with to.
std::string replaced(std::string text, const std::string &from, const std::string &to);

// libinstpatch swaps the bytes of every size of a RIFX file, which reads
// them right only on a little-endian host. On a big-endian one (s390x) the
// sizes come out byte-swapped and the walk soon stops; the test
// RifxExample.ListsAsTheLibraryReadsItOnThisHost holds what the tool then
// prints. Elsewhere, what expects a RIFX file to be read right is skipped
// there, with this reason.
bool host_reads_rifx_right();
bool is_rifx(const riff::Bytes &file);
extern const char RIFX_ON_BIG_ENDIAN_HOST[];

// Writes the case's file, runs the tool and compares stdout, stderr and the
// exit status exactly. A case that names its file ("@FILE@") is run again
// with the same bytes arriving through a pipe, as in `cat FILE | chunklens
// /dev/stdin`: the output must be the same, with '/dev/stdin' for the name.
void run_case(const Case &c, const ScratchDir &dir);

// Exact comparison of texts up to megabytes long. gtest's own report of a
// difference compares every line with every other, which for a dump of
// megabytes takes more memory than the machine has; this one names the
// first byte that differs and shows the text around it.
::testing::AssertionResult same_text(const std::string &actual, const std::string &expected);

// Fixture for a table of cases.
class CaseTest : public ::testing::TestWithParam<Case> {
protected:
    ScratchDir dir;
};

// The error line of a walk that fails: the composed message, the library's
// detail and a newline.
std::string parse_error(const std::string &message, const std::string &detail);

// The text that chunklens must write for a chosen data chunk, built byte by
// byte from the dump format: the header and blank columns (formatted mode
// only), one item per byte of `data` with the row labels and group
// separators of the formatted mode, and the final newline when `complete`.
struct DumpLayout {
    std::string id;
    int index = 0;
    std::uint32_t header_offset = 0;
    std::uint32_t declared_size = 0;
    bool raw = false;
};
std::string reference_dump(const DumpLayout &layout, const riff::Bytes &data, bool complete = true);

// n bytes of a pattern that does not repeat with any period that divides
// the dump's block size, so a block written twice or out of order shows.
riff::Bytes scrambled_bytes(std::size_t n);

}  // namespace chunklens_test
