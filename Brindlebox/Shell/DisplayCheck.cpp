#include "Shell/DisplayCheck.h"

#include <cstdlib>
#include <string_view>
#include <sys/stat.h>

namespace bx {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// ":N" or ":N.S": the local X server's socket must exist.
bool localXServerMissing(const std::string& display) {
  if (display.empty() || display[0] != ':') return false;
  std::string number;
  for (size_t i = 1; i < display.size() && display[i] >= '0' && display[i] <= '9'; ++i) number += display[i];
  if (number.empty()) return false;
  struct stat st {};
  return stat(("/tmp/.X11-unix/X" + number).c_str(), &st) != 0;
}

} // namespace

std::optional<std::string> missingDisplayMessage(int argc, char** argv) {
  std::string platform = env("QT_QPA_PLATFORM");
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string_view(argv[i]) == "-platform" || std::string_view(argv[i]) == "--platform") platform = argv[i + 1];
  }
  // Plugins that draw without a window server (offscreen, vnc, …) need none.
  const bool wantsX = platform.empty() || platform.rfind("xcb", 0) == 0;
  const bool wantsWayland = platform.empty() || platform.rfind("wayland", 0) == 0;
  if (!wantsX && !wantsWayland) return std::nullopt;
  const std::string x = env("DISPLAY");
  const std::string wayland = env("WAYLAND_DISPLAY");
  if (wantsWayland && !wayland.empty()) return std::nullopt;
  if (wantsX && !x.empty() && !localXServerMissing(x)) return std::nullopt;
  const std::string self = argc > 0 ? argv[0] : "brindlebox";
  std::string why = x.empty() ? "DISPLAY is not set" : "nothing answers on DISPLAY " + x;
  return "Brindlebox needs a graphical display and found none (" + why + "); to run it anyway, start it as: xvfb-run -a " +
         self;
}

} // namespace bx
