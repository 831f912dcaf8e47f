// Kills a process that is saving the settings, again and again, at random moments, and
// checks that tonalis.ini is always a whole file: the old one or the new one.
//
//   kill_writer parent <count>   runs <count> rounds in the working directory, prints a summary
//   kill_writer child            saves settings in a loop until it is killed
//
// Both go through the program's own saving code (saveSettingsFile over Win32FileStore).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <optional>
#include <random>
#include <string>

#include "app/settings_file.h"
#include "backend/win32/file_store.h"

using namespace tonalis;

namespace {

constexpr SettingsLimits Limits{443, 145, 100000, 100000};

Settings numbered(int n) {
  Settings s;
  s.savedX = n % 50000;
  s.savedY = (n / 50000) % 50000;
  s.spectrumStyle = 1 + n % 6;
  return s;
}

int child() {
  win32::Win32FileStore store;
  for (int n = 1;; ++n) {
    if (!saveSettingsFile(store, numbered(n))) return 2;
  }
}

// A whole file: it reads back to a record whose file is these very bytes.
bool whole(const std::optional<std::string>& bytes) {
  if (!bytes) return false;
  const SettingsReadResult read = readSettings(*bytes, Limits);
  return read.result == SettingsReadStatus::Read && writeSettings(read.settings) == *bytes;
}

int parent(int count) {
  win32::Win32FileStore store;
  if (!saveSettingsFile(store, numbered(0))) {
    std::fprintf(stderr, "cannot write tonalis.ini here\n");
    return 2;
  }
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" child";
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> delay(0, 400);
  int broken = 0, changed = 0, temporaries = 0;
  std::string last = store.read(SettingsFileName, 8192).bytes;
  for (int round = 0; round < count; ++round) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      std::fprintf(stderr, "cannot start the writer\n");
      return 2;
    }
    Sleep(DWORD(delay(random)));
    TerminateProcess(process.hProcess, 9);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    const FileReadResult read = store.read(SettingsFileName, 8192);
    const std::optional<std::string> now =
        read.status == FileReadStatus::Read ? std::optional(read.bytes) : std::nullopt;
    if (!whole(now)) {
      ++broken;
      std::fprintf(stderr, "round %d: tonalis.ini is not a whole file (%zu bytes)\n", round,
                   now ? now->size() : size_t(0));
    } else if (*now != last) {
      ++changed;
      last = *now;
    }
    temporaries += GetFileAttributesW(L"tonalis.ini.tmp") != INVALID_FILE_ATTRIBUTES;
  }
  std::printf("{\"rounds\":%d,\"broken\":%d,\"changed\":%d,\"temporary_left\":%d}\n", count, broken,
              changed, temporaries);
  return broken == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wcscmp(argv[1], L"child") == 0) return child();
  if (argc == 3 && std::wcscmp(argv[1], L"parent") == 0) return parent(std::max(1, _wtoi(argv[2])));
  std::fprintf(stderr, "usage: kill_writer parent <count> | kill_writer child\n");
  return 2;
}
