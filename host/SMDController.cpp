#include "SMDController.h"

#include <unistd.h>

#include "PMBusProtocol.h"
#include "pmbus_frame.h"

bool SMDController::SendCommand(PMBusProtocol& device, uint8_t cid1, uint8_t cid2,
                                const uint8_t* info, int infoLength) {
    if (!transport_ || infoLength < 0) return false;
    // Reused from command to command; one per thread, since devices on
    // different threads may share this controller.
    thread_local std::string frame;
    host::EncodeFrame(device.Version(), device.Address(), cid1, cid2, info,
                      static_cast<size_t>(infoLength), frame);
    transport_->DiscardInput();
    return transport_->Write(reinterpret_cast<const uint8_t*>(frame.data()), frame.size());
}

void SMDController::Pause(unsigned int microseconds) { ::usleep(microseconds); }
