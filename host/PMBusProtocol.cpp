#include "PMBusProtocol.h"

#include "ttime.h"

bool PMBusProtocol::InitSetting(const Json::Value& setting) {
    if (!setting.isObject()) {
        if (setting.isNull()) return true;  // no setting: every default holds
        InfoLog("PMBusProtocol:ConfigError {} device setting is not an object", DataId());
        return false;
    }
    const Json::Value& address = setting["address"];
    if (address.isNull()) return true;
    const bool inRange = address.isIntegral() && address.asLargestInt() >= 0 &&
                         address.asLargestInt() <= 255;
    if (!inRange) {
        InfoLog("PMBusProtocol:ConfigError {} address must be an integer from 0 to 255",
                DataId());
        return false;
    }
    address_ = static_cast<uint8_t>(address.asLargestInt());
    return true;
}

bool PMBusProtocol::write_pmbus_cmd(uint8_t cid1, uint8_t cid2, const uint8_t* info,
                                    int infoLength) {
    auto controller = controller_.lock();
    if (!controller) return false;
    exchangePending_ = true;
    receiver_.Restart();
    return controller->SendCommand(*this, cid1, cid2, info, infoLength);
}

bool PMBusProtocol::HandleReply(const uint8_t* decoded, size_t length) {
    exchangePending_ = false;
    if (decoded == nullptr || length < kReplyHeader) return false;
    const size_t lenid = decoded[4] | (static_cast<size_t>(decoded[5]) << 8);
    if (kReplyHeader + lenid / 2 > length) {
        InfoLog("PMBusProtocol:FrameError {} reply INFO shorter than its LENID", DataId());
        process_error();
        return false;
    }
    if (decoded[3] != 0) {
        InfoLog("PMBusProtocol:FrameError {} reply RTN is {}", DataId(), decoded[3]);
        process_error();
        return false;
    }
    updateTime_ = host_local_now();
    reply_ = decoded;
    const bool result = process_payload();
    reply_ = nullptr;
    return result;
}

void PMBusProtocol::process(unsigned char* data, unsigned int length) {
    receiver_.Feed(
        data, length, [this](const char* body, size_t n) { OnFrame(body, n); },
        [this] { DropFrame(host::FrameErrorText(host::FrameError::TooLong), "", 0); });
}

void PMBusProtocol::OnFrame(const char* body, size_t length) {
    const host::FrameError error = host::DecodeFrame(body, length, frame_);
    if (error != host::FrameError::None) {
        DropFrame(host::FrameErrorText(error), body, length);
        return;
    }
    if (frame_.adr != address_) {
        DropFrame("another address", body, length);
        return;
    }
    if (!exchangePending_) {
        // A duplicate or a reply that came after its exchange had ended: not
        // a protocol fault of the device, so no log line, only the host hook.
        if (auto controller = controller_.lock()) {
            controller->OnFrameError(*this, "no command waiting", body, length);
        }
        return;
    }
    host::ToReplyBytes(frame_, replyBytes_);
    HandleReply(replyBytes_.data(), replyBytes_.size());
}

void PMBusProtocol::DropFrame(const char* reason, const char* body, size_t length) {
    InfoLog("PMBusProtocol:FrameError {} frame dropped: {}", DataId(), std::string(reason));
    if (auto controller = controller_.lock()) controller->OnFrameError(*this, reason, body, length);
}
