#include "render/theme.h"

namespace tonalis {

ThemeColors themeColors(int colorTheme) {
  switch (colorTheme) {
    case Green: return {0x66CC33, 0xFF6600};
    case Sky: return {0x11C2EE, 0xF709F7};
    case Purple: return {0x7A22EE, 0xFF6600};
    case Autumn: return {0xFFFF00, 0xFF6600};
    default: return {0xFFFFFF, 0xFF0000};  // White, and every value outside 1..5
  }
}

}  // namespace tonalis
