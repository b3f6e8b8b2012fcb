#include "fuzz_input.h"

#include <cstring>

namespace chunklens_fuzz {

namespace {

constexpr int MODE_COUNT = 7;

// The ID goes through argv, where a zero byte would end it early.
std::string id_argument(const std::uint8_t *bytes)
{
    std::string id;
    for (int i = 0; i < 4; ++i)
        id += bytes[i] == 0 ? ' ' : static_cast<char>(bytes[i]);
    return id;
}

const std::uint8_t STREAM_MARK[4] = {'P', 'I', 'P', 'E'};

bool has_stream_prefix(const std::uint8_t *data, std::size_t size)
{
    return size >= STREAM_PREFIX_SIZE && std::memcmp(data, STREAM_MARK, sizeof STREAM_MARK) == 0;
}

}  // namespace

DecodedInput decode_input(const std::uint8_t *data, std::size_t size)
{
    DecodedInput input;
    if (has_stream_prefix(data, size)) {
        input.through_pipe = true;
        const std::uint8_t piece = data[sizeof STREAM_MARK];
        input.pipe_piece = piece == 0 ? LARGEST_PIPE_PIECE : piece;
        data += STREAM_PREFIX_SIZE;
        size -= STREAM_PREFIX_SIZE;
    }
    if (size < INPUT_HEADER_SIZE) {
        input.file.assign(data, data + size);
        return input;
    }
    const Mode mode = static_cast<Mode>(data[0] % MODE_COUNT);
    const std::string index = std::to_string(data[1]);
    const std::string id = id_argument(data + 2);
    const bool raw = mode == Mode::RawIndex || mode == Mode::RawId || mode == Mode::RawIdAndIndex;
    const bool by_index = mode == Mode::Index || mode == Mode::RawIndex ||
                          mode == Mode::IdAndIndex || mode == Mode::RawIdAndIndex;
    const bool by_id = mode == Mode::Id || mode == Mode::RawId || mode == Mode::IdAndIndex ||
                       mode == Mode::RawIdAndIndex;
    if (raw)
        input.options.push_back("-r");
    if (by_id)
        input.options.insert(input.options.end(), {"-t", id});
    if (by_index)
        input.options.insert(input.options.end(), {"-d", index});
    input.file.assign(data + INPUT_HEADER_SIZE, data + size);
    return input;
}

std::vector<std::uint8_t> encode_header(Mode mode, std::uint8_t index, const std::string &id)
{
    std::vector<std::uint8_t> header{static_cast<std::uint8_t>(mode), index};
    for (std::size_t i = 0; i < 4; ++i)
        header.push_back(i < id.size() ? static_cast<std::uint8_t>(id[i]) : ' ');
    return header;
}

std::vector<std::uint8_t> encode_stream_prefix(std::uint8_t piece)
{
    std::vector<std::uint8_t> prefix(STREAM_MARK, STREAM_MARK + sizeof STREAM_MARK);
    prefix.push_back(piece);
    return prefix;
}

}  // namespace chunklens_fuzz
