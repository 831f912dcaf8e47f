#include "app/settings_file.h"
#include "app/std_file_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "fakes/fake_window.h"
#include "window/window_commands.h"

#if __has_include(<sys/resource.h>)
#include <csignal>
#include <sys/resource.h>
#define TONALIS_HAVE_FILE_SIZE_LIMIT 1
#endif

namespace tonalis {
namespace {

namespace fs = std::filesystem;

constexpr SettingsLimits Screen1080{443, 145, 1920, 1080};

std::string readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

// The golden file was made outside the program (printf | iconv -t GBK, CR LF) for
// this record.
const Settings GoldenRecord{-12, 345, 1, Floating, 1, Minimal, Sky, Lower};

std::string golden() {
  return readBytes(fs::path(TONALIS_SOURCE_DIR) / "tests/app/data/tonalis_golden.ini");
}

std::string values(int x, int y, int top, int mode, int mouse, int transparent, int color,
                   int fullpos) {
  return "xpos " + std::to_string(x) + "\r\nypos " + std::to_string(y) + "\r\ntop " +
         std::to_string(top) + "\r\nmode " + std::to_string(mode) + "\r\nmouse " +
         std::to_string(mouse) + "\r\ntransparent " + std::to_string(transparent) +
         "\r\ncolor " + std::to_string(color) + "\r\nfullpos " + std::to_string(fullpos) +
         "\r\n";
}

// ---- Reading ---------------------------------------------------------------------

struct ReadRow {
  const char* what;
  std::string file;
  Settings expected;
  SettingsReadStatus result;
  SettingsLimits limits = Screen1080;
};

TEST(SettingsRead, TableOfFiles) {
  const Settings defaults{};
  const std::string pad1022 = std::string(1022 - 6, ' ');  // "xpos 7" + pad = 1022 chars
  using enum SettingsReadStatus;
  const ReadRow rows[] = {
      {"written file", values(10, 20, 1, 3, 1, 4, 5, 2), {10, 20, 1, 3, 1, 4, 5, 2}, Read},
      {"LF line ends", "xpos 10\nypos 20\ntop 1\nmode 3\nmouse 1\ntransparent 4\ncolor 5\nfullpos 2\n",
       {10, 20, 1, 3, 1, 4, 5, 2}, Read},
      {"with the comment lines", golden(), GoldenRecord, Read},
      {"empty file", "", defaults, Read},
      {"ypos first", "ypos 10\r\nxpos 20\r\n" + values(1, 1, 1, 2, 1, 1, 2, 1).substr(16),
       defaults, KeyMissing},
      {"a key missing late discards earlier values", "xpos 10\nypos 20\ntop 1\nmode 3\nmouse 1\n"
       "transparent 4\ncolour 5\nfullpos 2\n", defaults, KeyMissing},
      {"keys are case-sensitive", "XPOS 10\n", defaults, KeyMissing},
      {"top 7 alone falls back", values(10, 20, 7, 3, 1, 4, 5, 2), {10, 20, 0, 3, 1, 4, 5, 2}, Read},
      {"style 0, colour 0, fullpos 4", values(10, 20, 1, 0, 1, 4, 0, 4), {10, 20, 1, 1, 1, 4, 1, 0}, Read},
      {"style 7, colour 6, transparent 7, mouse 2", values(10, 20, 1, 7, 2, 7, 6, 3),
       {10, 20, 1, 1, 0, 0, 1, 3}, Read},
      {"negative fixed values", values(10, 20, -1, -1, -1, -1, -1, -1), {10, 20, 0, 1, 0, 0, 1, 0}, Read},
      {"key anywhere in its line", "# saved xpos 77 px\nypos 88\n", {77, 88}, Read},
      {"number right after the key", "xpos-5\nypos\t\t+6\n", {-5, 6}, Read},
      {"first occurrence of the key decides", "xposxpos 5\nypos 6\n", {50, 6}, Read},
      {"no number keeps the default", "xpos abc\nypos 0x10\ntop - 1\n", {50, 0}, Read},
      {"number on the next line is not seen", "xpos\n12\n", defaults, KeyMissing},
      {"file ends after line 3", "xpos 1\nypos 2\ntop 1", {1, 2, 1}, Read},
      {"numbers beyond 32 bits fall back", "xpos 99999999999\nypos -99999999999\ntop 4294967297\n",
       defaults, Read},
      {"NUL hides the rest of the line", std::string("xpos 5\nyp\0os 6\n", 15), defaults, KeyMissing},
      // A line is read 1023 characters at a time; CR LF counts as one character.
      {"1022 chars and CR LF is one read", "xpos 7" + pad1022 + "\r\nypos 9\r\n", {7, 9}, Read},
      {"1023 chars spill the line break into read 2", "xpos 7" + pad1022 + " \r\nypos 9\r\n",
       defaults, KeyMissing},
      {"a long line's tail is read as the next line", "xpos 7" + pad1022 + " ypos 9 \ntop 1\n",
       {7, 9, 1}, Read},
      // Coordinates: valid when > -(window size) and < (screen size - 1).
      {"x -99 kept with a 100-wide window", "xpos -99\nypos -49\n", {-99, -49}, Read, {100, 50, 1920, 1080}},
      {"x -100 and y -50 fall back", "xpos -100\nypos -50\n", {50, 50}, Read, {100, 50, 1920, 1080}},
      {"x 1918, y 1078 kept", "xpos 1918\nypos 1078\n", {1918, 1078}, Read},
      {"x 1919, y 1079 fall back", "xpos 1919\nypos 1079\n", {50, 50}, Read},
      {"x alone out of range", "xpos 5000\nypos 700\n", {50, 700}, Read},
  };
  for (const ReadRow& row : rows) {
    SCOPED_TRACE(row.what);
    const SettingsReadResult got = readSettings(row.file, row.limits);
    EXPECT_EQ(got.result, row.result);
    EXPECT_EQ(got.settings, row.expected)
        << got.settings.savedX << " " << got.settings.savedY << " " << got.settings.topMost << " "
        << got.settings.spectrumStyle << " " << got.settings.clickThrough << " "
        << got.settings.transparencyMode << " " << got.settings.colorTheme << " "
        << got.settings.fullScreenPosition;
  }
}

// ---- Writing -----------------------------------------------------------------------

TEST(SettingsWrite, BytesMatchTheGoldenFile) {
  const std::string expected = golden();
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(writeSettings(GoldenRecord), expected);
}

TEST(SettingsWrite, DefaultsFileHasElevenLines) {
  const std::string text = writeSettings(Settings{});
  EXPECT_TRUE(text.starts_with("xpos 50\r\nypos 50\r\ntop 0\r\nmode 1\r\nmouse 0\r\n"
                              "transparent 0\r\ncolor 1\r\nfullpos 0\r\n\r\n"));
  size_t lines = 0;
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) {
    ++lines;
  }
  EXPECT_EQ(lines, 11u);
  EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1);  // no bare LF anywhere
}

