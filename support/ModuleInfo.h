// Where the add-in module lives: its folder and base file name, found with
// dladdr so the answer is right both inside libcvnWCHalv.so and in a test
// binary that links the code statically.
#pragma once

#include <string>

namespace cvn {

std::string ModulePath();      // absolute path of the module file
std::string ModuleFolder();    // absolute, ends in '/'
std::string ModuleBaseName();  // file name without folder and extension, "lib" kept

}  // namespace cvn
