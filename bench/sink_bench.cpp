// Decodes one JPEG file in a chosen way, for instruction counts under
// callgrind and for wall-clock medians:
//
//   sink_bench FILE MODE              one decode (for callgrind)
//   sink_bench FILE RUNS MODE...      RUNS rounds, each decoding once in
//                                     every MODE in turn; prints the
//                                     median time of each MODE in ms
//
// MODE: sink          through the row sink into the caller's row
//       bare          jpeg_read_scanlines straight into the caller's row
//       sink-quant    quantised (two-pass, 256 colours) through the sink
//       bare-quant    the same quantised decode, demapped by this host
//       turbojpeg     tjDecompress2 into a caller buffer (when built in)
// Taking the modes in turn within one process spreads the machine's
// changing load over all of them alike.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tamlo_jpeg.h"
#ifdef HAVE_TURBOJPEG
#include <turbojpeg.h>
#endif

namespace {

std::vector<unsigned char> row;    // the caller's row
std::vector<unsigned char> image;  // turbojpeg's whole-image buffer
unsigned long checksum = 0;

void start(jpeg_decompress_struct &cinfo, jpeg_error_mgr &err,
           const std::vector<unsigned char> &file, bool quantise) {
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&cinfo, TRUE);
  if (quantise) {
    cinfo.quantize_colors = TRUE;
    cinfo.desired_number_of_colors = 256;
    cinfo.two_pass_quantize = TRUE;
  }
}

void decode_with_sink(const std::vector<unsigned char> &file, bool quantise) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  start(cinfo, err, file, quantise);
  ppm_row_sink *sink = tamlo_jpeg_jinit_write_ppm(&cinfo);
  jpeg_start_decompress(&cinfo);
  row.resize(static_cast<std::size_t>(cinfo.output_width) * 3);
  sink->start_output(&cinfo, sink);
  while (cinfo.output_scanline < cinfo.output_height) {
    const JDIMENSION n = jpeg_read_scanlines(&cinfo, sink->sample_rows, sink->sample_row_count);
    sink->put_pixel_rows(&cinfo, sink, n, row.data());
    checksum += row[0];
  }
  sink->finish_output(&cinfo, sink);
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
}

void decode_bare(const std::vector<unsigned char> &file, bool quantise) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  start(cinfo, err, file, quantise);
  jpeg_start_decompress(&cinfo);
  const std::size_t width = cinfo.output_width;
  row.resize(width * 3);
  std::vector<unsigned char> indexes(width);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[1] = {quantise ? indexes.data() : row.data()};
    jpeg_read_scanlines(&cinfo, rows, 1);
    if (quantise) {
      const JSAMPROW m0 = cinfo.colormap[0], m1 = cinfo.colormap[1], m2 = cinfo.colormap[2];
      unsigned char *out = row.data();
      for (std::size_t x = 0; x < width; ++x, out += 3) {
        const unsigned i = indexes[x];
        out[0] = m0[i];
        out[1] = m1[i];
        out[2] = m2[i];
      }
    }
    checksum += row[0];
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
}

#ifdef HAVE_TURBOJPEG
void decode_turbojpeg(const std::vector<unsigned char> &file) {
  tjhandle handle = tjInitDecompress();
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  auto *data = const_cast<unsigned char *>(file.data());
  const auto size = static_cast<unsigned long>(file.size());
  if (tjDecompressHeader3(handle, data, size, &width, &height, &subsampling, &colorspace) != 0) {
    std::fprintf(stderr, "turbojpeg: %s\n", tjGetErrorStr2(handle));
    std::exit(1);
  }
  image.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
  if (tjDecompress2(handle, data, size, image.data(), width, 0, height, TJPF_RGB, 0) != 0) {
    std::fprintf(stderr, "turbojpeg: %s\n", tjGetErrorStr2(handle));
    std::exit(1);
  }
  checksum += image[0];
  tjDestroy(handle);
}
#endif

bool decode(const std::vector<unsigned char> &file, const std::string &mode) {
  if (mode == "sink") decode_with_sink(file, false);
  else if (mode == "bare") decode_bare(file, false);
  else if (mode == "sink-quant") decode_with_sink(file, true);
  else if (mode == "bare-quant") decode_bare(file, true);
#ifdef HAVE_TURBOJPEG
  else if (mode == "turbojpeg") decode_turbojpeg(file);
#endif
  else return false;
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: sink_bench FILE MODE | sink_bench FILE RUNS MODE...\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<unsigned char> file{std::istreambuf_iterator<char>(in),
                                        std::istreambuf_iterator<char>()};
  const int runs = std::atoi(argv[2]);
  if (runs <= 0) {
    if (!decode(file, argv[2])) {
      std::fprintf(stderr, "sink_bench: mode %s not available\n", argv[2]);
      return 2;
    }
    return checksum == 0xFFFFFFFF ? 3 : 0;
  }
  const std::vector<std::string> modes(argv + 3, argv + argc);
  std::vector<std::vector<double>> ms(modes.size());
  for (int round = 0; round < runs; ++round) {
    for (std::size_t m = 0; m < modes.size(); ++m) {
      const auto t0 = std::chrono::steady_clock::now();
      if (!decode(file, modes[m])) {
        std::fprintf(stderr, "sink_bench: mode %s not available\n", modes[m].c_str());
        return 2;
      }
      const auto t1 = std::chrono::steady_clock::now();
      ms[m].push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
  }
  for (std::size_t m = 0; m < modes.size(); ++m) {
    std::sort(ms[m].begin(), ms[m].end());
    std::printf("%-11s %8.2f ms\n", modes[m].c_str(), ms[m][ms[m].size() / 2]);
  }
  return 0;
}
