// Writes the files the benchmark reads:
//   big.wav   a WAV with a 4-byte "fact" chunk (index 2) and a 256 MiB
//             "data" chunk (index 3) of pseudo-random bytes, starting in
//             mid-row at offset 56;
//   many.riff a RIFF file of a million small chunks.
// Usage: make_bench_files DIRECTORY

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t BIG_DATA_SIZE = 256u << 20;
constexpr std::uint32_t SMALL_CHUNK_COUNT = 1000000;

void put_u32(std::vector<unsigned char> &out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<unsigned char>(value >> shift));
}

void put_id(std::vector<unsigned char> &out, const char *id)
{
    out.insert(out.end(), id, id + 4);
}

bool write_all(std::FILE *file, const std::vector<unsigned char> &bytes)
{
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

bool write_big_wav(const std::string &path)
{
    std::vector<unsigned char> head;
    put_id(head, "RIFF");
    put_u32(head, 4 + (8 + 16) + (8 + 4) + (8 + BIG_DATA_SIZE));
    put_id(head, "WAVE");
    put_id(head, "fmt ");
    put_u32(head, 16);
    const unsigned char format[16] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0};
    head.insert(head.end(), format, format + 16);
    put_id(head, "fact");
    put_u32(head, 4);
    put_u32(head, BIG_DATA_SIZE / 4);
    put_id(head, "data");
    put_u32(head, BIG_DATA_SIZE);

    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || !write_all(file, head))
        return false;
    std::vector<unsigned char> block(1 << 20);
    std::uint32_t state = 2463534242u;
    for (std::uint32_t written = 0; written < BIG_DATA_SIZE; written += block.size()) {
        for (unsigned char &byte : block) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            byte = static_cast<unsigned char>(state);
        }
        if (!write_all(file, block))
            return false;
    }
    return std::fclose(file) == 0;
}

bool write_many_chunks(const std::string &path)
{
    std::vector<unsigned char> bytes;
    put_id(bytes, "RIFF");
    put_u32(bytes, 4 + SMALL_CHUNK_COUNT * 12);
    put_id(bytes, "many");
    for (std::uint32_t i = 0; i < SMALL_CHUNK_COUNT; ++i) {
        put_id(bytes, "smpl");
        put_u32(bytes, 4);
        put_u32(bytes, i);
    }
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || !write_all(file, bytes))
        return false;
    return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_bench_files DIRECTORY\n");
        return 2;
    }
    const std::string directory = argv[1];
    if (!write_big_wav(directory + "/big.wav") || !write_many_chunks(directory + "/many.riff")) {
        std::perror("make_bench_files");
        return 1;
    }
    return 0;
}
