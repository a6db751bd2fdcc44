// The file layer: the file list's share rules, memory files and their
// locks, the file handler's errors, container resolution and idle close,
// the allocator's zero fill and byte total, and the engine's error texts.
#include <cstring>

#include "engine/allocator.h"
#include "engine/collation_orders.h"
#include "engine/engine_error.h"
#include "engine/file_handler.h"
#include "engine/virtual_file.h"
#include "platform/error.h"
#include "platform/nls.h"
#include "platform/window.h"
#include "tests/engine/container_fixture.h"

namespace vandrel::engine::test {
namespace {

int CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EEngineError& e) {
    return e.Code();
  }
  return 0;
}

using FileLayerTest = ContainerTest;

TEST_F(FileLayerTest, MemoryFilesShareHandlesLockRangesAndTruncateOnlyWhenAsked) {
  TFileHandler a(true);
  a.SetTableName("M");
  a.Create("mem1.dat");
  std::vector<std::uint8_t> bytes(100, 7);
  a.WriteAt(0, bytes.data(), 100);
  // Exclusive create: a second open is refused.
  TFileHandler b(true);
  EXPECT_EQ(CodeOf([&] { b.Open("MEM1.DAT"); }), kAccessDenied);
  a.Close();
  b.Open("mem1.dat");
  TFileHandler c(true);
  c.Open(" Mem1.dat ");  // names are trimmed and compare case-insensitively
  EXPECT_NE(b.File(), nullptr);
  EXPECT_EQ(b.File(), c.File());
  EXPECT_EQ(b.Size(), 100);
  // Positions are per handle; a read past the end gives nothing.
  std::uint8_t buf[10];
  EXPECT_EQ(b.ReadAt(200, buf, 10, true), 0);
  EXPECT_EQ(CodeOf([&] { b.ReadAt(95, buf, 10); }), kReadError);
  // A write of 0 bytes writes nothing (it never truncates).
  b.WriteAt(10, bytes.data(), 0);
  EXPECT_EQ(b.Size(), 100);
  b.Truncate(10);
  EXPECT_EQ(c.Size(), 10);
  // In-process locks: overlaps fail at once; unlock needs the same range.
  EXPECT_TRUE(b.LockRange(100, 10));
  EXPECT_FALSE(c.LockRange(105, 10));
  EXPECT_TRUE(c.LockRange(110, 10));
  EXPECT_TRUE(b.UnlockRange(100, 10));
  EXPECT_FALSE(b.UnlockRange(100, 10));
  // Deleting an open memory file is refused.
  EXPECT_EQ(CodeOf([] { TFileHandler::DeleteFile("mem1.dat", true, "M"); }), kAccessDenied);
  b.Close();
  c.Close();
  TFileHandler::DeleteFile("mem1.dat", true, "M");
  EXPECT_EQ(CodeOf([&] { b.Open("mem1.dat"); }), kInvalidPath);
}

TEST_F(FileLayerTest, HandleNumbersAreNeverReused) {
  TMemoryFile f("f");
  int h1 = f.CreateFile();
  int h2 = f.OpenFile();
  EXPECT_EQ(f.CloseHandle(h1), 0);
  int h3 = f.OpenFile();
  EXPECT_NE(h3, h2);
  EXPECT_NE(h3, h1);
  EXPECT_EQ(f.CloseHandle(h1), -kInvalidPath);
  EXPECT_EQ(f.OpenHandles(), 2);
  // A seek below 0 fails and leaves the position.
  EXPECT_EQ(f.Seek(h2, 5, 0), 5);
  EXPECT_EQ(f.Seek(h2, -10, 1), -1);
  EXPECT_EQ(f.Position(h2), 5);
  // Origin 2 is size + offset.
  std::uint8_t x[20] = {};
  f.Write(h2, x, 20);
  EXPECT_EQ(f.Seek(h3, -5, 2), 20);
}

