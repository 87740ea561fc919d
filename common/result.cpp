#include "common/result.h"

namespace reel {

const char* ErrorKindName(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kNotFound: return "not found";
    case ErrorKind::kCannotRead: return "cannot read";
    case ErrorKind::kNotThisFormat: return "not this format";
    case ErrorKind::kDamaged: return "damaged";
    case ErrorKind::kUnsupported: return "unsupported";
    case ErrorKind::kRefused: return "refused";
    case ErrorKind::kCannotWrite: return "cannot write";
    case ErrorKind::kOutOfMemory: return "out of memory";
    case ErrorKind::kStopped: return "stopped";
    case ErrorKind::kTimedOut: return "timed out";
    case ErrorKind::kUsage: return "usage";
    case ErrorKind::kDevice: return "device";
  }
  return "error";
}

}  // namespace reel
