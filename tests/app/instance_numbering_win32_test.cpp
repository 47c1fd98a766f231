// Instance numbering with the system's named mutexes. A copy's mutex reports "already exists"
// to a second creation in the same process as it does to another process, so one process can
// stand for several copies.
#include <gtest/gtest.h>

#include <vector>

#include "app/instance_numbering.h"

namespace q9m::app {
namespace {

struct Copies {
  std::vector<InstanceClaim> claims;
  ~Copies() {
    for (const InstanceClaim& claim : claims) platform::CloseHandle(claim.mutex);
  }
  int Start() {
    claims.push_back(TakeInstanceNumber());
    return claims.back().number;
  }
  void End(int number) {
    for (InstanceClaim& claim : claims) {
      if (claim.number != number) continue;
      platform::CloseHandle(claim.mutex);
      claim = {};
    }
  }
};

TEST(InstanceNumbering, TheLowestFreeNumberIsTakenUpToTwenty) {
  Copies copies;
  EXPECT_EQ(copies.Start(), 1);
  EXPECT_EQ(copies.Start(), 2);
  EXPECT_EQ(copies.Start(), 3);
  copies.End(2);
  EXPECT_EQ(copies.Start(), 2);  // copies 1 and 3 run: the new one gets 2
  for (int n = 4; n <= kMaxInstances; ++n) EXPECT_EQ(copies.Start(), n);

  const InstanceClaim refused = TakeInstanceNumber();
  EXPECT_EQ(refused.number, 0);
  EXPECT_EQ(refused.mutex, platform::MutexHandle::kNoMutex);

  copies.End(7);
  EXPECT_EQ(copies.Start(), 7);
}

}  // namespace
}  // namespace q9m::app
