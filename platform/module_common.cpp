#include "platform/module.h"

#include <utility>

namespace tw::platform {

Module::~Module() { Unload(); }

Module::Module(Module&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

Module& Module::operator=(Module&& other) noexcept {
  if (this != &other) {
    Unload();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

}  // namespace tw::platform
