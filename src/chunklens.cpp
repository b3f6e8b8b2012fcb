// chunklens: lists the chunk tree of a RIFF file and dumps chosen chunks.
// This file holds the driver: the command line, the set-up of the RIFF
// reader, the top-level chunk, and the way every run ends.

#include "chunklens.h"

#include "chunk_walk.h"
#include "confinement.h"
#include "input.h"
#include "output.h"
#include "pipes.h"

#include <libinstpatch/libinstpatch.h>

#include <getopt.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

RunState run_state;
RunObjects run_objects;

namespace {

const char *const SHORT_OPTIONS = "rd:t:";

const option LONG_OPTIONS[] = {
    {"dump", required_argument, nullptr, 'd'},
    {"dump-type", required_argument, nullptr, 't'},
    {"raw", no_argument, nullptr, 'r'},
    {nullptr, 0, nullptr, 0},
};

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

int main(int argc, char **argv)
{
    const char *file_name = parse_command_line(argc, argv);

    // Everything made here stays in run_objects until the process ends.
    RunObjects &kept = run_objects;
    ipatch_init();
    kept.file = ipatch_file_new();
    use_input_layer(kept.file, flush_output);
    kept.handle = ipatch_file_open(kept.file, file_name, "r", &kept.error);
    if (kept.handle == nullptr)
        fail("Failed to open file '%s': %s\n", file_name, error_text(kept.error));
    prepare_listing_output(input_is_stream(kept.handle));
    // Nothing is read from the file system after this: FILE is open, and
    // the pipe size limit is known for when the first dump enlarges the
    // output pipe. The bytes of FILE are read only once the process has
    // given up everything else.
    read_pipe_size_limit();
    confine_process();

    kept.reader = ipatch_riff_new(kept.handle);
    IpatchRiffChunk *top_level_chunk = ipatch_riff_start_read(kept.reader, &kept.error);
    if (top_level_chunk == nullptr)
        header_cut_short(kept.reader, 0, &kept.error);  // a truer message when bytes were missing
    if (top_level_chunk == nullptr ||
        !check_chunk_header(kept.reader, top_level_chunk, 0, &kept.error))
        fail("Failed to start RIFF parse of file '%s': %s\n", file_name, error_text(kept.error));

    if (is_top_level_chunk_chosen(top_level_chunk)) {
        run_state.listing_on = 1;
        show_chunk_line(kept.reader, run_state.indent_prefix);
    } else if (run_state.listing_on) {
        show_chunk_line(kept.reader, run_state.indent_prefix);
    }
    run_state.chunk_counter++;
    std::strcpy(run_state.indent_prefix, "  ");

    if (!walk_children(kept.reader, run_state.indent_prefix, &kept.error)) {
        kept.failure_message =
            ipatch_riff_message_detail(kept.reader, -1, "Error while parsing RIFF file '%s': %s",
                                       file_name, error_text(kept.error));
        fail("%s\n", kept.failure_message);
    }
    succeed();
}
