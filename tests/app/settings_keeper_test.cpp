// The settings file as the running program keeps it: read once, written only when what it
// keeps changed, never over a file that could not be read, and each trouble told once.
#include "app/settings_keeper.h"

#include <gtest/gtest.h>

#include "fakes/call_log.h"
#include "fakes/fake_app_ports.h"

namespace tonalis {
namespace {

const SettingsLimits Limits{443, 145, 1920, 1080};

TEST(SettingsKeeper, WritesWhatChangedAndLeavesAnUnreadableFileAlone) {
  struct Case {
    const char* name;
    std::function<void(fakes::FakeFileStore&)> file;
    int writesAfterNoChange;   // save(unchanged, false)
    std::vector<Notice> notices;
  };
  const std::string stored = writeSettings(Settings{}, SoundSource{SourceKind::Playing, ""}, 100);
  const std::string foreign = "[Tonalis]\r\nstyle=bar\r\n";
  const Case cases[] = {
      {"a file the program wrote", [&](fakes::FakeFileStore& f) { f.files["tonalis.ini"] = stored; }, 0, {}},
      {"no file yet", [](fakes::FakeFileStore&) {}, 1, {}},
      {"a file of someone else's (a key missing)", [&](fakes::FakeFileStore& f) { f.files["tonalis.ini"] = foreign; },
       1, {}},
      {"a file that cannot be read", [](fakes::FakeFileStore& f) { f.unreadable.insert("tonalis.ini"); }, 0,
       {{"设置未能读取，本次不保存", "C:\\Tonalis\\tonalis.ini"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::CallLog log;
    fakes::FakeFileStore files(log);
    c.file(files);
    SettingsKeeper keeper(files);
    const StoredSettings loaded = keeper.load(Limits);
    const bool readable = std::string(c.name) == "a file the program wrote";
    EXPECT_EQ(loaded.delayMillis, readable ? 100 : 0);

    keeper.save(loaded, false);
    EXPECT_EQ(log.count("files.replace"), c.writesAfterNoChange);
    StoredSettings changed = loaded;
    changed.settings.spectrumStyle = Bar;
    EXPECT_TRUE(keeper.save(changed, false));
    keeper.save(changed, true);  // the exit writes whatever the file holds
    const bool leftAlone = !c.notices.empty();
    EXPECT_EQ(log.count("files.replace"), leftAlone ? 0 : c.writesAfterNoChange + 2);
    if (!leftAlone) {
      EXPECT_EQ(files.files["tonalis.ini"], writeSettings(changed.settings, changed.source, changed.delayMillis));
    }
    std::vector<Notice> told;
    while (auto n = keeper.takeNotice()) told.push_back(*n);
    EXPECT_EQ(told, c.notices);
  }
}

TEST(SettingsKeeper, AFailedWriteKeepsTheOldFileAndIsToldOnceAndNothingBeforeTheRead) {
  fakes::CallLog log;
  fakes::FakeFileStore files(log);
  SettingsKeeper keeper(files);
  EXPECT_TRUE(keeper.save(StoredSettings{}, true)) << "before the read: nothing to write";
  EXPECT_EQ(log.count("files.replace"), 0);

  files.files["tonalis.ini"] = writeSettings(Settings{});
  StoredSettings now = keeper.load(Limits);
  files.failReplace = true;
  for (int style : {Bar, Dots, Floating}) {
    now.settings.spectrumStyle = style;
    EXPECT_FALSE(keeper.save(now, false));
  }
  EXPECT_EQ(files.files["tonalis.ini"], writeSettings(Settings{}));
  EXPECT_EQ(keeper.takeNotice(), (Notice{"设置未能保存", "C:\\Tonalis"}));
  EXPECT_EQ(keeper.takeNotice(), std::nullopt);
  files.failReplace = false;
  EXPECT_TRUE(keeper.save(now, false));
  EXPECT_EQ(readSettings(files.files["tonalis.ini"], Limits).settings.spectrumStyle, Floating);
}

}  // namespace
}  // namespace tonalis