TEST_F(FileLayerTest, ContainerFilesThroughTheHandler) {
  std::string name = Name("db.vbas", "T.DAT");
  EXPECT_FALSE(TFileHandler::Exists(name));
  TFileHandler missing;
  missing.SetTableName("T");
  EXPECT_EQ(CodeOf([&] { missing.Open(name); }), kInvalidPath);
  EXPECT_FALSE(FileExists(Path("db.vbas")));  // opening creates nothing
  {
    TFileHandler f;
    f.SetTableName("T");
    f.Create(name);
    EXPECT_TRUE(FileExists(Path("db.vbas")));
    std::vector<std::uint8_t> bytes(10000, 3);
    f.WriteAt(0, bytes.data(), 10000);
    // A seek below 0 is an error, not a transfer at the old position.
    EXPECT_EQ(CodeOf([&] { f.Seek(-1, 0); }), kReadError);
    TFileHandler g;
    EXPECT_EQ(CodeOf([&] { g.Open(name); }), kAccessDenied);  // created exclusively
    EXPECT_EQ(CodeOf([&] { g.Create(name); }), kAccessDenied);
    // Byte-range locks inside a container always succeed.
    EXPECT_TRUE(f.LockRange(0x7FFFFFFF, 1));
    EXPECT_TRUE(f.LockRange(0x7FFFFFFF, 1));
    // Renaming closes the file first; the new name stays in its container.
    f.Rename(Name("db.vbas", "U.DAT"));
    EXPECT_TRUE(TFileHandler::Exists(Name("db.vbas", "U.DAT")));
    EXPECT_FALSE(TFileHandler::Exists(name));
    EXPECT_EQ(CodeOf([&] { f.Rename(Name("other.vbas", "U.DAT")); }), kInvalidPath);
    f.Rename(name);
  }
  EXPECT_TRUE(TFileHandler::Exists(name));
  TFileHandler f;
  f.Open(name, {.exclusive = false});
  TFileHandler g;
  g.Open(name);
  EXPECT_EQ(g.Size(), 10000);
  EXPECT_EQ(CodeOf([] {}), 0);
  // Names without a container part are refused.
  TFileHandler bad;
  EXPECT_EQ(CodeOf([&] { bad.Create("no-backslash"); }), kInvalidPath);
  EXPECT_EQ(CodeOf([&] { bad.Create(dir_.path() + "/a\\b\\c"); }), kInvalidPath);
}

TEST_F(FileLayerTest, AFolderMeansItsDatabaseTmpWhichGoesWithItsLastFile) {
  std::string name = dir_.path() + "\\T.DAT";
  std::string container = dir_.path() + "/Database.tmp";
  {
    TFileHandler f;
    f.Create(name);
    std::uint8_t b = 1;
    f.WriteAt(0, &b, 1);
    EXPECT_TRUE(FileExists(container));
  }
  // Created files survive their close until the container closes (a
  // CREATE followed by the table's open keeps them).
  EXPECT_EQ(TBaseList::Global().Count(), 1u);
  {
    TFileHandler f;
    f.Open(name);  // now delete-on-close: the container is temporary
    EXPECT_EQ(f.Size(), 1);
  }
  // Closed at the next idle point of the engine's thread, not at once.
  EXPECT_TRUE(FileExists(container));
  win::MSG msg;
  for (int i = 0; i < 50 && TBaseList::Global().Count() > 0; ++i) {
    win::Sleep(2);
    while (win::PeekMessageA(&msg, 0, 0, 0, win::PM_REMOVE)) win::DispatchMessageA(&msg);
  }
  EXPECT_EQ(TBaseList::Global().Count(), 0u);
  EXPECT_FALSE(FileExists(container));
}

