// Dialog templates: plain data shared by every back end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/Types.h"

namespace ui {

struct ControlTemplate {
  int id = IDC_STATIC;
  Kind kind = Kind::Static;
  std::string text;        // UTF-8
  Rect rect;               // dialog units
  std::uint32_t style = 0; // ui::style flags
  int image_id = 0;        // icon or bitmap resource for Icon/Bitmap controls
};

struct DialogTemplate {
  int id = 0;
  std::string caption;     // UTF-8
  int width = 0;           // dialog units
  int height = 0;
  std::string font_face = "Arial";
  int font_points = 8;
  std::uint32_t style = dstyle::kStandard;
  std::vector<ControlTemplate> controls;  // template (tab) order
};

// The program's templates (resources/). nullptr for an unknown id.
const DialogTemplate* FindTemplate(int id);
// Every template, for back ends that prepare them up front and for tests.
const std::vector<DialogTemplate>& AllTemplates();

// String table entries (resources/). Empty for an unknown id.
std::string LoadString(int id);

}  // namespace ui

namespace ui {
// Adds or replaces a template (tests use their own small templates).
void AddTemplate(DialogTemplate dialog_template);
}  // namespace ui
