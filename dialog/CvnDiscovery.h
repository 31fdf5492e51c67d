// The objects of the instrument discovery component that its callers build
// and read: the search criteria, the keyed collections they hold, the
// serial-interface description, and the instrument the user picked. The
// control itself is CvnDiscoveryCtl.
//
// Contract: collections refuse a key that is already in use (keys compare
// ignoring case) with cvn::Error kDiscoveryDuplicateKey and leave the
// collection unchanged. Nothing here talks to an instrument except
// CvnInstrument::Session(), which may block for the connect time-out.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "io/IoSession.h"
#include "support/Error.h"

namespace cvn {

inline constexpr int32_t kDiscoveryDuplicateKey = 6001;
inline constexpr int32_t kDiscoveryNoSuchItem = 6002;
inline constexpr int32_t kDiscoveryNoCriteria = 6003;
inline constexpr const char* kDiscoverySource = "CvnDiscovery";

bool SameKey(const std::string& a, const std::string& b);

// Items in the order added, each under a unique key.
template <typename T>
class CvnCollection {
public:
    void Add(T item, const std::string& key) {
        if (Find(key)) {
            throw Error(kDiscoveryDuplicateKey,
                        "The key \"" + key +
                            "\" is already associated with an element of this "
                            "collection",
                        kDiscoverySource);
        }
        entries_.emplace_back(key, std::move(item));
    }
    size_t Count() const { return entries_.size(); }
    // index from 1, as the component's callers count.
    const T& Item(size_t index) const {
        if (index < 1 || index > entries_.size()) {
            throw Error(kDiscoveryNoSuchItem,
                        "No element " + std::to_string(index) + " in this collection",
                        kDiscoverySource);
        }
        return entries_[index - 1].second;
    }
    const T* Find(const std::string& key) const {
        for (const auto& [k, item] : entries_)
            if (SameKey(k, key)) return &item;
        return nullptr;
    }
    std::vector<std::string> Keys() const {
        std::vector<std::string> keys;
        for (const auto& e : entries_) keys.push_back(e.first);
        return keys;
    }

private:
    std::vector<std::pair<std::string, T>> entries_;
};

class CvnInterfaceDescription {
public:
    virtual ~CvnInterfaceDescription() = default;
    virtual std::string Kind() const = 0;
};

// A serial line: baud rate, data bits, how a reply ends (4: at its line
// feed; 0: by time-out only) and stop bits, set in that order.
class CvnSerialInterface : public CvnInterfaceDescription {
public:
    static constexpr long kEndAtLineFeed = 4;

    std::string Kind() const override { return "Serial"; }
    long BaudRate() const { return baudRate_; }
    void setBaudRate(long v) { baudRate_ = v; }
    long DataBits() const { return dataBits_; }
    void setDataBits(long v) { dataBits_ = v; }
    long EndInput() const { return endInput_; }
    void setEndInput(long v) { endInput_ = v; }
    long StopBits() const { return stopBits_; }
    void setStopBits(long v) { stopBits_ = v; }

private:
    long baudRate_ = 9600;
    long dataBits_ = 8;
    long endInput_ = kEndAtLineFeed;
    long stopBits_ = 1;
};

using CvnStringCollection = CvnCollection<std::string>;
using CvnInterfaceCollection = CvnCollection<std::shared_ptr<CvnInterfaceDescription>>;

// One instrument that answered the search.
class CvnInstrument {
public:
    CvnInstrument(std::string address, std::string maker, std::string model,
                  std::string serialNumber, bool supported);

    const std::string& Address() const { return address_; }
    const std::string& Maker() const { return maker_; }
    const std::string& Model() const { return model_; }
    const std::string& SerialNumber() const { return serialNumber_; }
    // Whether the model is one of the criteria's models.
    bool Supported() const { return supported_; }
    // The instrument as an I/O session, opened on first use and then kept
    // until this object goes. Throws io::IoError when it cannot be opened.
    io::IoSessionPtr Session();

private:
    std::string address_, maker_, model_, serialNumber_;
    bool supported_ = false;
    io::IoSessionPtr session_;
};

class CvnDiscoveryCriteria {
public:
    const std::string& InstrumentType() const { return instrumentType_; }
    void setInstrumentType(std::string type) { instrumentType_ = std::move(type); }
    const std::shared_ptr<CvnStringCollection>& InstrumentModels() const { return models_; }
    void setInstrumentModels(std::shared_ptr<CvnStringCollection> c) { models_ = std::move(c); }
    const std::shared_ptr<CvnInterfaceCollection>& InterfaceDescriptions() const {
        return interfaces_;
    }
    void setInterfaceDescriptions(std::shared_ptr<CvnInterfaceCollection> c) {
        interfaces_ = std::move(c);
    }
    // On the object the control hands back: the instrument the user
    // selected, or none.
    const std::shared_ptr<CvnInstrument>& SelectedInstrument() const { return selected_; }
    void setSelectedInstrument(std::shared_ptr<CvnInstrument> i) { selected_ = std::move(i); }

private:
    std::string instrumentType_;
    std::shared_ptr<CvnStringCollection> models_;
    std::shared_ptr<CvnInterfaceCollection> interfaces_;
    std::shared_ptr<CvnInstrument> selected_;
};

}  // namespace cvn
