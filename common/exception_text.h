// What the exception being handled says, for a failure message at a boundary that must not let it
// through (a sound device's callback, a thread's entry).
#pragma once

#include <string>

namespace reel {

// Call only inside a catch block. The exception's what(), or "an unknown error" for anything that
// is not a std::exception.
std::string CurrentExceptionText();

}  // namespace reel
