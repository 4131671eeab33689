#pragma once
// Asks one address on an open line for its device model (CID1 0x40,
// CID2 0x51) and waits for the answer no longer than a reply may take.
#include <cstdint>
#include <string>

namespace scan {

struct ProbeTiming {
    int baud = 9600;
    int firstByteMs = 1000;  // the monitor's reply timeout before the first byte
    int gapMs = 100;         // and between two bytes
};

enum class ProbeOutcome {
    Model,       // a valid reply with RTN 0: `model` holds its text
    Refused,     // a valid reply from the address with another RTN
    NoAnswer,    // nothing from this address before the deadline
    LineError,   // the line failed (write or read error, hang-up)
};

struct ProbeResult {
    ProbeOutcome outcome = ProbeOutcome::NoAnswer;
    std::string model;      // printable: control and non-ASCII bytes as \xNN
    uint8_t rtn = 0;        // with Refused
    int frameErrors = 0;    // broken frames seen while waiting
    long waitedMs = 0;
    std::string error;      // with LineError
};

// The whole time a probe may take from its command: the first-byte timeout,
// the line time of the longest model reply at the baud rate, and one gap.
int ProbeDeadlineMs(const ProbeTiming& timing);

// Opens `path` for probing without waiting for carrier and without taking
// it from another program: refused when another process holds its lock.
// Returns the descriptor (non-blocking, raw 8N1 at `baud`) or -1 and a reason.
int OpenForProbe(const std::string& path, int baud, std::string& error);

// Sends the model query to `address` and reads until a reply from that
// address or the deadline. Input already waiting is dropped first, and an
// echo of the command (half-duplex adapters) is not taken for a reply.
ProbeResult ProbeModel(int fd, uint8_t address, const ProbeTiming& timing);

}  // namespace scan
