#include "codec/error_trap.h"

#include "codec/codec.h"

// After jpeglib.h, which it needs.
#include <jerror.h>

namespace {

[[noreturn]] void JumpBack(j_common_ptr cinfo) {
  auto* trap = reinterpret_cast<ErrorTrap*>(cinfo->err);
  // libjpeg's own memory running out is no fault of the photo.
  if (trap->pub.msg_code == JERR_OUT_OF_MEMORY || trap->pub.msg_code == JERR_NO_BACKING_STORE)
    trap->failure = CODEC_NO_MEMORY;
  std::longjmp(trap->jump, 1);
}

// A GUI program has no console to print libjpeg's messages on.
void DiscardMessage(j_common_ptr) {}

}  // namespace

jpeg_error_mgr* InstallTrap(ErrorTrap* trap, int failure) {
  jpeg_std_error(&trap->pub);
  trap->pub.error_exit = JumpBack;
  trap->pub.output_message = DiscardMessage;
  trap->failure = failure;
  return &trap->pub;
}

void FailWith(j_common_ptr cinfo, int status) {
  reinterpret_cast<ErrorTrap*>(cinfo->err)->failure = status;
  JumpBack(cinfo);
}
