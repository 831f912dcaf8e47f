#include "render/theme.h"

namespace tonalis {

ThemeColors themeColors(int colorTheme) {
  switch (colorTheme) {
    case Green: return {0x33CC66, 0x0066FF};
    case Sky: return {0xEEC211, 0xF709F7};
    case Purple: return {0xEE227A, 0x0066FF};
    case Autumn: return {0x00FFFF, 0x0066FF};
    default: return {0xFFFFFF, 0x0000FF};  // White, and every value outside 1..5
  }
}

}  // namespace tonalis
