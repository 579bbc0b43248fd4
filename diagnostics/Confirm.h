// Warnings and confirmations before irreversible steps, and the completion notices.
#pragma once

#include <cstdint>
#include <string>

#include "ui/Dialog.h"

namespace plovix {

enum class WarningKind : std::uint8_t { EraseMbr = 1, EraseDisk = 2, SmartDisabled = 3 };

class CEraseWarning1 : public ui::Dialog {
 public:
  CEraseWarning1();
  bool OnInitDialog() override;
  void DoDataExchange(ui::DataExchange& dx) override;
  ui::CtlColor OnCtlColor(int id) override;

  std::string drive_caption;  // appended to the caption; see DriveCaption

  std::string erase_mbr_text;
  std::string erase_disk_text;
  std::string smart_disabled_text;
  std::uint8_t warning_kind = 0;  // a WarningKind value; others show no text
  std::string displayed_text;
};

class CEraseWarning2 : public ui::Dialog {
 public:
  CEraseWarning2();
  bool OnInitDialog() override;
  ui::CtlColor OnCtlColor(int id) override;
  ui::Font font;
  std::string drive_caption;
};

class CCompErase1 : public ui::Dialog {
 public:
  CCompErase1();
  bool OnInitDialog() override;
  std::string drive_caption;
};

class CCompErase2 : public ui::Dialog {
 public:
  CCompErase2();
  bool OnInitDialog() override;
  void OnOK() override;
  std::string drive_caption;
};

class CAbortTest : public ui::Dialog {
 public:
  CAbortTest();
};

// The warning, then "Are you really sure?"; true only when both were accepted. Both
// dialogs name the drive they are about by drive_caption.
bool ConfirmWithWarning(WarningKind kind, const std::string& drive_caption = {});

}  // namespace plovix
