// Pipes, on either end of the tool: the ones it reads and the one it writes.
#pragma once

#include <cstddef>

// Enlarges the pipe behind descriptor as far as the system allows, up to
// 1 MiB, and gives its size afterwards (0 when it is no pipe). The system
// may refuse a size (a user over the limit of pipe memory): then smaller
// ones are tried, and the pipe stays as it is when none is granted.
std::size_t enlarge_pipe(int descriptor);

// Reads the system's limit on the size of a pipe, which enlarge_pipe
// needs, while the process may still open files.
void read_pipe_size_limit();
