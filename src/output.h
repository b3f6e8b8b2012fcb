// Standard output: the checked writers through which every byte of it goes,
// and how much dump text is gathered per write, chosen by what standard
// output is.
#pragma once

#include <cstddef>

// A failed write ends the run with status 1 and a message naming the cause,
// so no caller can forget to check.
void write_output(const char *text, std::size_t length);
void print_output(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Listing lines gather in stdio's buffer, which holds 4 KiB for a pipe, a
// file or /dev/null: the listing of a million chunks took ten thousand
// writes. When the input is a file, read at memory speed, they gather in a
// larger buffer; a stream's lines keep stdio's default, so that they follow
// the input as it arrives, and a terminal stays line by line. Called before
// anything is written to standard output.
void prepare_listing_output(bool input_is_stream);

// Writes out what stdio still holds; a failure ends the run as above.
void flush_output();

// The most dump text that is gathered for one write: a file takes text
// faster in writes of this size than in one write per block, and the batch
// is all the memory that this costs.
constexpr std::size_t OUTPUT_BATCH_LIMIT = 1 << 20;

// How much dump text is worth gathering before it is written, at most
// OUTPUT_BATCH_LIMIT:
// - a file or a device: the limit, as no one watches it grow;
// - a pipe: a quarter of what the pipe holds, when the input is a file read
//   at memory speed, since its reader gains nothing from getting each
//   block's text on its own and every write would wake it; nothing when the
//   input is a stream, so that the output follows the input as it arrives;
// - a terminal or a socket: nothing, each block's text is written at once.
// The first call looks at standard output and, when the input is a file,
// prepares a pipe for large output (it is enlarged as far as the system
// allows); later calls give the same answer.
std::size_t output_batch_size(bool input_is_stream);
