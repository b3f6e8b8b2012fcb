// Writes the example files in examples/: a WAV file with a LIST/INFO chunk,
// a SoundFont-shaped file with nested lists, and a big-endian RIFX file.
// Usage: make_examples DIRECTORY

#include "riff_builder.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace {

using riff::append_u16;
using riff::append_u32;
using riff::Bytes;
using riff::data_chunk;
using riff::list_chunk;
using riff::riff_file;

Bytes text(const std::string &value)
{
    Bytes bytes(value.begin(), value.end());
    bytes.push_back(0);
    return bytes;
}

// PCM format chunk body: mono, 16-bit, 8000 Hz.
Bytes pcm_format(bool big_endian)
{
    Bytes out;
    append_u16(out, 1, big_endian);         // PCM
    append_u16(out, 1, big_endian);         // channels
    append_u32(out, 8000, big_endian);      // sample rate
    append_u32(out, 16000, big_endian);     // bytes per second
    append_u16(out, 2, big_endian);         // block align
    append_u16(out, 16, big_endian);        // bits per sample
    return out;
}

// A few 16-bit samples of a 1 kHz sine at 8000 Hz.
Bytes sine_samples(int count, bool big_endian)
{
    Bytes out;
    for (int i = 0; i < count; ++i) {
        const double value = 12000.0 * std::sin(2.0 * M_PI * 1000.0 * i / 8000.0);
        append_u16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(value))),
                   big_endian);
    }
    return out;
}

Bytes sample_wav()
{
    return riff::serialize(riff_file(
        "WAVE", {data_chunk("fmt ", pcm_format(false)),
                 list_chunk("INFO", {data_chunk("INAM", text("chunklens sample")),
                                     data_chunk("ISFT", text("make_examples"))}),
                 data_chunk("data", sine_samples(24, false))}));
}

// The chunk layout of a SoundFont 2 bank with one preset, one instrument and
// one sample; record contents are zero apart from the names and terminals.
Bytes sample_sf2()
{
    Bytes version;
    append_u16(version, 2, false);
    append_u16(version, 1, false);
    Bytes preset_headers(2 * 38, 0);
    preset_headers[0] = 'S';
    preset_headers[1] = 'i';
    preset_headers[2] = 'n';
    preset_headers[3] = 'e';
    Bytes sample_headers(2 * 46, 0);
    sample_headers[0] = 'S';
    sample_headers[1] = 'i';
    sample_headers[2] = 'n';
    sample_headers[3] = 'e';
    return riff::serialize(riff_file(
        "sfbk",
        {list_chunk("INFO", {data_chunk("ifil", version), data_chunk("isng", text("EMU8000")),
                             data_chunk("INAM", text("chunklens bank"))}),
         list_chunk("sdta", {data_chunk("smpl", sine_samples(40, false))}),
         list_chunk("pdta", {data_chunk("phdr", preset_headers), data_chunk("pbag", Bytes(8, 0)),
                             data_chunk("pmod", Bytes(10, 0)), data_chunk("pgen", Bytes(8, 0)),
                             data_chunk("inst", Bytes(44, 0)), data_chunk("ibag", Bytes(8, 0)),
                             data_chunk("imod", Bytes(10, 0)), data_chunk("igen", Bytes(8, 0)),
                             data_chunk("shdr", sample_headers)})}));
}

Bytes sample_rifx()
{
    return riff::serialize(riff_file(
        "WAVE",
        {data_chunk("fmt ", pcm_format(true)), data_chunk("data", sine_samples(12, true))},
        true));
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("Usage: make_examples DIRECTORY\n", stderr);
        return 1;
    }
    const std::string directory = argv[1];
    riff::write_file(directory + "/sample.wav", sample_wav());
    riff::write_file(directory + "/sample.sf2", sample_sf2());
    riff::write_file(directory + "/sample.rifx", sample_rifx());
    return 0;
}
