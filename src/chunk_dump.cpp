// The chunk dump. Formatted: a header line, then rows of 16 bytes labelled
// with the decimal file offset of their first column and split into groups
// of 4; data that starts in mid-row begins with blank columns. Raw: the bytes
// alone, as one line of hex pairs.

#include "chunk_dump.h"

#include "chunk_walk.h"
#include "chunklens.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace {

GQuark dump_error_quark()
{
    return g_quark_from_static_string("chunklens-dump-error");
}

// Longest row label: newline, up to 20 digits of a 64-bit offset, two blanks.
constexpr std::size_t MAX_ROW_LABEL_LENGTH = 1 + 20 + 2;
constexpr std::size_t BYTE_ITEM_LENGTH = 3;
constexpr std::size_t GROUP_SEPARATOR_LENGTH = 4;
// Worst case for one block: every row starts with a label, every group
// after the first with a separator, every byte is a three-character item.
constexpr std::size_t MAX_ROWS_PER_BLOCK = READ_BLOCK_SIZE / DUMP_ROW_SIZE + 1;
constexpr std::size_t SEPARATORS_PER_ROW = DUMP_ROW_SIZE / DUMP_GROUP_SIZE - 1;
constexpr std::size_t BLOCK_TEXT_SIZE =
    READ_BLOCK_SIZE * BYTE_ITEM_LENGTH +
    MAX_ROWS_PER_BLOCK * (MAX_ROW_LABEL_LENGTH + SEPARATORS_PER_ROW * GROUP_SEPARATOR_LENGTH);

const char HEX_DIGITS[] = "0123456789ABCDEF";

// Appends what precedes the item at a file offset in the formatted layout:
// a row label where a row begins, a separator where a group begins.
char *append_item_prefix(char *text, std::uint64_t offset)
{
    if (offset % DUMP_ROW_SIZE == 0)
        return text + std::sprintf(text, "\n%08" PRIu64 "  ", offset);
    if (offset % DUMP_GROUP_SIZE == 0) {
        std::memcpy(text, " |  ", GROUP_SEPARATOR_LENGTH);
        return text + GROUP_SEPARATOR_LENGTH;
    }
    return text;
}

char *append_byte_item(char *text, unsigned char byte)
{
    text[0] = HEX_DIGITS[byte >> 4];
    text[1] = HEX_DIGITS[byte & 0x0F];
    text[2] = ' ';
    return text + BYTE_ITEM_LENGTH;
}

void print_dump_header(IpatchRiff *reader, const IpatchRiffChunk *chunk)
{
    print_output("Dump chunk: (%.4s)[%4d] (ofs = 0x%x, size = %u)", chunk->idstr,
                 run_state.chunk_counter, current_chunk_header_offset(reader, chunk), chunk->size);
}

// Blank columns from the start of the row up to the first data byte, so that
// every byte stands in the column of its file offset.
void print_blank_columns(std::uint32_t data_start)
{
    char text[MAX_ROW_LABEL_LENGTH + DUMP_ROW_SIZE * (BYTE_ITEM_LENGTH + GROUP_SEPARATOR_LENGTH)];
    char *end = text;
    for (std::uint32_t offset = data_start - data_start % DUMP_ROW_SIZE; offset < data_start;
         ++offset) {
        end = append_item_prefix(end, offset);
        std::memcpy(end, "   ", BYTE_ITEM_LENGTH);
        end += BYTE_ITEM_LENGTH;
    }
    write_output(text, end - text);
}

// The text of one block is built whole and written at once.
void print_block(const unsigned char *block, std::uint32_t length, std::uint64_t first_offset)
{
    static char text[BLOCK_TEXT_SIZE];
    char *end = text;
    for (std::uint32_t i = 0; i < length; ++i) {
        if (!run_state.raw_output)
            end = append_item_prefix(end, first_offset + i);
        end = append_byte_item(end, block[i]);
    }
    write_output(text, end - text);
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

}  // namespace

bool print_chunk_bytes(IpatchRiff *reader, GError **error)
{
    const IpatchRiffChunk *chunk = ipatch_riff_get_chunk(reader, -1);
    const std::uint32_t data_start = ipatch_riff_get_position(reader);
    if (!run_state.raw_output) {
        print_dump_header(reader, chunk);
        print_blank_columns(data_start);
    }

    unsigned char block[READ_BLOCK_SIZE];
    std::uint64_t offset = data_start;
    // Sizes are unsigned 32-bit in RIFF, so the count is too.
    for (std::uint32_t remaining = chunk->size; remaining > 0;) {
        const std::uint32_t length = std::min(remaining, READ_BLOCK_SIZE);
        if (!read_whole_block(reader->handle, block, length, error))
            return false;
        print_block(block, length, offset);
        offset += length;
        remaining -= length;
    }
    write_output("\n", 1);
    return true;
}
