// Bytes to text. Formatted: rows of 16 bytes labelled with the decimal file
// offset of their first column and split into groups of 4. Raw: the bytes
// alone, as hex pairs.

#include "hex_text.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

// How sixteen bytes become text: in vector registers through the compiler's
// generic vectors where the target has vector units and is little-endian,
// from tables elsewhere; on amd64 also with SSSE3's byte shuffle, and raw
// runs with AVX2's on thirty-two bytes at once, chosen at run time, as the
// baseline of the architecture is SSE2. The build of the tests makes
// binaries with the other paths too, so that each is checked.
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && \
    (defined(__SSE2__) || defined(__ARM_NEON) || defined(__VSX__)) &&                        \
    !defined(CHUNKLENS_SCALAR_FORMAT)
#define CHUNKLENS_VECTOR_FORMAT 1
#endif
#if defined(CHUNKLENS_VECTOR_FORMAT) && defined(__x86_64__) && !defined(CHUNKLENS_NO_SHUFFLE_FORMAT)
#define CHUNKLENS_SHUFFLE_FORMAT 1
#if !defined(CHUNKLENS_NO_WIDE_SHUFFLE_FORMAT)
#define CHUNKLENS_WIDE_SHUFFLE_FORMAT 1
#endif
#include <immintrin.h>
#endif

