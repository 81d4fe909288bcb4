#include "platform/job_lock.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include <unistd.h>

#include "platform/fs.h"
#include "testing/temp_dir.h"

namespace lumbra::platform {
namespace {

class JobLockTest : public lumbra::testing::TempDirTest {};

TEST_F(JobLockTest, ASecondLockOfOneDirectoryIsRefusedAndNamesTheHolder) {
  const std::string dir = MakeDir("log");
  DirectoryLock first;
  ASSERT_EQ(first.Take(dir, nullptr).state, LockState::Taken);
  EXPECT_EQ(ParseLockHolder(ReadFile("log/.lumbra-lock")), ::getpid());

  DirectoryLock second;  // another open of the file: flock keeps it out as it would a process
  LockOutcome busy = second.Take(dir, nullptr);
  EXPECT_EQ(busy.state, LockState::Busy);
  EXPECT_EQ(busy.dir, dir);
  EXPECT_EQ(busy.pid, ::getpid());
  EXPECT_FALSE(second.held());

  first.Release();
  EXPECT_EQ(ReadFile("log/.lumbra-lock"), "") << "no id is left for a lock let go";
  EXPECT_EQ(second.Take(dir, nullptr).state, LockState::Taken);
}

TEST_F(JobLockTest, AJobLocksEachDirectoryOnceAndAllOrNone) {
  const std::string a = MakeDir("a");
  const std::string b = MakeDir("b");
  MakeLink(a, "link-to-a");
  JobLocks job;
  // One directory by three names is locked once: a second lock of it would find it busy.
  ASSERT_EQ(job.Take({a, Path("link-to-a"), Path("b/../a"), b}, nullptr).state, LockState::Taken);

  DirectoryLock other;
  ASSERT_EQ(other.Take(b, nullptr).state, LockState::Busy);
  JobLocks second;
  const LockOutcome outcome = second.Take({a, b}, nullptr);
  EXPECT_EQ(outcome.state, LockState::Busy);
  EXPECT_EQ(outcome.dir, a) << "the first in the order of real paths";
  job.Release();

  // b is held elsewhere: a job that needs a and b holds neither.
  ASSERT_EQ(other.Take(b, nullptr).state, LockState::Taken);
  EXPECT_EQ(second.Take({a, b}, nullptr).state, LockState::Busy);
  EXPECT_FALSE(second.held());
  DirectoryLock onA;
  EXPECT_EQ(onA.Take(a, nullptr).state, LockState::Taken);
}

TEST_F(JobLockTest, ALockFileThatIsNoRegularFileIsNeverUsedAndAMissingDirectoryFails) {
  MakeDir("linked");
  MakeDir("fifo");
  MakeLink(Path("elsewhere"), "linked/.lumbra-lock");
  MakeFifo("fifo/.lumbra-lock");
  DirectoryLock lock;
  EXPECT_EQ(lock.Take(Path("linked"), nullptr).state, LockState::Failed);
  EXPECT_FALSE(GetLinkStatus(Path("elsewhere")).exists()) << "nothing made through the link";
  EXPECT_EQ(lock.Take(Path("fifo"), nullptr).state, LockState::Failed);
  JobLocks job;
  const LockOutcome missing = job.Take({Path("no-such")}, nullptr);
  EXPECT_EQ(missing.state, LockState::Failed);
  EXPECT_EQ(missing.dir, Path("no-such"));
}

TEST_F(JobLockTest, AWaitEndsWhenTheHolderLetsGoOrWhenTheHookGivesUp) {
  const std::string dir = MakeDir("idx");
  auto holder = std::make_unique<DirectoryLock>();
  ASSERT_EQ(holder->Take(dir, nullptr).state, LockState::Taken);

  DirectoryLock waiter;
  const DirectoryLock::WaitHook giveUp = [](const std::string&, long) { return false; };
  EXPECT_EQ(waiter.Take(dir, &giveUp).state, LockState::Stopped);

  std::atomic<int> asked = 0;
  long namedPid = 0;
  const DirectoryLock::WaitHook keepWaiting = [&](const std::string&, long pid) {
    namedPid = pid;
    ++asked;
    return true;
  };
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    holder.reset();
  });
  EXPECT_EQ(waiter.Take(dir, &keepWaiting).state, LockState::Taken);
  release.join();
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(namedPid, ::getpid());
}

TEST_F(JobLockTest, OnlyADecimalIdOnItsFirstLineNamesAHolder) {
  struct Case {
    std::string_view content;
    long pid;
  } cases[] = {{"1234\n", 1234}, {"1234", 1234}, {"", 0},     {"\n", 0},
               {"12a\n", 0},     {"-5\n", 0},    {" 7\n", 0}, {"99999999999999999999999\n", 0}};
  for (const Case& c : cases) EXPECT_EQ(ParseLockHolder(c.content), c.pid) << c.content;
}

}  // namespace
}  // namespace lumbra::platform
