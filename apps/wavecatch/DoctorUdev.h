// doctor --udev: udev rules for the USB instruments attached, read from
// sysfs, so a user can give their group access to the scope's device.
#pragma once

#include <ostream>

namespace cvn::host {

// Writes the rules file to out (comments say where it goes and how to
// reload udev), problems to err. Exit code 0 with at least one rule, 1 when
// no instrument was found. The sysfs tree is read under CVN_SYSFS_ROOT when
// set (for tests), else under "/".
int PrintUdevRules(std::ostream& out, std::ostream& err);

}  // namespace cvn::host
