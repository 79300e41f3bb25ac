#pragma once
// The fixed byte sequences of the port manager's printer procedures.
//
// Constant arrays, never containers: the manager's teardown (a client that
// unloads the library without KPC_Terminate) may still send one of them, and
// nothing it uses may be destroyed before it. Arrays of constant bytes have no
// destructor, so they live as long as the library's image.

#include <array>
#include <cstdint>
#include <type_traits>

namespace tw::portwire::printer {

inline constexpr std::array<uint8_t, 7> kStatusBackRealTime = {0x10, 0x14, 0x14, 0x00, 0x00, 0x01, 0x08};
inline constexpr std::array<uint8_t, 3> kStatusBack = {0x1D, 0x61, 0xFF};
inline constexpr std::array<uint8_t, 10> kBufferClear = {0x10, 0x14, 0x08, 0x01, 0x03,
                                                          0x14, 0x01, 0x06, 0x02, 0x08};
inline constexpr std::array<uint8_t, 3> kBufferClearReply = {0x37, 0x25, 0x00};
inline constexpr std::array<uint8_t, 3> kModelNameQuery = {0x1D, 0x49, 0x43};
inline constexpr std::array<uint8_t, 5> kModelCodeQuery = {0x10, 0x14, 0x12, 0x00, 0x03};

}  // namespace tw::portwire::printer
