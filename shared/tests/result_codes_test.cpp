#include "shared/result_codes.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace tw::portwire {
namespace {

TEST(ResultCodes, EveryCodeHasItsOwnNameAndOthersAreUnknown) {
  const Result all[] = {PW_OK,           PW_FAILED,          PW_NOT_OPEN,          PW_ALREADY_OPEN,
                        PW_TIMEOUT,      PW_BUFFER_TOO_SMALL, PW_DATA_PENDING,      PW_DEVICE_STATE,
                        PW_NOTHING_WRITTEN, PW_SETTINGS_MISMATCH, PW_SERVICE_ERROR, PW_CANNOT_LINK,
                        PW_INVALID_ARGUMENT, PW_NO_RESPONSE};
  std::set<std::string> names;
  for (Result code : all) {
    const std::string name = ResultName(code);
    EXPECT_NE(name, "unknown") << code;
    EXPECT_TRUE(names.insert(name).second) << name << " named twice";
  }
  EXPECT_STREQ(ResultName(kResultInvalidArgument), "invalid argument");
  EXPECT_STREQ(ResultName(static_cast<Result>(0x8000000Au)), "unknown");  // a gap in the set
  EXPECT_STREQ(ResultName(1), "unknown");
}

}  // namespace
}  // namespace tw::portwire
