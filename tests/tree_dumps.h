// Formatted dumps of the data chunks of tree_file(), as chosen by index
// (each shows the chunk's own index).
#pragma once

#include "fixtures.h"

#include <string>

namespace chunklens_test {

// aaaa [1]: data 01 02 at offset 20, so four blank columns open the row.
inline std::string tree_dump_1()
{
    return "Dump chunk: (aaaa)[   1] (ofs = 0xc, size = 2)\n00000016" + blanks(14) + " |  01 02 \n";
}

// cccc: data 03 at offset 42, ten blank columns; index as given.
inline std::string tree_dump_cccc(const std::string &index_field)
{
    return "Dump chunk: (cccc)[" + index_field + "] (ofs = 0x22, size = 1)\n00000032  " +
           blanks(12) + " |  " + blanks(12) + " |  " + blanks(6) + "03 \n";
}

// aaaa three levels down: data 04 05 06 at offset 64, the start of a row.
inline std::string tree_dump_deep_aaaa(const std::string &index_field)
{
    return "Dump chunk: (aaaa)[" + index_field + "] (ofs = 0x38, size = 3)\n00000064  04 05 06 \n";
}

// eeee: size 0 with its data position at offset 76, twelve blank columns.
inline std::string tree_dump_eeee(const std::string &index_field)
{
    return "Dump chunk: (eeee)[" + index_field + "] (ofs = 0x44, size = 0)\n00000064  " +
           blanks(12) + " |  " + blanks(12) + " |  " + blanks(12) + "\n";
}

// The last aaaa: data 07 at offset 96.
inline std::string tree_dump_last_aaaa(const std::string &index_field)
{
    return "Dump chunk: (aaaa)[" + index_field + "] (ofs = 0x58, size = 1)\n00000096  07 \n";
}

}  // namespace chunklens_test
