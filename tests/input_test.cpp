// The file layer under the RIFF reader, driven through the library's file
// object as the reader drives it: reads of every size across the window's
// edges, forward seeks, seeks past the end, and the same bytes from a file
// and from a pipe.

#include "input.h"
#include "test_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

namespace chunklens_test {
namespace {

using riff::Bytes;

// What a read through the library's file object gave back.
struct ReadResult {
    GIOStatus status;
    Bytes bytes;
    std::string error;
};

class OpenInput {
public:
    explicit OpenInput(const std::string &name)
    {
        ipatch_init();
        file_ = ipatch_file_new();
        use_input_layer(file_);
        handle_ = ipatch_file_open(file_, name.c_str(), "r", &error_);
    }
    ~OpenInput()
    {
        if (handle_ != nullptr)
            ipatch_file_close(handle_);
        g_clear_error(&error_);
        g_object_unref(file_);
    }
    OpenInput(const OpenInput &) = delete;
    OpenInput &operator=(const OpenInput &) = delete;

    IpatchFileHandle *handle() const { return handle_; }
    std::string open_error() const { return error_ ? error_->message : ""; }

    ReadResult read(std::size_t size)
    {
        Bytes buffer(size);
        guint count = 0;
        GError *error = nullptr;
        const GIOStatus status =
            ipatch_file_read_eof(handle_, buffer.data(), static_cast<guint>(size), &count, &error);
        buffer.resize(count);
        ReadResult result{status, buffer, error ? error->message : ""};
        g_clear_error(&error);
        return result;
    }

    // A relative seek as the reader makes it; the error text, empty on success.
    std::string skip(int offset)
    {
        GError *error = nullptr;
        const bool done = ipatch_file_seek(handle_, offset, G_SEEK_CUR, &error);
        std::string text = done ? "" : (error ? error->message : "<no details>");
        g_clear_error(&error);
        return text;
    }

private:
    IpatchFile *file_ = nullptr;
    IpatchFileHandle *handle_ = nullptr;
    GError *error_ = nullptr;
};

Bytes slice(const Bytes &bytes, std::size_t start, std::size_t length)
{
    start = std::min(start, bytes.size());
    length = std::min(length, bytes.size() - start);
    return Bytes(bytes.begin() + static_cast<long>(start),
                 bytes.begin() + static_cast<long>(start + length));
}

// A pipe whose writer sends the bytes in pieces of `piece` bytes and then
// closes it; the reader's end is named through /dev/fd.
class PipeInput {
public:
    PipeInput(Bytes bytes, std::size_t piece)
    {
        std::signal(SIGPIPE, SIG_IGN);
        int ends[2];
        if (::pipe(ends) != 0)
            throw std::runtime_error("pipe failed");
        read_end_ = ends[0];
        writer_ = std::thread([fd = ends[1], bytes = std::move(bytes), piece] {
            for (std::size_t at = 0; at < bytes.size(); at += piece) {
                const std::size_t length = std::min(piece, bytes.size() - at);
                if (::write(fd, bytes.data() + at, length) != static_cast<ssize_t>(length))
                    break;  // the reader has gone
            }
            ::close(fd);
        });
    }
    ~PipeInput()
    {
        ::close(read_end_);
        writer_.join();
    }
    PipeInput(const PipeInput &) = delete;
    PipeInput &operator=(const PipeInput &) = delete;

