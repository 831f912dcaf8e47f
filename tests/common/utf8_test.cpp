// Text from outside checked before GTK or D-Bus sees it.
#include "common/utf8.h"

#include <gtest/gtest.h>

namespace tonalis {
namespace {

TEST(Utf8, WellFormedTextPassesAndEachBadByteBecomesOneReplacement) {
  struct Case {
    const char* name;
    std::string_view text;
    bool valid;
    std::string_view repaired;
  };
  const Case cases[] = {
      {"empty", "", true, ""},
      {"ASCII", "Monitor of Speakers", true, "Monitor of Speakers"},
      {"Chinese", "正在播放的声音", true, "正在播放的声音"},
      {"four bytes", "\xF0\x9F\x8E\xA7 USB", true, "\xF0\x9F\x8E\xA7 USB"},
      {"Latin-1 byte", "Mikrofon \xE4u\xDF" "en", false, "Mikrofon \xEF\xBF\xBDu\xEF\xBF\xBD" "en"},
      // A GBK name: CB B7 happens to be a well-formed pair and stays.
      {"GBK", "\xC2\xF3\xBF\xCB\xB7\xE7", false,
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xCB\xB7\xEF\xBF\xBD"},
      {"stray continuation", "a\x80" "b", false, "a\xEF\xBF\xBD" "b"},
      {"overlong slash", "\xC0\xAF", false, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"overlong three bytes", "\xE0\x80\xAF", false, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"surrogate", "\xED\xA0\x80", false, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"past U+10FFFF", "\xF4\x90\x80\x80", false,
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"cut short at the end", "ok\xE4\xBD", false, "ok\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"NUL inside", std::string_view("a\0b", 3), true, std::string_view("a\0b", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(isValidUtf8(c.text), c.valid);
    EXPECT_EQ(repairUtf8(c.text), c.repaired);
    EXPECT_TRUE(isValidUtf8(repairUtf8(c.text)));
  }
}

}  // namespace
}  // namespace tonalis
