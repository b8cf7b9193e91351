// Threads and processes under the machine's scheduler: suspended creation, termination of a
// blocked thread, priorities, critical sections, and a program started with CreateProcessW
// running in its own process on its own thread.
#include <vector>

#include "user_process_test.h"
#include "win32/win32_host.h"

namespace tarnlink::win32::test {
namespace {

using ThreadsTest = UserProcessTest;

struct Shared {
  std::vector<int> order;
  HANDLE event = nullptr;
  CRITICAL_SECTION lock;
};

TEST_F(ThreadsTest, ASuspendedThreadRunsOnlyAfterResumeAndReportsItsExitCode) {
  RunAsUser([] {
    Shared shared;
    DWORD id = 0;
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
          static_cast<Shared*>(p)->order.push_back(2);
          return 42;
        },
        &shared, CREATE_SUSPENDED, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    Sleep(10);
    shared.order.push_back(1);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(ResumeThread(thread), 0u);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(shared.order, (std::vector<int>{1, 2}));
    CloseHandle(thread);
  });
}

TEST_F(ThreadsTest, TerminatingABlockedThreadEndsItAndAbandonsItsMutex) {
  RunAsUser([] {
    Shared shared;
    shared.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    static HANDLE mutex;
    mutex = CreateMutexW(nullptr, FALSE, nullptr);
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
          auto* s = static_cast<Shared*>(p);
          WaitForSingleObject(mutex, INFINITE);
          s->order.push_back(1);
          WaitForSingleObject(s->event, INFINITE);  // never set
          s->order.push_back(2);
          return 0;
        },
        &shared, 0, nullptr);
    Sleep(1);
    EXPECT_TRUE(TerminateThread(thread, 7));
    EXPECT_EQ(WaitForSingleObject(thread, 1000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_EQ(shared.order, std::vector<int>{1});
    EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_ABANDONED));
    ReleaseMutex(mutex);
    for (HANDLE h : {thread, mutex, shared.event}) CloseHandle(h);
  });
}

TEST_F(ThreadsTest, PrioritiesRoundTripAndTheHigherThreadRunsFirst) {
  RunAsUser([] {
    Shared shared;
    auto body = [](LPVOID p) -> DWORD {
      auto* s = static_cast<Shared*>(p);
      s->order.push_back(GetThreadPriority(GetCurrentThread()));
      return 0;
    };
    HANDLE low = CreateThread(nullptr, 0, body, &shared, CREATE_SUSPENDED, nullptr);
    HANDLE high = CreateThread(nullptr, 0, body, &shared, CREATE_SUSPENDED, nullptr);
    EXPECT_TRUE(SetThreadPriority(low, THREAD_PRIORITY_BELOW_NORMAL));
    EXPECT_TRUE(SetThreadPriority(high, THREAD_PRIORITY_TIME_CRITICAL));
    EXPECT_FALSE(SetThreadPriority(high, 5));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    ResumeThread(low);
    ResumeThread(high);
    const HANDLE both[2] = {low, high};
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(shared.order,
              (std::vector<int>{THREAD_PRIORITY_TIME_CRITICAL, THREAD_PRIORITY_BELOW_NORMAL}));
    CloseHandle(low);
    CloseHandle(high);
  });
}

TEST_F(ThreadsTest, ACriticalSectionIsRecursiveForItsOwnerAndBusyForOthers) {
  RunAsUser([] {
    Shared shared;
    InitializeCriticalSection(&shared.lock);
    EnterCriticalSection(&shared.lock);
    EXPECT_TRUE(TryEnterCriticalSection(&shared.lock));
    EXPECT_EQ(shared.lock.RecursionCount, 2);
    auto tryIt = [](LPVOID p) -> DWORD {
      auto* s = static_cast<Shared*>(p);
      if (!TryEnterCriticalSection(&s->lock)) return 1;
      LeaveCriticalSection(&s->lock);
      return 0;
    };
    DWORD code = 9;
    HANDLE thread = CreateThread(nullptr, 0, tryIt, &shared, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 1u);
    CloseHandle(thread);
    LeaveCriticalSection(&shared.lock);
    LeaveCriticalSection(&shared.lock);
    thread = CreateThread(nullptr, 0, tryIt, &shared, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(thread);
    DeleteCriticalSection(&shared.lock);
  });
}

TEST_F(ThreadsTest, AStartedProgramRunsInItsOwnProcessOnItsOwnThread) {
  struct Seen {
    DWORD process = 0;
    DWORD thread = 0;
    std::u16string commandLine;
    std::u16string image;
    bool parentHandleVisible = true;
  };
  static Seen seen;
  static HANDLE parentEvent;
  RunAsUser([] {
    RegisterProgram(u"C:\\Program Files\\Velmor\\Tarnlink_cpl.exe",
                    [](const std::u16string& commandLine) -> DWORD {
                      seen.process = GetCurrentProcessId();
                      seen.thread = GetCurrentThreadId();
                      seen.commandLine = commandLine;
                      WCHAR image[MAX_PATH];
                      GetModuleFileNameW(nullptr, image, MAX_PATH);
                      seen.image = image;
                      seen.parentHandleVisible = SetEvent(parentEvent) != FALSE;
                      return 3;
                    });
    parentEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(u"c:\\program files\\velmor\\tarnlink_cpl.exe", nullptr, nullptr,
                               nullptr, FALSE, CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, nullptr,
                               nullptr, &startup, &info));
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(info.hThread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(seen.process, info.dwProcessId);
    EXPECT_NE(seen.process, GetCurrentProcessId());
    EXPECT_EQ(seen.thread, info.dwThreadId);
    EXPECT_EQ(seen.image, u"c:\\program files\\velmor\\tarnlink_cpl.exe");
    EXPECT_FALSE(seen.parentHandleVisible);  // handles belong to their process
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 3u);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    CloseHandle(parentEvent);
    EXPECT_FALSE(CreateProcessW(u"C:\\missing.exe", nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, &startup, &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  });
}

TEST_F(ThreadsTest, TimeComesFromTheMachineClock) {
  RunAsUser([&] {
    LARGE_INTEGER frequency, before, after;
    EXPECT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency.QuadPart, 10000000);
    const DWORD ticks = GetTickCount();
    QueryPerformanceCounter(&before);
    Sleep(20);
    QueryPerformanceCounter(&after);
    EXPECT_EQ(after.QuadPart - before.QuadPart, 20 * 10000);
    EXPECT_EQ(GetTickCount() - ticks, 20u);
    DWORD length = 0;
    EXPECT_FALSE(GetLogicalProcessorInformation(nullptr, &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> records(
        length / sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION));
    ASSERT_FALSE(records.empty());
    EXPECT_TRUE(GetLogicalProcessorInformation(records.data(), &length));
    EXPECT_EQ(records[0].Relationship, RelationProcessorCore);
    EXPECT_EQ(records[0].ProcessorMask, 1u);
  });
}

}  // namespace
}  // namespace tarnlink::win32::test
