// The tray through its fakes: the icon asked for until the shell takes it, the menu's
// sources as the system lists them at each opening, the source commands of the last menu
// shown, and a tip that changes only when its text does.
#include "app/tray_controller.h"

#include <gtest/gtest.h>

#include "app/command_ids.h"
#include "fakes/call_log.h"
#include "fakes/fake_app_ports.h"
#include "fakes/fake_sound_input.h"

namespace tonalis {
namespace {

struct TrayRig {
  fakes::CallLog log;
  fakes::FakeTray tray{log};
  fakes::FakeSoundInput sound{log};
  fakes::FakeShell shell{log};
  CaptureContext capture;
  TrayController controller{tray, sound, shell, capture};

  // The labels of the "声音来源" items of the last menu, in order.
  std::vector<std::string> sourceLabels() const {
    std::vector<std::string> labels;
    for (const MenuItem& item : tray.menus.back()) {
      if (item.label != "声音来源") continue;
      for (const MenuItem& child : item.children) {
        if (child.kind == MenuItem::Kind::Command) labels.push_back(child.label + (child.enabled ? "" : " (grey)"));
      }
    }
    return labels;
  }
};

TEST(TrayController, TheIconIsAskedForUntilTheShellTakesItAndAgainAfterARestart) {
  TrayRig r;
  r.tray.refuseAdds = 2;
  r.controller.ensureIcon();
  EXPECT_EQ(r.log.count("tray.add"), 0) << "not wanted yet";
  r.controller.wantIcon();
  for (int tick = 0; tick < 4; ++tick) r.controller.ensureIcon();
  EXPECT_EQ(r.log.count("tray.add refused"), 2);
  EXPECT_EQ(r.log.count("tray.add 133"), 1) << "once in, asked for no more";
  EXPECT_TRUE(r.controller.tell("t", "x"));
  r.controller.shellRestarted();
  EXPECT_EQ(r.log.count("tray.add 133"), 2);
  r.controller.removeIcon();
  r.controller.ensureIcon();
  EXPECT_EQ(r.log.count("tray.add 133"), 2) << "gone for good";
  EXPECT_FALSE(r.controller.tell("t", "x")) << "no icon to tell it from";
}

TEST(TrayController, TheSourcesOfTheLastMenuShownNameTheCommands) {
  TrayRig r;
  r.sound.add(fakes::FakeEndpoint{"usb", "USB Headset"});
  r.controller.showMenu(TrayMenuState{});
  EXPECT_EQ(r.sourceLabels(), (std::vector<std::string>{"默认录音设备", "正在播放的声音", "Microphone", "USB Headset"}));
  EXPECT_EQ(r.controller.sourceFor(CmdSourceFirstDevice + 1), (SoundSource{SourceKind::Device, "usb"}));
  EXPECT_EQ(r.controller.sourceFor(CmdSourcePlaying), (SoundSource{SourceKind::Playing, ""}));

  // Chosen and then unplugged: it keeps its place, greyed, after a new opening.
  r.capture.choose(SoundSource{SourceKind::Device, "usb"});
  r.capture.publishStatus({SourceState::Absent, SoundSource{SourceKind::Device, "usb"}, "Microphone"});
  r.sound.setPresent("usb", false);
  r.controller.showMenu(TrayMenuState{});
  EXPECT_EQ(r.sourceLabels(),
            (std::vector<std::string>{"默认录音设备", "正在播放的声音", "Microphone", "USB Headset（未连接） (grey)"}));
  // A command of an item beyond the last menu's is stale.
  EXPECT_EQ(r.controller.sourceFor(CmdSourceFirstDevice + 2), std::nullopt);
}

TEST(TrayController, TheTipFollowsTheCaptureStatusAndOnlyANewTextIsSent) {
  TrayRig r;
  r.controller.wantIcon();
  r.controller.ensureIcon();
  const SoundSource usb{SourceKind::Device, "usb"};
  r.sound.add(fakes::FakeEndpoint{"usb", "USB Headset"});
  const std::pair<SourceStatus, const char*> steps[] = {
      {{SourceState::Listening, {}, "Microphone"}, "Tonalis"},
      {{SourceState::Absent, usb, "Microphone"}, "Tonalis — USB Headset（未连接）"},
      {{SourceState::Absent, usb, "Microphone"}, nullptr},  // the same text: nothing sent
      {{SourceState::Lost, usb, ""}, "Tonalis — 声音设备已断开"},
  };
  for (const auto& [status, tip] : steps) {
    const int sent = r.log.count("tray.tip");
    r.capture.publishStatus(status);
    r.controller.updateTip();
    r.controller.updateTip();  // nothing new
    if (tip) {
      EXPECT_EQ(r.tray.tip, tip);
    }
    EXPECT_EQ(r.log.count("tray.tip") - sent, tip && std::string(tip) != "Tonalis" ? 1 : 0) << (tip ? tip : "-");
  }
}

}  // namespace
}  // namespace tonalis
