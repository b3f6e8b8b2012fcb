// Run state shared by the driver, the chunk walk and the chunk dump.
#pragma once

#include <libinstpatch/libinstpatch.h>

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

// What the driver makes of the library for the run and keeps until the
// process ends. It lives in static storage, not in main's frame: every run
// ends in exit() from inside a call, by which time the compiler may have
// let main's copies of these pointers go, and a leak checker that then
// finds nothing pointing at them reports them as lost.
struct RunObjects {
    // Empty until a library call fails; its message is what the user sees.
    GError *error = nullptr;
    IpatchFile *file = nullptr;
    IpatchFileHandle *handle = nullptr;
    IpatchRiff *reader = nullptr;
    // The composed message of a failed walk, as the library returned it.
    const char *failure_message = nullptr;
};

extern RunObjects run_objects;

// CHUNK_INDEX as atoi reads it (leading white space, optional sign, decimal
// digits up to the first other character), saturated to the int32 range.
std::int32_t parse_chunk_index(const char *text);
