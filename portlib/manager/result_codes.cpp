#include "portlib/manager/result_codes.h"

namespace tw::portwire {

const char* ResultName(Result code) {
  switch (static_cast<uint32_t>(code)) {
    case 0: return "ok";
    case 0x80000000u: return "failed";
    case 0x80000001u: return "not open";
    case 0x80000002u: return "already open";
    case 0x80000003u: return "timeout";
    case 0x80000004u: return "buffer too small";
    case 0x80000005u: return "data pending";
    case 0x80000006u: return "device state";
    case 0x80000007u: return "nothing written";
    case 0x80000008u: return "settings mismatch";
    case 0x80000009u: return "service error";
    case 0x8000000Bu: return "cannot link";
    case 0x8000000Cu: return "invalid argument";
    case 0x8000000Du: return "no response";
    default: return "unknown";
  }
}

}  // namespace tw::portwire