    std::string name() const { return "/dev/fd/" + std::to_string(read_end_); }

private:
    int read_end_ = -1;
    std::thread writer_;
};

// Steps of the reader: a read of n bytes (n > 0) or a forward seek (-n).
struct Walk {
    std::string name;
    std::vector<long> steps;
};

void PrintTo(const Walk &walk, std::ostream *os)
{
    *os << walk.name;
}

// Lengths around the 128 KiB window and the dump's blocks, so that reads
// start and end on either side of the window's edges.
constexpr std::size_t WINDOW = 128 * 1024;

std::vector<Walk> walks()
{
    return {
        {"HeadersAndSkips", {8, 4, 8, -16, 8, -100000, 8, -(long)WINDOW, 8, 12}},
        {"ReadsAcrossTheWindowEdge", {(long)WINDOW - 3, 8, 8, (long)WINDOW + 5, 1}},
        {"BlocksLargerThanTheWindow", {16384, (long)WINDOW * 2 + 7, 16384, 3}},
        {"SkipToTheWindowEdgeThenRead", {5, -(long)WINDOW + 5, 16, -1, 1}},
        {"PastTheEnd", {100, -(long)(4 * WINDOW), 8, 8}},
    };
}

class InputWalkTest : public ::testing::TestWithParam<Walk> {};

// The file and the pipe must give the reader exactly the bytes at its
// position, and the same counts at the end, whatever the pieces the pipe's
// writer sends.
TEST_P(InputWalkTest, FileAndPipeGiveTheBytesAtThePosition)
{
    const Bytes bytes = scrambled_bytes(3 * WINDOW + 1000);
    ScratchDir dir;
    const std::string path = dir.write("input.bin", bytes);
    for (const std::size_t piece : {std::size_t{0}, std::size_t{1000}, std::size_t{65536}, bytes.size()}) {
        std::unique_ptr<PipeInput> pipe;
        if (piece != 0)
            pipe = std::make_unique<PipeInput>(bytes, piece);
        SCOPED_TRACE(piece == 0 ? "file" : "pipe, pieces of " + std::to_string(piece));
        OpenInput input(pipe ? pipe->name() : path);
        ASSERT_NE(input.handle(), nullptr) << input.open_error();
        EXPECT_EQ(input_is_stream(input.handle()), pipe != nullptr);
        std::size_t position = 0;
        for (const long step : GetParam().steps) {
            if (step < 0) {
                EXPECT_EQ(input.skip(static_cast<int>(-step)), "");
                position += static_cast<std::size_t>(-step);
                continue;
            }
            const ReadResult result = input.read(static_cast<std::size_t>(step));
            const Bytes expected = slice(bytes, position, static_cast<std::size_t>(step));
            EXPECT_EQ(result.bytes, expected) << "read of " << step << " at " << position;
            EXPECT_EQ(result.status, expected.empty() ? G_IO_STATUS_EOF : G_IO_STATUS_NORMAL);
            position += result.bytes.size();
            EXPECT_EQ(ipatch_file_get_position(input.handle()), position);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, InputWalkTest, ::testing::ValuesIn(walks()),
                         [](const auto &info) { return info.param.name; });

// The reader never goes back; should it ever, a stream says so instead of
// giving it bytes from the wrong place, while a file simply goes back.
TEST(InputSeek, BackwardFailsOnAStreamOnly)
{
    const Bytes bytes = scrambled_bytes(1000);
    ScratchDir dir;
    OpenInput file(dir.write("input.bin", bytes));
    ASSERT_NE(file.handle(), nullptr);
    EXPECT_EQ(file.read(100).bytes, slice(bytes, 0, 100));
    EXPECT_EQ(file.skip(-50), "");
    EXPECT_EQ(file.read(10).bytes, slice(bytes, 50, 10));

    PipeInput pipe(bytes, 7);
    OpenInput stream(pipe.name());
    ASSERT_NE(stream.handle(), nullptr);
    EXPECT_EQ(stream.read(100).bytes, slice(bytes, 0, 100));
    EXPECT_EQ(stream.skip(-50), "Cannot seek backward in a stream (a pipe, FIFO or socket)");
}

// Read with pread, not mapped: bytes that another program cuts off while
// they are read are missing, never a SIGBUS.
TEST(InputFile, CutShortWhileOpen)
{
    const Bytes bytes = scrambled_bytes(4 * WINDOW);
    ScratchDir dir;
    const std::string path = dir.write("input.bin", bytes);
    OpenInput input(path);
    ASSERT_NE(input.handle(), nullptr);
    EXPECT_EQ(input.read(10).bytes, slice(bytes, 0, 10));
    ASSERT_EQ(::truncate(path.c_str(), 2 * WINDOW + 3), 0);
    EXPECT_EQ(input.skip(static_cast<int>(2 * WINDOW - 10)), "");
    const ReadResult rest = input.read(16384);
    EXPECT_EQ(rest.bytes, slice(bytes, 2 * WINDOW, 3));
    EXPECT_EQ(input.read(8).status, G_IO_STATUS_EOF);
}

TEST(InputOpen, ErrorsCarryTheSystemsText)
{
    ScratchDir dir;
    EXPECT_EQ(OpenInput(dir.path() + "/missing").open_error(), "No such file or directory");
    EXPECT_EQ(OpenInput("/dev/stdin/x").open_error(), "Not a directory");
}

}  // namespace
}  // namespace chunklens_test
