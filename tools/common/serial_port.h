#pragma once
// Serial-line helpers shared by the programs around the plug-in: opening a
// real serial port or a pseudo-terminal pair in raw mode, and writing whole
// buffers, optionally at the byte rate of a real line.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tools {

// Opens `path` as a raw 8N1 line at `baud` (one of the standard rates), with
// no flow control and O_NOCTTY, so the line never becomes the program's
// controlling terminal. The descriptor is left blocking: a caller that wants
// non-blocking reads sets O_NONBLOCK itself (or polls before each read).
// The port is held exclusively: an advisory lock (flock) that a second
// program using this function cannot take, and TIOCEXCL, which refuses
// further opens to programs without privileges. A port that another program
// holds sets `busy`. Returns the descriptor, or -1 with a one-line reason in
// `error`.
int OpenSerialPort(const std::string& path, int baud, std::string& error, bool* busy = nullptr);
// Gives up the exclusive use and closes a descriptor from OpenSerialPort.
void CloseSerialPort(int fd);

// Sets an open line to raw 8N1 at `baud` (one of the standard rates), no flow
// control; false with a one-line reason in `error`.
bool ConfigureSerialLine(int fd, int baud, std::string& error);

// A pseudo-terminal pair. `slave` is held open for the pair's lifetime so the
// master never sees a hang-up while no client has the slave open, and so the
// raw settings stay in force for the next client that opens `slavePath`.
struct PtyPair {
    int master = -1;
    int slave = -1;
    std::string slavePath;
};

// Opens a pair with both ends raw (no byte translated: CR stays CR, no echo).
// The master is non-blocking. On failure nothing stays open and `error` holds
// a one-line reason.
bool OpenPty(PtyPair& out, std::string& error);
// Closes both ends (each only if open) and clears the pair.
void ClosePty(PtyPair& pair);

// Writes all `n` bytes, waiting for the descriptor when it would block and
// retrying after signals. With `pacedBaud` > 0 the bytes leave no faster than
// a line at that rate carries them (10 bits a byte: start, 8 data, stop), so
// a reply takes as long as on the real line, handed over in the pieces a
// serial adapter delivers; a paced write ends early once `stop` is set. False
// when the descriptor fails (callers that write to pipes or sockets ignore
// SIGPIPE to see that).
bool WriteAll(int fd, const uint8_t* data, size_t n, int pacedBaud, const std::atomic<bool>* stop = nullptr);

}  // namespace tools
