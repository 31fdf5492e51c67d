// A capture profile of one run's own. The add-in reads the instrument
// address (and every capture choice) from the per-user settings under its
// RegistryKey, so two captures started together through the user's shared
// profile could each read the other's address. A run therefore gets a
// private settings key, seeded from the user's profile and given the
// address the run was asked to use; what the add-in stores there during the
// run (the address after a successful connection, the dialog's choices, the
// points choice) is stored back into the user's profile afterwards, and the
// private key is removed, also when a signal ends the program.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

namespace cvn::host {

class RunProfile {
public:
    // registryKey as the host passes it to RegistryKey (nothing: the
    // default); address empty: the one stored in the user's profile.
    RunProfile(const std::optional<std::string>& registryKey, const std::string& address);
    ~RunProfile();
    RunProfile(const RunProfile&) = delete;
    RunProfile& operator=(const RunProfile&) = delete;

    // The value for the add-in's RegistryKey that selects the private key,
    // and the one that selects the user's key again.
    const std::string& registryKey() const { return registryKey_; }
    const std::string& userRegistryKey() const { return userRegistryKey_; }
    // Call just before the retrieval: from here on, a rewrite of the
    // private profile is the add-in's.
    void beforeRun();
    // Stores back into the user's profile what the add-in changed, and the
    // address when it connected. delivered: data or an image came.
    void storeBack(bool dialog, bool delivered);

private:
    struct Value {
        std::string name;
        std::optional<std::string> seeded;
    };
    std::optional<std::string> privateValue(const std::string& name) const;
    bool rewritten() const;
    void removeKey() noexcept;

    std::string userKey_;  // settings application keys
    std::string privateKey_;
    std::string registryKey_;
    std::string userRegistryKey_;
    std::string file_, folder_;
    int fileSlot_ = -1, folderSlot_ = -1;
    std::vector<Value> seeded_;
    struct stat before_ {};
};

}  // namespace cvn::host
