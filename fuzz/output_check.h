// Checks the tool's standard output against the file it read: every chunk
// line (listing or dump header) must name a header that is wholly in the
// file with the printed ID, type and size at the printed offset (and a list
// type inside its chunk), and every
// byte of a formatted dump must be the file's byte at its row and column,
// inside the chunk it belongs to. A raw dump carries no offsets and is not
// checked. Used as the fuzzer's oracle and by the corpus replay.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace chunklens_fuzz {

// Empty when the output agrees with the file; otherwise what disagrees.
std::string check_output(const std::string &out, const std::vector<std::uint8_t> &file);

}  // namespace chunklens_fuzz
