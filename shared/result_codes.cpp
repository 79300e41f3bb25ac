#include "shared/result_codes.h"

namespace tw::portwire {

const char* ResultName(Result code) {
  switch (code) {
    case PW_OK: return "ok";
    case PW_FAILED: return "failed";
    case PW_NOT_OPEN: return "not open";
    case PW_ALREADY_OPEN: return "already open";
    case PW_TIMEOUT: return "timeout";
    case PW_BUFFER_TOO_SMALL: return "buffer too small";
    case PW_DATA_PENDING: return "data pending";
    case PW_DEVICE_STATE: return "device state";
    case PW_NOTHING_WRITTEN: return "nothing written";
    case PW_SETTINGS_MISMATCH: return "settings mismatch";
    case PW_SERVICE_ERROR: return "service error";
    case PW_CANNOT_LINK: return "cannot link";
    case PW_INVALID_ARGUMENT: return "invalid argument";
    case PW_NO_RESPONSE: return "no response";
    default: return "unknown";
  }
}

}  // namespace tw::portwire
