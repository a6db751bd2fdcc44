// The owning handle types close what they hold exactly once, and hand it on
// when moved.
#include "platform/unique_handle.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/handle.h"
#include "platform/mapping.h"
#include "tests/support/test_support.h"

namespace vandrel::win {
namespace {

bool FdOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

TEST(UniqueHandle, ClosesOnceAndMovesOwnership) {
  test::ScratchDir dir;
  const std::string path = dir.path() + "/f";
  HANDLE raw = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(raw, INVALID_HANDLE_VALUE);
  {
    UniqueHandle a(raw);
    EXPECT_TRUE(a.valid());
    UniqueHandle b(std::move(a));
    EXPECT_FALSE(a.valid());
    EXPECT_EQ(b.get(), raw);
    EXPECT_NE(HandleObject(raw), nullptr);
  }
  // Closed by b alone: the handle is gone, and closing it again fails.
  EXPECT_EQ(HandleObject(raw), nullptr);
  EXPECT_FALSE(CloseHandle(raw));

  // Both "no handle" values count as empty and are never closed.
  EXPECT_FALSE(UniqueHandle(INVALID_HANDLE_VALUE).valid());
  EXPECT_FALSE(UniqueHandle().valid());
  UniqueHandle empty;
  EXPECT_TRUE(empty.close());

  // close() reports the close; release() gives the handle up unclosed.
  UniqueHandle c(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(c);
  EXPECT_TRUE(c.close());
  EXPECT_FALSE(c.valid());
  UniqueHandle d(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  const HANDLE kept = d.release();
  EXPECT_FALSE(d.valid());
  EXPECT_TRUE(CloseHandle(kept));
}

TEST(UniqueView, UnmapsItsViewAndAssignmentFreesTheOldOne) {
  UniqueHandle mapping(
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr));
  ASSERT_TRUE(mapping);
  UniqueView first(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_TRUE(first);
  first.bytes()[0] = 42;
  UniqueView second(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_TRUE(second);
  EXPECT_EQ(second.bytes()[0], 42) << "two views of one mapping";
  void* const old = first.get();
  first = std::move(second);
  EXPECT_FALSE(second.valid());
  EXPECT_FALSE(UnmapViewOfFile(old)) << "the replaced view was unmapped already";
  mapping.reset();
  EXPECT_EQ(first.bytes()[0], 42) << "a view outlives its mapping handle";
}

TEST(UniqueVirtualBlock, ReleasesItsRangeOnce) {
  void* raw = VirtualAlloc(nullptr, 8192, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  ASSERT_NE(raw, nullptr);
  {
    UniqueVirtualBlock a(raw);
    a.bytes()[8191] = 1;
    UniqueVirtualBlock b;
    b = std::move(a);
    EXPECT_FALSE(a.valid());
    EXPECT_EQ(b.bytes()[8191], 1);
  }
  EXPECT_FALSE(VirtualFree(raw, 0, MEM_RELEASE)) << "released by b already";
  UniqueVirtualBlock kept(VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_TRUE(kept);
  EXPECT_TRUE(kept.close());
  EXPECT_FALSE(kept.valid());
}

TEST(UniqueFd, ClosesTheDescriptorAndReportsAFailedClose) {
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  {
    UniqueFd reader(pipe_fds[0]);
    UniqueFd writer(pipe_fds[1]);
    EXPECT_TRUE(FdOpen(pipe_fds[0]));
    writer.reset();
    EXPECT_FALSE(FdOpen(pipe_fds[1]));
  }
  EXPECT_FALSE(FdOpen(pipe_fds[0]));
  UniqueFd bogus(1 << 20);  // never open
  EXPECT_FALSE(bogus.close());
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace vandrel::win