namespace {

constexpr std::size_t MIN_LABEL_DIGITS = 8;

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



// The last eight digits fill the word; 8 is also the label's least width.
static_assert(MIN_LABEL_DIGITS == sizeof(std::uint64_t));
constexpr std::uint64_t LOW_DIGITS_BASE = 100000000;
constexpr std::uint64_t EVERY_BYTE = 0x0101010101010101;

// A number below 10^8 as eight digit values, the last digit lowest.
constexpr std::uint64_t spread_digits(std::uint64_t value)
{
    std::uint64_t digits = 0;
    for (std::size_t position = 0; position < MIN_LABEL_DIGITS; ++position, value /= 10)
        digits |= (value % 10) << (8 * position);
    return digits;
}

constexpr std::uint64_t ROW_STEP_DIGITS = spread_digits(DUMP_ROW_SIZE);

// The digits above the last eight of a 64-bit offset: at most twelve, which
// with the newline fit the head. Saying so to the compiler keeps newer ones
// from warning that the text might not fit; no offset reaches the bound.
constexpr std::uint64_t MAX_LABEL_UPPER = UINT64_MAX / LOW_DIGITS_BASE;
static_assert(MAX_LABEL_UPPER < 1000000000000 && 1 + 12 < sizeof RowLabel{}.head);

void set_label_head(RowLabel &label)
{
    const std::uint64_t upper = std::min(label.upper, MAX_LABEL_UPPER);
    label.head_length =
        upper == 0 ? std::snprintf(label.head, sizeof label.head, "\n")
                   : std::snprintf(label.head, sizeof label.head, "\n%" PRIu64, upper);
}

// Adds 16 to the eight digits at once: with 246 added to every byte, a byte
// whose digit reaches 10 carries into the next one and keeps digit - 10;
// the others keep digit + 246, have their top bit set, and get it back.
[[gnu::always_inline]] inline void advance_row_label(RowLabel &label)
{
    constexpr std::uint64_t CARRY_BIAS = 0xF6 * EVERY_BYTE;
    std::uint64_t sum;
    const bool carry_out =
        __builtin_add_overflow(label.low_digits + ROW_STEP_DIGITS, CARRY_BIAS, &sum);
    const std::uint64_t kept_bias = (sum >> 7) & EVERY_BYTE;
    label.low_digits = sum - kept_bias * 0xF6;
    if (carry_out) {
        // 99999984 + 16 = 100000000: the digits above the eight grow.
        ++label.upper;
        set_label_head(label);
    }
}

// The eight digits as text, first digit first.
std::uint64_t low_digits_text(std::uint64_t low_digits)
{
    const std::uint64_t text = low_digits | ('0' * EVERY_BYTE);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return text;
#else
    return __builtin_bswap64(text);
#endif
}

// Inlined into every row loop, the SSSE3 one included, so that the label
// stays in registers from row to row.
[[gnu::always_inline]] inline char *append_row_label(char *text, RowLabel &label)
{
    std::memcpy(text, label.head, sizeof label.head);
    text += label.head_length;
    const std::uint64_t digits = low_digits_text(label.low_digits);
    std::memcpy(text, &digits, sizeof digits);
    std::memcpy(text + sizeof digits, "  ", 2);
    advance_row_label(label);
    return text + sizeof digits + 2;
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

#ifdef CHUNKLENS_VECTOR_FORMAT

// Sixteen bytes are formatted at once in vector registers: the compiler's
// generic vectors become SSE2 on amd64, NEON on arm64 and VSX on ppc64el,
// which every machine of those architectures has. Other targets, and
// big-endian ones where the lanes below would be in the other order, take
// the table path.
typedef unsigned char ByteVector __attribute__((vector_size(16)));
typedef signed char SignedByteVector __attribute__((vector_size(16)));
typedef std::uint32_t WordVector __attribute__((vector_size(16)));

// The items of a group of four bytes, "HL HL HL HL ", followed by the group
// separator " |  ", fill 16 bytes exactly. One such unit is made per group:
// formatted rows store the units one after another, the last one's
// separator being overwritten by what follows the row; raw runs store them
// 12 bytes apart, each overwriting the separator of the one before.
struct GroupUnits {
    WordVector unit[4];
};

// Hexadecimal digits of nibbles 0 to 15: '0'..'9', then 'A'..'F', which
// stand 7 further on.
ByteVector hex_digits(ByteVector nibbles)
{
    const SignedByteVector above_nine = reinterpret_cast<SignedByteVector>(nibbles) > 9;
    return nibbles + '0' + (reinterpret_cast<ByteVector>(above_nine) & 7);
}

// Inlined, so that the units stay in registers on their way to the text.
[[gnu::always_inline]] inline GroupUnits format_sixteen_bytes(const unsigned char *bytes)
{
    ByteVector data;
    std::memcpy(&data, bytes, sizeof data);
    const ByteVector high = hex_digits(data >> 4);
    const ByteVector low = hex_digits(data & 15);
    // The digits of bytes 0-7 and 8-15 in text order, high digit first.
    const WordVector digits_0_7 = reinterpret_cast<WordVector>(__builtin_shufflevector(
        high, low, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23));
    const WordVector digits_8_15 = reinterpret_cast<WordVector>(__builtin_shufflevector(
        high, low, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31));
    // Lane g of first_pairs holds the digits of bytes 0 and 1 of group g,
    // lane g of second_pairs those of bytes 2 and 3 (lowest byte first).
    const WordVector first_pairs = __builtin_shufflevector(digits_0_7, digits_8_15, 0, 2, 4, 6);
    const WordVector second_pairs = __builtin_shufflevector(digits_0_7, digits_8_15, 1, 3, 5, 7);
    // The unit's four words, lane g for group g: "H0L0 H1", "L1 H2L2",
    // " H3L3 " and " |  ", the blanks put in by constants.
    const WordVector word0 =
        (first_pairs & 0xFFFF) | ((first_pairs << 8) & 0xFF000000) | 0x00200000;
    const WordVector word1 = (first_pairs >> 24) | (second_pairs << 16) | 0x00002000;
    const WordVector word2 = ((second_pairs >> 8) & 0x00FFFF00) | 0x20000020;
    const WordVector word3 = WordVector{} | 0x20207C20;
    // Transposed, so that each group's four words lie together.
    const WordVector words01_low = __builtin_shufflevector(word0, word1, 0, 4, 1, 5);
    const WordVector words01_high = __builtin_shufflevector(word0, word1, 2, 6, 3, 7);
    const WordVector words23_low = __builtin_shufflevector(word2, word3, 0, 4, 1, 5);
    const WordVector words23_high = __builtin_shufflevector(word2, word3, 2, 6, 3, 7);
    return {{__builtin_shufflevector(words01_low, words23_low, 0, 1, 4, 5),
             __builtin_shufflevector(words01_low, words23_low, 2, 3, 6, 7),
             __builtin_shufflevector(words01_high, words23_high, 0, 1, 4, 5),
             __builtin_shufflevector(words01_high, words23_high, 2, 3, 6, 7)}};
}

constexpr std::size_t GROUP_UNIT_SIZE = 16;
constexpr std::size_t FORMATTED_ROW_BODY_LENGTH =
    DUMP_ROW_SIZE * BYTE_ITEM_LENGTH + SEPARATORS_PER_ROW * GROUP_SEPARATOR_LENGTH;
constexpr std::size_t RAW_GROUP_LENGTH = DUMP_GROUP_SIZE * BYTE_ITEM_LENGTH;
// The last unit of a row or a run reaches past the text's end by its
// separator, into the room that a block's text keeps for such excess.
static_assert(GROUP_UNIT_SIZE - RAW_GROUP_LENGTH <= ROW_LABEL_STORE_SIZE);

// The compiler's generic vectors.
struct PortableFormat {
    // A whole row, from its first column to its last.
    static char *full_row(char *text, const unsigned char *row, RowLabel &label)
    {
        text = append_row_label(text, label);
        const GroupUnits units = format_sixteen_bytes(row);
        for (std::size_t group = 0; group < 4; ++group)
            std::memcpy(text + group * GROUP_UNIT_SIZE, &units.unit[group], GROUP_UNIT_SIZE);
        return text + FORMATTED_ROW_BODY_LENGTH;
    }

    // A raw run takes sixteen bytes at a step.
    static constexpr std::uint32_t RAW_STEP = 16;
    static char *raw_step(char *text, const unsigned char *bytes)
    {
        const GroupUnits units = format_sixteen_bytes(bytes);
        for (std::size_t group = 0; group < 4; ++group)
            std::memcpy(text + group * RAW_GROUP_LENGTH, &units.unit[group], GROUP_UNIT_SIZE);
        return text + 4 * RAW_GROUP_LENGTH;
    }
};

#else

// The tables.
struct PortableFormat {
    // A whole row, from its first column to its last.
    static char *full_row(char *text, const unsigned char *row, RowLabel &label)
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

    // A raw run takes sixteen bytes at a step.
    static constexpr std::uint32_t RAW_STEP = 16;
    static char *raw_step(char *text, const unsigned char *bytes)
    {
        for (std::uint32_t i = 0; i < 16; ++i)
            text = append_byte_item(text, bytes[i]);
        return text;
    }
};

#endif

#ifdef CHUNKLENS_SHUFFLE_FORMAT

// The patterns of the byte shuffles: the digit of each nibble value; where
// the digits of a unit go, from a register of digits in text order, for its
// first four bytes and for its last four (-1 leaves a zero); and the blanks
// and the bar laid over those zeros.
alignas(16) constexpr char HEX_DIGIT_PATTERN[16] = {'0', '1', '2', '3', '4', '5', '6', '7',
                                                    '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
alignas(16) constexpr char FIRST_UNIT_PATTERN[16] = {0, 1, -1, 2, 3, -1, 4, 5,
                                                     -1, 6, 7, -1, -1, -1, -1, -1};
alignas(16) constexpr char SECOND_UNIT_PATTERN[16] = {8, 9, -1, 10, 11, -1, 12, 13,
                                                      -1, 14, 15, -1, -1, -1, -1, -1};
alignas(16) constexpr char BLANKS_AND_BAR_PATTERN[16] = {0, 0, ' ', 0, 0, ' ', 0, 0,
                                                         ' ', 0, 0, ' ', ' ', '|', ' ', ' '};

[[gnu::target("ssse3")]] inline __m128i load_pattern(const char (&pattern)[16])
{
    return _mm_load_si128(reinterpret_cast<const __m128i *>(pattern));
}

// SSSE3's byte shuffle builds each unit (see GroupUnits) in one step from
// the digits in text order, where SSE2 needs arithmetic on words and a
// transposition: the dump runs about a third faster with it.
struct ShuffleFormat {
    // The two units whose digits lie in one register of digits in text
    // order: the first four bytes' digits, or the last four's.
    [[gnu::target("ssse3")]] static void make_units(__m128i digits, __m128i units[2])
    {
        const __m128i blanks_and_bar = load_pattern(BLANKS_AND_BAR_PATTERN);
        const __m128i first = load_pattern(FIRST_UNIT_PATTERN);
        const __m128i second = load_pattern(SECOND_UNIT_PATTERN);
        units[0] = _mm_or_si128(_mm_shuffle_epi8(digits, first), blanks_and_bar);
        units[1] = _mm_or_si128(_mm_shuffle_epi8(digits, second), blanks_and_bar);
    }

    [[gnu::target("ssse3")]] static void make_all_units(const unsigned char *bytes,
                                                        __m128i units[4])
    {
        const __m128i hex_digits = load_pattern(HEX_DIGIT_PATTERN);
        const __m128i low_nibble = _mm_set1_epi8(0x0F);
        const __m128i data = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes));
        const __m128i high =
            _mm_shuffle_epi8(hex_digits, _mm_and_si128(_mm_srli_epi16(data, 4), low_nibble));
        const __m128i low = _mm_shuffle_epi8(hex_digits, _mm_and_si128(data, low_nibble));
        make_units(_mm_unpacklo_epi8(high, low), units);
        make_units(_mm_unpackhi_epi8(high, low), units + 2);
    }

    [[gnu::target("ssse3")]] static char *full_row(char *text, const unsigned char *row,
                                                     RowLabel &label)
    {
        text = append_row_label(text, label);
        __m128i units[4];
        make_all_units(row, units);
        for (std::size_t group = 0; group < 4; ++group)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(text + group * GROUP_UNIT_SIZE),
                             units[group]);
        return text + FORMATTED_ROW_BODY_LENGTH;
    }

