#pragma once
#include "host_api.h"
// The host's request/reply protocol base: frames commands, decodes replies
// and hands each decoded reply to process_payload through reply_.
//
// Decoded reply layout (what reply_ points at):
//   0 VER, 1 ADR, 2 CID1, 3 RTN, 4-5 LENID (INFO hex characters, little-endian),
//   6.. INFO bytes (LENID / 2 of them).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "SMDSPDevice.h"
#include "pmbus_frame.h"

class HOST_API PMBusProtocol : public SMDSPDevice {
public:
    static constexpr size_t kReplyHeader = 6;

    // Reads "address" (0 to 255, default 1); anything else fails with a log line.
    bool InitSetting(const Json::Value& setting) override;
    // Raw bytes from the line: frames are collected and decoded here; a frame
    // that fails a check, or comes from another address, is dropped with a log
    // line and never reaches process_payload. A frame that arrives while no
    // command waits for a reply answers nothing and is dropped too.
    void process(unsigned char* data, unsigned int length) override;
    // Handles one decoded reply; false when it ended the exchange.
    virtual bool process_payload() = 0;
    // The reply did not come (timeout) or could not be used: end the exchange.
    virtual void process_error() { Reset(); }

    // Frames and sends one command; the reply later reaches process_payload.
    // Bytes received before it, and the rest of a read being handled, are
    // dropped: they cannot answer it.
    bool write_pmbus_cmd(uint8_t cid1, uint8_t cid2) { return write_pmbus_cmd(cid1, cid2, nullptr, 0); }
    bool write_pmbus_cmd(uint8_t cid1, uint8_t cid2, const uint8_t* info, int infoLength);

    // Hands a decoded reply (layout above) to process_payload. A reply whose
    // LENID claims more INFO than `length` holds, or whose RTN is not 0, is
    // refused and ends the exchange; returns what process_payload returned,
    // or false when the reply was refused.
    bool HandleReply(const uint8_t* decoded, size_t length);

    int Step() const { return step_; }
    void SetStep(int step) { step_ = step; }
    uint8_t Version() const { return version_; }
    uint8_t Address() const { return address_; }
    int BaudRate() const { return baudRate_; }

protected:
    const uint8_t* reply_ = nullptr;
    int step_ = 0;
    uint8_t version_ = 0x20;
    int baudRate_ = 9600;
    uint8_t address_ = 1;

private:
    void OnFrame(const char* body, size_t length);
    void DropFrame(const char* reason, const char* body, size_t length);

    host::FrameReceiver receiver_;
    host::DecodedFrame frame_;
    std::vector<uint8_t> replyBytes_;
};
