#pragma once
#include "host_api.h"
// The host's view of any device: value queries, cached images, identity.
// Slot order is binding for plug-ins built against this header.
#include <stdexcept>
#include <string>

class HOST_API VDeviceInterface {
public:
    // Answers a value by key; devices that answer nothing keep this default.
    virtual float Get_Value(unsigned int /*index*/, const std::string& /*key*/) const {
        throw std::out_of_range("数据未就绪");
    }
    // Offers a cached data image; the text form hands its bytes on.
    virtual bool LoadFromCache(const std::string& image) {
        return LoadFromCache(reinterpret_cast<const unsigned char*>(image.data()),
                             static_cast<int>(image.size()));
    }
    virtual bool LoadFromCache(const unsigned char* data, int length) = 0;
    virtual unsigned int DataId() const { return dataId_; }
    virtual const std::string& DeviceType() const { return deviceType_; }
    virtual int DeviceIoControl(int code, const void* in, int inLength, void* out, int outLength,
                                int& returned) = 0;
    // Called once per completed poll cycle.
    virtual void RoundDone() {}
    virtual bool UseControllerDb() { return useControllerDb_; }
    virtual ~VDeviceInterface() = default;

protected:
    unsigned int dataId_ = 0;
    std::string deviceType_;
    bool useControllerDb_ = false;
};
