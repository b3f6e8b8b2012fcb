// The hex dump of a chosen data chunk, formatted or raw.
#pragma once

#include <libinstpatch/libinstpatch.h>

#include <cstdint>

constexpr std::uint32_t READ_BLOCK_SIZE = 16384;
constexpr std::uint32_t DUMP_ROW_SIZE = 16;
constexpr std::uint32_t DUMP_GROUP_SIZE = 4;

// Dumps the data of the reader's current chunk, a data chunk whose header
// has just been read. False as soon as a block cannot be read in full; the
// cause is then in the error slot.
bool print_chunk_bytes(IpatchRiff *reader, GError **error);
