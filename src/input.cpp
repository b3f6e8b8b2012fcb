// The file layer under the RIFF reader. The reader asks for every chunk
// header with one small read and passes over every chunk with one forward
// relative seek; the library's own channel turned each of those into a
// system call or two and could not read a pipe at all. Here a file is read
// with pread into a window that serves many of those reads, a seek only
// moves the position, and a stream is read forward, in the same window,
// with the bytes that a seek passes over read and dropped.
//
// No memory map: a file that another program cuts short while it is read
// must end the walk with "Unexpected end of file", not with SIGBUS.

#include "input.h"

#include "pipes.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Large enough that a listing makes one system call for thousands of small
// chunks and a dump one for eight of its blocks. Measured with windows of
// 16 KiB to 512 KiB on the listing of a million small chunks (all alike)
// and the dump of a 256 MiB chunk: 16 KiB, where every block of the dump
// is a read of its own, was a quarter slower; 64 KiB to 512 KiB were
// alike, 128 KiB by a hair the fastest.
constexpr std::size_t WINDOW_SIZE = 128 * 1024;

struct InputFile {
    int descriptor = -1;
    bool is_stream = false;
    // File offset of the next byte that the reader gets.
    std::uint64_t position = 0;
    // The window holds the bytes at file offsets window_start up to
    // window_end; what it holds of a stream was read and is gone from it.
    std::uint64_t window_start = 0;
    std::uint64_t window_end = 0;
    unsigned char window[WINDOW_SIZE];
};

InputFile &input_of(IpatchFileHandle *handle)
{
    return *static_cast<InputFile *>(handle->data);
}

void set_system_error(GError **error, int error_number)
{
    g_set_error(error, G_FILE_ERROR, g_file_error_from_errno(error_number), "%s",
                g_strerror(error_number));
}

// Whether the stream has bytes (or its end) ready within timeout_ms
// milliseconds; -1 waits as long as it takes.
bool stream_ready(int descriptor, int timeout_ms)
{
    pollfd watched = {descriptor, POLLIN, 0};
    int ready;
    while ((ready = ::poll(&watched, 1, timeout_ms)) < 0 && errno == EINTR) {
    }
    return ready != 0;
}

void (*call_before_waiting)() = nullptr;

// One read of up to `size` bytes at the file's current offset (a stream) or
// at `offset` (a file): the count, 0 at the end, -1 with errno on failure.
ssize_t read_once(const InputFile &input, void *buffer, std::size_t size, std::uint64_t offset)
{
    // Checked before a stream's reads only, at a system call each: a stream
    // comes in at most a window at a time, and most often much slower.
    if (input.is_stream && call_before_waiting != nullptr && !stream_ready(input.descriptor, 0))
        call_before_waiting();
    for (;;) {
        const ssize_t count = input.is_stream
                                  ? ::read(input.descriptor, buffer, size)
                                  : ::pread(input.descriptor, buffer, size,
                                            static_cast<off_t>(offset));
        if (count >= 0)
            return count;
        // A stream that another program left non-blocking refuses a read
        // while it is empty instead of waiting; wait here, as a blocking one
        // would.
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            stream_ready(input.descriptor, -1);
        else if (errno != EINTR)
            return -1;
    }
}

// Refills the window from the position on, with one read: a stream gives
// what has arrived, which may be less than the window, so that a reader
// asking for a header never waits for bytes beyond it. False on failure;
// an empty window afterwards means the end of the input.
bool refill_window(InputFile &input, GError **error)
{
    const ssize_t count = read_once(input, input.window, WINDOW_SIZE, input.position);
    if (count < 0) {
        set_system_error(error, errno);
        return false;
    }
    input.window_start = input.position;
    input.window_end = input.position + static_cast<std::uint64_t>(count);
    return true;
}

bool window_holds_position(const InputFile &input)
{
    return input.position >= input.window_start && input.position < input.window_end;
}

// Copies what the window holds from the position on, up to size bytes.
std::size_t take_from_window(InputFile &input, unsigned char *buffer, std::size_t size)
{
    const std::size_t count =
        std::min<std::uint64_t>(size, input.window_end - input.position);
    std::memcpy(buffer, input.window + (input.position - input.window_start), count);
    input.position += count;
    return count;
}

