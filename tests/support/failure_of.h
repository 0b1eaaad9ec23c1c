// SPDX-License-Identifier: MIT
#pragma once
#include <string>

#include "platform/result.h"

namespace brivelton {

// What `result` failed with, with its context; empty when it did not fail, so
// one comparison checks both and shows the reason when it was unexpected.
template <typename T>
std::string FailureOf(const Result<T>& result) {
  return result ? std::string() : result.error().text();
}

}  // namespace brivelton
