// lnkio_exchange ADDRESS: loads lnkioapi.dll by name, opens a network link to
// ADDRESS:9100, sends the model query and checks the reply ("$" at index 3).
// Exit code 0 on success. Used to check the Windows build under Wine.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "lnkio/tests/lnkio_client.h"

int main(int argc, char** argv) {
  using namespace tw::lnkio;
  using namespace tw::lnkio::testing;
  if (argc < 2) {
    std::fprintf(stderr, "usage: lnkio_exchange IPV4-ADDRESS\n");
    return 2;
  }
  unsigned a, b, c, d;
  if (std::sscanf(argv[1], "%u.%u.%u.%u", &a, &b, &c, &d) != 4 || a > 255 || b > 255 || c > 255 || d > 255) {
    std::fprintf(stderr, "lnkio_exchange: bad address %s\n", argv[1]);
    return 2;
  }
  LnkioClient lnk;
  if (!lnk.Complete()) {
    std::fprintf(stderr, "lnkio_exchange: lnkioapi.dll or one of its functions is missing\n");
    return 3;
  }
  const LinkOpenBlock block = NetworkBlock(static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b),
                                           static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(d), 3000);
  const int open = lnk.open(&block);
  if (open != kLnkioOk) {
    std::fprintf(stderr, "lnkio_exchange: open failed with %d\n", open);
    return 4;
  }
  int32_t written = 0;
  const int w = lnk.Write(kModelQuery, &written);
  if (w != kLnkioOk || written != 5) {
    std::fprintf(stderr, "lnkio_exchange: write gave %d, %d bytes\n", w, written);
    return 5;
  }
  const auto reply = lnk.NextReply(std::chrono::milliseconds(5000));
  lnk.close();
  lnk.terminate();
  std::printf("lnkio_exchange: code %d, %zu bytes:", reply.code, reply.bytes.size());
  for (auto byte : reply.bytes) std::printf(" %02X", byte);
  std::printf("\n");
  if (reply.code != kLnkioReadData || reply.bytes.size() < 5 || reply.bytes[3] != '$') {
    std::fprintf(stderr, "lnkio_exchange: not the model query's reply\n");
    return 6;
  }
  return 0;
}