TEST_F(FileLayerTest, AnIdleContainerOpenedAgainBeforeTheIdlePointStaysOpen) {
  std::string name = Name("keep.tmp", "T.DAT");
  TFileHandler f;
  f.Create(name);
  f.Close();
  f.Open(name);
  EXPECT_EQ(TBaseList::Global().CloseIdle(), 0);
  EXPECT_TRUE(FileExists(Path("keep.tmp")));
  f.Close();
  EXPECT_EQ(TBaseList::Global().CloseIdle(), 1);
  EXPECT_FALSE(FileExists(Path("keep.tmp")));
}

// Closing every container while files inside are still open: the files let
// go of their container first, so later transfers fail with engine errors
// and the closes that follow touch no freed container (ASan watches).
TEST_F(FileLayerTest, ClosingAllContainersUnderOpenFilesLeavesThemFailingCleanly) {
  std::string name = Name("gone.vbas", "T.DAT");
  TFileHandler f;
  f.SetTableName("T");
  f.Create(name);
  std::vector<std::uint8_t> bytes(5000, 3);
  f.WriteAt(0, bytes.data(), bytes.size());
  f.Close();
  f.Open(name);
  TFileHandler g;
  g.SetTableName("T");
  g.Open(name);
  TBaseList::Global().CloseAll();
  EXPECT_EQ(TBaseList::Global().Count(), 0u);
  EXPECT_EQ(CodeOf([&] { f.WriteAt(0, bytes.data(), 10); }), kWriteError);
  EXPECT_EQ(CodeOf([&] { g.ReadAt(0, bytes.data(), 10); }), kReadError);
  EXPECT_EQ(f.Size(), 0);
  f.Close();
  g.Close();
  // What was written before the close is in the container.
  TFileHandler h;
  h.Open(name);
  EXPECT_EQ(h.Size(), 5000);
  std::vector<std::uint8_t> back(5000);
  h.ReadAt(0, back.data(), back.size());
  EXPECT_EQ(back, bytes);
}

TEST_F(FileLayerTest, AllocatorZeroFillsAndCountsItsBytes) {
  std::size_t before = EngineBytesHeld();
  void* p = EngineAllocMem(1000);
  EXPECT_EQ(EngineBytesHeld(), before + 1000);
  EXPECT_EQ(std::memcmp(p, std::vector<std::uint8_t>(1000, 0).data(), 1000), 0);
  std::memset(p, 0xAB, 1000);
  p = EngineReallocMem(p, 5000);
  auto* bytes = static_cast<std::uint8_t*>(p);
  EXPECT_EQ(bytes[999], 0xAB);
  EXPECT_EQ(bytes[1000], 0);
  EXPECT_EQ(bytes[4999], 0);
  EXPECT_EQ(EngineBytesHeld(), before + 5000);
  EngineFreeMem(p);
  EXPECT_EQ(EngineBytesHeld(), before);
  EXPECT_EQ(CodeOf([] { EngineAllocMem(static_cast<std::size_t>(-1) - 4); }), kOutOfMemory);
  {
    TEngineBuffer buffer(64);
    buffer.Resize(128);
    EXPECT_EQ(EngineBytesHeld(), before + 128);
  }
  EXPECT_EQ(EngineBytesHeld(), before);
}

