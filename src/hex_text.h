// Bytes to text: the items, row labels and group separators of the
// formatted dump and the hex pairs of the raw one, built in memory a whole
// block at a time, sixteen bytes at once where the machine has vector units.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::uint32_t DUMP_ROW_SIZE = 16;
constexpr std::uint32_t DUMP_GROUP_SIZE = 4;

// The label of the next row to start: "\n", the decimal offset with at
// least 8 digits, two blanks. Converting a number for every row would cost
// more than the row, so the label is advanced instead. Its last 8 digits
// are one 64-bit word, a digit value (0 to 9) per byte with the last digit
// in the lowest byte, and grow by 16 with byte-wise decimal arithmetic in a
// register; the digits above them change once per 10^8 bytes and are kept
// as ready text after the newline.
struct RowLabel {
    char head[16];  // "\n" and the digits above the last eight, if any
    std::size_t head_length;
    std::uint64_t upper;  // the offset divided by 10^8
    std::uint64_t low_digits;
};

// The label of the row that starts at row_offset, a multiple of 16.
RowLabel make_row_label(std::uint64_t row_offset);

// The pieces of the text: "XY " per byte, " |  " before every group but a
// row's first, and a row label of a newline, at least 8 digits and two
// blanks. A label is stored with copies of fixed sizes, whatever its
// length, which reach at most ROW_LABEL_STORE_SIZE bytes; the text that
// follows overwrites the excess.
constexpr std::size_t BYTE_ITEM_LENGTH = 3;
constexpr std::size_t GROUP_SEPARATOR_LENGTH = 4;
constexpr std::size_t MAX_LABEL_DIGITS = 20;  // a 64-bit offset
constexpr std::size_t MAX_ROW_LABEL_LENGTH = 1 + MAX_LABEL_DIGITS + 2;
constexpr std::size_t ROW_LABEL_STORE_SIZE = 24;
static_assert(ROW_LABEL_STORE_SIZE >= MAX_ROW_LABEL_LENGTH);
constexpr std::size_t SEPARATORS_PER_ROW = DUMP_ROW_SIZE / DUMP_GROUP_SIZE - 1;

// Room for the text of `bytes` bytes in either layout: every row with a
// label, every group after a row's first with a separator, and what the
// fixed-size stores of the last item reach past the text's end.
constexpr std::size_t text_room_for(std::size_t bytes)
{
    const std::size_t rows = bytes / DUMP_ROW_SIZE + 1;
    return bytes * BYTE_ITEM_LENGTH +
           rows * (MAX_ROW_LABEL_LENGTH + SEPARATORS_PER_ROW * GROUP_SEPARATOR_LENGTH) +
           ROW_LABEL_STORE_SIZE;
}
constexpr std::size_t MAX_BLANK_COLUMNS_TEXT =
    ROW_LABEL_STORE_SIZE + DUMP_ROW_SIZE * (BYTE_ITEM_LENGTH + GROUP_SEPARATOR_LENGTH);

// The blank columns from the start of the row that holds data_start up to
// data_start, with that row's label, so that the first data byte stands in
// the column of its offset; nothing when data_start begins a row. At most
// MAX_BLANK_COLUMNS_TEXT characters. Gives the end of the text.
char *append_blank_columns(char *text, std::uint32_t data_start);

// Appends the formatted text of `length` bytes whose first lies at file
// offset first_offset; `label` is that of the next row to start, and is
// advanced past every row begun here. Gives the end of the text.
char *append_formatted_block(char *text, const unsigned char *block, std::uint32_t length,
                             std::uint64_t first_offset, RowLabel &label);

// Appends the raw text of `length` bytes: "XY " for each. Gives the end.
char *append_raw_block(char *text, const unsigned char *block, std::uint32_t length);
