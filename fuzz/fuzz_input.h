// How a fuzz input becomes one run of chunklens: a fixed header chooses the
// options, the rest is the file. The fuzz harness and the corpus replay in
// the test suite share this, so a saved input means the same run in both.
//
// An input may begin with a stream prefix: the four bytes "PIPE" and a
// piece byte. The rest is then read as any other input, and its file is fed
// to the tool through a pipe instead of being named as a file. Every byte
// of the plain header already had a meaning, so the choice is made by this
// prefix: an input that does not begin with "PIPE" means what it always
// meant (no input of tests/fuzz_corpus does); one that does was before a
// dump by an ID beginning "PE".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace chunklens_fuzz {

// Header: mode byte, chunk index byte, four ID bytes.
constexpr std::size_t INPUT_HEADER_SIZE = 6;

// Stream prefix: "PIPE", piece byte.
constexpr std::size_t STREAM_PREFIX_SIZE = 5;

// The largest piece that goes into the pipe at once: one page, which every
// pipe holds whole.
constexpr std::size_t LARGEST_PIPE_PIECE = 4096;

// Pieces of the chosen size after which the rest goes in pieces of
// LARGEST_PIPE_PIECE. Each piece costs the writer and the tool a switch
// each way; 64 KiB byte by byte took a second, longer than the fuzzer's
// time limit for a run.
constexpr std::size_t CHOSEN_PIECE_COUNT = 512;

struct DecodedInput {
    // Options to put before FILE, e.g. {"-r", "-d", "3"}.
    std::vector<std::string> options;
    std::vector<std::uint8_t> file;
    // The file is fed through a pipe, and FILE names the pipe's read end.
    bool through_pipe = false;
    // With through_pipe: the file goes into the pipe in pieces of this many
    // bytes, CHOSEN_PIECE_COUNT of them, and then in pieces of
    // LARGEST_PIPE_PIECE (the last piece may be shorter); each goes in once
    // the tool has read all of the piece before, so that its reads end where
    // the pieces do. A piece byte of 0 means LARGEST_PIPE_PIECE.
    std::size_t pipe_piece = 0;
};

// Inputs shorter than the header are a listing of what bytes there are.
DecodedInput decode_input(const std::uint8_t *data, std::size_t size);

// The header that decode_input reads back as these options; for the seeds.
enum class Mode { List, Index, RawIndex, Id, RawId, IdAndIndex, RawIdAndIndex };
std::vector<std::uint8_t> encode_header(Mode mode, std::uint8_t index, const std::string &id);

// The stream prefix for pieces of PIECE bytes (0 for LARGEST_PIPE_PIECE),
// to put before a header.
std::vector<std::uint8_t> encode_stream_prefix(std::uint8_t piece);

}  // namespace chunklens_fuzz
