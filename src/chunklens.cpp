// chunklens: lists the chunk tree of a RIFF file and dumps chosen chunks.
// This file holds the driver: the command line, the set-up of the RIFF
// reader, the top-level chunk, and the way every run ends.

#include "chunklens.h"

#include "chunk_walk.h"

#include <libinstpatch/libinstpatch.h>

#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

RunState run_state;

namespace {

// A pipe is not enlarged beyond this: it then holds fourteen blocks of dump
// text, enough for the writer and its reader to run side by side, and a
// larger one would only pin more kernel memory.
constexpr long PIPE_SIZE_LIMIT = 1 << 20;
// Text shorter than this joins the listing lines in stdio's buffer; longer
// text is written to the descriptor in one call, which saves stdio's copy
// and its split of the text into a buffer's worth and the rest.
constexpr std::size_t DIRECT_WRITE_MIN = 8192;

const char *const SHORT_OPTIONS = "rd:t:";

const option LONG_OPTIONS[] = {
    {"dump", required_argument, nullptr, 'd'},
    {"dump-type", required_argument, nullptr, 't'},
    {"raw", no_argument, nullptr, 'r'},
    {nullptr, 0, nullptr, 0},
};

[[noreturn]] void exit_on_write_error(int error_number)
{
    std::fprintf(stderr, "chunklens: write error: %s\n", std::strerror(error_number));
    std::exit(1);
}

// Pending output goes out before any message, so that a reader of both
// streams together sees a failure after the lines printed before it.
void flush_output()
{
    if (std::fflush(stdout) != 0)
        exit_on_write_error(errno);
}

[[noreturn]] __attribute__((format(printf, 1, 2))) void fail(const char *format, ...)
{
    flush_output();
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::exit(1);
}

[[noreturn]] void succeed()
{
    flush_output();
    std::exit(0);
}

void print_usage()
{
    std::fputs("Usage: chunklens [OPTION]... FILE\n", stderr);
    std::fputs("  -d, --dump=CHUNK_INDEX       Dump a chunk by index\n", stderr);
    std::fputs("  -t, --dump-type='CHNK'       Dump a chunk by RIFF FOURCC ID\n", stderr);
    std::fputs("  -r, --raw                    Do raw dump rather than formatted hex dump\n\n",
               stderr);
    std::fputs("CHUNK_INDEX - The chunk index (number in brackets [])\n", stderr);
}

[[noreturn]] void exit_with_usage()
{
    print_usage();
    std::exit(1);
}

// Returns FILE, the first operand; ends the run on any command-line error.
const char *parse_command_line(int argc, char **argv)
{
    int option_letter;
    while ((option_letter = getopt_long(argc, argv, SHORT_OPTIONS, LONG_OPTIONS, nullptr)) != -1) {
        switch (option_letter) {
        case 'd':
            run_state.select_index = parse_chunk_index(optarg);
            run_state.listing_on = 0;
            break;
        case 't':
            run_state.select_type = g_strndup(optarg, 4);
            run_state.listing_on = 0;
            break;
        case 'r':
            run_state.raw_output = 1;
            break;
        default:  // getopt_long has already said what is wrong
            exit_with_usage();
        }
    }
    if (optind >= argc)
        exit_with_usage();
    return argv[optind];
}

const char *error_text(const GError *error)
{
    return error ? error->message : "<no details>";
}

// The reader seeks past every chunk it does not read, which a pipe cannot
// do, and opening a FIFO that no one writes to would wait forever; both are
// refused before the open. Anything stat cannot see is left to the open,
// which says why.
bool names_unseekable_file(const char *file_name)
{
    struct stat status;
    return ::stat(file_name, &status) == 0 &&
           (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode));
}

bool is_top_level_chunk_chosen(const IpatchRiffChunk *top_level_chunk)
{
    if (run_state.select_index == 0)
        return true;
    return run_state.select_type != nullptr &&
           std::strncmp(run_state.select_type, top_level_chunk->idstr, 4) == 0;
}

}  // namespace

