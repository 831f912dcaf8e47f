// The board's host against the real system calls (Wine's when run under Wine), with a named
// pipe standing in for the board's interface: overlapped writes to it pend while its buffer
// is full and nobody reads, as they do to a board that stops taking reports.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "backend/win32/hid_host.h"

namespace tonalis::win32 {
namespace {

constexpr DWORD PipeBuffer = 256;

std::array<uint8_t, 65> report(uint8_t mark) {
  std::array<uint8_t, 65> r{};
  r[1] = mark;
  return r;
}

struct PipeBoard : ::testing::Test {
  std::wstring name = L"\\\\.\\pipe\\tonalis-hid-" + std::to_wstring(GetCurrentProcessId());
  HANDLE server = INVALID_HANDLE_VALUE;
  PipeBoard() {
    server = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, PipeBuffer,
                              PipeBuffer, 0, nullptr);
  }
  ~PipeBoard() override {
    if (server != INVALID_HANDLE_VALUE) CloseHandle(server);
  }
  std::string path() const {
    std::string narrow;
    for (wchar_t c : name) narrow.push_back(char(c));
    return narrow;
  }
  // What the board has been sent and not yet read.
  std::vector<uint8_t> drain() {
    std::vector<uint8_t> all;
    DWORD available = 0;
    while (PeekNamedPipe(server, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
      std::vector<uint8_t> chunk(available);
      DWORD got = 0;
      if (!ReadFile(server, chunk.data(), available, &got, nullptr)) break;
      all.insert(all.end(), chunk.begin(), chunk.begin() + got);
    }
    return all;
  }
};

TEST_F(PipeBoard, ReportsArriveAndASlowBoardKeepsOnePending) {
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  Win32HidHost host;
  EXPECT_FALSE(host.open("\\\\.\\pipe\\tonalis-no-such-pipe").valid());
  EXPECT_EQ(host.write(InvalidHidHandle, report(1), 50), HidWriteResult::Failed);
  const HidHandle board = host.open(path());
  ASSERT_TRUE(board.valid());
  EXPECT_EQ(host.write(board, report(1), 500), HidWriteResult::Done);
  const std::vector<uint8_t> first = drain();
  ASSERT_EQ(first.size(), 65u);
  EXPECT_EQ(first[1], 1);

  // Fill the pipe until a write is left pending.
  HidWriteResult r = HidWriteResult::Done;
  int sent = 0;
  while (r == HidWriteResult::Done && sent < 64) {
    r = host.write(board, report(2), 50);
    ++sent;
  }
  ASSERT_EQ(r, HidWriteResult::Busy) << "the pipe never filled";
  const DWORD start = GetTickCount();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(host.write(board, report(3), 500), HidWriteResult::Busy);
  EXPECT_LT(GetTickCount() - start, 200u) << "a pending write is only looked at";

  // The board reads: the pending write ends and the next report goes out.
  std::vector<uint8_t> received = drain();
  for (int i = 0; i < 50 && (r = host.write(board, report(4), 100)) == HidWriteResult::Busy; ++i) {
    const std::vector<uint8_t> more = drain();
    received.insert(received.end(), more.begin(), more.end());
  }
  EXPECT_EQ(r, HidWriteResult::Done);
  const std::vector<uint8_t> rest = drain();
  received.insert(received.end(), rest.begin(), rest.end());
  ASSERT_EQ(received.size(), size_t(sent + 1) * 65) << "every started report, none of the dropped";
  for (size_t i = 0; i < received.size(); i += 65) EXPECT_NE(received[i + 1], 3) << "a dropped report went out";
  EXPECT_EQ(received[received.size() - 64], 4);
  host.close(board);
}

TEST_F(PipeBoard, ClosingCancelsAPendingWrite) {
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  Win32HidHost host;
  const HidHandle board = host.open(path());
  ASSERT_TRUE(board.valid());
  HidWriteResult r = HidWriteResult::Done;
  for (int i = 0; i < 64 && r == HidWriteResult::Done; ++i) r = host.write(board, report(2), 50);
  ASSERT_EQ(r, HidWriteResult::Busy);
  const DWORD start = GetTickCount();
  host.close(board);
  EXPECT_LT(GetTickCount() - start, 500u);
  EXPECT_EQ(host.write(board, report(2), 50), HidWriteResult::Failed) << "a closed handle";
  drain();
  DWORD available = 0;
  EXPECT_FALSE(PeekNamedPipe(server, nullptr, 0, nullptr, &available, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_BROKEN_PIPE)) << "the board's end still open";
}

}  // namespace
}  // namespace tonalis::win32
