// The machine-wide namespace of named objects: Global\ and local names, a name that lasts while
// its object has handles, collisions and type checks.
#include <gtest/gtest.h>

#include "kernel/namespace.h"
#include "kernel_mode.h"
#include "support/kernel_test.h"

namespace tarnlink::io::test {
namespace {

using kernel::testing::KernelTest;

class NamespaceTest : public KernelTest {
 protected:
  // A new event with one handle in the current process; the handle holds the only reference.
  static PVOID NewEvent(HANDLE* handle) {
    PVOID event = nullptr;
    EXPECT_EQ(ObHostCreateObject(*ExEventObjectType, sizeof(KEVENT), 0, &event), STATUS_SUCCESS);
    KeInitializeEvent(static_cast<PKEVENT>(event), NotificationEvent, FALSE);
    EXPECT_EQ(ObHostInsertHandle(PsGetCurrentProcess(), event, EVENT_ALL_ACCESS, 0, handle),
              STATUS_SUCCESS);
    ObDereferenceObject(event);
    return event;
  }
};

TEST_F(NamespaceTest, Win32NamesMapToTheGlobalOrTheSessionDirectory) {
  EXPECT_EQ(Win32ObjectName(u"Global\\TarnlinkHost"), u"\\BaseNamedObjects\\TarnlinkHost");
  EXPECT_EQ(Win32ObjectName(u"global\\TarnlinkHost"), u"\\BaseNamedObjects\\TarnlinkHost");
  EXPECT_EQ(Win32ObjectName(u"Local\\Panel"), u"\\Sessions\\1\\BaseNamedObjects\\Panel");
  EXPECT_EQ(Win32ObjectName(u"Panel"), u"\\Sessions\\1\\BaseNamedObjects\\Panel");
  EXPECT_EQ(Win32ObjectName(u"Global\\a\\b"), u"");
  EXPECT_EQ(Win32ObjectName(u""), u"");
}

TEST_F(NamespaceTest, ANameLastsWhileItsObjectHasHandles) {
  ASSERT_TRUE(RunInThread([] {
    const std::u16string name = Win32ObjectName(u"Global\\TarnlinkActive");
    HANDLE first = nullptr;
    PVOID event = NewEvent(&first);
    ASSERT_EQ(InsertNamedObject(name, event), STATUS_SUCCESS);
    HANDLE other = nullptr;
    PVOID second = NewEvent(&other);
    EXPECT_EQ(InsertNamedObject(u"\\BaseNamedObjects\\TARNLINKACTIVE", second),
              STATUS_OBJECT_NAME_COLLISION);
    // The local name of the same text is a different object.
    EXPECT_EQ(InsertNamedObject(Win32ObjectName(u"TarnlinkActive"), second), STATUS_SUCCESS);

    PVOID found = nullptr;
    ASSERT_EQ(ReferenceNamedObject(name, *ExEventObjectType, &found), STATUS_SUCCESS);
    EXPECT_EQ(found, event);
    EXPECT_EQ(NameOf(found), name);
    EXPECT_EQ(ReferenceNamedObject(name, *PsThreadType, &found), STATUS_OBJECT_TYPE_MISMATCH);
    ObDereferenceObject(event);

    // Its last handle gone, the object's name is free again.
    EXPECT_EQ(ZwClose(first), STATUS_SUCCESS);
    EXPECT_EQ(ReferenceNamedObject(name, nullptr, &found), STATUS_OBJECT_NAME_NOT_FOUND);
    HANDLE third = nullptr;
    PVOID replacement = NewEvent(&third);
    EXPECT_EQ(InsertNamedObject(name, replacement), STATUS_SUCCESS);
    ZwClose(third);
    ZwClose(other);
  }));
}

TEST_F(NamespaceTest, LinksResolveToTheirTargetWithTheRestOfThePath) {
  ASSERT_TRUE(RunInThread([] {
    HANDLE handle = nullptr;
    PVOID event = NewEvent(&handle);
    ASSERT_EQ(InsertNamedObject(u"\\Device\\Thing", event), STATUS_SUCCESS);
    ASSERT_EQ(CreateSymbolicLink(u"\\DosDevices\\THING", u"\\Device\\Thing"), STATUS_SUCCESS);
    EXPECT_EQ(CreateSymbolicLink(u"\\??\\thing", u"\\Device\\Other"), STATUS_OBJECT_NAME_COLLISION);
    ResolvedPath resolved;
    ASSERT_EQ(ResolvePath(u"\\GLOBAL??\\Thing\\asio", &resolved), STATUS_SUCCESS);
    EXPECT_EQ(resolved.object, event);
    EXPECT_EQ(resolved.remainder, u"\\asio");
    ObDereferenceObject(resolved.object);
    EXPECT_EQ(ResolvePath(u"\\??\\Thingamajig", &resolved), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(DeleteSymbolicLink(u"\\??\\Thing"), STATUS_SUCCESS);
    EXPECT_EQ(ResolvePath(u"\\??\\Thing", &resolved), STATUS_OBJECT_NAME_NOT_FOUND);
    // A link to itself does not loop for ever.
    ASSERT_EQ(CreateSymbolicLink(u"\\??\\Loop", u"\\??\\Loop"), STATUS_SUCCESS);
    EXPECT_EQ(ResolvePath(u"\\??\\Loop", &resolved), STATUS_OBJECT_NAME_NOT_FOUND);
    ZwClose(handle);
  }));
}

}  // namespace
}  // namespace tarnlink::io::test
