#include "fixtures.h"

namespace chunklens_test {

using riff::Bytes;
using riff::counting_bytes;
using riff::data_chunk;
using riff::list_chunk;
using riff::riff_file;
using riff::serialize;

Bytes wav_file()
{
    return serialize(riff_file(
        "WAVE", {data_chunk("fmt ", counting_bytes(16)),
                 list_chunk("INFO", {data_chunk("INAM", {'T', 'o', 'n', 'e', 0}),
                                     data_chunk("ICMT", {'h', 'i', 0})}),
                 data_chunk("data", {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF})}));
}

Bytes soundfont_file()
{
    return serialize(riff_file(
        "sfbk", {list_chunk("INFO", {data_chunk("ifil", {2, 0, 1, 0}),
                                     data_chunk("INAM", {'B', 'a', 'n', 'k', '!', '!', 0})}),
                 list_chunk("sdta", {data_chunk("smpl", counting_bytes(10, 0x40))}),
                 list_chunk("pdta", {data_chunk("phdr", Bytes(38, 0)),
                                     data_chunk("pbag", Bytes(4, 0)),
                                     data_chunk("shdr", Bytes(46, 0))})}));
}

Bytes empty_list_file()
{
    return serialize(riff_file("WAVE", {data_chunk("fmt ", {1, 2}), list_chunk("INFO", {}),
                                        data_chunk("data", {9})}));
}

Bytes rifx_file()
{
    return serialize(riff_file("WAVE",
                               {data_chunk("fmt ", counting_bytes(3)),
                                list_chunk("INFO", {data_chunk("INAM", {'x', 0})}),
                                data_chunk("data", counting_bytes(300))},
                               true));
}

Bytes tree_file()
{
    return serialize(riff_file(
        "TREE", {data_chunk("aaaa", {1, 2}),
                 list_chunk("blst", {data_chunk("cccc", {3}),
                                     list_chunk("dlst", {data_chunk("aaaa", {4, 5, 6})}),
                                     data_chunk("eeee", {})}),
                 list_chunk("mpty", {}),
                 data_chunk("aaaa", {7})}));
}

Bytes nested_ids_file()
{
    return serialize(riff_file(
        "NEST",
        {list_chunk("item", {data_chunk("head", {0x11}), data_chunk("item", {0x22, 0x33}),
                             data_chunk("tail", {})}),
         list_chunk("item", {list_chunk("item", {data_chunk("deep", {0x44})}),
                             data_chunk("late", {0x55}),
                             list_chunk("item", {data_chunk("more", {})})}),
         data_chunk("last", {})}));
}

Bytes form_type_file()
{
    return serialize(riff_file(
        "band", {data_chunk("name", {1}), list_chunk("band", {data_chunk("memb", {2})}),
                 data_chunk("year", {3}), list_chunk("band", {data_chunk("solo", {})})}));
}

const char WAV_LISTING[] =
    "<WAVE>[   0] (ofs = 0x0, size = 80)\n"
    "  (fmt )[   1] (ofs = 0xc, size = 16)\n"
    "  <INFO>[   2] (ofs = 0x24, size = 30)\n"
    "    (INAM)[   3] (ofs = 0x30, size = 5)\n"
    "    (ICMT)[   4] (ofs = 0x3e, size = 3)\n"
    "  (data)[   5] (ofs = 0x4a, size = 6)\n";

const char TREE_LISTING[] =
    "<TREE>[   0] (ofs = 0x0, size = 90)\n"
    "  (aaaa)[   1] (ofs = 0xc, size = 2)\n"
    "  <blst>[   2] (ofs = 0x16, size = 46)\n"
    "    (cccc)[   3] (ofs = 0x22, size = 1)\n"
    "    <dlst>[   4] (ofs = 0x2c, size = 16)\n"
    "      (aaaa)[   5] (ofs = 0x38, size = 3)\n"
    "    (eeee)[   6] (ofs = 0x44, size = 0)\n"
    "  <mpty>[   7] (ofs = 0x4c, size = 4)\n"
    "  (aaaa)[   8] (ofs = 0x58, size = 1)\n";

}  // namespace chunklens_test
