// Translation between the program's NVMe requests and the kernel's NVMe pass-through
// ioctls on a namespace's block device (struct nvme_passthru_cmd), and what the
// kernel's answer means to the program.
#pragma once

#include <linux/nvme_ioctl.h>
#include <sys/ioctl.h>

#include <cstdint>
#include <optional>

#include "drive/DeviceIo.h"

namespace plovix::linuxdev {

// NVME_IOCTL_ADMIN_CMD for the admin queue, NVME_IOCTL_IO_CMD for the namespace's queues.
unsigned long NvmeIoctlFor(NvmeQueue queue);

// The kernel's command for a request: every field the program sets, the data buffer
// only when the command has a data phase, no metadata, and the time-out in
// milliseconds (the adapter's 10 seconds when the request names none).
nvme_passthru_cmd BuildNvmePassthru(const NvmeRequest& request);

// What a pass-through ioctl's result means, given as the ioctl's value (0 or the NVMe
// status field) or as minus errno. The kernel answers
//   0 / > 0          the controller's completion: success / its status field;
//   > 0 with SCT 3   a path status, most of them made up by the host itself when it
//                    gave up on the command (time-out, reset, no path left): the command
//                    failed on the way, whatever the controller did;
//   EACCES, EPERM    the command is withheld from this process (CAP_SYS_ADMIN, the
//                    open mode, a security module);
//   EINVAL           the kernel will not pass the command as it stands (and
//   EOPNOTSUPP       the block layer carries no such request);
//   ENOTTY           the device behind the descriptor is no NVMe namespace;
//   anything else    the call failed: I/O error, EINTR for a command the kernel
//                    cancelled, EAGAIN for a namespace without a usable path, ENODEV...
// dw0 comes from cmd.result, which the kernel fills with the completion.
NvmeReply NvmeReplyOf(long long result, const nvme_passthru_cmd& cmd);

// The namespace id NVME_IOCTL_ID answered (the ioctl's value, or minus errno): none for
// an error and for the ids no namespace can have (0 and the broadcast id).
std::optional<std::uint32_t> NamespaceIdOf(long long result);

}  // namespace plovix::linuxdev
