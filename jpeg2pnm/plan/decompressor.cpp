// libjpeg's decompressor with jpeg2pnm's error manager, warning count and
// limits.
#include "decompressor.h"

#include <climits>
#include <csetjmp>
#include <new>

#include <jerror.h>

namespace {

error_state *state_of(j_common_ptr cinfo) {
  return reinterpret_cast<error_state *>(cinfo->err);
}

// libjpeg's memory manager, held to --max-memory, refuses a whole-image
// buffer beyond it by asking for backing store, which this build of
// libjpeg has not: that refusal is the memory limit's.
[[noreturn]] void jump_on_error(j_common_ptr cinfo) {
  error_state *err = state_of(cinfo);
  if (cinfo->err->msg_code == JERR_NO_BACKING_STORE) {
    std::snprintf(err->message, sizeof err->message,
                  "the %s image needs more working memory than the limit of %llu MiB; "
                  "--max-memory MIB raises it, 0 lifts it",
                  err->image_size, err->max_memory_mib);
  } else {
    (*cinfo->err->format_message)(cinfo, err->message);
  }
  std::longjmp(err->jump, 1);
}

// Stops the decode past --max-scans; libjpeg calls the monitor before each
// step of its input, so no segment can hide a scan from the limit.
void watch_scans(j_common_ptr common) {
  const auto *watch = reinterpret_cast<const scan_watch *>(common->progress);
  const auto scan = reinterpret_cast<j_decompress_ptr>(common)->input_scan_number;
  if (watch->max_scans == 0 || scan < 0 || static_cast<unsigned long long>(scan) <= watch->max_scans) return;
  error_state *err = state_of(common);
  std::snprintf(err->message, sizeof err->message,
                "the %s image has more than %llu scans, the limit; --max-scans N raises it, 0 lifts it",
                err->image_size, watch->max_scans);
  std::longjmp(err->jump, 1);
}

// Counts warnings and keeps the first; trace messages are dropped. Under
// --strict the first warning ends the decode.
void note_message(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  error_state *err = state_of(cinfo);
  if (err->warnings++ == 0) (*cinfo->err->format_message)(cinfo, err->first_warning);
  if (err->strict) {
    std::snprintf(err->message, sizeof err->message, "%s (--strict)", err->first_warning);
    std::longjmp(err->jump, 1);
  }
}

}  // namespace

void start_decompressor(jpeg_decompress_struct &cinfo, error_state &err, scan_watch &watch,
                        const convert_options &options) {
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = jump_on_error;
  err.pub.emit_message = note_message;
  err.strict = options.strict;
  err.max_memory_mib = options.max_memory_mib;
  err.warnings = 0;
  // libjpeg's own memory can run out as it is created, before any caller
  // has set the jump: it lands here, and is thrown as running out of
  // memory anywhere else is.
  if (setjmp(err.jump)) throw std::bad_alloc();
  jpeg_create_decompress(&cinfo);
  if (options.max_memory_mib != 0) {
    // Room beyond the whole-image buffers for libjpeg's row buffers and
    // tables, which the limit does not count.
    constexpr unsigned long long other_buffers = 64ull << 20;
    const unsigned long long limit = options.max_memory_mib > (LONG_MAX >> 20) - 64
                                         ? LONG_MAX
                                         : (options.max_memory_mib << 20) + other_buffers;
    cinfo.mem->max_memory_to_use = static_cast<long>(limit);
  }
  watch.pub.progress_monitor = watch_scans;
  watch.max_scans = options.max_scans;
  cinfo.progress = &watch.pub;
}

