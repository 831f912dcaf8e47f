#include "app/tonalis_dlg.h"

#include <algorithm>
#include <cstring>

namespace tonalis {

namespace {

constexpr char AboutMenuText[] = "软件信息...";
constexpr uint32_t CommandExit = 32782;

const MessageEntry kMessageTable[] = {
    onMessage<&CTonalisDlg::onSysCommand>(WM_SYSCOMMAND),
    onMessage<&CTonalisDlg::onPaint>(WM_PAINT),
    onMessage<&CTonalisDlg::onQueryDragIcon>(WM_QUERYDRAGICON),
    onMessage<&CTonalisDlg::onFrameTimer>(WM_TIMER),
    onMessage<&CTonalisDlg::onClose>(WM_CLOSE),
    onCommand<&CTonalisDlg::onExitCommand>(CommandExit),
};

}  // namespace

CTonalisDlg::CTonalisDlg(AppPorts ports) : CDialog(TemplateId, ports.host), ports_(ports) {}

CTonalisDlg::~CTonalisDlg() {
  // Normally the exit sequence has joined the worker; a dialog that never ran has none.
  if (workerThread.joinable()) {
    running = false;
    workerThread.join();
  }
}

std::span<const MessageEntry> CTonalisDlg::messageTable() const { return kMessageTable; }

bool CTonalisDlg::onInitDialog() {
  CDialog::onInitDialog();
  ports_.host.appendSystemMenuItem(AboutSysCommand, AboutMenuText);
  ports_.host.setIcon(appIcon);
  assets.loadAll(ports_.bitmaps);

  frameMillis = 0;

  boardClockMode = 0;
  bandLevels.fill(22.22f);
  spectrumLine.fill(0);

  // The drawing area is sized in pixels rather than through dialog units, so the picture
  // is 443 x 145 whatever the system font.
  clientRect = {0, 0, WindowWidth, WindowHeight};
  windowBufferBitmap = ports_.presenter.createBuffer(clientRect.width(), clientRect.height());
  const Point screen = ports_.host.screenSize();
  screenWidth = std::max(screen.x, 400);
  screenHeight = std::max(screen.y, 300);
  screenBufferBitmap = ports_.presenter.createBuffer(screenWidth, screenHeight);

  // The splash is never faded: the saved alpha returns when it ends.
  constantAlpha = 255;
  displayMode = DisplayMode::Window;

  splashActive = true;
  running = true;
  workerFinished_ = false;
  workerThread = std::thread([this] { startupThread(); });
  return true;
}

void CTonalisDlg::startupThread() {
  Clock& clock = ports_.clock;
  clock.sleepMillis(50);
  showSplash();
  // A close request ends the splash within one 50 ms step.
  for (int i = 0; i < 80 && running; ++i) clock.sleepMillis(50);
  splashActive = false;
  std::fill_n(windowBufferBitmap.pixels, size_t(windowBufferBitmap.width) * windowBufferBitmap.height, 0u);
  if (running) ports_.host.setTimer(FrameTimerId, FramePeriodMillis);
  workerFinished_ = true;
}

void CTonalisDlg::showSplash() {
  const Image& splash = assets.get(SplashBitmap);
  const int w = std::min(splash.width, windowBufferBitmap.width);
  const int h = std::min(splash.height, windowBufferBitmap.height);
  for (int y = 0; y < h; ++y) {
    std::memcpy(windowBufferBitmap.pixels + size_t(y) * windowBufferBitmap.width,
                splash.pixels.data() + size_t(y) * splash.width, size_t(w) * 4);
  }
  runFrame();
}

bool CTonalisDlg::preTranslateMessage(const Message& message) {
  if (message.id == WM_KEYDOWN && (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE)) {
    return true;  // neither key may end the dialog
  }
  return CDialog::preTranslateMessage(message);
}

bool CTonalisDlg::onSysCommand(const Message& message, intptr_t&) {
  if ((message.wParam & 0xFFF0) == AboutSysCommand) {
    return true;
  }
  return false;
}

bool CTonalisDlg::onPaint(const Message&, intptr_t& result) {
  if (!ports_.host.isIconic()) return false;
  ports_.host.paintIconic(appIcon);
  result = 0;
  return true;
}

intptr_t CTonalisDlg::onQueryDragIcon(uintptr_t, intptr_t) { return ports_.host.dragIcon(); }

void CTonalisDlg::onExitCommand() { ports_.host.sendMessage({WM_CLOSE, 0, 0}); }

void CTonalisDlg::onClose() {
  running = false;
  ports_.clock.sleepMillis(1200);
  ports_.host.killTimer(FrameTimerId);
  if (workerThread.joinable()) workerThread.join();
  releaseFrameBuffers();
  endDialog(IDCANCEL);
  ports_.host.postMessage({WM_QUIT, 0, 0});
}

void CTonalisDlg::releaseFrameBuffers() {
  ports_.presenter.releaseBuffer(screenBufferBitmap);
  ports_.presenter.releaseBuffer(windowBufferBitmap);
}

void CTonalisDlg::onFrameTimer() {
  if (!frameTimerSeen_) {
    frameTimerSeen_ = true;
    measurementTick_ = ports_.clock.tickCount();
  }
  if (splashActive) return;
  if (++frameCounter_ == 20) {
    const uint32_t now = ports_.clock.tickCount();
    frameMillis = (now - measurementTick_) / 20;  // unsigned: a wrapped tick still subtracts right
    frameCounter_ = 0;
    measurementTick_ = now;
  }
  runFrame();
}

void CTonalisDlg::runFrame() {
  const bool colorKey = transparencyMode == NoBackground || transparencyMode == Minimal;
  ports_.presenter.present(windowBufferBitmap, std::nullopt, {clientRect.width(), clientRect.height()},
                           constantAlpha, colorKey);
}

}  // namespace tonalis
