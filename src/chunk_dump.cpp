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
constexpr std::size_t MAX_LABEL_DIGITS = 20;
constexpr std::size_t MIN_LABEL_DIGITS = 8;
constexpr std::size_t MAX_ROW_LABEL_LENGTH = 1 + MAX_LABEL_DIGITS + 2;
// A label is stored with one copy of this fixed size, whatever its length;
// the text that follows overwrites the excess.
constexpr std::size_t ROW_LABEL_STORE_SIZE = 24;
static_assert(ROW_LABEL_STORE_SIZE >= MAX_ROW_LABEL_LENGTH);
constexpr std::size_t BYTE_ITEM_LENGTH = 3;
constexpr std::size_t GROUP_SEPARATOR_LENGTH = 4;
// Worst case for one block: every row starts with a label, every group
// after the first with a separator, every byte is a three-character item.
// Room is left after the end for the excess of the fixed-size copies.
constexpr std::size_t MAX_ROWS_PER_BLOCK = READ_BLOCK_SIZE / DUMP_ROW_SIZE + 1;
constexpr std::size_t SEPARATORS_PER_ROW = DUMP_ROW_SIZE / DUMP_GROUP_SIZE - 1;
constexpr std::size_t BLOCK_TEXT_SIZE =
    READ_BLOCK_SIZE * BYTE_ITEM_LENGTH +
    MAX_ROWS_PER_BLOCK * (MAX_ROW_LABEL_LENGTH + SEPARATORS_PER_ROW * GROUP_SEPARATOR_LENGTH) +
    ROW_LABEL_STORE_SIZE;

// The item of every byte value, "XY " and a spare byte, so that an item is
// stored with one four-byte copy; the next item overwrites the spare byte.
struct ByteItems {
    char text[256][4];
};

constexpr ByteItems make_byte_items()
{
    constexpr char hex_digits[] = "0123456789ABCDEF";
    ByteItems items{};
    for (int value = 0; value < 256; ++value) {
        items.text[value][0] = hex_digits[value >> 4];
        items.text[value][1] = hex_digits[value & 0x0F];
        items.text[value][2] = ' ';
        items.text[value][3] = ' ';
    }
    return items;
}

constexpr ByteItems BYTE_ITEMS = make_byte_items();

char *append_byte_item(char *text, unsigned char byte)
{
    std::memcpy(text, BYTE_ITEMS.text[byte], 4);
    return text + BYTE_ITEM_LENGTH;
}

char *append_group_separator(char *text)
{
    std::memcpy(text, " |  ", GROUP_SEPARATOR_LENGTH);
    return text + GROUP_SEPARATOR_LENGTH;
}

// The label of the next row to start, kept as ready text ("\n", the decimal
// offset with at least 8 digits, two blanks) and advanced digit by digit,
// because converting a number for every row would cost more than the row.
struct RowLabel {
    char text[ROW_LABEL_STORE_SIZE];
    std::size_t length;
};

RowLabel make_row_label(std::uint64_t row_offset)
{
    RowLabel label{};
    label.length = std::snprintf(label.text, sizeof label.text, "\n%0*" PRIu64 "  ",
                                 static_cast<int>(MIN_LABEL_DIGITS), row_offset);
    return label;
}

void advance_row_label(RowLabel &label)
{
    char *const first_digit = label.text + 1;
    char *digit = label.text + label.length - 3;
    unsigned carry = DUMP_ROW_SIZE;
    for (; carry > 0 && digit >= first_digit; --digit) {
        const unsigned sum = static_cast<unsigned>(*digit - '0') + carry;
        *digit = static_cast<char>('0' + sum % 10);
        carry = sum / 10;
    }
    if (carry > 0) {
        // One digit more: 99999984 + 16 = 100000000.
        std::memmove(first_digit + 1, first_digit, label.length - 1);
        *first_digit = static_cast<char>('0' + carry);
        ++label.length;
    }
}

char *append_row_label(char *text, RowLabel &label)
{
    std::memcpy(text, label.text, ROW_LABEL_STORE_SIZE);
    text += label.length;
    advance_row_label(label);
    return text;
}

// One item of the formatted layout with what precedes it: a row label where
// a row begins, a separator where a group begins.
char *append_formatted_item(char *text, unsigned char byte, std::uint64_t offset, RowLabel &label)
{
    if (offset % DUMP_ROW_SIZE == 0)
        text = append_row_label(text, label);
    else if (offset % DUMP_GROUP_SIZE == 0)
        text = append_group_separator(text);
    return append_byte_item(text, byte);
}

