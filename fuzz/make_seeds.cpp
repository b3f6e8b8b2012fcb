// Writes the seed corpus for the fuzzer: the test fixtures, each under a
// few of the option headers of fuzz_input.h, some of them fed through a
// pipe in pieces of a few sizes.
// Usage: make_seeds DIRECTORY

#include "fixtures.h"
#include "fuzz_input.h"
#include "riff_builder.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

using chunklens_fuzz::encode_header;
using chunklens_fuzz::encode_stream_prefix;
using chunklens_fuzz::Mode;

struct Seed {
    std::string name;
    riff::Bytes file;
    Mode mode;
    std::uint8_t index;
    std::string id;
    // Fed through a pipe in pieces of this size (0: as large as a pipe
    // takes at once); read as a file when not set.
    std::optional<std::uint8_t> pipe_piece = std::nullopt;
};

std::vector<Seed> seeds()
{
    using namespace chunklens_test;
    return {
        {"wav-list", wav_file(), Mode::List, 0, ""},
        {"wav-dump-fmt", wav_file(), Mode::Index, 1, ""},
        {"wav-raw-data", wav_file(), Mode::RawId, 0, "data"},
        {"wav-info-list", wav_file(), Mode::Index, 2, ""},
        {"sf2-list", soundfont_file(), Mode::List, 0, ""},
        {"sf2-id-pdta", soundfont_file(), Mode::Id, 0, "pdta"},
        {"sf2-raw-index", soundfont_file(), Mode::RawIndex, 5, ""},
        {"empty-list", empty_list_file(), Mode::List, 0, ""},
        {"rifx-list", rifx_file(), Mode::List, 0, ""},
        {"rifx-dump-data", rifx_file(), Mode::Index, 4, ""},
        {"tree-id-and-index", tree_file(), Mode::IdAndIndex, 8, "aaaa"},
        {"tree-raw-id", tree_file(), Mode::RawId, 0, "aaaa"},
        {"nested-ids", nested_ids_file(), Mode::Id, 0, "item"},
        {"form-type", form_type_file(), Mode::RawIdAndIndex, 3, "band"},
        {"nested-lists", riff::nested_lists_file(6), Mode::List, 0, ""},
        // Pieces of 1, 5 and 7 bytes cut chunk headers (8 bytes, 12 with a
        // list's type) in every place.
        {"pipe-wav-list", wav_file(), Mode::List, 0, "", 0},
        {"pipe-wav-list-bytewise", wav_file(), Mode::List, 0, "", 1},
        {"pipe-sf2-raw-index", soundfont_file(), Mode::RawIndex, 5, "", 7},
        {"pipe-rifx-dump-data", rifx_file(), Mode::Index, 4, "", 5},
        {"pipe-tree-id-and-index", tree_file(), Mode::IdAndIndex, 8, "aaaa", 5},
        {"pipe-nested-ids", nested_ids_file(), Mode::Id, 0, "item", 7},
    };
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("Usage: make_seeds DIRECTORY\n", stderr);
        return 2;
    }
    for (const Seed &seed : seeds()) {
        riff::Bytes input;
        if (seed.pipe_piece)
            input = encode_stream_prefix(*seed.pipe_piece);
        const riff::Bytes header = encode_header(seed.mode, seed.index, seed.id);
        input.insert(input.end(), header.begin(), header.end());
        input.insert(input.end(), seed.file.begin(), seed.file.end());
        riff::write_file(std::string(argv[1]) + "/" + seed.name, input);
    }
    return 0;
}
