#include "SMDSPDevice.h"

#include <unistd.h>

bool SMDSPDevice::Init(std::weak_ptr<SMDController> controller, unsigned int id,
                       const Json::Value& setting) {
    exchangePending_ = false;
    return SMDVDevice::Init(std::move(controller), id, setting);
}

void SMDSPDevice::Reset() {
    exchangePending_ = false;
    if (auto controller = controller_.lock()) controller->OnReset(*this);
}

bool SMDSPDevice::SendData(const unsigned char* /*data*/, unsigned int /*length*/) {
    return false;  // raw writes go through the controller's transport, see PMBusProtocol
}

void SMDSPDevice::HostPause(unsigned int microseconds) const {
    if (auto controller = controller_.lock()) {
        controller->Pause(microseconds);
    } else {
        ::usleep(microseconds);
    }
}