TEST(SettingsWrite, RoundTrip) {
  const Settings records[] = {Settings{}, GoldenRecord, {1918, 1078, 0, 6, 0, 5, 5, 3},
                              {-442, -144, 1, 2, 1, 0, 2, 1}};
  for (const Settings& s : records) {
    const SettingsReadResult back = readSettings(writeSettings(s), Screen1080);
    EXPECT_EQ(back.result, SettingsReadStatus::Read);
    EXPECT_EQ(back.settings, s);
  }
}

// ---- The source line ----------------------------------------------------------------

// The twelfth line names a source other than the default input; without it (or when it
// cannot be read) the source is the default input.
TEST(SettingsSource, TwelfthLineTable) {
  const std::string eleven = golden();
  const SoundSource def{};
  const SoundSource playing{SourceKind::Playing, ""};
  const std::string wineId = "{0.0.1.00000000}.{3f2a1c5e-8b7d-4e1a-9c0f-2b6d8e4a7c11}";
  const struct {
    const char* what;
    std::string file;
    SoundSource source;
  } rows[] = {
      {"eleven lines", eleven, def},
      {"what is playing", eleven + "source 1\r\n", playing},
      {"a device", eleven + "source 2 " + wineId + "\r\n", {SourceKind::Device, wineId}},
      {"a device, LF only and no final break", eleven + "source 2 abc", {SourceKind::Device, "abc"}},
      {"a UTF-8 id with spaces", eleven + "source 2 USB 麦克风 #2\r\n", {SourceKind::Device, "USB 麦克风 #2"}},
      {"a device without an id", eleven + "source 2 \r\n", def},
      {"a device with a tab in its id", eleven + "source 2 a\tb\r\n", def},
      {"an id too long", eleven + "source 2 " + std::string(513, 'x') + "\r\n", def},
      {"the longest id", eleven + "source 2 " + std::string(512, 'x') + "\r\n",
       {SourceKind::Device, std::string(512, 'x')}},
      {"an unknown kind", eleven + "source 3\r\n", def},
      {"kind 1 with trailing text", eleven + "source 1 x\r\n", def},
      {"the key elsewhere in the line", eleven + "# source 1\r\n", def},
      {"an empty twelfth line", eleven + "\r\n", def},
      {"the line one place too early", values(1, 2, 0, 1, 0, 0, 1, 0) + "\r\nsource 1\r\n", def},
      {"lines 1 to 8 still decide", "ypos 1\r\n" + eleven.substr(eleven.find('\n') + 1) + "source 1\r\n",
       def},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const SettingsReadResult got = readSettings(row.file, Screen1080);
    EXPECT_EQ(got.source, row.source) << got.source.deviceId;
  }
  // A reader that only knows lines 1 to 8 gets the same eight values from a twelve-line file.
  EXPECT_EQ(readSettings(eleven + "source 1\r\n", Screen1080).settings.savedY, GoldenRecord.savedY);
}

