#include "output_check.h"

#include <cstdio>
#include <cstring>

namespace chunklens_fuzz {

namespace {

struct ChunkLine {
    bool is_list = false;
    std::string id;  // as printed: up to four bytes, cut at a zero byte
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

const char OFFSET_MARK[] = "] (ofs = 0x";

std::uint32_t file_u32(const std::vector<std::uint8_t> &file, std::size_t at, bool big_endian)
{
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const std::uint32_t byte = file[at + (big_endian ? i : 3 - i)];
        value = value << 8 | byte;
    }
    return value;
}

// The ID as "%.4s" prints the four bytes at `at`.
std::string printed_id(const std::vector<std::uint8_t> &file, std::size_t at)
{
    const char *bytes = reinterpret_cast<const char *>(file.data() + at);
    return std::string(bytes, strnlen(bytes, 4));
}

std::string describe(const ChunkLine &line)
{
    return std::string(line.is_list ? "list '" : "chunk '") + line.id + "' at " +
           std::to_string(line.offset);
}

std::string check_chunk_line(const ChunkLine &line, const std::vector<std::uint8_t> &file)
{
    const std::uint64_t header_length = line.is_list ? 12 : 8;
    if (line.offset + header_length > file.size())
        return describe(line) + ": header not in the file";
    const std::string id = printed_id(file, line.offset);
    const bool big_endian = file.size() >= 4 && std::memcmp(file.data(), "RIFX", 4) == 0;
    if (line.is_list) {
        if (id != "LIST" && id != "RIFF" && id != "RIFX")
            return describe(line) + ": no list header there";
        if (printed_id(file, line.offset + 8) != line.id)
            return describe(line) + ": type differs from the file";
        if (line.size < 4)
            return describe(line) + ": type outside the chunk";
    } else if (id != line.id) {
        return describe(line) + ": ID differs from the file";
    }
    if (file_u32(file, line.offset + 4, big_endian) != line.size)
        return describe(line) + ": size differs from the file";
    return "";
}

bool read_number(const std::string &text, std::size_t &at, int base, std::uint64_t &value)
{
    const std::size_t start = at;
    value = 0;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            break;
        value = value * base + digit;
    }
    return at > start && at - start <= 20;
}

// Parses the chunk line whose offset mark is at `mark`; false when the text
// around it is not such a line (the checks then skip it).
bool parse_chunk_line(const std::string &out, std::size_t mark, ChunkLine &line)
{
    // Back over the index field "[%4d" to its bracket, then over the ID.
    std::size_t bracket = mark;
    while (bracket > 0 && (out[bracket - 1] == ' ' || out[bracket - 1] == '-' ||
                           (out[bracket - 1] >= '0' && out[bracket - 1] <= '9')))
        --bracket;
    if (bracket == 0 || out[--bracket] != '[' || bracket == 0)
        return false;
    const char closing = out[bracket - 1];
    if (closing != '>' && closing != ')')
        return false;
    line.is_list = closing == '>';
    const char opening = line.is_list ? '<' : '(';
    // The ID is up to four bytes and may itself hold a delimiter: take the
    // longest one that the opening delimiter precedes.
    int length = 4;
    while (length >= 0 && !(bracket >= static_cast<std::size_t>(length) + 2 &&
                            out[bracket - 2 - length] == opening))
        --length;
    if (length < 0)
        return false;
    line.id = out.substr(bracket - 1 - length, length);
    std::size_t at = mark + std::strlen(OFFSET_MARK);
    if (!read_number(out, at, 16, line.offset) || out.compare(at, 9, ", size = ") != 0)
        return false;
    at += 9;
    return read_number(out, at, 10, line.size);
}

// Checks the rows of a formatted dump that starts at `at`, right after the
// header of a data chunk whose data starts at data_start.
std::string check_dump_rows(const std::string &out, std::size_t at, std::uint64_t data_start,
                            std::uint64_t size, const std::vector<std::uint8_t> &file)
{
    while (at < out.size() && out[at] == '\n') {
        ++at;
        std::uint64_t row;
        if (!read_number(out, at, 10, row) || out.compare(at, 2, "  ") != 0)
            return "";
        at += 2;
        for (std::uint64_t column = 0; column < 16 && at + 3 <= out.size(); ++column) {
            if (column > 0 && column % 4 == 0) {
                if (out.compare(at, 4, " |  ") != 0)
                    break;
                at += 4;
            }
            if (at + 3 > out.size() || out.compare(at, 3, "   ") == 0) {
                at += 3;
                continue;
            }
            unsigned value;
            char text[3] = {out[at], out[at + 1], 0};
            if (out[at + 2] != ' ' || std::sscanf(text, "%2X", &value) != 1)
                break;
            const std::uint64_t offset = row + column;
            if (offset < data_start || offset >= data_start + size)
                return "dump byte at " + std::to_string(offset) + " outside its chunk";
            if (offset >= file.size())
                return "dump byte at " + std::to_string(offset) + " past the end of the file";
            if (file[offset] != value)
                return "dump byte at " + std::to_string(offset) + " differs from the file";
            at += 3;
        }
    }
    return "";
}

}  // namespace

std::string check_output(const std::string &out, const std::vector<std::uint8_t> &file)
{
    for (std::size_t mark = out.find(OFFSET_MARK); mark != std::string::npos;
         mark = out.find(OFFSET_MARK, mark + 1)) {
        ChunkLine line;
        if (!parse_chunk_line(out, mark, line))
            continue;
        const std::string problem = check_chunk_line(line, file);
        if (!problem.empty())
            return problem;
        const std::size_t line_end = out.find(')', mark + std::strlen(OFFSET_MARK));
        const std::size_t header_start = out.rfind("Dump chunk: (", mark);
        if (!line.is_list && header_start != std::string::npos && line_end != std::string::npos &&
            header_start + 13 + line.id.size() + 1 == out.rfind('[', mark)) {
            const std::string rows =
                check_dump_rows(out, line_end + 1, line.offset + 8, line.size, file);
            if (!rows.empty())
                return rows;
        }
    }
    return "";
}

}  // namespace chunklens_fuzz