GIOStatus read_method(IpatchFileHandle *handle, gpointer buffer, guint size, guint *bytes_read,
                      GError **error)
{
    InputFile &input = input_of(handle);
    unsigned char *to = static_cast<unsigned char *>(buffer);
    std::size_t total = 0;
    // Like the library's own channel, a read stops short only at the end of
    // the input, so a file and the same bytes through a pipe read alike.
    while (total < size) {
        if (window_holds_position(input)) {
            total += take_from_window(input, to + total, size - total);
            continue;
        }
        const std::size_t wanted = size - total;
        if (wanted >= WINDOW_SIZE) {
            // Too large for the window: straight into the caller's buffer.
            const ssize_t count = read_once(input, to + total, wanted, input.position);
            if (count < 0) {
                set_system_error(error, errno);
                return G_IO_STATUS_ERROR;
            }
            if (count == 0)
                break;
            total += static_cast<std::size_t>(count);
            input.position += static_cast<std::uint64_t>(count);
            continue;
        }
        if (!refill_window(input, error))
            return G_IO_STATUS_ERROR;
        if (input.window_end == input.window_start)
            break;
    }
    if (bytes_read != nullptr)
        *bytes_read = static_cast<guint>(total);
    return total == 0 && size > 0 ? G_IO_STATUS_EOF : G_IO_STATUS_NORMAL;
}

// A stream cannot go back, and the reader never asks it to: it only moves
// forward over what it skips. Should it ever, the walk fails with this
// rather than read the wrong bytes.
void set_backward_seek_error(GError **error)
{
    g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_INVAL,
                "Cannot seek backward in a stream (a pipe, FIFO or socket)");
}

// Reads and drops the stream's bytes up to target. A target past the end of
// the stream is reached all the same, as lseek reaches one past the end of
// a file; the next read then meets the end, as it would in the file.
bool skip_stream_to(InputFile &input, std::uint64_t target, GError **error)
{
    while (input.position < target) {
        if (window_holds_position(input)) {
            input.position = std::min(target, input.window_end);
            continue;
        }
        if (!refill_window(input, error))
            return false;
        if (input.window_end == input.window_start) {
            input.position = target;
            input.window_start = input.window_end = target;
        }
    }
    return true;
}

GIOStatus seek_method(IpatchFileHandle *handle, int offset, GSeekType type, GError **error)
{
    InputFile &input = input_of(handle);
    std::int64_t origin = 0;
    if (type == G_SEEK_CUR) {
        origin = static_cast<std::int64_t>(input.position);
    } else if (type == G_SEEK_END) {
        struct stat status;
        if (input.is_stream || ::fstat(input.descriptor, &status) != 0) {
            set_system_error(error, input.is_stream ? ESPIPE : errno);
            return G_IO_STATUS_ERROR;
        }
        origin = status.st_size;
    }
    const std::int64_t target = origin + offset;
    if (target < 0) {
        set_system_error(error, EINVAL);
        return G_IO_STATUS_ERROR;
    }
    if (!input.is_stream) {
        input.position = static_cast<std::uint64_t>(target);
        return G_IO_STATUS_NORMAL;
    }
    if (static_cast<std::uint64_t>(target) < input.position) {
        set_backward_seek_error(error);
        return G_IO_STATUS_ERROR;
    }
    return skip_stream_to(input, static_cast<std::uint64_t>(target), error) ? G_IO_STATUS_NORMAL
                                                                            : G_IO_STATUS_ERROR;
}

GIOStatus write_method(IpatchFileHandle *, gconstpointer, guint, GError **error)
{
    set_system_error(error, EBADF);  // FILE is opened for reading only
    return G_IO_STATUS_ERROR;
}

