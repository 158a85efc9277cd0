// How image input and output fail: one line for people, naming the file.
// What that means for a caller's exit status is the caller's business.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace gm::io {

// A file that cannot be read, decoded or written, and why.
class Error : public std::runtime_error {
 public:
  Error(std::string file, const std::string& reason) : std::runtime_error(reason), file_(std::move(file)) {}
  const std::string& File() const { return file_; }

 private:
  std::string file_;
};

// The user asked to stop while the file was being read or written.
class Cancelled : public Error {
 public:
  explicit Cancelled(std::string file) : Error(std::move(file), "cancelled") {}
};

// Polled by long loops; true means the user asked to stop.
using CancelCheck = std::function<bool()>;

// How messages name "-".
inline constexpr char kStandardInput[] = "standard input";
inline constexpr char kStandardOutput[] = "standard output";

}  // namespace gm::io