TEST(SettingsSource, WrittenAfterTheCommentsOnlyWhenNotTheDefaultInput) {
  // The source, and what follows the eleven lines of the golden file.
  const std::vector<std::pair<SoundSource, std::string>> rows{
      {SoundSource{}, ""},
      {SoundSource{SourceKind::Playing, "ignored"}, "source 1\r\n"},
      {SoundSource{SourceKind::Device, "{0.0.1.00000000}.{x}"}, "source 2 {0.0.1.00000000}.{x}\r\n"},
      {SoundSource{SourceKind::Device, ""}, ""},  // nothing that could be read back
      {SoundSource{SourceKind::Device, "a\r\nxpos 9"}, ""},
  };
  for (const auto& [source, tail] : rows) {
    SCOPED_TRACE(source.deviceId);
    const std::string text = writeSettings(GoldenRecord, source);
    EXPECT_EQ(text, golden() + tail);
    const SettingsReadResult back = readSettings(text, Screen1080);
    EXPECT_EQ(back.result, SettingsReadStatus::Read);
    EXPECT_EQ(back.settings, GoldenRecord);
    SoundSource expected = tail.empty() ? SoundSource{} : source;
    if (expected.kind == SourceKind::Playing) expected.deviceId.clear();
    EXPECT_EQ(back.source, expected);
  }
}

