// How a fuzz input becomes one run of chunklens: a fixed header chooses the
// options, the rest is the file. The fuzz harness and the corpus replay in
// the test suite share this, so a saved input means the same run in both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace chunklens_fuzz {

// Header: mode byte, chunk index byte, four ID bytes.
constexpr std::size_t INPUT_HEADER_SIZE = 6;

struct DecodedInput {
    // Options to put before FILE, e.g. {"-r", "-d", "3"}.
    std::vector<std::string> options;
    std::vector<std::uint8_t> file;
};

// Inputs shorter than the header are a listing of what bytes there are.
DecodedInput decode_input(const std::uint8_t *data, std::size_t size);

// The header that decode_input reads back as these options; for the seeds.
enum class Mode { List, Index, RawIndex, Id, RawId, IdAndIndex, RawIdAndIndex };
std::vector<std::uint8_t> encode_header(Mode mode, std::uint8_t index, const std::string &id);

}  // namespace chunklens_fuzz
