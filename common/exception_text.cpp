#include "common/exception_text.h"

#include <exception>

namespace reel {

std::string CurrentExceptionText() {
  try {
    throw;
  } catch (const std::exception& exception) {
    return exception.what();
  } catch (...) {
    return "an unknown error";
  }
}

}  // namespace reel
