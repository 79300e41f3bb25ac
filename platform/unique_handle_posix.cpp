#include "platform/unique_handle.h"

#include <unistd.h>

namespace tw::platform {

// close() is not retried on EINTR: on Linux the descriptor is gone either way,
// and a retry could close one that another thread has just been given.
void FdTraits::Close(int fd) { ::close(fd); }

}  // namespace tw::platform
