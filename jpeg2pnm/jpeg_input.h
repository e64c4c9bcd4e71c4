// An input of jpeg2pnm: opened as every program opens its inputs, and read
// whole, so that the limits look at all of it before anything is decoded.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Opens `input` ("-" for standard input) for reading, or reports why it
// cannot be and returns nullptr.
std::FILE *open_jpeg_input(const std::string &input);

// The whole input, at most `limit` bytes (0: no limit). Input that does
// not start as a JPEG file does is refused at its first bytes. False,
// reported, on a read error or a refusal.
bool read_jpeg_input(const std::string &input, std::FILE *in, std::uint64_t limit,
                     std::vector<unsigned char> &data);
