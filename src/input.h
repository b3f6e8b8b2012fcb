// How the bytes of FILE reach the RIFF reader: a file layer of our own
// under the library's file object. A file (or a block device) is read with
// positional reads into a window, so that the reader's many small reads and
// forward seeks cost no system call each; a stream (a pipe, a FIFO, a
// socket, a character device) is read forward only, what the reader skips
// being read and thrown away.
#pragma once

#include <libinstpatch/libinstpatch.h>

// Gives the file object our I/O functions; called before ipatch_file_open,
// which then opens FILE through them. The open refuses a terminal, and its
// errors carry the system's texts ("No such file or directory", ...).
// before_waiting, when given, is called whenever a stream has no bytes ready
// and the read is about to wait for its writer: the driver writes out what
// it holds, so that the output follows a slow stream as it arrives.
void use_input_layer(IpatchFile *file, void (*before_waiting)() = nullptr);

// Whether the open handle reads a stream, whose bytes arrive as some other
// program writes them, rather than a file.
bool input_is_stream(IpatchFileHandle *handle);