    static constexpr std::uint32_t RAW_STEP = 16;
    [[gnu::target("ssse3")]] static char *raw_step(char *text, const unsigned char *bytes)
    {
        __m128i units[4];
        make_all_units(bytes, units);
        for (std::size_t group = 0; group < 4; ++group)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(text + group * RAW_GROUP_LENGTH),
                             units[group]);
        return text + 4 * RAW_GROUP_LENGTH;
    }
};

bool have_ssse3()
{
    static const bool have = __builtin_cpu_supports("ssse3");
    return have;
}

#endif

#ifdef CHUNKLENS_WIDE_SHUFFLE_FORMAT

// AVX2 shuffles bytes within each 16-byte half of its registers, so it makes
// the units of two groups of sixteen bytes at once, one in each half, with
// the masks of the SSSE3 path. That halves the shuffles, which bound the raw
// run on the SSSE3 path: its formatting takes a third less time. Formatted
// rows do not gain, as they wait on their labels, so they keep SSSE3.
struct WideShuffleFormat {
    static constexpr std::uint32_t RAW_STEP = 32;
    // For the sixteen bytes that may be left after the steps.
    using Narrow = ShuffleFormat;

    [[gnu::target("avx2")]] static char *raw_step(char *text, const unsigned char *bytes)
    {
        const __m256i hex_digits = _mm256_broadcastsi128_si256(load_pattern(HEX_DIGIT_PATTERN));
        const __m256i blanks_and_bar =
            _mm256_broadcastsi128_si256(load_pattern(BLANKS_AND_BAR_PATTERN));
        const __m256i first = _mm256_broadcastsi128_si256(load_pattern(FIRST_UNIT_PATTERN));
        const __m256i second = _mm256_broadcastsi128_si256(load_pattern(SECOND_UNIT_PATTERN));
        const __m256i low_nibble = _mm256_set1_epi8(0x0F);
        const __m256i data = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bytes));
        const __m256i high = _mm256_shuffle_epi8(
            hex_digits, _mm256_and_si256(_mm256_srli_epi16(data, 4), low_nibble));
        const __m256i low = _mm256_shuffle_epi8(hex_digits, _mm256_and_si256(data, low_nibble));
        // In each half, the digits of its first eight bytes, then of its last.
        const __m256i digits_first = _mm256_unpacklo_epi8(high, low);
        const __m256i digits_last = _mm256_unpackhi_epi8(high, low);
        const __m256i units[4] = {
            _mm256_or_si256(_mm256_shuffle_epi8(digits_first, first), blanks_and_bar),
            _mm256_or_si256(_mm256_shuffle_epi8(digits_first, second), blanks_and_bar),
            _mm256_or_si256(_mm256_shuffle_epi8(digits_last, first), blanks_and_bar),
            _mm256_or_si256(_mm256_shuffle_epi8(digits_last, second), blanks_and_bar)};
        // The first half's four units, 12 bytes apart, then the second's.
        for (std::size_t group = 0; group < 4; ++group)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(text + group * RAW_GROUP_LENGTH),
                             _mm256_castsi256_si128(units[group]));
        text += 4 * RAW_GROUP_LENGTH;
        for (std::size_t group = 0; group < 4; ++group)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(text + group * RAW_GROUP_LENGTH),
                             _mm256_extracti128_si256(units[group], 1));
        return text + 4 * RAW_GROUP_LENGTH;
    }
};

