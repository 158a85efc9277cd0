// A one-line progress bar on a terminal, redrawn only when it changes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace gm::cli {

class ProgressBar {
 public:
  ProgressBar(std::FILE* out, bool enabled, std::string label) : out_(out), enabled_(enabled), label_(std::move(label)) {}
  ~ProgressBar() { Clear(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Update(int64_t done, int64_t total);
  void Clear();  // wipes the line so that what follows starts clean

 private:
  std::FILE* out_;
  bool enabled_;
  std::string label_;
  int shown_ = -1;  // permille last drawn
};

// The bar line for a fraction in permille, without terminal control codes.
std::string ProgressLine(const std::string& label, int permille, int width);

}  // namespace gm::cli
