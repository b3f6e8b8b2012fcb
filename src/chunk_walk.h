// The depth-first walk over the chunk tree, with selection by index and by
// ID, and the listing line printed for each shown chunk.
#pragma once

#include <libinstpatch/libinstpatch.h>

#include <cstdint>

// Size of a RIFF chunk header: four ID bytes and a four-byte size.
constexpr std::uint32_t CHUNK_HEADER_SIZE = 8;

// File offset at which the header of the reader's current chunk begins.
std::uint32_t current_chunk_header_offset(IpatchRiff *reader, const IpatchRiffChunk *chunk);

// Prints the listing line of the reader's current chunk.
void show_chunk_line(IpatchRiff *reader, const char *indent);

// Walks the children of the reader's current chunk, a list chunk whose line
// has been shown (if it is to be), which has been counted and for whose
// children the indentation has already grown. False on failure, with the
// cause in the error slot when one is known.
bool walk_children(IpatchRiff *reader, char *indent, GError **error);
