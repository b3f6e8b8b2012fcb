// The chunk walk: depth first, in file order, one listing line per shown
// chunk, with selection by index (--dump) and by ID (--dump-type).

#include "chunk_walk.h"

#include "chunk_dump.h"
#include "chunklens.h"
#include "output.h"

#include <cstring>
#include <iterator>

namespace {

GQuark walk_error_quark()
{
    return g_quark_from_static_string("chunklens-walk-error");
}

bool is_data_chunk(const IpatchRiffChunk *chunk)
{
    return chunk->type == IPATCH_RIFF_CHUNK_SUB;
}

bool has_selected_type(const IpatchRiffChunk *chunk)
{
    return run_state.select_type != nullptr &&
           std::strncmp(run_state.select_type, chunk->idstr, 4) == 0;
}

// Grows the indentation by one level for a list chunk's children. The text
// has room for 127 levels; a file nested deeper ends the walk with failure
// rather than writing past it.
bool indent_one_level_deeper(char *indent, GError **error)
{
    const std::size_t length = std::strlen(indent);
    if (length + 2 > MAX_INDENT_LENGTH) {
        g_set_error(error, walk_error_quark(), 0, "chunk nesting deeper than %d levels",
                    MAX_NESTING_LEVEL);
        return false;
    }
    std::memcpy(indent + length, "  ", 3);
    return true;
}

void indent_one_level_less(char *indent)
{
    indent[std::strlen(indent) - 2] = '\0';
}

// The chunk chosen by index: a data chunk is dumped, a list chunk is shown
// with all of its contents. Either way the walk ends after it.
bool handle_chunk_selected_by_index(IpatchRiff *reader, const IpatchRiffChunk *chunk, char *indent,
                                    GError **error)
{
    bool completed;
    if (is_data_chunk(chunk)) {
        completed = print_chunk_bytes(reader, error);
    } else {
        show_chunk_line(reader, indent);
        run_state.chunk_counter++;
        if (!indent_one_level_deeper(indent, error))
            return false;
        run_state.listing_on = 1;
        completed = walk_children(reader, indent, error);
    }
    run_state.walk_done = 1;
    return completed;
}

// A chunk chosen by ID takes no line and no index: a data chunk is dumped in
// place, a list chunk has its contents listed, after which listing is off.
bool handle_chunk_selected_by_type(IpatchRiff *reader, const IpatchRiffChunk *chunk, char *indent,
                                   GError **error)
{
    if (is_data_chunk(chunk))
        return print_chunk_bytes(reader, error);
    run_state.listing_on = 1;
    if (!indent_one_level_deeper(indent, error) || !walk_children(reader, indent, error))
        return false;
    indent_one_level_less(indent);
    run_state.listing_on = 0;
    return true;
}

bool handle_ordinary_chunk(IpatchRiff *reader, const IpatchRiffChunk *chunk, char *indent,
                           GError **error)
{
    if (run_state.listing_on)
        show_chunk_line(reader, indent);
    run_state.chunk_counter++;
    if (is_data_chunk(chunk))
        return true;
    if (!indent_one_level_deeper(indent, error) || !walk_children(reader, indent, error))
        return false;
    indent_one_level_less(indent);
    return true;
}

// The reader moves past a chunk with a single seek by a signed 32-bit
// offset, which fails for 2 GiB or more; such a distance is covered here in
// smaller steps first, so that the close has only a short way left.
bool skip_rest_of_large_chunk(IpatchRiff *reader, GError **error)
{
    constexpr std::uint32_t SAFE_SEEK_DISTANCE = 1u << 30;
    const IpatchRiffChunk *chunk = ipatch_riff_get_chunk(reader, -1);
    std::uint32_t remaining = chunk->size - static_cast<std::uint32_t>(chunk->position);
    for (; remaining > SAFE_SEEK_DISTANCE; remaining -= SAFE_SEEK_DISTANCE) {
        if (!ipatch_file_seek(reader->handle, SAFE_SEEK_DISTANCE, G_SEEK_CUR, error))
            return false;
    }
    return true;
}

// The listing line is put together here rather than by printf, whose
// reading of the format for every line took half the time of a listing of
// a million chunks. Longest line: the indentation, the ID and its brackets,
// and the widest index, offset and size.
constexpr std::size_t MAX_CHUNK_LINE_LENGTH =
    MAX_INDENT_LENGTH + 6 + std::size("[-2147483648] (ofs = 0xffffffff, size = 4294967295)\n");

char *append_text(char *line, const char *text, std::size_t length)
{
    std::memcpy(line, text, length);
    return line + length;
}

char *append_decimal(char *line, std::uint32_t value)
{
    char digits[10];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0)
        *line++ = digits[--count];
    return line;
}

