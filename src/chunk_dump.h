// The hex dump of a chosen data chunk, formatted or raw.
#pragma once

#include <libinstpatch/libinstpatch.h>

#include <cstdint>

// The dump reads a chunk's data in blocks of this size.
constexpr std::uint32_t READ_BLOCK_SIZE = 16384;

// Dumps the data of the reader's current chunk, a data chunk whose header
// has just been read. False as soon as a block cannot be read in full; the
// cause is then in the error slot.
bool print_chunk_bytes(IpatchRiff *reader, GError **error);
