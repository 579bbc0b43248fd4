#include "devices/linux/SgTranslate.h"

namespace plovix::linuxdev {

std::array<std::uint8_t, 16> BuildAtaPassThrough16(const AtaPassThroughRequest& request) {
  return PassThrough16(TaskFilesOfRequest(request), DataOfRequest(request),
                       /*check_condition=*/true);
}

bool ReplyFromSense(const std::uint8_t* sense, std::size_t length, AtaPassThroughRequest& reply) {
  const auto registers = DecodeAtaSense(sense, length, SenseForms::DescriptorOrFixed);
  if (!registers) return false;
  PutReply(*registers, reply);
  return true;
}

}  // namespace plovix::linuxdev
