#pragma once
#include "host_api.h"
// The host's serial device base: owns the port lock and the exchange state.
// One exchange (a command and its reply) is in flight at a time.
#include <cstdint>

#include <boost/thread/mutex.hpp>

#include "SMDVDevice.h"

enum class EnumParity { None, Odd, Even };

class HOST_API SMDSPDevice : public SMDVDevice {
public:
    // Ends the exchange; the controller is told (the end of a poll cycle is
    // such a reset after the children published their records).
    void Reset() override;
    bool Init(std::weak_ptr<SMDController> controller, unsigned int id,
              const Json::Value& setting) override;
    // False while an exchange is pending: the device must not send now.
    virtual bool RefreshStatus() { return !exchangePending_; }
    // Raw bytes received from the line.
    virtual void process(unsigned char* /*data*/, unsigned int /*length*/) {}
    virtual bool IsProcessing() { return exchangePending_; }
    virtual bool IsStalled() { return false; }
    virtual bool SendData(const unsigned char* data, unsigned int length);
    virtual bool SendParityData(const unsigned char* data, unsigned int length, EnumParity) {
        return SendData(data, length);
    }
    virtual bool OpenPort() { return true; }
    virtual void ClosePort() {}

    int IdleCount() const { return idle_; }
    uint8_t Setting() const { return setting_; }

protected:
    // Pauses through the controller, so tests and benchmarks can skip the wait.
    void HostPause(unsigned int microseconds) const;

    boost::mutex portMutex_;
    bool exchangePending_ = false;
    int idle_ = 0;         // counts idle polls; cleared when the device holds back
    uint8_t setting_ = 0;  // host-defined one-byte setting
};
