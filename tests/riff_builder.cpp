#include "riff_builder.h"

#include <fstream>
#include <stdexcept>

namespace riff {

namespace {

void append_id(Bytes &out, const std::string &id)
{
    if (id.size() != 4)
        throw std::invalid_argument("chunk ID must have four characters: " + id);
    out.insert(out.end(), id.begin(), id.end());
}

void append_chunk(Bytes &out, const Chunk &chunk, bool big_endian)
{
    Bytes body;
    if (chunk.is_list()) {
        append_id(body, chunk.list_type);
        for (const Chunk &child : chunk.children)
            append_chunk(body, child, big_endian);
    } else {
        body = chunk.data;
    }
    append_id(out, chunk.id);
    append_u32(out, chunk.declared_size.value_or(static_cast<std::uint32_t>(body.size())),
               big_endian);
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() % 2 != 0)
        out.push_back(0);
}

}  // namespace

void append_u16(Bytes &out, std::uint16_t value, bool big_endian)
{
    for (int i = 0; i < 2; ++i) {
        const int shift = big_endian ? 8 - 8 * i : 8 * i;
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

void append_u32(Bytes &out, std::uint32_t value, bool big_endian)
{
    for (int i = 0; i < 4; ++i) {
        const int shift = big_endian ? 24 - 8 * i : 8 * i;
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

Chunk data_chunk(const std::string &id, Bytes data)
{
    Chunk chunk;
    chunk.id = id;
    chunk.data = std::move(data);
    return chunk;
}

Chunk list_chunk(const std::string &type, std::vector<Chunk> children)
{
    Chunk chunk;
    chunk.id = "LIST";
    chunk.list_type = type;
    chunk.children = std::move(children);
    return chunk;
}

Chunk riff_file(const std::string &form_type, std::vector<Chunk> children, bool big_endian)
{
    Chunk chunk = list_chunk(form_type, std::move(children));
    chunk.id = big_endian ? "RIFX" : "RIFF";
    return chunk;
}

Chunk with_declared_size(Chunk chunk, std::uint32_t size)
{
    chunk.declared_size = size;
    return chunk;
}

Bytes serialize(const Chunk &chunk)
{
    Bytes out;
    append_chunk(out, chunk, chunk.id == "RIFX");
    return out;
}

Bytes counting_bytes(std::size_t n, std::uint8_t first)
{
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

Bytes nested_lists_file(int depth)
{
    Chunk inner = data_chunk("leaf", {0xAB, 0xCD});
    for (int level = depth; level >= 1; --level)
        inner = list_chunk("nest", {inner});
    return serialize(riff_file("DEEP", {inner}));
}

void write_file(const std::string &path, const Bytes &bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file)
        throw std::runtime_error("cannot write " + path);
}

}  // namespace riff
