// The reference-counted base: identity, counting, and deletion at the last release.
#include <gtest/gtest.h>

#include "kernel/host_kernel.h"
#include "support/kernel_test.h"
#include "unknown_base.h"
#include "usb_support.h"

namespace {

using tarnlink::kernel::testing::KernelTest;

class Counted : public CUnknown {
 public:
  Counted(PUNKNOWN outer, bool* destroyed) : CUnknown(outer), destroyed_(destroyed) {}
  ~Counted() override { *destroyed_ = true; }

 private:
  bool* destroyed_;
};

class UnknownBaseTest : public KernelTest {};

constexpr GUID kOtherInterface = {
    0x0078EE32, 0x7332, 0x4BEB, {0x92, 0x6C, 0x00, 0xD6, 0x72, 0x8A, 0x4E, 0xC0}};

TEST_F(UnknownBaseTest, AnswersIUnknownOnlyAndDeletesAtTheLastRelease) {
  ASSERT_TRUE(RunInThread([&] {
    bool destroyed = false;
    auto* object = new (DriverPoolType(), kDriverPoolTag) Counted(nullptr, &destroyed);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->OuterUnknown(),
              reinterpret_cast<PUNKNOWN>(static_cast<PNONDELEGATINGUNKNOWN>(object)));
    EXPECT_EQ(object->NonDelegatingAddRef(), 1u);

    PVOID face = reinterpret_cast<PVOID>(1);
    EXPECT_EQ(object->NonDelegatingQueryInterface(kOtherInterface, &face),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(face, nullptr);
    ASSERT_EQ(object->NonDelegatingQueryInterface(IID_IUnknown, &face), STATUS_SUCCESS);
    EXPECT_EQ(face, static_cast<PVOID>(static_cast<PNONDELEGATINGUNKNOWN>(object)));
    EXPECT_EQ(object->NonDelegatingQueryInterface(IID_IUnknown, nullptr), STATUS_INVALID_PARAMETER);

    EXPECT_EQ(object->NonDelegatingRelease(), 1u) << "the query's reference";
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(object->NonDelegatingRelease(), 0u);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(kernel().PoolStats(kDriverPoolTag).liveCount, 0u);
  }));
}

TEST_F(UnknownBaseTest, KeepsTheOuterUnknownItIsGiven) {
  ASSERT_TRUE(RunInThread([&] {
    bool innerGone = false;
    bool outerGone = false;
    auto* outer = new (DriverPoolType(), kDriverPoolTag) Counted(nullptr, &outerGone);
    PUNKNOWN outerUnknown = outer->OuterUnknown();
    auto* inner = new (DriverPoolType(), kDriverPoolTag) Counted(outerUnknown, &innerGone);
    EXPECT_EQ(inner->OuterUnknown(), outerUnknown);
    inner->NonDelegatingAddRef();
    inner->NonDelegatingRelease();
    outer->NonDelegatingAddRef();
    outer->NonDelegatingRelease();
    EXPECT_TRUE(innerGone);
    EXPECT_TRUE(outerGone);
  }));
}

}  // namespace
