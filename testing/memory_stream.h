// In-memory stdio streams for driving the compiler without a process.
#pragma once

#include <cstdio>
#include <string>

// A read stream over a copy of `text` (zero bytes included).
class input_text {
 public:
  explicit input_text(std::string text) : text_(std::move(text)) {
    file_ = text_.empty() ? std::fopen("/dev/null", "r")
                          : fmemopen(text_.data(), text_.size(), "r");
  }
  ~input_text() { std::fclose(file_); }
  input_text(const input_text &) = delete;
  input_text &operator=(const input_text &) = delete;
  std::FILE *file() const { return file_; }

 private:
  std::string text_;
  std::FILE *file_;
};

// A write stream whose bytes are read back with bytes().
class output_bytes {
 public:
  output_bytes() : file_(open_memstream(&data_, &size_)) {}
  ~output_bytes() {
    std::fclose(file_);
    std::free(data_);
  }
  output_bytes(const output_bytes &) = delete;
  output_bytes &operator=(const output_bytes &) = delete;
  std::FILE *file() const { return file_; }
  std::string bytes() {
    std::fflush(file_);
    return std::string(data_, size_);
  }

 private:
  char *data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE *file_;
};
