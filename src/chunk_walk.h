// The depth-first walk over the chunk tree, with selection by index and by
// ID, and the listing line printed for each shown chunk.
#pragma once

#include <libinstpatch/libinstpatch.h>

#include <cstdint>

// Size of a RIFF chunk header: four ID bytes and a four-byte size.
constexpr std::uint32_t CHUNK_HEADER_SIZE = 8;

// Size of the type that begins the body of a list chunk.
constexpr std::uint32_t LIST_TYPE_SIZE = 4;

// After a chunk read that began at header_start: whether the end of the
// file cut the header short (a failure, whatever the reader made of it). If
// so, the error slot says "Unexpected end of file" instead of anything the
// reader may have concluded from bytes that it never read.
bool header_cut_short(IpatchRiff *reader, std::uint32_t header_start, GError **error);

// Checks the chunk that the reader has just read, whose header began at
// header_start: the file must hold the whole header and, for a list chunk,
// the type must lie inside the chunk. False with the cause in the error
// slot otherwise; the chunk is then taken off the reader's chain of open
// chunks, since its ID or type may be bytes that are not its own.
bool check_chunk_header(IpatchRiff *reader, const IpatchRiffChunk *chunk,
                        std::uint32_t header_start, GError **error);

// File offset at which the header of the reader's current chunk begins.
std::uint32_t current_chunk_header_offset(IpatchRiff *reader, const IpatchRiffChunk *chunk);

// Prints the listing line of the reader's current chunk.
void show_chunk_line(IpatchRiff *reader, const char *indent);

// Walks the children of the reader's current chunk, a list chunk whose line
// has been shown (if it is to be), which has been counted and for whose
// children the indentation has already grown. False on failure, with the
// cause in the error slot when one is known.
bool walk_children(IpatchRiff *reader, char *indent, GError **error);