// The delay line follows the source line, or stands in its place; written only when not 0,
// so the file of a user who changed nothing keeps its eleven lines.
TEST(SettingsDelay, ReadAfterTheSourceAndWrittenOnlyWhenNotZero) {
  const std::string eleven = golden();
  const SoundSource playing{SourceKind::Playing, ""};
  const struct {
    const char* what;
    std::string file;
    SoundSource source;
    int32_t delay;
  } rows[] = {
      {"none", eleven, {}, 0},
      {"in place of the source", eleven + "delay 100\r\n", {}, 100},
      {"after the source", eleven + "source 1\r\ndelay 300\r\n", playing, 300},
      {"after a device, LF only", eleven + "source 2 abc\ndelay 50", {SourceKind::Device, "abc"}, 50},
      {"a value not offered", eleven + "delay 120\r\n", {}, 0},
      {"negative", eleven + "delay -50\r\n", {}, 0},
      {"no number", eleven + "delay\r\n", {}, 0},
      {"before the source", eleven + "delay 100\r\nsource 1\r\n", {}, 100},
      {"a line too far", eleven + "source 1\r\n\r\ndelay 100\r\n", playing, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const SettingsReadResult got = readSettings(row.file, Screen1080);
    EXPECT_EQ(got.source, row.source);
    EXPECT_EQ(got.delayMillis, row.delay);
    EXPECT_EQ(got.settings, GoldenRecord);
  }
  for (const int32_t delay : FrameDelays) {
    for (const SoundSource& source : {SoundSource{}, playing}) {
      SCOPED_TRACE(std::to_string(delay) + (source == playing ? " after the source" : ""));
      const std::string text = writeSettings(GoldenRecord, source, delay);
      const std::string tail = std::string(source == playing ? "source 1\r\n" : "") +
                               (delay != 0 ? "delay " + std::to_string(delay) + "\r\n" : "");
      EXPECT_EQ(text, golden() + tail);
      const SettingsReadResult back = readSettings(text, Screen1080);
      EXPECT_EQ(back.delayMillis, delay);
      EXPECT_EQ(back.source, source);
    }
  }
}

// ---- Files -------------------------------------------------------------------------

class SettingsFile : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           (std::string("tonalis_settings_") + info->name() + "_" + std::to_string(::time(nullptr)));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    ini_ = dir_ / SettingsFileName;
    tmp_ = dir_ / "tonalis.ini.tmp";
    store_.emplace(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path dir_, ini_, tmp_;
  std::optional<StdFileStore> store_;
};

TEST_F(SettingsFile, MissingFileGivesDefaultsAndResultOne) {
  const SettingsReadResult got = loadSettingsFile(*store_, Screen1080);
  EXPECT_EQ(got.result, SettingsReadStatus::NotOpened);
  EXPECT_EQ(got.settings, Settings{});
}

TEST_F(SettingsFile, AFileThatCannotBeReadGivesDefaultsButIsNotMissing) {
  fs::create_directories(ini_ / "inside");  // a folder in the file's place, unreadable even to root
  const SettingsReadResult got = loadSettingsFile(*store_, Screen1080);
  EXPECT_EQ(got.result, SettingsReadStatus::Unreadable);
  EXPECT_EQ(got.settings, Settings{});
  EXPECT_EQ(got.source, SoundSource{});
}

TEST_F(SettingsFile, SaveWritesTheExactBytesAndLoadReadsThemBack) {
  writeBytes(ini_, "xpos 1\r\n");  // an older file is replaced whole
  ASSERT_TRUE(saveSettingsFile(*store_, GoldenRecord));
  EXPECT_EQ(readBytes(ini_), golden());
  EXPECT_FALSE(fs::exists(tmp_));
  const SettingsReadResult got = loadSettingsFile(*store_, Screen1080);
  EXPECT_EQ(got.result, SettingsReadStatus::Read);
  EXPECT_EQ(got.settings, GoldenRecord);
}

TEST_F(SettingsFile, LoadLooksAtNoMoreThanTheReaderCan) {
  // Eight lines and then garbage: the garbage is never needed.
  std::string text = values(5, 6, 1, 2, 1, 3, 4, 1) + std::string(1 << 20, 'z');
  writeBytes(ini_, text);
  EXPECT_EQ(loadSettingsFile(*store_, Screen1080).settings, (Settings{5, 6, 1, 2, 1, 3, 4, 1}));

  // Eight maximal lines, 1022 characters and CR LF each, fill the whole 8 KiB the reader
  // looks at; the last value stands at its very end.
  const char* keyed[] = {"xpos 5", "ypos 6", "top 1", "mode 2", "mouse 1", "transparent 3", "color 4", "fullpos 2"};
  text.clear();
  for (const char* line : keyed) text += std::string(1022 - std::string(line).size(), ' ') + line + "\r\n";
  ASSERT_EQ(text.size(), 8192u);
  writeBytes(ini_, text + "garbage\r\n");
  const SettingsReadResult got = loadSettingsFile(*store_, Screen1080);
  EXPECT_EQ(got.result, SettingsReadStatus::Read);
  EXPECT_EQ(got.settings, (Settings{5, 6, 1, 2, 1, 3, 4, 2}));
}

TEST_F(SettingsFile, SaveThatCannotCreateItsTemporaryLeavesTheOldFile) {
  writeBytes(ini_, golden());
  fs::create_directory(tmp_);  // something in the way of the temporary file
  EXPECT_FALSE(saveSettingsFile(*store_, Settings{}));
  EXPECT_EQ(readBytes(ini_), golden());
  EXPECT_TRUE(fs::is_directory(tmp_));  // not ours to remove
}

TEST_F(SettingsFile, SaveThatCannotReplaceRemovesItsTemporary) {
  fs::create_directories(ini_ / "occupied");  // tonalis.ini is a non-empty folder
  EXPECT_FALSE(saveSettingsFile(*store_, Settings{}));
  EXPECT_TRUE(fs::is_directory(ini_ / "occupied"));
  EXPECT_FALSE(fs::exists(tmp_));
}

TEST_F(SettingsFile, SaveOnAFullDiskLeavesTheOldFileWhole) {
#ifdef TONALIS_HAVE_FILE_SIZE_LIMIT
  writeBytes(ini_, golden());
  // A file-size limit makes the write fail part-way, as a full disk would.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 32;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = saveSettingsFile(*store_, Settings{});  // nothing else writes meanwhile
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(written);
  EXPECT_EQ(readBytes(ini_), golden());
  EXPECT_FALSE(fs::exists(tmp_));
#else
  GTEST_SKIP() << "no file-size limit on this system";
#endif
}

// ---- Between the file and the display record -------------------------------------

TEST(SettingsDisplay, ExitOutsideWindowModeSavesWhatWindowModeHad) {
  FakeWindow window;
  window.rect = Rect{300, 400, 743, 547};
  DisplayState display;
  display.clickThrough = 1;
  enterFullScreenMode(display, window, false);
  window.rect = Rect{0, 0, 1920, 1080};
  enterDesktopMode(display, window, false);

  rememberWindowPosition(display, window);
  const Settings saved = settingsFromDisplay(display);
  EXPECT_EQ(saved.savedX, 300);
  EXPECT_EQ(saved.savedY, 400);
  EXPECT_EQ(saved.clickThrough, 1);
}

TEST(SettingsDisplay, ExitInWindowModeSavesTheLiveValues) {
  FakeWindow window;
  window.rect = Rect{-20, 30, 423, 177};
  DisplayState display;
  display.savedX = 1;
  display.savedY = 2;
  display.clickThrough = 1;
  display.savedClickThrough = 0;
  rememberWindowPosition(display, window);
  const Settings saved = settingsFromDisplay(display);
  EXPECT_EQ(saved.savedX, -20);
  EXPECT_EQ(saved.savedY, 30);
  EXPECT_EQ(saved.clickThrough, 1);
}

TEST(SettingsDisplay, StoringAndTakingBackIsLossless) {
  DisplayState display;
  storeSettings(GoldenRecord, display);
  EXPECT_EQ(display.clickThrough, 1);
  EXPECT_EQ(settingsFromDisplay(display), GoldenRecord);
}

}  // namespace
}  // namespace tonalis