bool have_avx2()
{
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}

#endif

// Rows that the block covers whole take the fast path; the partial rows at
// either end of the block go item by item.
template <typename Format>
[[gnu::always_inline]] inline char *append_formatted_block_with(char *text,
                                                                const unsigned char *block,
                                                                std::uint32_t length,
                                                                std::uint64_t first_offset,
                                                                RowLabel &label)
{
    std::uint32_t i = 0;
    for (; i < length && (first_offset + i) % DUMP_ROW_SIZE != 0; ++i)
        text = append_formatted_item(text, block[i], first_offset + i, label);
    for (; length - i >= DUMP_ROW_SIZE; i += DUMP_ROW_SIZE)
        text = Format::full_row(text, block + i, label);
    for (; i < length; ++i)
        text = append_formatted_item(text, block[i], first_offset + i, label);
    return text;
}

template <typename Format>
[[gnu::always_inline]] inline char *append_raw_block_with(char *text, const unsigned char *block,
                                                          std::uint32_t length)
{
    std::uint32_t i = 0;
    for (; length - i >= Format::RAW_STEP; i += Format::RAW_STEP)
        text = Format::raw_step(text, block + i);
    if constexpr (Format::RAW_STEP > 16) {
        static_assert(Format::RAW_STEP == 32 && Format::Narrow::RAW_STEP == 16);
        if (length - i >= 16) {
            text = Format::Narrow::raw_step(text, block + i);
            i += 16;
        }
    }
    for (; i < length; ++i)
        text = append_byte_item(text, block[i]);
    return text;
}

