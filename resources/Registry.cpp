#include <mutex>

#include "resources/Resources.h"

namespace {

struct Registry {
  Registry() {
    // Pointers handed out by FindTemplate must survive later additions.
    templates.reserve(256);
    for (auto& t : plovix::resources::ProgramTemplates()) templates.push_back(std::move(t));
  }
  std::vector<ui::DialogTemplate> templates;
  std::map<int, std::string> strings = plovix::resources::ProgramStrings();
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

namespace ui {

const DialogTemplate* FindTemplate(int id) {
  for (const auto& t : TheRegistry().templates) {
    if (t.id == id) return &t;
  }
  return nullptr;
}

const std::vector<DialogTemplate>& AllTemplates() { return TheRegistry().templates; }

void AddTemplate(DialogTemplate dialog_template) {
  auto& templates = TheRegistry().templates;
  for (auto& t : templates) {
    if (t.id == dialog_template.id) {
      t = std::move(dialog_template);
      return;
    }
  }
  templates.push_back(std::move(dialog_template));
}

std::string LoadString(int id) {
  const auto& strings = TheRegistry().strings;
  auto it = strings.find(id);
  return it == strings.end() ? std::string() : it->second;
}

}  // namespace ui
