// SPDX-License-Identifier: MIT
#pragma once
// The tool's standard output through stdio, remembering why a write failed:
// a full disk or a closed descriptor must not end as a success. Unbuffered
// itself, so that flushing std::cout still flushes all of it.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <streambuf>

namespace brivelton::cli {

class CheckedStdout : private std::streambuf {
 public:
  CheckedStdout() : stream_(this) {}
  std::ostream& stream() { return stream_; }

  // `status`, or 1 with one line on `err` when some output was lost. A
  // reader that went away is no such failure: SIGPIPE is ignored only so
  // that an update goes on without one, and its status stays the job's.
  int Finish(int status, std::ostream& err) {
    sync();
    if (error_ == 0 && std::ferror(stdout)) error_ = EIO;
    if (error_ == 0 || error_ == EPIPE) return status;
    err << "brivelton: can't write standard output: " << std::strerror(error_) << '\n'
        << std::flush;
    return 1;
  }

 private:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* text, std::streamsize size) override {
    errno = 0;
    const size_t done = std::fwrite(text, 1, static_cast<size_t>(size), stdout);
    if (done < static_cast<size_t>(size)) Failed();
    return static_cast<std::streamsize>(done);
  }
  int sync() override {
    errno = 0;
    if (std::fflush(stdout) == 0) return 0;
    Failed();
    return -1;
  }
  // The first failure is the one to name.
  void Failed() {
    if (error_ == 0) error_ = errno != 0 ? errno : EIO;
  }

  std::ostream stream_;
  int error_ = 0;
};

}  // namespace brivelton::cli
