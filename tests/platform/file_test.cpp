// Files: dispositions, reading and writing, share modes within and across
// processes, mappings of files, finding, deleting and atomic replacement.
#include "platform/file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/handle.h"
#include "platform/mapping.h"
#include "platform/process.h"
#include "tests/support/test_support.h"

namespace vandrel::win {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string WaitForFile(const std::string& path) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < end) {
    if (std::filesystem::exists(path)) return ReadText(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ADD_FAILURE() << "timed out waiting for " << path;
  return {};
}

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition = OPEN_EXISTING,
            DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  return CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

// A procpeer holding a file open or mapped; killed at the end.
class FilePeer {
 public:
  explicit FilePeer(const std::vector<std::string>& args) {
    std::vector<std::string> argv{test::BinDir() + "/procpeer"};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = StartChildProcess(argv, "");
    EXPECT_NE(pid_, 0u);
  }
  ~FilePeer() { Kill(); }
  void Kill() {
    if (pid_ == 0) return;
    KillProcess(pid_, true);
    WaitChildProcess(pid_, 30000, nullptr);
    pid_ = 0;
  }

 private:
  DWORD pid_ = 0;
};

class Files : public ::testing::Test {
 protected:
  test::ScratchDir dir_;
  std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }
};

TEST_F(Files, DispositionsAndTheirErrors) {
  std::string p = Path("a.bin");
  HANDLE h = Open(p, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "hello", 5, &n, nullptr));
  CloseHandle(h);

  EXPECT_EQ(Open(p, GENERIC_READ, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(Open(Path("missing"), GENERIC_READ, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(Path("nofolder/x"), GENERIC_READ, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Open(dir_.path(), GENERIC_READ, kShareAll), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Open(p, GENERIC_READ, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  h = Open(p, GENERIC_READ, 0, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(GetFileSize(h, nullptr), 5u);
  CloseHandle(h);
  h = Open(p, GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(GetFileSize(h, nullptr), 0u);
  CloseHandle(h);
  h = Open(Path("new.bin"), GENERIC_WRITE, 0, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(h);
}

TEST_F(Files, ReadWriteSeekAndSize) {
  HANDLE h = Open(Path("rw.bin"), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "0123456789", 10, &n, nullptr));
  EXPECT_EQ(n, 10u);
  EXPECT_EQ(SetFilePointer(h, 2, nullptr, FILE_BEGIN), 2u);
  char buf[16] = {};
  ASSERT_TRUE(ReadFile(h, buf, 4, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "2345");
  EXPECT_EQ(SetFilePointer(h, -3, nullptr, FILE_END), 7u);
  ASSERT_TRUE(ReadFile(h, buf, 16, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "789");
  ASSERT_TRUE(ReadFile(h, buf, 16, &n, nullptr));  // at the end: success, nothing read
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(SetFilePointer(h, -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 10u) << "a failed seek does not move";

  // 64-bit positions travel in two halves.
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(h, 16, &high, FILE_BEGIN), 16u);
  EXPECT_EQ(high, 1);
  ASSERT_TRUE(SetEndOfFile(h));
  DWORD size_high = 0;
  EXPECT_EQ(GetFileSize(h, &size_high), 16u);
  EXPECT_EQ(size_high, 1u);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SetFilePointer(h, 4, nullptr, FILE_BEGIN), 4u);
  ASSERT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(GetFileSize(h, &size_high), 4u);
  EXPECT_EQ(size_high, 0u);
  EXPECT_TRUE(FlushFileBuffers(h));
  CloseHandle(h);

  h = Open(Path("rw.bin"), GENERIC_READ, kShareAll);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(WriteFile(h, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(SetEndOfFile(h));
  EXPECT_FALSE(ReadFile(h, buf, 1, &n, buf));  // overlapped reads are not offered
  CloseHandle(h);
  EXPECT_FALSE(ReadFile(h, buf, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetFileSize(h, nullptr), INVALID_FILE_SIZE);
}

TEST_F(Files, ShareModesWithinOneProcess) {
  std::string p = Path("s.bin");
  WriteText(p, "data");
  HANDLE exclusive = Open(p, GENERIC_READ | GENERIC_WRITE, 0);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(p, GENERIC_READ, kShareAll), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(DeleteFileA(p.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  CloseHandle(exclusive);

  // Two readers that share reading; a writer conflicts with both.
  HANDLE r1 = Open(p, GENERIC_READ, FILE_SHARE_READ);
  HANDLE r2 = Open(p, GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(r1, INVALID_HANDLE_VALUE);
  ASSERT_NE(r2, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(p, GENERIC_WRITE, kShareAll), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  // A reader that shares everything passes; one that denies reading does not.
  HANDLE r3 = Open(p, GENERIC_READ, kShareAll);
  EXPECT_NE(r3, INVALID_HANDLE_VALUE);
  CloseHandle(r3);
  EXPECT_EQ(Open(p, GENERIC_READ, FILE_SHARE_WRITE | FILE_SHARE_DELETE), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  CloseHandle(r1);
  CloseHandle(r2);
  HANDLE shared_delete = Open(p, GENERIC_READ, kShareAll);
  ASSERT_NE(shared_delete, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(DeleteFileA(p.c_str())) << "an open that shares delete does not block it";
  char buf[8];
  DWORD n = 0;
  EXPECT_TRUE(ReadFile(shared_delete, buf, 8, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "data");
  CloseHandle(shared_delete);
}

TEST_F(Files, ShareModesAcrossProcesses) {
  std::string p = Path("x.bin");
  WriteText(p, "payload");
  std::string target = Path("target.bin");
  WriteText(target, "old");
  std::string replacement = Path("replacement.bin");
  WriteText(replacement, "new");
  {
    FilePeer peer({"open", p, std::to_string(GENERIC_READ), "0", Path("ready1")});
    ASSERT_EQ(WaitForFile(Path("ready1")), "0");
    EXPECT_EQ(Open(p, GENERIC_READ, kShareAll), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(DeleteFileA(p.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(MoveFileExA(replacement.c_str(), p.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(MoveFileExA(p.c_str(), Path("renamed.bin").c_str(), 0));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ReadText(p), "payload");
    peer.Kill();  // its locks die with it
    HANDLE h = Open(p, GENERIC_READ | GENERIC_WRITE, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    // Now the peer is the one refused.
    FilePeer second(
        {"open", p, std::to_string(GENERIC_READ), std::to_string(kShareAll), Path("ready2")});
    EXPECT_EQ(WaitForFile(Path("ready2")), std::to_string(ERROR_SHARING_VIOLATION));
    CloseHandle(h);
  }
  {
    // A peer reading with read sharing: other readers pass, a writer does not.
    FilePeer peer(
        {"open", p, std::to_string(GENERIC_READ), std::to_string(FILE_SHARE_READ), Path("ready3")});
    ASSERT_EQ(WaitForFile(Path("ready3")), "0");
    HANDLE reader = Open(p, GENERIC_READ, FILE_SHARE_READ);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    EXPECT_EQ(Open(p, GENERIC_READ | GENERIC_WRITE, kShareAll), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  }
}

TEST_F(Files, MappedFileCannotBeDeletedReplacedOrTruncated) {
  std::string p = Path("mapped.dic");
  WriteText(p, std::string(70000, 'm'));
  std::string replacement = Path("mapped.tmp");
  WriteText(replacement, "new");
  FilePeer peer({"map", p, Path("ready")});
  ASSERT_EQ(WaitForFile(Path("ready")), "0");
  // The peer closed its handles: opening is allowed again...
  HANDLE h = Open(p, GENERIC_READ, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  // ...but its view keeps the file from going away or shrinking.
  EXPECT_FALSE(DeleteFileA(p.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(MoveFileExA(replacement.c_str(), p.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Open(p, GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_USER_MAPPED_FILE);
  h = Open(p, GENERIC_READ | GENERIC_WRITE, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SetFilePointer(h, 10, nullptr, FILE_BEGIN);
  EXPECT_FALSE(SetEndOfFile(h));
  EXPECT_EQ(GetLastError(), ERROR_USER_MAPPED_FILE);
  CloseHandle(h);
  EXPECT_EQ(ReadText(p).size(), 70000u);

  peer.Kill();
  EXPECT_TRUE(MoveFileExA(replacement.c_str(), p.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(ReadText(p), "new");
  EXPECT_TRUE(DeleteFileA(p.c_str()));
}

TEST_F(Files, ReadOnlyGranuleViewsAtOffsets) {
  constexpr std::size_t kGranule = 65536;
  std::string p = Path("granules.dic");
  std::string bytes(3 * kGranule + 1000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i / 7) ^ (i >> 16));
  WriteText(p, bytes);

  HANDLE file = Open(p, GENERIC_READ, 0);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  ASSERT_NE(mapping, nullptr);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 4096, 4096), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MAPPED_ALIGNMENT);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 3 * kGranule, 1001), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

  std::vector<const char*> views;
  for (std::size_t g = 0; g < 4; ++g) {
    std::size_t size = std::min(kGranule, bytes.size() - g * kGranule);
    auto* view = static_cast<const char*>(
        MapViewOfFile(mapping, FILE_MAP_READ, 0, static_cast<DWORD>(g * kGranule), size));
    ASSERT_NE(view, nullptr) << g;
    EXPECT_EQ(ViewSize(view), size);
    views.push_back(view);
  }
  CloseHandle(mapping);
  CloseHandle(file);  // the views stay valid
  for (std::size_t g = 0; g < 4; ++g) {
    std::size_t size = std::min(kGranule, bytes.size() - g * kGranule);
    EXPECT_EQ(std::memcmp(views[g], bytes.data() + g * kGranule, size), 0) << g;
  }
  // A private copy of one granule changes only in memory.
  file = Open(p, GENERIC_READ, FILE_SHARE_READ);
  mapping = CreateFileMappingA(file, nullptr, PAGE_WRITECOPY, 0, 0, nullptr);
  auto* copy = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_COPY, 0, kGranule, kGranule));
  ASSERT_NE(copy, nullptr);
  copy[0] = 'Z';
  EXPECT_EQ(views[1][0], bytes[kGranule]);
  UnmapViewOfFile(copy);
  CloseHandle(mapping);
  CloseHandle(file);
  for (const char* view : views) EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_EQ(ReadText(p), bytes);
  EXPECT_TRUE(DeleteFileA(p.c_str())) << "no mapping is left";

  WriteText(Path("empty.dic"), "");
  file = Open(Path("empty.dic"), GENERIC_READ, 0);
  EXPECT_EQ(CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_INVALID);
  EXPECT_EQ(CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 100, nullptr), nullptr);
  EXPECT_EQ(CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, 100, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << "a read-only handle cannot map for writing";
  CloseHandle(file);
}

TEST_F(Files, ReadWriteMappingGrowsTheFile) {
  std::string p = Path("container.tmp");
  HANDLE file = Open(p, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(file, "head", 4, &n, nullptr));
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, 2 * 65536, nullptr);
  ASSERT_NE(mapping, nullptr);
  EXPECT_EQ(GetFileSize(file, nullptr), 2u * 65536);
  auto* first = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 65536));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(std::string(first, 4), "head");
  std::memcpy(first + 100, "written", 7);
  // A second view requested right after the first one (consecutive views).
  auto* second =
      static_cast<char*>(MapViewOfFileEx(mapping, FILE_MAP_WRITE, 0, 65536, 65536, first + 65536));
  if (second != nullptr) {
    EXPECT_EQ(second, first + 65536);
    second[0] = 'S';
    EXPECT_EQ(first[65536], 'S');
    EXPECT_EQ(MapViewOfFileEx(mapping, FILE_MAP_WRITE, 0, 0, 65536, second), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
    UnmapViewOfFile(second);
  } else {
    EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);  // something else lives there
  }
  ASSERT_TRUE(FlushViewOfFile(first + 100, 7));

  // Renewing the mapping with a larger size grows the file again.
  HANDLE larger = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, 3 * 65536, nullptr);
  ASSERT_NE(larger, nullptr);
  EXPECT_EQ(GetFileSize(file, nullptr), 3u * 65536);
  auto* third = static_cast<char*>(MapViewOfFile(larger, FILE_MAP_ALL_ACCESS, 0, 2 * 65536, 0));
  ASSERT_NE(third, nullptr);
  std::memcpy(third, "tail", 4);
  ASSERT_TRUE(FlushViewOfFile(third, 0));
  SetFilePointer(file, 100, nullptr, FILE_BEGIN);
  char buf[8] = {};
  ASSERT_TRUE(ReadFile(file, buf, 7, &n, nullptr));
  EXPECT_EQ(std::string(buf, 7), "written");
  SetFilePointer(file, 2 * 65536, nullptr, FILE_BEGIN);
  ASSERT_TRUE(ReadFile(file, buf, 4, &n, nullptr));
  EXPECT_EQ(std::string(buf, 4), "tail");
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  EXPECT_FALSE(SetEndOfFile(file)) << "own mapping is in the way";
  EXPECT_EQ(GetLastError(), ERROR_USER_MAPPED_FILE);
  UnmapViewOfFile(first);
  UnmapViewOfFile(third);
  CloseHandle(mapping);
  CloseHandle(larger);
  EXPECT_TRUE(SetEndOfFile(file));
  CloseHandle(file);
}

TEST_F(Files, FindMatchesNamesCaseInsensitively) {
  for (const char* name : {"English.DIC", "b.dic", "c.Dic", "d.txt", "e.dicx", "f"}) {
    WriteText(Path(name), "x");
  }
  std::filesystem::create_directory(Path("sub.dic"));
  auto find = [&](const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA((dir_.path() + "/" + pattern).c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
      names.push_back(std::string(data.cFileName) +
                      ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "/" : ""));
    } while (FindNextFileA(h, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(h));
    return names;
  };
  EXPECT_EQ(find("*.dic"), (std::vector<std::string>{"English.DIC", "b.dic", "c.Dic", "sub.dic/"}));
  EXPECT_EQ(find("*.DIC"), find("*.dic"));
  EXPECT_EQ(find("?.dic"), (std::vector<std::string>{"b.dic", "c.Dic"}));
  EXPECT_EQ(find("ENGLISH.dic"), (std::vector<std::string>{"English.DIC"}));
  EXPECT_EQ(find("*.*").size(), 9u) << "with . and .., names without a dot included";
  EXPECT_EQ(find("*i*x"), (std::vector<std::string>{"e.dicx"}));

  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA((dir_.path() + "/b.dic").c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.nFileSizeLow, 1u);
  EXPECT_NE(data.ftLastWriteTime.dwHighDateTime, 0u);
  EXPECT_TRUE(CloseHandle(h)) << "find handles share the handle space";
  EXPECT_EQ(FindFirstFileA((dir_.path() + "/*.zzz").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirstFileA((dir_.path() + "/nowhere/*.dic").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  HANDLE file = Open(Path("b.dic"), GENERIC_READ, kShareAll);
  EXPECT_FALSE(FindClose(file)) << "a file handle is not a search";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(file);
}

TEST_F(Files, ReplaceIsOneAtomicRename) {
  std::string p = Path("words.dic");
  WriteText(p, std::string(4096, 'A'));
  std::string tmp = Path("words.tmp");
  WriteText(tmp, "B");
  EXPECT_FALSE(MoveFileExA(tmp.c_str(), p.c_str(), 0));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ReadText(p).size(), 4096u);

  // A reader that keeps opening the name sees the old or the new file,
  // whole, and never a missing one.
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    while (!stop) {
      HANDLE h = Open(p, GENERIC_READ, kShareAll);
      if (h == INVALID_HANDLE_VALUE) {
        ++bad;
        continue;
      }
      char buf[4096];
      DWORD n = 0;
      ReadFile(h, buf, sizeof buf, &n, nullptr);
      std::string text(buf, n);
      if (text != std::string(4096, 'A') && text != std::string(4096, 'B')) ++bad;
      CloseHandle(h);
    }
  });
  for (int i = 0; i < 200; ++i) {
    WriteText(tmp, std::string(4096, i % 2 ? 'A' : 'B'));
    DWORD flags = MOVEFILE_REPLACE_EXISTING | (i == 199 ? MOVEFILE_WRITE_THROUGH : 0);
    ASSERT_TRUE(MoveFileExA(tmp.c_str(), p.c_str(), flags));
  }
  stop = true;
  reader.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(GetFileAttributesA(tmp.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(MoveFileExA(tmp.c_str(), p.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(Files, DeleteOnCloseReadOnlyFilesAndFolders) {
  std::string p = Path("Updates.tmp");
  HANDLE h = Open(p, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS,
                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_NE(GetFileAttributesA(p.c_str()), INVALID_FILE_ATTRIBUTES);
  CloseHandle(h);
  EXPECT_EQ(GetFileAttributesA(p.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  std::string ro = Path("ro.dic");
  h = Open(ro, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_READONLY);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(h, "x", 1, &n, nullptr)) << "the creating handle may write";
  CloseHandle(h);
  EXPECT_EQ(GetFileAttributesA(ro.c_str()), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(Open(ro, GENERIC_WRITE, kShareAll), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFileA(ro.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

  std::string folder = Path("Dic");
  EXPECT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  EXPECT_FALSE(CreateDirectoryA(folder.c_str(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(CreateDirectoryA(Path("a/b").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesA(folder.c_str()), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(DeleteFileA(folder.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFileA(Path("none").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(PlainFileName, RefusesPathsAndSpecialNames) {
  EXPECT_TRUE(IsPlainFileName("English.dic"));
  EXPECT_TRUE(IsPlainFileName("a..b.dic"));
  EXPECT_TRUE(IsPlainFileName(".hidden"));
  for (const std::string& bad :
       std::vector<std::string>{"", ".", "..", "../x.dic", "a/b.dic", "a\\b.dic", "/etc/passwd",
                                std::string("a\0b", 3), std::string("x.dic\0", 6)}) {
    EXPECT_FALSE(IsPlainFileName(bad)) << bad;
  }
}

}  // namespace
}  // namespace vandrel::win
