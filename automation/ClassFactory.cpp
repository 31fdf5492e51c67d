#include "automation/ClassFactory.h"

#include "automation/ServerModule.h"

namespace cvn::automation {

ClassFactory::ClassFactory(ServerModule& module, Creator create)
    : module_(module), create_(std::move(create)) {}

DispatchRef ClassFactory::CreateInstance() {
    return create_();
}

void ClassFactory::LockServer(bool lock) {
    if (lock) {
        module_.lock();
    } else {
        module_.unlock();
    }
}

}  // namespace cvn::automation