// The descriptor behind /dev/stdin, /dev/fd/N or /proc/self/fd/N, or -1 for
// any other name. Such a name reopens what the descriptor refers to, which
// a socket does not allow; the descriptor itself is then read instead.
int descriptor_named_by(const char *file_name)
{
    if (std::strcmp(file_name, "/dev/stdin") == 0)
        return STDIN_FILENO;
    for (const char *prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        const std::size_t length = std::strlen(prefix);
        if (std::strncmp(file_name, prefix, length) != 0)
            continue;
        char *end = nullptr;
        const long number = std::strtol(file_name + length, &end, 10);
        if (end != file_name + length && *end == '\0' && number >= 0 && number <= INT32_MAX)
            return static_cast<int>(number);
    }
    return -1;
}

int open_input(const char *file_name)
{
    const int descriptor = ::open(file_name, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (descriptor >= 0 || errno != ENXIO)
        return descriptor;
    const int named = descriptor_named_by(file_name);
    if (named < 0)
        return descriptor;
    const int copy = ::fcntl(named, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        errno = ENXIO;
    return copy;
}

gboolean open_method(IpatchFileHandle *handle, const char *mode, GError **error)
{
    if (mode == nullptr || mode[0] != 'r' || std::strchr(mode, '+') != nullptr) {
        set_system_error(error, EINVAL);  // the tool only ever reads
        return FALSE;
    }
    // A FIFO without a writer waits here for one, as cat does.
    const int descriptor = open_input(handle->file->file_name);
    if (descriptor < 0) {
        set_system_error(error, errno);
        return FALSE;
    }
    // RIFF data is never typed: a terminal as FILE is a mistake, most often
    // /dev/stdin with nothing piped in, which would otherwise wait for keys.
    if (::isatty(descriptor)) {
        ::close(descriptor);
        g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_INVAL,
                    "RIFF data is not read from a terminal (name a file, or pipe the data in)");
        return FALSE;
    }
    struct stat status;
    if (::fstat(descriptor, &status) != 0) {
        set_system_error(error, errno);
        ::close(descriptor);
        return FALSE;
    }
    InputFile *input = new (std::nothrow) InputFile;
    if (input == nullptr) {
        set_system_error(error, ENOMEM);
        ::close(descriptor);
        return FALSE;
    }
    input->descriptor = descriptor;
    // A directory is read as a file, so that its first read says what it is.
    input->is_stream =
        !(S_ISREG(status.st_mode) || S_ISBLK(status.st_mode) || S_ISDIR(status.st_mode));
    handle->data = input;
    // A pipe that holds more lets its writer run further ahead, and the
    // reads here take more at once: a chunk of 256 MiB through `cat |` was
    // dumped a quarter faster with a pipe of 1 MiB than with the default
    // 64 KiB.
    if (S_ISFIFO(status.st_mode))
        enlarge_pipe(descriptor);
    return TRUE;
}

void close_method(IpatchFileHandle *handle)
{
    if (handle->data == nullptr)
        return;
    InputFile *input = &input_of(handle);
    ::close(input->descriptor);
    delete input;
    handle->data = nullptr;
}

int getfd_method(IpatchFileHandle *handle)
{
    return handle->data != nullptr ? input_of(handle).descriptor : -1;
}

int get_size_method(IpatchFile *file, GError **error)
{
    struct stat status;
    if (file->file_name == nullptr || ::stat(file->file_name, &status) != 0) {
        set_system_error(error, file->file_name == nullptr ? EINVAL : errno);
        return -1;
    }
    if (!S_ISREG(status.st_mode) || status.st_size > INT32_MAX) {
        set_system_error(error, S_ISREG(status.st_mode) ? EOVERFLOW : ESPIPE);
        return -1;
    }
    return static_cast<int>(status.st_size);
}

IpatchFileIOFuncs INPUT_FUNCTIONS = {
    open_method,  close_method, read_method,     write_method,
    seek_method,  getfd_method, get_size_method,
};

}  // namespace

void use_input_layer(IpatchFile *file, void (*before_waiting)())
{
    call_before_waiting = before_waiting;
    ipatch_file_set_iofuncs_static(file, &INPUT_FUNCTIONS);
}

bool input_is_stream(IpatchFileHandle *handle)
{
    return handle->data != nullptr && input_of(handle).is_stream;
}