// A whole row, from its first column to its last.
char *append_full_row(char *text, const unsigned char *row, RowLabel &label)
{
    text = append_row_label(text, label);
    for (std::uint32_t group = 0; group < DUMP_ROW_SIZE; group += DUMP_GROUP_SIZE) {
        if (group > 0)
            text = append_group_separator(text);
        for (std::uint32_t i = group; i < group + DUMP_GROUP_SIZE; ++i)
            text = append_byte_item(text, row[i]);
    }
    return text;
}

// Rows that the block covers whole take the fast path; the partial rows at
// either end of the block go item by item.
char *append_formatted_block(char *text, const unsigned char *block, std::uint32_t length,
                             std::uint64_t first_offset, RowLabel &label)
{
    std::uint32_t i = 0;
    for (; i < length && (first_offset + i) % DUMP_ROW_SIZE != 0; ++i)
        text = append_formatted_item(text, block[i], first_offset + i, label);
    for (; length - i >= DUMP_ROW_SIZE; i += DUMP_ROW_SIZE)
        text = append_full_row(text, block + i, label);
    for (; i < length; ++i)
        text = append_formatted_item(text, block[i], first_offset + i, label);
    return text;
}

char *append_raw_block(char *text, const unsigned char *block, std::uint32_t length)
{
    for (std::uint32_t i = 0; i < length; ++i)
        text = append_byte_item(text, block[i]);
    return text;
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
    const std::uint32_t row_start = data_start - data_start % DUMP_ROW_SIZE;
    if (row_start == data_start)
        return;
    char text[ROW_LABEL_STORE_SIZE + DUMP_ROW_SIZE * (BYTE_ITEM_LENGTH + GROUP_SEPARATOR_LENGTH)];
    RowLabel label = make_row_label(row_start);
    char *end = append_row_label(text, label);
    for (std::uint32_t offset = row_start; offset < data_start; ++offset) {
        if (offset % DUMP_GROUP_SIZE == 0 && offset != row_start)
            end = append_group_separator(end);
        std::memcpy(end, "   ", BYTE_ITEM_LENGTH);
        end += BYTE_ITEM_LENGTH;
    }
    write_output(text, end - text);
}

// The text of one block is built whole and written at once.
void print_block(const unsigned char *block, std::uint32_t length, std::uint64_t first_offset,
                 RowLabel &label)
{
    static char text[BLOCK_TEXT_SIZE];
    const char *end = run_state.raw_output
                          ? append_raw_block(text, block, length)
                          : append_formatted_block(text, block, length, first_offset, label);
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

// The reader's channel buffers 1 KiB per read call by default, which makes a
// large dump cost a system call per kilobyte. A buffer of one block is used
// for the dump alone: the walk seeks after every chunk, which throws the
// buffer away, so it is better off with small refills. A buffer larger than
// the block is slower, as the channel moves what it keeps after every read.
constexpr gsize DUMP_CHANNEL_BUFFER_SIZE = READ_BLOCK_SIZE;

gsize set_channel_buffer_size(IpatchFileHandle *handle, gsize size)
{
    if (handle->iochan == nullptr)
        return 0;
    const gsize previous = g_io_channel_get_buffer_size(handle->iochan);
    g_io_channel_set_buffer_size(handle->iochan, size);
    return previous;
}

bool print_chunk_data(IpatchRiff *reader, std::uint64_t data_start, std::uint32_t size, GError **error)
{
    unsigned char block[READ_BLOCK_SIZE];
    std::uint64_t offset = data_start;
    // The first label is that of the first row to start inside the data.
    RowLabel label = make_row_label((offset + DUMP_ROW_SIZE - 1) / DUMP_ROW_SIZE * DUMP_ROW_SIZE);
    // Sizes are unsigned 32-bit in RIFF, so the count is too.
    for (std::uint32_t remaining = size; remaining > 0;) {
        const std::uint32_t length = std::min(remaining, READ_BLOCK_SIZE);
        if (!read_whole_block(reader->handle, block, length, error))
            return false;
        print_block(block, length, offset, label);
        offset += length;
        remaining -= length;
    }
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

    const gsize previous_buffer_size =
        set_channel_buffer_size(reader->handle, DUMP_CHANNEL_BUFFER_SIZE);
    const bool complete = print_chunk_data(reader, data_start, chunk->size, error);
    set_channel_buffer_size(reader->handle, previous_buffer_size);
    if (!complete)
        return false;
    write_output("\n", 1);
    return true;
}