// As "%*d": right-aligned in at least `width` columns, with a minus sign
// when negative.
char *append_padded_decimal(char *line, std::int32_t value, std::size_t width)
{
    char text[12];
    char *end = text;
    if (value < 0)
        *end++ = '-';
    end = append_decimal(end, value < 0 ? 0u - static_cast<std::uint32_t>(value)
                                        : static_cast<std::uint32_t>(value));
    const std::size_t length = static_cast<std::size_t>(end - text);
    for (std::size_t i = length; i < width; ++i)
        *line++ = ' ';
    return append_text(line, text, length);
}

// As "%x": lower-case hexadecimal without leading zeros.
char *append_hexadecimal(char *line, std::uint32_t value)
{
    char digits[8];
    std::size_t count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value & 0xF];
        value >>= 4;
    } while (value != 0);
    while (count > 0)
        *line++ = digits[--count];
    return line;
}

}  // namespace

bool header_cut_short(IpatchRiff *reader, std::uint32_t header_start, GError **error)
{
    // The reader's read takes a header that the end of the file cuts short
    // for a whole one, the missing bytes left from whatever its buffer held
    // before, and may even fail over them; only the file position shows how
    // much really came in.
    const std::uint32_t bytes_read = ipatch_file_get_position(reader->handle) - header_start;
    if (bytes_read == 0 || bytes_read == CHUNK_HEADER_SIZE ||
        bytes_read == CHUNK_HEADER_SIZE + LIST_TYPE_SIZE)
        return false;
    if (error != nullptr) {
        g_clear_error(error);
        g_set_error(error, walk_error_quark(), 0, "Unexpected end of file");
    }
    return true;
}

bool check_chunk_header(IpatchRiff *reader, const IpatchRiffChunk *chunk,
                        std::uint32_t header_start, GError **error)
{
    const std::uint32_t header_length =
        CHUNK_HEADER_SIZE + (is_data_chunk(chunk) ? 0 : LIST_TYPE_SIZE);
    const std::uint32_t bytes_read = ipatch_file_get_position(reader->handle) - header_start;
    // A list chunk too small for its type takes the type from what follows.
    if (bytes_read == header_length && (is_data_chunk(chunk) || chunk->size >= LIST_TYPE_SIZE))
        return true;

    g_array_set_size(reader->chunks, reader->chunks->len - 1);
    if (bytes_read == header_length)
        g_set_error(error, walk_error_quark(), 0, "List chunk of size %u is too small for its type",
                    chunk->size);
    else
        g_set_error(error, walk_error_quark(), 0, "Unexpected end of file");
    return false;
}

std::uint32_t current_chunk_header_offset(IpatchRiff *reader, const IpatchRiffChunk *chunk)
{
    // Unsigned 32-bit arithmetic, as the reader's own positions are.
    return ipatch_riff_get_position(reader) - static_cast<std::uint32_t>(chunk->position) -
           CHUNK_HEADER_SIZE;
}

void show_chunk_line(IpatchRiff *reader, const char *indent)
{
    const IpatchRiffChunk *chunk = ipatch_riff_get_chunk(reader, -1);
    const bool data_chunk = is_data_chunk(chunk);
    // "%s(%.4s)[%4d] (ofs = 0x%x, size = %u)\n" for a data chunk, with angle
    // brackets for a list chunk.
    char line[MAX_CHUNK_LINE_LENGTH];
    char *end = append_text(line, indent, std::strlen(indent));
    *end++ = data_chunk ? '(' : '<';
    end = append_text(end, chunk->idstr, strnlen(chunk->idstr, 4));
    *end++ = data_chunk ? ')' : '>';
    *end++ = '[';
    end = append_padded_decimal(end, run_state.chunk_counter, 4);
    end = append_text(end, "] (ofs = 0x", 11);
    end = append_hexadecimal(end, current_chunk_header_offset(reader, chunk));
    end = append_text(end, ", size = ", 9);
    end = append_decimal(end, chunk->size);
    end = append_text(end, ")\n", 2);
    write_output(line, static_cast<std::size_t>(end - line));
}

bool walk_children(IpatchRiff *reader, char *indent, GError **error)
{
    while (!run_state.walk_done) {
        const std::uint32_t header_start = ipatch_file_get_position(reader->handle);
        const IpatchRiffChunk *chunk = ipatch_riff_read_chunk(reader, error);
        if (chunk == nullptr) {
            if (header_cut_short(reader, header_start, error))
                return false;
            break;  // the end of the list, or a failed read: the reader knows which
        }
        if (!check_chunk_header(reader, chunk, header_start, error))
            return false;

        if (run_state.select_index == run_state.chunk_counter)
            return handle_chunk_selected_by_index(reader, chunk, indent, error);

        const bool handled = has_selected_type(chunk)
                                 ? handle_chunk_selected_by_type(reader, chunk, indent, error)
                                 : handle_ordinary_chunk(reader, chunk, indent, error);
        if (!handled)
            return false;
        if (!skip_rest_of_large_chunk(reader, error) || !ipatch_riff_close_chunk(reader, -1, error))
            return false;
    }
    return ipatch_riff_get_error(reader, nullptr);
}