std::int32_t parse_chunk_index(const char *text)
{
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    // Accumulate towards the sign's end of the range and stop there.
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
    std::int64_t magnitude = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
        magnitude = magnitude * 10 + (*text - '0');
        if (magnitude >= limit) {
            magnitude = limit;
            break;
        }
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

namespace {

// The largest pipe an unprivileged process may make; 0 when unknown.
long pipe_max_size()
{
    long size = 0;
    if (std::FILE *limit = std::fopen("/proc/sys/fs/pipe-max-size", "re")) {
        if (std::fscanf(limit, "%ld", &size) != 1)
            size = 0;
        std::fclose(limit);
    }
    return size;
}

// A block of dump text is larger than the default pipe of 64 KiB, so with
// it every write would wait for the reader. The system may refuse a size
// (a user over the limit of pipe memory): then smaller ones are tried, and
// the pipe stays as it is when none is granted.
void enlarge_pipe(int descriptor)
{
#ifdef F_SETPIPE_SZ
    const long current = ::fcntl(descriptor, F_GETPIPE_SZ);
    if (current < 0)
        return;
    const long largest = pipe_max_size();
    for (long size = std::min(largest > 0 ? largest : PIPE_SIZE_LIMIT, PIPE_SIZE_LIMIT);
         size > current; size /= 2) {
        if (::fcntl(descriptor, F_SETPIPE_SZ, static_cast<int>(size)) >= 0)
            return;
    }
#else
    (void)descriptor;
#endif
}

// A descriptor that another program left non-blocking refuses a write when
// it is full instead of waiting; wait here for room, as a blocking one would.
void wait_until_writable(int descriptor)
{
    pollfd watched = {descriptor, POLLOUT, 0};
    while (::poll(&watched, 1, -1) < 0 && errno == EINTR) {
    }
}

void write_all(int descriptor, const char *text, std::size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(descriptor, text, length);
        if (written > 0) {
            text += written;
            length -= static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            wait_until_writable(descriptor);
        } else {
            exit_on_write_error(written < 0 ? errno : EIO);
        }
    }
}

// Looks at what standard output is and prepares it for a dump; gives the
// batch size that suits it.
std::size_t prepare_output()
{
    struct stat status;
    // A descriptor that cannot be looked at gets the plain path; its first
    // write says what is wrong with it.
    if (::fstat(STDOUT_FILENO, &status) != 0)
        return 0;
    if (S_ISFIFO(status.st_mode))
        enlarge_pipe(STDOUT_FILENO);
    else if (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode) ||
             (S_ISCHR(status.st_mode) && !::isatty(STDOUT_FILENO)))
        return FILE_OUTPUT_BATCH_SIZE;
    return 0;
}

}  // namespace

std::size_t output_batch_size()
{
    // Prepared at the first dump only: a listing writes little, and a pipe
    // enlarged for it would pin kernel memory for nothing.
    static const std::size_t batch_size = prepare_output();
    return batch_size;
}

void write_output(const char *text, std::size_t length)
{
    if (length < DIRECT_WRITE_MIN) {
        if (std::fwrite(text, 1, length, stdout) != length)
            exit_on_write_error(errno);
        return;
    }
    // What stdio holds was printed first, so it goes first.
    flush_output();
    write_all(STDOUT_FILENO, text, length);
}

void print_output(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vprintf(format, arguments);
    const int saved_errno = errno;
    va_end(arguments);
    if (written < 0)
        exit_on_write_error(saved_errno);
}

int main(int argc, char **argv)
{
    const char *file_name = parse_command_line(argc, argv);

    // The error slot, the file, the reader and the message text live until
    // the process ends; nothing here is released before exit.
    GError *error = nullptr;
    if (names_unseekable_file(file_name))
        fail("Failed to open file '%s': Not a seekable file (a pipe or socket)\n", file_name);
    ipatch_init();
    IpatchFile *file = ipatch_file_new();
    IpatchFileHandle *handle = ipatch_file_open(file, file_name, "r", &error);
    if (handle == nullptr)
        fail("Failed to open file '%s': %s\n", file_name, error_text(error));

    IpatchRiff *reader = ipatch_riff_new(handle);
    IpatchRiffChunk *top_level_chunk = ipatch_riff_start_read(reader, &error);
    if (top_level_chunk == nullptr)
        header_cut_short(reader, 0, &error);  // a truer message when bytes were missing
    if (top_level_chunk == nullptr || !check_chunk_header(reader, top_level_chunk, 0, &error))
        fail("Failed to start RIFF parse of file '%s': %s\n", file_name, error_text(error));

    if (is_top_level_chunk_chosen(top_level_chunk)) {
        run_state.listing_on = 1;
        show_chunk_line(reader, run_state.indent_prefix);
    } else if (run_state.listing_on) {
        show_chunk_line(reader, run_state.indent_prefix);
    }
    run_state.chunk_counter++;
    std::strcpy(run_state.indent_prefix, "  ");

    if (!walk_children(reader, run_state.indent_prefix, &error)) {
        const char *message = ipatch_riff_message_detail(
            reader, -1, "Error while parsing RIFF file '%s': %s", file_name, error_text(error));
        fail("%s\n", message);
    }
    succeed();
}
