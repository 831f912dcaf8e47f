// CTonalisDlg: the main window and the program's central record. It owns the state
// records of every subsystem and wires messages and commands to the code that does the
// work; the work itself lives in audio/, render/, window/, board/ and about/.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "common/types.h"
#include "framework/dialog.h"
#include "platform/ports.h"
#include "render/assets.h"

namespace tonalis {

// The ports the main window talks through; the backend (or a test) provides them.
struct AppPorts {
  DialogHost& host;
  Presenter& presenter;
  TrayPort& tray;
  Clock& clock;
  Shell& shell;
  BitmapSource& bitmaps;
};

class CTonalisDlg : public CDialog {
 public:
  static constexpr int TemplateId = 102;
  static constexpr int DrawAreaId = 1000;
  static constexpr int AppIconId = 133;
  static constexpr uint32_t FrameTimerId = 1;
  static constexpr uint32_t FramePeriodMillis = 28;
  static constexpr uint32_t AboutSysCommand = 0x10;

  explicit CTonalisDlg(AppPorts ports);
  ~CTonalisDlg() override;

  bool onInitDialog() override;
  bool preTranslateMessage(const Message& message) override;

  // Message handlers (see the message table in tonalis_dlg.cpp).
  bool onSysCommand(const Message& message, intptr_t& result);
  bool onPaint(const Message& message, intptr_t& result);
  intptr_t onQueryDragIcon(uintptr_t, intptr_t);
  void onClose();
  void onExitCommand();
  void onFrameTimer();

  // One frame: analysis, drawing, presentation, board step. Also run once by the
  // StartupThread to present the splash.
  void runFrame();

  // ---- The central record, in declaration order ----
  int appIcon = AppIconId;   // icon resource; the backend holds the loaded icon
  Rect clientRect;           // drawing area, (0, 0, 443, 145)
  PixelView windowBufferBitmap;   // window-mode frame buffer (clientRect size)
  PixelView screenBufferBitmap;   // full-screen / desktop frame buffer
  DisplayMode displayMode = DisplayMode::Window;
  int32_t screenWidth = 0;
  int32_t screenHeight = 0;
  uint8_t constantAlpha = 255;    // the blend's source constant alpha
  uint8_t boardClockMode = 0;
  AssetStore assets;
  ColorRef unlitCellColor = 0x1E1E1E;
  ColorRef barColor = 0xFFFFFF;
  ColorRef peakColor = 0x0000FF;
  ColorRef themePen = 0x000000;   // colour of the 1-pixel line pen
  int32_t colorTheme = White;
  int32_t spectrumStyle = Block;
  uint32_t frameMillis = 0;
  std::array<float, BandCount> bandLevels{};
  std::array<int32_t, SpectrumLineLength> spectrumLine{};
  std::atomic<bool> splashActive{true};
  std::thread workerThread;
  std::atomic<bool> running{true};
  int32_t savedX = 50, savedY = 50;
  int32_t topMost = 0;
  int32_t transparencyMode = Opaque;
  int32_t clickThrough = 0;
  int32_t savedClickThrough = 0;
  int32_t fullScreenPosition = Center;

 protected:
  std::span<const MessageEntry> messageTable() const override;

 private:
  void startupThread();
  void showSplash();
  void releaseFrameBuffers();

  AppPorts ports_;
  // Frame-loop memory, kept for the life of the process.
  bool frameTimerSeen_ = false;
  uint32_t frameCounter_ = 0;
  uint32_t measurementTick_ = 0;
  std::atomic<bool> workerFinished_{false};
};

}  // namespace tonalis
