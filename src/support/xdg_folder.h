#pragma once

#include <filesystem>

namespace tsl {

// Linux only: a base folder of the XDG layout. $<variable> when it holds an absolute path, else
// $HOME/<fallback> when HOME does, else an empty path. Nothing is created.
//   xdgFolder("XDG_CONFIG_HOME", ".config")
std::filesystem::path xdgFolder(const char* variable, const char* fallback);

}  // namespace tsl
