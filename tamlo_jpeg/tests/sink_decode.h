// Decoding through the sink, the way a host program uses it.
#pragma once

#include "reference_decode.h"

// Throws jpeg_failure when libjpeg raises a fatal error.
decoded_image decode_with_sink(const std::vector<unsigned char> &file,
                               const decode_mode &mode);
