// List views: brought in line with their models by the steps Win32ListSync plans, and
// the user's check marks and selection taken back into the model.
#include "faces/win32/Win32BackendImpl.h"

#include <string>
#include <vector>

namespace ui::win32 {

namespace {

// Column widths are the program's pixels at 96 DPI.
void RebuildColumns(HWND h, const std::vector<ListColumn>& columns, int dpi) {
  // Last column first: older list views refuse to delete column 0, which is then
  // rewritten in place instead of inserted again.
  HWND header = ListView_GetHeader(h);
  for (int c = header != nullptr ? Header_GetItemCount(header) - 1 : -1; c >= 0; --c) {
    ListView_DeleteColumn(h, c);
  }
  const int kept = header != nullptr ? Header_GetItemCount(header) : 0;
  int index = 0;
  for (const auto& column : columns) {
    std::wstring title = Wide(column.title);
    LVCOLUMNW lvc{};
    lvc.mask = LVCF_TEXT | LVCF_FMT | LVCF_SUBITEM;
    lvc.fmt = column.format;
    lvc.pszText = title.data();
    lvc.iSubItem = column.subitem;
    if (column.width >= 0) {
      lvc.mask |= LVCF_WIDTH;
      lvc.cx = MulDiv(column.width, dpi, 96);
    }
    if (index < kept) {
      ListView_SetColumn(h, index++, &lvc);
    } else if (ListView_InsertColumn(h, index++, &lvc) < 0) {
      break;
    }
  }
}

}  // namespace

void Win32Backend::Impl::SetImageList(HWND h, const std::vector<int>& ids, int dpi) {
  HIMAGELIST list = nullptr;
  if (!ids.empty()) {
    const int size = MulDiv(16, dpi, 96);
    list = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, static_cast<int>(ids.size()), 0);
    for (int id : ids) {
      if (auto icon = static_cast<HICON>(
              LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR))) {
        ImageList_AddIcon(list, icon);
        DestroyIcon(icon);
      }
    }
  }
  // The list view destroys its current list with itself; a replaced one is ours.
  if (HIMAGELIST old = ListView_SetImageList(h, list, LVSIL_SMALL)) ImageList_Destroy(old);
}

// True when the columns were made again: the list may need another width.
bool Win32Backend::Impl::PushList(HWND h, const ListCtrl& model, ListShadow& shadow, int dpi) {
  bool columns = false;
  for (const ListStep& step : PlanListSync(model, shadow)) {
    switch (step.op) {
      case ListStep::Op::kSetExtendedStyle:
        ListView_SetExtendedListViewStyleEx(h, 0xFFFFFFFFu, step.value);
        break;
      case ListStep::Op::kSetImageList:
        SetImageList(h, step.images, dpi);
        break;
      case ListStep::Op::kRebuildColumns:
        RebuildColumns(h, step.columns, dpi);
        columns = true;
        break;
      case ListStep::Op::kDeleteAllItems:
        ListView_DeleteAllItems(h);
        break;
      case ListStep::Op::kDeleteItem:
        ListView_DeleteItem(h, step.item);
        break;
      case ListStep::Op::kInsertItem: {
        LVITEMW lvi{};
        lvi.mask = LVIF_TEXT;
        lvi.iItem = step.item;
        lvi.pszText = const_cast<wchar_t*>(L"");
        ListView_InsertItem(h, &lvi);
        break;
      }
      case ListStep::Op::kSetText: {
        std::wstring text = Wide(step.text);
        ListView_SetItemText(h, step.item, step.subitem, text.data());
        break;
      }
      case ListStep::Op::kSetImage: {
        LVITEMW lvi{};
        lvi.mask = LVIF_IMAGE;
        lvi.iItem = step.item;
        const int image = static_cast<int>(step.value);
        lvi.iImage = image >= 0 ? image : I_IMAGENONE;
        ListView_SetItem(h, &lvi);
        break;
      }
      case ListStep::Op::kSetState:
        ListView_SetItemState(h, step.item, step.value, kSyncedStates);
        break;
    }
  }
  return columns;
}

void Win32Backend::Impl::ListItemChanged(NativeDialog& nd, int index, const NMLISTVIEW& nm) {
  if (pushing > 0 || nm.iItem < 0 || (nm.uChanged & LVIF_STATE) == 0) return;
  auto* list = dynamic_cast<ListCtrl*>(nd.At(index));
  if (list == nullptr) return;
  if (nm.iItem >= list->GetItemCount()) return;
  const std::uint32_t state = ListView_GetItemState(nm.hdr.hwndFrom, nm.iItem, kSyncedStates);
  if (!NoteUserState(nd.lists[static_cast<std::size_t>(index)], nm.iItem, state)) return;
  list->SetItemState(nm.iItem, state, kSyncedStates);
}

}  // namespace ui::win32
