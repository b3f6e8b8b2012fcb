// Builds RIFF and RIFX files in memory for the tests and the examples:
// data chunks, LIST chunks, odd sizes with their pad byte, and declared
// sizes that disagree with the bytes that follow.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace riff {

using Bytes = std::vector<std::uint8_t>;

struct Chunk {
    std::string id;         // four characters: "fmt ", "LIST", "RIFF", "RIFX"
    std::string list_type;  // for LIST, RIFF and RIFX: the four-character type
    Bytes data;             // for data chunks
    std::vector<Chunk> children;
    // When set, written as the size field instead of the real size.
    std::optional<std::uint32_t> declared_size;

    bool is_list() const { return id == "LIST" || id == "RIFF" || id == "RIFX"; }
};

Chunk data_chunk(const std::string &id, Bytes data);
Chunk list_chunk(const std::string &type, std::vector<Chunk> children);
// The top-level chunk: "RIFF" (little-endian sizes) or, with big_endian,
// "RIFX" (big-endian sizes throughout the file).
Chunk riff_file(const std::string &form_type, std::vector<Chunk> children,
                bool big_endian = false);
Chunk with_declared_size(Chunk chunk, std::uint32_t size);

// The bytes of a chunk and everything inside it. Data of odd size is
// followed by a zero pad byte.
Bytes serialize(const Chunk &chunk);

// Appends an integer in the byte order of a RIFF (little-endian) or RIFX
// (big-endian) file.
void append_u16(Bytes &out, std::uint16_t value, bool big_endian);
void append_u32(Bytes &out, std::uint32_t value, bool big_endian);

// n bytes counting up from first, wrapping after 0xFF.
Bytes counting_bytes(std::size_t n, std::uint8_t first = 0);

// A chain of LIST chunks nested depth levels below the top-level chunk,
// with a data chunk at the bottom, as a complete file.
Bytes nested_lists_file(int depth);

void write_file(const std::string &path, const Bytes &bytes);

}  // namespace riff
