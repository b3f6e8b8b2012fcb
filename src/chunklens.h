// Run state shared by the driver, the chunk walk and the chunk dump, and the
// checked writers through which every byte of standard output goes.
#pragma once

#include <cstddef>
#include <cstdint>

// Room for the indentation text: two blanks per level and a terminating zero.
constexpr std::size_t INDENT_PREFIX_SIZE = 256;
// Whole pairs of blanks that fit in the indentation text: 127 levels.
constexpr std::size_t MAX_INDENT_LENGTH = (INDENT_PREFIX_SIZE - 1) / 2 * 2;
constexpr int MAX_NESTING_LEVEL = MAX_INDENT_LENGTH / 2;

struct RunState {
    // Index of the chunk chosen with --dump; -1 when none is chosen.
    std::int32_t select_index = -1;
    // Whether chunks that are not selected get their listing line.
    int listing_on = 1;
    // Running index: the number shown in brackets for the chunk at hand.
    std::int32_t chunk_counter = 0;
    // Chunk ID chosen with --dump-type (at most four characters), or null.
    char *select_type = nullptr;
    // Chosen data chunks are dumped as one line of hex pairs.
    int raw_output = 0;
    // Set once the chunk chosen by index has been handled.
    int walk_done = 0;
    // Blanks put in front of each listing line.
    char indent_prefix[INDENT_PREFIX_SIZE] = {};
};

extern RunState run_state;

// CHUNK_INDEX as atoi reads it (leading white space, optional sign, decimal
// digits up to the first other character), saturated to the int32 range.
std::int32_t parse_chunk_index(const char *text);

// Standard output. A failed write ends the run with status 1 and a message
// naming the cause, so no caller can forget to check.
void write_output(const char *text, std::size_t length);
void print_output(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Dump text gathered for one write when standard output is a file or a
// device: a file takes text faster in writes of this size than in one write
// per block, and the batch is all the memory that this costs.
constexpr std::size_t FILE_OUTPUT_BATCH_SIZE = 1 << 20;

// How much dump text is worth gathering before it is written:
// FILE_OUTPUT_BATCH_SIZE for a file or a device, where fewer, larger writes
// are faster and no one watches the output grow; 0 for a pipe, a terminal
// or a socket, whose reader gets each block's text as soon as it is made.
// The first call looks at what standard output is and prepares it for large
// output: a pipe is enlarged as far as the system allows.
std::size_t output_batch_size();
