// The SMART status dialog: a drive's identity and its SMART attributes, the catalogue's
// first and then the others the drive reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inventory/DriveRecord.h"
#include "reports/SmartAttributes.h"
#include "resources/ResourceIds.h"
#include "ui/Dialog.h"

namespace plovix {

class CSmartdlg : public ui::Dialog {
 public:
  // An NVMe record shows the health log: nvme_health, or nothing when it was not read.
  CSmartdlg(const DriveRecord& record, const SmartAttributeTable& rows,
            const SmartOtherAttributes& others, const NvmeHealth* nvme_health = nullptr);
  ~CSmartdlg() override;

  bool OnInitDialog() override;
  void DoDataExchange(ui::DataExchange& dx) override;
  ui::CtlColor OnCtlColor(int id) override;

  ui::ListCtrl& attribute_list() { return List(ids::smart::kAttributeList); }

  const DriveRecord& record;
  const SmartAttributeTable& rows;
  const SmartOtherAttributes& others;
  const NvmeHealth* nvme_health;
  ui::Font title_font;
  ui::Brush white_brush;
  std::vector<int> image_list;  // icon ids by image index
  std::string model_text;
  std::string serial_text;
  std::string firmware_text;
  std::string max_lba_text;
  std::string capacity_text;
  std::string title_text;

  void FillAttributeList();
};

// "0x%-012llX\r\n" of the sector count, and the capacity in TB or GB, as shown.
std::string FormatMaxLba(std::uint64_t total_sectors);
std::string FormatCapacity(std::uint64_t total_sectors);

}  // namespace plovix
