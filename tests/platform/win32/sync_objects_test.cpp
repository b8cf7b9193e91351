// Events, mutexes, semaphores and waits as Win32 programs rely on them: names in the machine's
// namespace, access on opened handles, abandoned mutexes, time-outs in virtual time.
#include "user_process_test.h"

namespace tarnlink::win32::test {
namespace {

using SyncObjectsTest = UserProcessTest;

TEST_F(SyncObjectsTest, ANamedEventCreatedTwiceIsOneObject) {
  RunAsUser([] {
    HANDLE first = CreateEventW(nullptr, TRUE, FALSE, u"Global\\{2B6C82FD}1");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE second = CreateEventW(nullptr, FALSE, TRUE, u"Global\\{2B6C82FD}1");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_NE(first, second);
    // The second creation's type and state were ignored: still manual reset, not signalled.
    EXPECT_EQ(WaitForSingleObject(second, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(SetEvent(first));
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    // The global and the session's local namespace are apart.
    HANDLE local = CreateEventW(nullptr, TRUE, FALSE, u"{2B6C82FD}1");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(local, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    // Another kind of object cannot take the name.
    EXPECT_EQ(CreateMutexW(nullptr, FALSE, u"Global\\{2B6C82FD}1"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    for (HANDLE h : {first, second, local}) EXPECT_TRUE(CloseHandle(h));
    // The name went with the last handle.
    EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, u"Global\\{2B6C82FD}1"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  });
}

TEST_F(SyncObjectsTest, OpenedHandlesCarryOnlyTheAccessAskedFor) {
  RunAsUser([] {
    SECURITY_DESCRIPTOR descriptor;
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, TRUE};
    HANDLE event = CreateEventW(&attributes, TRUE, FALSE, u"Global\\listener");
    ASSERT_NE(event, nullptr);
    HANDLE waitOnly = OpenEventW(SYNCHRONIZE, FALSE, u"Global\\listener");
    ASSERT_NE(waitOnly, nullptr);
    EXPECT_FALSE(SetEvent(waitOnly));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    HANDLE modify = OpenEventW(EVENT_MODIFY_STATE, FALSE, u"Global\\listener");
    ASSERT_NE(modify, nullptr);
    EXPECT_TRUE(SetEvent(modify));
    EXPECT_EQ(WaitForSingleObject(modify, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(WaitForSingleObject(waitOnly, 0), WAIT_OBJECT_0);
    EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, u"Global\\listener"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, u"Global\\a\\b"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    for (HANDLE h : {event, waitOnly, modify}) CloseHandle(h);
  });
}

DWORD WINAPI TakeAndEnd(LPVOID mutex) {
  return WaitForSingleObject(static_cast<HANDLE>(mutex), INFINITE);
}

TEST_F(SyncObjectsTest, AMutexLeftByAnEndedThreadIsAbandonedOnce) {
  RunAsUser([] {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, u"Global\\{F1DAE1EF}");
    ASSERT_NE(mutex, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, TakeAndEnd, mutex, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 1;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_ABANDONED));
    // Now owned, recursively; the abandonment was reported once.
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    CloseHandle(thread);
    CloseHandle(mutex);
  });
}

TEST_F(SyncObjectsTest, ANamedMutexThatExistsIsOpenedWithoutBeingTaken) {
  RunAsUser([] {
    HANDLE owner = CreateMutexW(nullptr, TRUE, u"Global\\host");
    ASSERT_NE(owner, nullptr);
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID) -> DWORD {
          HANDLE again = CreateMutexW(nullptr, TRUE, u"Global\\host");
          const DWORD existed = GetLastError();
          const DWORD wait = WaitForSingleObject(again, 0);
          CloseHandle(again);
          return existed == ERROR_ALREADY_EXISTS && wait == WAIT_TIMEOUT ? 0 : 1;
        },
        nullptr, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 1;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(ReleaseMutex(owner));
    CloseHandle(thread);
    CloseHandle(owner);
  });
}

TEST_F(SyncObjectsTest, WaitsReportTheFirstSignalledObjectOrTheTimeOutInMachineTime) {
  RunAsUser([&] {
    HANDLE events[3];
    for (HANDLE& e : events) e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SetEvent(events[2]);
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, events, TRUE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    const uint64_t before = Now();
    EXPECT_EQ(WaitForMultipleObjectsEx(2, events, FALSE, 50, TRUE),
              static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(Now() - before, 50 * kMs);
    EXPECT_EQ(WaitForSingleObject(events[2], 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(0x7770), 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForMultipleObjects(0, events, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    for (HANDLE e : events) CloseHandle(e);
  });
}

TEST_F(SyncObjectsTest, SemaphoresCountAndRefuseReleasesBeyondTheirLimit) {
  RunAsUser([] {
    HANDLE semaphore = CreateSemaphoreW(nullptr, 1, 2, nullptr);
    ASSERT_NE(semaphore, nullptr);
    LONG previous = -1;
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 1, &previous));
    EXPECT_EQ(previous, 1);
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 1, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TOO_MANY_POSTS));
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(semaphore);
  });
}

}  // namespace
}  // namespace tarnlink::win32::test
