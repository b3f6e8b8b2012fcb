// The RIFF files that the tests run chunklens on. The comment on each gives
// the layout that the expected outputs rely on: header offset, declared size
// and running index of every chunk.
#pragma once

#include "riff_builder.h"

#include <string>

namespace chunklens_test {

// WAVE: fmt (16 bytes), LIST INFO with INAM (5) and ICMT (3), data (6).
//   [0] WAVE 0x0 80, [1] fmt 0xc 16, [2] INFO 0x24 30, [3] INAM 0x30 5,
//   [4] ICMT 0x3e 3, [5] data 0x4a 6
riff::Bytes wav_file();

// A SoundFont-shaped bank: LIST INFO, LIST sdta, LIST pdta.
//   [0] sfbk 0x0 198, [1] INFO 0xc 32, [2] ifil 0x18 4, [3] INAM 0x24 7,
//   [4] sdta 0x34 22, [5] smpl 0x40 10, [6] pdta 0x52 116, [7] phdr 0x5e 38,
//   [8] pbag 0x8c 4, [9] shdr 0x98 46
riff::Bytes soundfont_file();

// An empty list between two data chunks of even and odd size.
//   [0] WAVE 0x0 36, [1] fmt 0xc 2, [2] INFO 0x16 4, [3] data 0x22 1
riff::Bytes empty_list_file();

// Big-endian RIFX.
//   [0] WAVE 0x0 346, [1] fmt 0xc 3 (bytes 00 01 02), [2] INFO 0x18 14,
//   [3] INAM 0x24 2, [4] data 0x2e 300
riff::Bytes rifx_file();

// Three levels, a repeated ID, a data chunk of size 0 and an empty list.
//   [0] TREE 0x0 90
//   [1]   aaaa 0xc 2 (01 02; data at 20)
//   [2]   blst 0x16 46
//   [3]     cccc 0x22 1 (03; data at 42)
//   [4]     dlst 0x2c 16
//   [5]       aaaa 0x38 3 (04 05 06; data at 64)
//   [6]     eeee 0x44 0 (data at 76)
//   [7]   mpty 0x4c 4
//   [8]   aaaa 0x58 1 (07; data at 96)
riff::Bytes tree_file();

// Lists and data chunks that share the ID "item", nested in each other.
//   [0] NEST 0x0 116
//   [1]   item (list) 0xc 32
//   [2]     head 0x18 1
//   [3]     item (data) 0x22 2 (22 33; data at 42)
//   [4]     tail 0x2c 0
//   [5]   item (list) 0x34 56
//   [6]     item (list) 0x40 14
//   [7]       deep 0x4c 1
//   [8]     late 0x56 1
//   [9]     item (list) 0x60 12
//   [10]      more 0x6c 0
//   [11]  last 0x74 0
riff::Bytes nested_ids_file();

// The form type "band" also names two lists inside.
//   [0] band 0x0 66, [1] name 0xc 1, [2] band 0x16 14, [3] memb 0x22 1,
//   [4] year 0x2c 1, [5] band 0x36 12, [6] solo 0x42 0
riff::Bytes form_type_file();

// The plain listings of wav_file() and tree_file().
extern const char WAV_LISTING[];
extern const char TREE_LISTING[];

// n blanks.
inline std::string blanks(std::size_t n)
{
    return std::string(n, ' ');
}

}  // namespace chunklens_test
