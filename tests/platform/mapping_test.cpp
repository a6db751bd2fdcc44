// Named shared memory with its lifetime across real processes, views, and
// private pages.
#include "platform/mapping.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/handle.h"
#include "platform/process.h"
#include "tests/support/test_support.h"

namespace vandrel::win {
namespace {

std::string ShmPeer() { return test::BinDir() + "/shmpeer"; }

void Touch(const std::string& path) { std::ofstream(path) << "1"; }

// Waits (bounded) for a file a peer writes atomically and returns its text.
std::string WaitForFile(const std::string& path) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < end) {
    std::ifstream in(path);
    if (in) {
      std::stringstream text;
      text << in.rdbuf();
      return text.str();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ADD_FAILURE() << "timed out waiting for " << path;
  return {};
}

std::uint32_t Read32(const void* bytes, std::size_t offset = 0) {
  std::uint32_t v = 0;
  std::memcpy(&v, static_cast<const std::uint8_t*>(bytes) + offset, 4);
  return v;
}

// A shared-memory peer run by a test; killed and waited for at the end.
class Peer {
 public:
  Peer(const std::vector<std::string>& args) {
    std::vector<std::string> argv{ShmPeer()};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = StartChildProcess(argv, "");
    EXPECT_NE(pid_, 0u);
  }
  ~Peer() {
    if (pid_ != 0 && !waited_) {
      KillProcess(pid_, true);
      WaitChildProcess(pid_, 30000, nullptr);
    }
  }
  int Wait() {
    int code = -1;
    EXPECT_TRUE(WaitChildProcess(pid_, 30000, &code));
    waited_ = true;
    return code;
  }
  void Kill() {
    ASSERT_TRUE(KillProcess(pid_, true));
    EXPECT_EQ(Wait(), 128 + 9);
  }

 private:
  DWORD pid_ = 0;
  bool waited_ = false;
};

class SharedMemory : public ::testing::Test {
 protected:
  test::ScopedRuntimeDir ns_;
  test::ScratchDir talk_{"vandrel-shmpeer"};
  std::string Talk(const std::string& step) const { return talk_.path() + "/" + step; }
};

TEST_F(SharedMemory, ReaderSeesCreatorAndOutlivesItsRelease) {
  Peer creator({"create", "Vandrel_Transfer7", "100", "4660", talk_.path()});
  EXPECT_EQ(WaitForFile(Talk("ready")), std::to_string(ERROR_SUCCESS));

  HANDLE h = OpenFileMappingA(FILE_MAP_ALL_ACCESS, TRUE, "Vandrel_Transfer7");
  ASSERT_NE(h, nullptr) << GetLastError();
  auto* view = static_cast<std::uint8_t*>(MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(ViewSize(view), 100u);
  EXPECT_EQ(Read32(view), 4660u);
  std::uint32_t answer = 0xBEEF;
  std::memcpy(view + 4, &answer, 4);
  EXPECT_TRUE(CloseHandle(h));  // the view alone keeps the object

  Touch(Talk("release"));
  EXPECT_EQ(WaitForFile(Talk("released")), std::to_string(0xBEEF)) << "creator sees the reader";
  // The creator let go; the reader's view still holds the object and its name.
  EXPECT_EQ(Read32(view), 4660u);
  HANDLE again = OpenFileMappingA(FILE_MAP_READ, TRUE, "Vandrel_Transfer7");
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(CloseHandle(again));

  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, TRUE, "Vandrel_Transfer7"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(std::filesystem::exists(ns_.path() + "/shm/Vandrel_Transfer7"));
  Touch(Talk("exit"));
  EXPECT_EQ(creator.Wait(), 0);
}

TEST_F(SharedMemory, KilledCreatorLeavesNoOpenableName) {
  Peer holder({"hold", "Vandrel_Transfer9", "64", "99", talk_.path()});
  WaitForFile(Talk("ready"));
  struct stat st {};
  ASSERT_EQ(stat((ns_.path() + "/shm/Vandrel_Transfer9").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A reader mapped before the kill keeps the object alive and openable.
  HANDLE h = OpenFileMappingA(FILE_MAP_READ, TRUE, "Vandrel_Transfer9");
  ASSERT_NE(h, nullptr);
  void* view = MapViewOfFile(h, FILE_MAP_READ, 0, 0, 0);
  ASSERT_NE(view, nullptr);
  CloseHandle(h);
  holder.Kill();
  EXPECT_EQ(Read32(view), 99u);
  h = OpenFileMappingA(FILE_MAP_READ, TRUE, "Vandrel_Transfer9");
  ASSERT_NE(h, nullptr);
  CloseHandle(h);
  UnmapViewOfFile(view);
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, TRUE, "Vandrel_Transfer9"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  // Killed while it was the only holder: the file it leaves is stale.
  std::filesystem::create_directory(talk_.path() + "/b");
  Peer second({"hold", "Vandrel_Transfer10", "64", "77", talk_.path() + "/b"});
  WaitForFile(talk_.path() + "/b/ready");
  second.Kill();
  EXPECT_TRUE(std::filesystem::exists(ns_.path() + "/shm/Vandrel_Transfer10"));
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, TRUE, "Vandrel_Transfer10"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  // Creating the name again makes a fresh, zero-filled object.
  HANDLE fresh = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64,
                                    "Vandrel_Transfer10");
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  void* bytes = MapViewOfFile(fresh, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  EXPECT_EQ(Read32(bytes), 0u);
  UnmapViewOfFile(bytes);
  CloseHandle(fresh);
}

TEST_F(SharedMemory, CreatingALiveNameReportsAlreadyExists) {
  Peer creator({"create", "Vandrel_TransferID", "4", "5", talk_.path()});
  WaitForFile(Talk("ready"));
  HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT, 0, 4096,
                                "Vandrel_TransferID");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  void* view = MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(ViewSize(view), 4u) << "the existing object keeps its size";
  EXPECT_EQ(Read32(view), 5u);
  bool init_ran = false;
  HANDLE h2 = CreateFileMappingInitA(PAGE_READWRITE, 4, "Vandrel_TransferID",
                                     [&](void*, std::size_t) { init_ran = true; });
  ASSERT_NE(h2, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(init_ran);
  CloseHandle(h2);
  UnmapViewOfFile(view);
  CloseHandle(h);
  Touch(Talk("release"));
  Touch(Talk("exit"));
  EXPECT_EQ(creator.Wait(), 0);
}

TEST_F(SharedMemory, ConcurrentCounterIsInitialisedOnce) {
  constexpr int kPeers = 4;
  constexpr int kNumbers = 50;
  for (int round = 0; round < 5; ++round) {
    std::string dir = talk_.path() + "/round" + std::to_string(round);
    std::filesystem::create_directory(dir);
    std::string name = "Counter" + std::to_string(round);
    std::vector<std::unique_ptr<Peer>> peers;
    for (int p = 0; p < kPeers; ++p) {
      peers.push_back(std::make_unique<Peer>(std::vector<std::string>{
          "counter", name, std::to_string(kNumbers), dir, std::to_string(p)}));
    }
    Touch(dir + "/start");
    std::multiset<std::uint32_t> all;
    for (int p = 0; p < kPeers; ++p) {
      std::istringstream numbers(WaitForFile(dir + "/numbers-" + std::to_string(p)));
      std::uint32_t n = 0;
      while (numbers >> n) all.insert(n);
    }
    Touch(dir + "/exit");
    for (auto& peer : peers) EXPECT_EQ(peer->Wait(), 0);
    ASSERT_EQ(all.size(), static_cast<std::size_t>(kPeers * kNumbers));
    std::uint32_t expected = 1;
    for (std::uint32_t n : all) EXPECT_EQ(n, expected++) << "round " << round;
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, TRUE, name.c_str()), nullptr);
  }
}

TEST_F(SharedMemory, OpenersRacingCreateAndReleaseSeeWholeObjectsOrNone) {
  Peer flipper({"flip", "Flip", "500", talk_.path()});
  int opened = 0;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!std::filesystem::exists(Talk("done")) && std::chrono::steady_clock::now() < end) {
    HANDLE h = OpenFileMappingA(FILE_MAP_READ, TRUE, "Flip");
    if (h == nullptr) {
      ASSERT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
      continue;
    }
    void* view = MapViewOfFile(h, FILE_MAP_READ, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(ViewSize(view), 8u);
    ASSERT_EQ(Read32(view), 0x5EEDF00Du) << "an opener only ever meets a finished object";
    ++opened;
    UnmapViewOfFile(view);
    CloseHandle(h);
  }
  EXPECT_EQ(flipper.Wait(), 0);
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, TRUE, "Flip"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(std::filesystem::is_empty(ns_.path() + "/shm"));
  RecordProperty("opened", opened);
}

TEST_F(SharedMemory, HandlesAndViewsInOneProcess) {
  HANDLE creator = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT, 0,
                                      6, "Vandrel_Transfer1");
  ASSERT_NE(creator, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  auto* own = static_cast<std::uint8_t*>(MapViewOfFile(creator, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(std::count(own, own + 6, 0), 6);
  own[0] = 1;

  // A read-only opener cannot map for writing, but sees the creator's bytes.
  HANDLE reader = OpenFileMappingA(FILE_MAP_READ, TRUE, "Vandrel_Transfer1");
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(MapViewOfFile(reader, FILE_MAP_WRITE, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  auto* view = static_cast<const std::uint8_t*>(MapViewOfFile(reader, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  CloseHandle(reader);
  EXPECT_EQ(view[0], 1);

  // The creator lets go (as a growing buffer does); the reader keeps a
  // consistent copy under the old name.
  CloseHandle(creator);
  UnmapViewOfFile(own);
  EXPECT_EQ(view[0], 1);
  EXPECT_EQ(ViewSize(view), 6u);
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_FALSE(UnmapViewOfFile(view));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
  EXPECT_EQ(ViewSize(view), 0u);
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, TRUE, "Vandrel_Transfer1"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(std::filesystem::is_empty(ns_.path() + "/shm")) << "no file is left behind";
}

TEST_F(SharedMemory, RefusesBadNamesSizesAndViews) {
  for (const char* bad : {"a/b", ".hidden", "..", "/abs"}) {
    EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, bad), nullptr)
        << bad;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME) << bad;
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, TRUE, bad), nullptr);
  }
  EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, "Zero"),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, TRUE, nullptr), nullptr);

  HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 3 * 65536, "Big");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(MapViewOfFile(h, FILE_MAP_READ, 0, 4096, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MAPPED_ALIGNMENT);
  EXPECT_EQ(MapViewOfFile(h, FILE_MAP_READ, 0, 3 * 65536, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(MapViewOfFile(h, FILE_MAP_READ, 0, 2 * 65536, 65537), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(MapViewOfFile(h, FILE_MAP_READ, 1, 0, 0), nullptr);
  EXPECT_EQ(MapViewOfFile(reinterpret_cast<HANDLE>(0x7777), FILE_MAP_READ, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  // Views at granule offsets see the same bytes as the whole.
  auto* whole = static_cast<std::uint8_t*>(MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(whole, nullptr);
  whole[2 * 65536 + 5] = 42;
  auto* tail = static_cast<std::uint8_t*>(MapViewOfFile(h, FILE_MAP_READ, 0, 2 * 65536, 0));
  ASSERT_NE(tail, nullptr);
  EXPECT_EQ(ViewSize(tail), 65536u);
  EXPECT_EQ(tail[5], 42);
  EXPECT_TRUE(FlushViewOfFile(whole + 100, 10));
  EXPECT_FALSE(FlushViewOfFile(&h, 10));
  UnmapViewOfFile(tail);
  UnmapViewOfFile(whole);
  CloseHandle(h);
}

TEST(AnonymousSharedMemory, IsPrivateToItsHandles) {
  HANDLE a = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 16, nullptr);
  HANDLE b = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 16, nullptr);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  auto* va = static_cast<std::uint8_t*>(MapViewOfFile(a, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  auto* vb = static_cast<std::uint8_t*>(MapViewOfFile(b, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  va[0] = 7;
  EXPECT_EQ(vb[0], 0);
  UnmapViewOfFile(va);
  UnmapViewOfFile(vb);
  CloseHandle(a);
  CloseHandle(b);
}

TEST(PrivatePages, ReserveCommitDecommitRelease) {
  constexpr std::size_t kGranule = 65536;
  auto* base =
      static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 4 * kGranule, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(base, nullptr);
  auto* second = static_cast<std::uint8_t*>(
      VirtualAlloc(base + kGranule, kGranule, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_EQ(second, base + kGranule);
  EXPECT_EQ(std::count(second, second + kGranule, 0), static_cast<long>(kGranule));
  std::memset(second, 0xAB, kGranule);
  // Committing again keeps the bytes; decommitting and committing zeroes.
  EXPECT_NE(VirtualAlloc(second, kGranule, MEM_COMMIT, PAGE_READWRITE), nullptr);
  EXPECT_EQ(second[100], 0xAB);
  EXPECT_TRUE(VirtualFree(second, kGranule, MEM_DECOMMIT));
  EXPECT_NE(VirtualAlloc(second, kGranule, MEM_COMMIT, PAGE_READWRITE), nullptr);
  EXPECT_EQ(second[100], 0);
  // Commits outside the reservation and partial releases are refused.
  EXPECT_EQ(VirtualAlloc(base + 3 * kGranule, 2 * kGranule, MEM_COMMIT, PAGE_READWRITE), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
  EXPECT_FALSE(VirtualFree(base, 4 * kGranule, MEM_RELEASE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(VirtualFree(second, 0, MEM_RELEASE));
  EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));

  // Reserve and commit at once: a private, zero-filled copy buffer.
  auto* copy = static_cast<std::uint8_t*>(
      VirtualAlloc(nullptr, kGranule, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::count(copy, copy + kGranule, 0), static_cast<long>(kGranule));
  EXPECT_TRUE(VirtualFree(copy, 0, MEM_RELEASE));
  EXPECT_EQ(VirtualAlloc(nullptr, 0, MEM_COMMIT, PAGE_READWRITE), nullptr);
}

}  // namespace
}  // namespace vandrel::win

namespace vandrel::win {
namespace {

// A file cut short under a view: touching the lost pages reads zeros
// instead of ending the process, and the view is known as damaged.
TEST(ShrinkingFiles, AFaultInAViewIsCaughtCountedAndNamed) {
  test::ScratchDir dir("vandrel-shrink");
  const std::string path = dir.path() + "/cut.dic";
  {
    std::ofstream out(path, std::ios::binary);
    const std::string page(65536, 'd');
    for (int i = 0; i < 4; ++i) out << page;
  }
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  ASSERT_NE(mapping, nullptr);
  CloseHandle(file);
  const auto* view =
      static_cast<const volatile char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  CloseHandle(mapping);
  EXPECT_EQ(view[200000], 'd');
  EXPECT_FALSE(ViewFileShrank(const_cast<const char*>(view)));

  std::filesystem::resize_file(path, 4096);  // as another process would
  EXPECT_TRUE(ViewFileShrank(const_cast<const char*>(view)));
  const std::uint64_t before = MappingFaultCount();
  EXPECT_EQ(view[0], 'd');  // still inside the file
  EXPECT_EQ(MappingFaultCount(), before);
  EXPECT_EQ(view[200000], 0);  // beyond its end now: caught, reads zero
  EXPECT_EQ(MappingFaultCount(), before + 1);
  EXPECT_EQ(view[250000], 0);  // the rest of the view is zeros from now on
  EXPECT_TRUE(ViewDamaged(const_cast<const char*>(view) + 10));
  EXPECT_EQ(LastMappingFault(), "the file " + std::filesystem::canonical(path).string());
  EXPECT_TRUE(UnmapViewOfFile(const_cast<const char*>(view)));
}

long MinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// A view that grows with its file keeps its bytes and its mapped pages;
// prefetched pages are written without a fault each.
TEST(GrowingViews, GrowKeepsBytesAndMappedPagesAndPrefetchMapsAhead) {
  test::ScratchDir dir("vandrel-grow");
  const std::string path = dir.path() + "/c.tmp";
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  constexpr std::size_t kSmall = 64 * 4096, kLarge = 256 * 4096;
  HANDLE small = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, kSmall, nullptr);
  ASSERT_NE(small, nullptr);
  auto* view = static_cast<std::uint8_t*>(MapViewOfFile(small, FILE_MAP_WRITE, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  for (std::size_t p = 0; p < kSmall; p += 4096) view[p] = static_cast<std::uint8_t>(p / 4096 + 1);

  // Refusals leave the view as it was.
  HANDLE same = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, kSmall, nullptr);
  EXPECT_EQ(GrowViewOfFile(view, same), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CloseHandle(same);
  const std::string other_path = dir.path() + "/other";
  HANDLE other_file = CreateFileA(other_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, 0, nullptr);
  HANDLE other = CreateFileMappingA(other_file, nullptr, PAGE_READWRITE, 0, kLarge, nullptr);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(GrowViewOfFile(view, other), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CloseHandle(other);
  CloseHandle(other_file);
  HANDLE large = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, kLarge, nullptr);
  ASSERT_NE(large, nullptr);
  EXPECT_EQ(GrowViewOfFile(view + 4096, large), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
  EXPECT_EQ(ViewSize(view), kSmall);

  auto* grown = static_cast<std::uint8_t*>(GrowViewOfFile(view, large));
  ASSERT_NE(grown, nullptr);
  CloseHandle(small);
  CloseHandle(large);
  EXPECT_EQ(ViewSize(grown), kLarge);
  const long before = MinorFaults();
  int same_bytes = 0;
  for (std::size_t p = 0; p < kSmall; p += 4096) {
    same_bytes += grown[p] == static_cast<std::uint8_t>(p / 4096 + 1);
    grown[p + 1] = 7;
  }
  EXPECT_EQ(same_bytes, 64);
  EXPECT_LT(MinorFaults() - before, 16) << "the pages mapped before the growth fault again";

  // Prefetch: inside one view only; then writes need no fault per page.
  EXPECT_FALSE(PrefetchViewRange(grown + kLarge - 4096, 8192));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
  std::uint8_t outside[16] = {};
  EXPECT_FALSE(PrefetchViewRange(outside, sizeof outside));
  ASSERT_TRUE(PrefetchViewRange(grown + kSmall, kLarge - kSmall));
  const long prefetched = MinorFaults();
  for (std::size_t p = kSmall; p < kLarge; p += 4096) grown[p] = 9;
  EXPECT_LT(MinorFaults() - prefetched, 64) << "prefetched pages fault one by one";
  ASSERT_TRUE(FlushViewOfFile(grown, 0));
  EXPECT_TRUE(UnmapViewOfFile(grown));
  CloseHandle(file);

  // The file holds what went through both views.
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes.size(), kLarge);
  EXPECT_EQ(bytes[4096], 2);
  EXPECT_EQ(bytes[4097], 7);
  EXPECT_EQ(bytes[kSmall], 9);
}

// A fault outside every view still ends the process as before.
TEST(ShrinkingFilesDeathTest, AFaultOutsideTheViewsStillEndsTheProcess) {
  EXPECT_DEATH(
      {
        test::ScratchDir dir("vandrel-shrink-death");
        const std::string path = dir.path() + "/f";
        std::ofstream(path) << "some bytes";
        HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               0, nullptr);
        HANDLE m = CreateFileMappingA(f, nullptr, PAGE_READONLY, 0, 0, nullptr);
        UnmapViewOfFile(MapViewOfFile(m, FILE_MAP_READ, 0, 0, 0));  // installs the guard
        std::raise(SIGBUS);
      },
      "");
}

}  // namespace
}  // namespace vandrel::win
