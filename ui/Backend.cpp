#include "ui/Backend.h"

#include <chrono>
#include <thread>

namespace ui {

namespace {

Backend* g_backend = nullptr;

std::string& TitleStorage() {
  static std::string title = "Plovix";
  return title;
}

constexpr unsigned kIconMask = 0xF0;
constexpr unsigned kTypeMask = 0x0F;

}  // namespace

void SetBackend(Backend* backend) { g_backend = backend; }

Backend& GetBackend() { return *g_backend; }

bool HasBackend() { return g_backend != nullptr; }

void SetAppTitle(const std::string& title) { TitleStorage() = title; }

const std::string& AppTitle() { return TitleStorage(); }

std::string TitleFromExecutablePath(const std::string& path) {
  std::string name = path;
  const auto slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const auto dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

int MessageBox(const std::string& text, const std::string& caption, unsigned type) {
  if (!HasBackend()) return IDCANCEL;
  return GetBackend().MessageBox(text, caption.empty() ? AppTitle() : caption, type);
}

int AfxMessageBox(const std::string& text, unsigned type) {
  // Like the framework's own: plain OK / OK-Cancel boxes without an icon get the
  // exclamation mark.
  if ((type & kIconMask) == 0 && ((type & kTypeMask) == MB_OK || (type & kTypeMask) == MB_OKCANCEL)) {
    type |= MB_ICONEXCLAMATION;
  }
  return MessageBox(text, AppTitle(), type);
}

void Sleep(unsigned ms) {
  if (HasBackend()) {
    GetBackend().Sleep(ms);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void Pump(unsigned ms) {
  if (HasBackend()) {
    GetBackend().Pump(ms);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::time_t Now() { return HasBackend() ? GetBackend().Now() : std::time(nullptr); }

std::uint64_t TickMs() {
  if (HasBackend()) return GetBackend().TickMs();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

}  // namespace ui