TEST(EngineErrorTest, MessagesCarryCodeAndTextWithNamesInTheirPlaces) {
  try {
    RaiseEngineError(kRecordChanged, "Data");
  } catch (const EEngineError& e) {
    EXPECT_STREQ(e.what(),
                 "Engine Error # 8708 Record has been changed or deleted by another user, "
                 "session, or table cursor in table 'Data'");
    ASSERT_EQ(e.Entries().size(), 1u);
    EXPECT_EQ(e.Entries()[0].code, 8708);
  }
  EXPECT_EQ(LastEngineError().code, 8708);
  EXPECT_EQ(LastEngineError().table, "Data");
  TEngineErrorInfo info;
  info.code = kDuplicateKey;
  info.table = "Data";
  info.index = "Primary";
  EXPECT_EQ(EngineErrorText(info), "Duplicate key found in index 'Primary' of table 'Data'");
  info.code = kInvalidIndexField;
  info.field = "3";
  EXPECT_EQ(EngineErrorText(info),
            "Invalid field number '3' specified in index 'Primary' for table 'Data'");
  info.code = kFilterError;
  info.extra = "bad token";
  EXPECT_EQ(EngineErrorText(info), "Filter error for table 'Data' - bad token");
  info.code = kSqlError;
  EXPECT_EQ(EngineErrorText(info), "SQL error - bad token");
  info.code = kOutOfMemory;
  EXPECT_EQ(EngineErrorText(info),
            "There is insufficient operating system memory available for the current operation");
  info.code = 4242;  // not in the table
  EXPECT_EQ(EngineErrorText(info), "Unknown error occurred with table 'Data'");
  EXPECT_EQ(KnownEngineCodes().size(), 65u);
  for (int code : KnownEngineCodes()) {
    info.code = code;
    EXPECT_EQ(EngineErrorText(info).find("%"), std::string::npos) << code;
  }
}

TEST(EngineErrorTest, PlatformErrorsMapToEngineCodes) {
  EXPECT_EQ(EngineCodeFromOsError(win::ERROR_FILE_NOT_FOUND), kInvalidPath);
  EXPECT_EQ(EngineCodeFromOsError(win::ERROR_PATH_NOT_FOUND), kInvalidPath);
  EXPECT_EQ(EngineCodeFromOsError(win::ERROR_TOO_MANY_OPEN_FILES), kTooManyFiles);
  EXPECT_EQ(EngineCodeFromOsError(win::ERROR_ACCESS_DENIED), kAccessDenied);
  EXPECT_EQ(EngineCodeFromOsError(win::ERROR_SHARING_VIOLATION), kAccessDenied);
  EXPECT_EQ(EngineCodeFromOsError(65), kAccessDenied);
  EXPECT_EQ(EngineCodeFromOsError(win::ERROR_INVALID_HANDLE), kInvalidFileHandle);
  EXPECT_EQ(EngineCodeFromOsError(win::ERROR_NOT_ENOUGH_MEMORY), kOutOfMemory);
  EXPECT_EQ(EngineCodeFromOsError(15), kDeviceAccessDenied);
  EXPECT_EQ(EngineCodeFromOsError(win::ERROR_NOT_SAME_DEVICE), kTableMoved);
  EXPECT_EQ(EngineCodeFromOsError(win::ERROR_DISK_FULL), kUnknownOsError);
}

}  // namespace
}  // namespace vandrel::engine::test

namespace vandrel::engine::test {
namespace {

TEST(CollationOrderTest, SingleBytesInTheLocalesOrderBuiltOnce) {
  TLanguageCharMapsList& list = TLanguageCharMapsList::Global();
  const TCollationOrder& identity = list.Order(0, 0);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(identity[i], i);
  const TCollationOrder& english = list.Order(0x0409, 0);
  // A permutation of every byte, agreeing with the platform's comparison.
  std::vector<bool> seen(256, false);
  for (std::uint8_t b : english) seen[b] = true;
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256);
  auto pos = [&](char c) {
    return std::find(english.begin(), english.end(), static_cast<std::uint8_t>(c)) -
           english.begin();
  };
  EXPECT_LT(pos('a'), pos('b'));
  EXPECT_LT(pos('b'), pos('C'));
  EXPECT_LT(pos('9'), pos('a'));
  for (int i = 0; i + 1 < 256; ++i) {
    const char a = static_cast<char>(english[i]);
    const char b = static_cast<char>(english[i + 1]);
    EXPECT_NE(win::CompareStringA(0x0409, 0, &a, 1, &b, 1), win::CSTR_GREATER_THAN) << i;
  }
  std::size_t count = list.Count();
  EXPECT_EQ(&list.Order(0x0409, 0), &english);  // kept, not rebuilt
  EXPECT_EQ(list.Count(), count);
}

}  // namespace
}  // namespace vandrel::engine::test
