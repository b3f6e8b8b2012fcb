// The chunk dump: the header line of the formatted layout, then the chunk's
// data read in blocks and handed on as text, block by block or several
// blocks at once, as standard output and the input call for.

#include "chunk_dump.h"

#include "chunk_walk.h"
#include "chunklens.h"
#include "hex_text.h"
#include "input.h"
#include "output.h"

#include <algorithm>

namespace {

GQuark dump_error_quark()
{
    return g_quark_from_static_string("chunklens-dump-error");
}

void print_dump_header(IpatchRiff *reader, const IpatchRiffChunk *chunk)
{
    print_output("Dump chunk: (%.4s)[%4d] (ofs = 0x%x, size = %u)", chunk->idstr,
                 run_state.chunk_counter, current_chunk_header_offset(reader, chunk), chunk->size);
}

void print_blank_columns(std::uint32_t data_start)
{
    char text[MAX_BLANK_COLUMNS_TEXT];
    write_output(text, append_blank_columns(text, data_start) - text);
}

// The text of a block is built whole, after the text of earlier blocks that
// waits to be written, if any; the batch size says how much may wait, and
// a write never exceeds it unless it is smaller than one block's text.
constexpr std::size_t BLOCK_TEXT_ROOM = text_room_for(READ_BLOCK_SIZE);
constexpr std::size_t DUMP_TEXT_SIZE = std::max(OUTPUT_BATCH_LIMIT, BLOCK_TEXT_ROOM);

struct DumpText {
    char *start;
    char *end;
    std::size_t batch_size;
};

DumpText start_dump_text(IpatchFileHandle *handle)
{
    // Static, because a megabyte does not belong on the stack; pages that a
    // small dump never reaches are never touched.
    static char text[DUMP_TEXT_SIZE];
    return {text, text, output_batch_size(input_is_stream(handle))};
}

void write_dump_text(DumpText &text)
{
    write_output(text.start, text.end - text.start);
    text.end = text.start;
}

void print_block(DumpText &text, const unsigned char *block, std::uint32_t length,
                 std::uint64_t first_offset, RowLabel &label)
{
    text.end = run_state.raw_output
                   ? append_raw_block(text.end, block, length)
                   : append_formatted_block(text.end, block, length, first_offset, label);
    // Written once the next block's text might not fit in the batch.
    if (static_cast<std::size_t>(text.end - text.start) + BLOCK_TEXT_ROOM > text.batch_size)
        write_dump_text(text);
}

// The library's plain read reports success for a block that the end of the
// file cuts short and leaves the rest of the buffer as it was; only a block
// that came back whole counts as read.
bool read_whole_block(IpatchFileHandle *handle, unsigned char *block, std::uint32_t length,
                      GError **error)
{
    guint total = 0;
    while (total < length) {
        guint count = 0;
        const GIOStatus status =
            ipatch_file_read_eof(handle, block + total, length - total, &count, error);
        if (status == G_IO_STATUS_ERROR)
            return false;
        if (count == 0)
            break;
        total += count;
    }
    if (total == length)
        return true;
    if (error != nullptr && *error == nullptr)
        g_set_error(error, dump_error_quark(), 0, "Unexpected end of file");
    return false;
}

bool print_chunk_data(IpatchRiff *reader, std::uint64_t data_start, std::uint32_t size, GError **error)
{
    unsigned char block[READ_BLOCK_SIZE];
    DumpText text = start_dump_text(reader->handle);
    std::uint64_t offset = data_start;
    // The first label is that of the first row to start inside the data.
    RowLabel label = make_row_label((offset + DUMP_ROW_SIZE - 1) / DUMP_ROW_SIZE * DUMP_ROW_SIZE);
    // Sizes are unsigned 32-bit in RIFF, so the count is too.
    for (std::uint32_t remaining = size; remaining > 0;) {
        const std::uint32_t length = std::min(remaining, READ_BLOCK_SIZE);
        if (!read_whole_block(reader->handle, block, length, error)) {
            // What was read before the failure is shown before its message.
            write_dump_text(text);
            return false;
        }
        print_block(text, block, length, offset, label);
        offset += length;
        remaining -= length;
    }
    write_dump_text(text);
    return true;
}

}  // namespace

bool print_chunk_bytes(IpatchRiff *reader, GError **error)
{
    const IpatchRiffChunk *chunk = ipatch_riff_get_chunk(reader, -1);
    const std::uint32_t data_start = ipatch_riff_get_position(reader);
    if (!run_state.raw_output) {
        print_dump_header(reader, chunk);
        print_blank_columns(data_start);
    }
    if (!print_chunk_data(reader, data_start, chunk->size, error))
        return false;
    write_output("\n", 1);
    return true;
}
