// The modal dialog base the program is written against.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/Controls.h"
#include "ui/Template.h"
#include "ui/Types.h"

namespace ui {

class Dialog;

// Dialog data exchange: save = true copies controls into members, false the reverse.
class DataExchange {
 public:
  DataExchange(Dialog& dialog, bool save) : dialog_(dialog), save_(save) {}
  bool saving() const { return save_; }
  // Text of control id <-> value. max_chars (edits): limits typing and what is read back.
  void Text(int id, std::string& value, std::size_t max_chars = 0);
  Dialog& dialog() { return dialog_; }

 private:
  Dialog& dialog_;
  bool save_;
};

struct SystemMenuItem {
  int command = 0;       // 0 for a separator
  std::string text;
};

class Dialog {
 public:
  explicit Dialog(int template_id);
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Creates the controls from the template, runs OnInitDialog and the modal loop until
  // EndDialog; returns the closing code (-1 when the template is unknown).
  int DoModal();
  // Asks the dialog to close; the last request before the loop regains control decides.
  void EndDialog(int code);
  bool UpdateData(bool save = true);

  int SetTimer(int timer_id, unsigned period_ms);  // returns timer_id (0 on failure)
  bool KillTimer(int timer_id);

  int template_id() const { return template_id_; }
  const DialogTemplate* dialog_template() const { return template_; }
  const std::string& caption() const { return caption_; }
  void SetCaption(std::string caption);
  bool is_open() const { return open_; }
  bool end_requested() const { return end_requested_; }
  int end_code() const { return end_code_; }

  // Controls exist while the dialog is open.
  Control* GetDlgItem(int id);
  const std::vector<std::unique_ptr<Control>>& controls() const { return controls_; }
  // The list view / progress bar with this id. One that does not exist is a
  // programming error: it is reported on standard error and a detached stand-in
  // (shown nowhere) is returned.
  ListCtrl& List(int id);
  ProgressCtrl& Progress(int id);
  void SetDlgItemText(int id, const std::string& text);
  std::string GetDlgItemText(int id);
  void SetControlFont(int id, const Font& font);  // WM_SETFONT with redraw
  void AppendSystemMenu(int command, const std::string& text);  // command 0: separator
  const std::vector<SystemMenuItem>& system_menu() const { return system_menu_; }
  // Big and small icon of the window (resource id), 0 for none.
  void SetIcon(int icon_id) { icon_id_ = icon_id; }
  int icon_id() const { return icon_id_; }

  // --- Overridables, called by the framework on the user-interface thread ---
  // Base: UpdateData(false), return true.
  virtual bool OnInitDialog();
  virtual void DoDataExchange(DataExchange& dx);
  virtual void OnTimer(int timer_id);
  // A button click (or IDOK/IDCANCEL from keys). Base: 1 -> OnOK, 2 -> OnCancel.
  virtual void OnCommand(int id);
  virtual void OnOK();      // base: UpdateData(true), EndDialog(IDOK)
  virtual void OnCancel();  // base: EndDialog(IDCANCEL); also Escape and the close box
  virtual void OnNotify(int id, int code);
  virtual CtlColor OnCtlColor(int id);
  // Base: SC_CLOSE -> OnCancel.
  virtual void OnSysCommand(int command);
  // WM_DEVICECHANGE; base returns false.
  virtual bool OnDeviceChange(unsigned event, std::uintptr_t data);

  // Back ends call this after a control's state changed from the user's side
  // (check box toggled, selection moved) so nothing else is needed; program-side
  // changes reach the back end through ControlChanged.
  void ControlChanged(Control& control);
  // Opaque per-back-end data (native window handle and such).
  void* backend_data = nullptr;

 private:
  friend class Backend;
  void CreateControls();
  void DestroyControls();

  int template_id_;
  const DialogTemplate* template_ = nullptr;
  std::string caption_;
  std::vector<std::unique_ptr<Control>> controls_;
  std::vector<SystemMenuItem> system_menu_;
  int icon_id_ = 0;
  bool open_ = false;
  bool end_requested_ = false;
  int end_code_ = 0;
};

// Dialogs whose modal loop is running, bottom (the main window) first.
std::vector<Dialog*> OpenDialogs();

// The first max_chars characters (UTF-8 sequences) of text; all of it when max_chars is 0.
std::string TruncateChars(const std::string& text, std::size_t max_chars);

}  // namespace ui
