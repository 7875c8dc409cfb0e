// How the binding survives libjpeg's fatal errors. libjpeg reports one by
// calling error_exit, which must not return. Ours jumps back to the small
// C-style function that set the jump point (RunDecode, RunEncode). Nothing
// between that function and libjpeg holds a C++ object with a destructor,
// and all scratch memory comes from libjpeg's own pools, so jpeg_destroy_*
// releases everything after a jump. Blocks that outlive the operation (a
// decode's ICC profile) are held in the job record that outlives the jump.
#pragma once

#include <csetjmp>
// Before jpeglib.h, which uses FILE and size_t without declaring them.
#include <cstdio>

#include <jpeglib.h>

struct ErrorTrap {
  jpeg_error_mgr pub;  // first, so that cinfo->err converts back to the trap
  std::jmp_buf jump;
  int failure;  // what the function that set `jump` returns after the jump
};

// Makes `trap` the error manager to give libjpeg (as cinfo->err, before
// jpeg_create_*): errors jump back with `failure`, or CODEC_NO_MEMORY when
// libjpeg's own memory ran out; messages are discarded.
jpeg_error_mgr* InstallTrap(ErrorTrap* trap, int failure);

// Ends the operation with `status`, through the trap.
[[noreturn]] void FailWith(j_common_ptr cinfo, int status);
