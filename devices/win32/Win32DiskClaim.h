// The block path of an erase on Windows: a physical drive held for this program alone.
//
// Every volume with an extent on the disk (lettered or not: a data disk that once held
// Windows carries an EFI and a recovery partition without letters) is opened, locked
// and dismounted, and stays so until the claim is released: Windows refuses writes into
// a mounted volume's sectors, and a locked volume cannot be mounted again meanwhile. The
// disk itself then gets a handle of its own, unbuffered and written through, so a write
// reported done is on the drive, and its sector size and length come from the disk's
// geometry. Release flushes, tells Windows to read the (now blank) disk again and gives
// the volumes back.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "drive/DeviceIo.h"
#include "devices/win32/Win32Calls.h"

namespace plovix::win32 {

// A Win32 error as a short phrase with its number, "access denied (error 5)"; the
// system's own message for codes the program does not expect.
std::string WinErrorText(DWORD error);

// The claims of one adapter. Claims and transfers come from an erase's worker thread
// while the user-interface thread may ask for volumes or claim another disk.
class DiskClaims {
 public:
  explicit DiskClaims(SystemCalls& calls) : calls_(calls) {}
  // Gives up every claim still held, so no volume stays locked after the adapter.
  ~DiskClaims();
  DiskClaims(const DiskClaims&) = delete;
  DiskClaims& operator=(const DiskClaims&) = delete;

  std::vector<std::string> VolumesOn(int drive_number);
  DiskClaim Claim(int drive_number);
  BlockIo Write(DeviceHandle claim, std::uint64_t offset, const std::uint8_t* data, std::uint32_t length);
  BlockIo Read(DeviceHandle claim, std::uint64_t offset, std::uint8_t* data, std::uint32_t length);
  std::string Release(DeviceHandle claim);

 private:
  struct Volume {
    std::wstring device;  // "\\?\Volume{...}", which opens the volume itself
    std::string name;     // as the user knows it: "D:"
    HANDLE handle = INVALID_HANDLE_VALUE;
  };
  struct Held {
    int drive = -1;
    HANDLE disk = INVALID_HANDLE_VALUE;
    std::uint32_t block_bytes = 512;
    std::uint64_t size_bytes = 0;
    std::vector<Volume> volumes;  // locked and dismounted
    // Held through each transfer and the release, so a release never closes the handle
    // under a transfer (Windows reuses handle values: a late transfer could reach
    // another device).
    std::mutex io;
    bool released = false;
  };

  // The volumes on the disk, unopened; none when Windows does not list its volumes
  // (list_error then says why).
  std::optional<std::vector<Volume>> FindVolumes(int drive_number, DWORD& list_error);
  DiskClaim LockVolumes(std::vector<Volume>& volumes);
  DiskClaim OpenDisk(int drive_number, Held& held);
  void Unlock(std::vector<Volume>& volumes);
  std::shared_ptr<Held> Find(DeviceHandle claim);
  // A read into in, or a write from out when in is null.
  BlockIo Transfer(DeviceHandle claim, std::uint64_t offset, std::uint8_t* in, const std::uint8_t* out,
                   std::uint32_t length);
  std::string GiveUp(Held& held);

  SystemCalls& calls_;
  std::mutex claiming_;  // one claim at a time: two claims of one disk cannot both lock it
  std::mutex mutex_;     // guards held_ and next_
  std::map<DeviceHandle, std::shared_ptr<Held>> held_;
  // Claim handles are the adapter's own numbers, never a Windows handle: a stale one
  // names no later claim and no pass-through handle.
  DeviceHandle next_ = 0x504C0001;
};

}  // namespace plovix::win32
