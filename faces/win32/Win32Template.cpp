#include "faces/win32/Win32Template.h"

#include <set>

namespace ui::win32 {

namespace {

// Static control styles.
constexpr std::uint32_t kSsLeft = 0x0;
constexpr std::uint32_t kSsCenter = 0x1;
constexpr std::uint32_t kSsRight = 0x2;
constexpr std::uint32_t kSsIcon = 0x3;
constexpr std::uint32_t kSsBitmap = 0xE;
constexpr std::uint32_t kSsNoPrefix = 0x80;
constexpr std::uint32_t kSsCenterImage = 0x200;
// Button styles.
constexpr std::uint32_t kBsDefPushButton = 0x1;
constexpr std::uint32_t kBsMultiline = 0x2000;
// Edit styles.
constexpr std::uint32_t kEsCenter = 0x1;
constexpr std::uint32_t kEsRight = 0x2;
constexpr std::uint32_t kEsMultiline = 0x4;
constexpr std::uint32_t kEsAutoVScroll = 0x40;
constexpr std::uint32_t kEsAutoHScroll = 0x80;
constexpr std::uint32_t kEsReadOnly = 0x800;
constexpr std::uint32_t kEsWantReturn = 0x1000;
// List view styles.
constexpr std::uint32_t kLvsReport = 0x1;
constexpr std::uint32_t kLvsShowSelAlways = 0x8;

bool Has(std::uint32_t flags, std::uint32_t bit) { return (flags & bit) != 0; }

class Writer {
 public:
  void Word(std::uint16_t v) {
    bytes_.push_back(static_cast<std::uint8_t>(v & 0xFF));
    bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  void Dword(std::uint32_t v) {
    Word(static_cast<std::uint16_t>(v & 0xFFFF));
    Word(static_cast<std::uint16_t>(v >> 16));
  }
  void Short(int v) { Word(static_cast<std::uint16_t>(static_cast<std::int16_t>(v))); }
  void Byte(std::uint8_t v) { bytes_.push_back(v); }
  void Text(std::string_view utf8) {
    for (char16_t c : Utf8ToUtf16(utf8)) Word(static_cast<std::uint16_t>(c));
    Word(0);
  }
  void AlignDword() {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
  }
  std::vector<std::uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace

NativeStyle DialogStyle(const DialogTemplate& t) {
  NativeStyle n;
  n.style = ws::kDsSetFont;
  if (Has(t.style, dstyle::kPopup)) n.style |= ws::kPopup;
  if (Has(t.style, dstyle::kCaption)) n.style |= ws::kCaption;
  if (Has(t.style, dstyle::kSysMenu)) n.style |= ws::kSysMenu;
  if (Has(t.style, dstyle::kModalFrame)) n.style |= ws::kDsModalFrame;
  if (Has(t.style, dstyle::kThickFrame)) n.style |= ws::kThickFrame;
  if (Has(t.style, dstyle::kMinMaxBox)) n.style |= ws::kMinimizeBox | ws::kMaximizeBox;
  if (Has(t.style, dstyle::kVisible)) n.style |= ws::kVisible;
  if (Has(t.style, dstyle::kAppWindow)) n.ex_style |= ws::kExAppWindow;
  return n;
}

NativeStyle ControlStyle(const ControlTemplate& c) {
  const std::uint32_t s = c.style;
  NativeStyle n;
  n.style = ws::kChild | ws::kVisible;
  if (Has(s, style::kBorder)) n.style |= ws::kBorder;
  if (Has(s, style::kTabStop)) n.style |= ws::kTabStop;
  if (Has(s, style::kVScroll)) n.style |= ws::kVScroll;
  if (Has(s, style::kClientEdge)) n.ex_style |= ws::kExClientEdge;
  switch (c.kind) {
    case Kind::Static:
      n.style |= Has(s, style::kCenter) ? kSsCenter : Has(s, style::kRight) ? kSsRight : kSsLeft;
      if (Has(s, style::kVCenter)) n.style |= kSsCenterImage;
      if (Has(s, style::kNoPrefix)) n.style |= kSsNoPrefix;
      break;
    case Kind::Icon:
      n.style |= kSsIcon;
      break;
    case Kind::Bitmap:
      n.style |= kSsBitmap;
      break;
    case Kind::Button:
      if (Has(s, style::kDefButton)) n.style |= kBsDefPushButton;
      if (Has(s, style::kMultiline)) n.style |= kBsMultiline;
      break;
    case Kind::Edit:
      if (Has(s, style::kCenter)) n.style |= kEsCenter;
      if (Has(s, style::kRight)) n.style |= kEsRight;
      if (Has(s, style::kMultiline)) n.style |= kEsMultiline;
      if (Has(s, style::kAutoVScroll)) n.style |= kEsAutoVScroll;
      if (Has(s, style::kAutoHScroll)) n.style |= kEsAutoHScroll;
      if (Has(s, style::kReadOnly)) n.style |= kEsReadOnly;
      if (Has(s, style::kWantReturn)) n.style |= kEsWantReturn;
      break;
    case Kind::ListView:
      if (Has(s, style::kReport)) n.style |= kLvsReport;
      if (Has(s, style::kShowSelAlways)) n.style |= kLvsShowSelAlways;
      break;
    case Kind::Progress:
      break;
  }
  return n;
}

ControlClass ClassOf(Kind kind) {
  switch (kind) {
    case Kind::Button:
      return {0x0080, "Button"};
    case Kind::Edit:
      return {0x0081, "Edit"};
    case Kind::Static:
    case Kind::Icon:
    case Kind::Bitmap:
      return {0x0082, "Static"};
    case Kind::Progress:
      return {0, "msctls_progress32"};
    case Kind::ListView:
      return {0, "SysListView32"};
  }
  return {0x0082, "Static"};
}

std::vector<int> NativeIds(const DialogTemplate& t) {
  std::vector<int> ids;
  std::set<int> taken;
  for (const auto& c : t.controls) {
    if (c.id >= 0 && c.id < kFirstPrivateId) taken.insert(c.id);
  }
  std::set<int> used;
  int next = kFirstPrivateId;
  for (const auto& c : t.controls) {
    if (c.id >= 0 && c.id < kFirstPrivateId && used.insert(c.id).second) {
      ids.push_back(c.id);
      continue;
    }
    while (taken.count(next) != 0) ++next;
    ids.push_back(next);
    taken.insert(next);
    used.insert(next);
  }
  return ids;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  while (i < text.size()) {
    const unsigned char lead = byte(i);
    std::uint32_t cp = 0;
    std::size_t len = 0;
    std::uint32_t min = 0;
    if (lead < 0x80) {
      cp = lead;
      len = 1;
    } else if ((lead & 0xE0) == 0xC0) {
      cp = lead & 0x1Fu;
      len = 2;
      min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      cp = lead & 0x0Fu;
      len = 3;
      min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      cp = lead & 0x07u;
      len = 4;
      min = 0x10000;
    }
    bool ok = len != 0 && i + len <= text.size();
    for (std::size_t k = 1; ok && k < len; ++k) {
      if ((byte(i + k) & 0xC0) != 0x80) {
        ok = false;
      } else {
        cp = (cp << 6) | (byte(i + k) & 0x3Fu);
      }
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (!ok) {
      out.push_back(u'\uFFFD');
      ++i;  // resynchronise on the next byte
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

std::string WithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out.push_back('\r');
    out.push_back(text[i]);
  }
  return out;
}

std::vector<std::uint8_t> BuildDialogTemplateEx(const DialogTemplate& t) {
  Writer w;
  const NativeStyle ds = DialogStyle(t);
  w.Word(1);       // dlgVer
  w.Word(0xFFFF);  // signature: the extended form
  w.Dword(0);      // helpID
  w.Dword(ds.ex_style);
  w.Dword(ds.style);
  w.Word(static_cast<std::uint16_t>(t.controls.size()));
  w.Short(0);
  w.Short(0);
  w.Short(t.width);
  w.Short(t.height);
  w.Word(0);  // no menu
  w.Word(0);  // the standard dialog class
  w.Text(t.caption);
  w.Word(static_cast<std::uint16_t>(t.font_points));
  w.Word(0);  // weight: normal
  w.Byte(0);  // not italic
  w.Byte(1);  // DEFAULT_CHARSET
  w.Text(t.font_face);

  const std::vector<int> ids = NativeIds(t);
  for (std::size_t i = 0; i < t.controls.size(); ++i) {
    const ControlTemplate& c = t.controls[i];
    const NativeStyle cs = ControlStyle(c);
    w.AlignDword();
    w.Dword(0);  // helpID
    w.Dword(cs.ex_style);
    w.Dword(cs.style);
    w.Short(c.rect.x);
    w.Short(c.rect.y);
    w.Short(c.rect.w);
    w.Short(c.rect.h);
    w.Dword(static_cast<std::uint32_t>(ids[i]));
    const ControlClass cls = ClassOf(c.kind);
    if (cls.atom != 0) {
      w.Word(0xFFFF);
      w.Word(cls.atom);
    } else {
      w.Text(cls.name);
    }
    if ((c.kind == Kind::Icon || c.kind == Kind::Bitmap) && c.image_id != 0) {
      w.Word(0xFFFF);  // the picture by resource ordinal
      w.Word(static_cast<std::uint16_t>(c.image_id));
    } else {
      w.Text(c.text);
    }
    w.Word(0);  // no creation data
  }
  return w.Take();
}

}  // namespace ui::win32