#ifdef CHUNKLENS_SHUFFLE_FORMAT
[[gnu::target("ssse3")]] char *append_formatted_block_shuffled(char *text,
                                                              const unsigned char *block,
                                                              std::uint32_t length,
                                                              std::uint64_t first_offset,
                                                              RowLabel &label)
{
    return append_formatted_block_with<ShuffleFormat>(text, block, length, first_offset, label);
}

[[gnu::target("ssse3")]] char *append_raw_block_shuffled(char *text, const unsigned char *block,
                                                        std::uint32_t length)
{
    return append_raw_block_with<ShuffleFormat>(text, block, length);
}
#endif

#ifdef CHUNKLENS_WIDE_SHUFFLE_FORMAT
[[gnu::target("avx2")]] char *append_raw_block_wide(char *text, const unsigned char *block,
                                                   std::uint32_t length)
{
    return append_raw_block_with<WideShuffleFormat>(text, block, length);
}
#endif

}  // namespace

char *append_formatted_block(char *text, const unsigned char *block, std::uint32_t length,
                             std::uint64_t first_offset, RowLabel &label)
{
#ifdef CHUNKLENS_SHUFFLE_FORMAT
    if (have_ssse3())
        return append_formatted_block_shuffled(text, block, length, first_offset, label);
#endif
    return append_formatted_block_with<PortableFormat>(text, block, length, first_offset, label);
}

char *append_raw_block(char *text, const unsigned char *block, std::uint32_t length)
{
#ifdef CHUNKLENS_WIDE_SHUFFLE_FORMAT
    if (have_avx2())
        return append_raw_block_wide(text, block, length);
#endif
#ifdef CHUNKLENS_SHUFFLE_FORMAT
    if (have_ssse3())
        return append_raw_block_shuffled(text, block, length);
#endif
    return append_raw_block_with<PortableFormat>(text, block, length);
}

RowLabel make_row_label(std::uint64_t row_offset)
{
    RowLabel label{};
    label.upper = row_offset / LOW_DIGITS_BASE;
    label.low_digits = spread_digits(row_offset % LOW_DIGITS_BASE);
    set_label_head(label);
    return label;
}

char *append_blank_columns(char *text, std::uint32_t data_start)
{
    const std::uint32_t row_start = data_start - data_start % DUMP_ROW_SIZE;
    if (row_start == data_start)
        return text;
    RowLabel label = make_row_label(row_start);
    text = append_row_label(text, label);
    for (std::uint32_t offset = row_start; offset < data_start; ++offset) {
        if (offset % DUMP_GROUP_SIZE == 0 && offset != row_start)
            text = append_group_separator(text);
        std::memcpy(text, "   ", BYTE_ITEM_LENGTH);
        text += BYTE_ITEM_LENGTH;
    }
    return text;
}
