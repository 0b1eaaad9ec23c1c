// SPDX-License-Identifier: MIT
#include "platform/web/web_platform.h"

#include <emscripten.h>

#include <cmath>
#include <cstdlib>

#include "platform/timeouts.h"

// The JavaScript side lives in the page's host.js (globalThis.briveltonHost);
// these are the thin calls into it. Strings come back in malloc'd memory.

EM_ASYNC_JS(char*, brv_list_ports, (), {
  const text = await briveltonHost.listPorts();
  return stringToNewUTF8(text);
});

EM_JS(char*, brv_port_details, (const char* name), {
  const text = briveltonHost.portDetails(UTF8ToString(name));
  return stringToNewUTF8(text);
});

EM_ASYNC_JS(int, brv_open, (const char* name, uint32_t baud), {
  return await briveltonHost.open(UTF8ToString(name), baud >>> 0);
});

EM_ASYNC_JS(int, brv_reopen, (int handle, uint32_t baud), {
  return await briveltonHost.reopen(handle, baud >>> 0) ? 1 : 0;
});

EM_JS(int, brv_take, (int handle, uint8_t* buffer, int max), {
  const bytes = briveltonHost.take(handle, max);
  HEAPU8.set(bytes, buffer);
  return bytes.length;
});

EM_ASYNC_JS(int, brv_wait, (int handle, double ms), {
  return await briveltonHost.wait(handle, ms);
});

EM_ASYNC_JS(int, brv_write, (int handle, const uint8_t* bytes, int count, double ms), {
  return await briveltonHost.write(handle, HEAPU8.slice(bytes, bytes + count), ms);
});

EM_JS(int, brv_purge, (int handle), { return briveltonHost.purge(handle) ? 1 : 0; });

EM_ASYNC_JS(void, brv_close, (int handle), { await briveltonHost.close(handle); });

// The page's timers keep time in a background tab too.
EM_ASYNC_JS(void, brv_sleep, (double ms), { await briveltonHost.sleep(ms); });

EM_ASYNC_JS(char*, brv_store_write, (const char* name, const char* content), {
  const error = await briveltonHost.storeWrite(UTF8ToString(name), UTF8ToString(content));
  if (error === "") return 0;
  return stringToNewUTF8(error);
});

// Null when there is no record.
EM_ASYNC_JS(char*, brv_store_read, (const char* name), {
  const text = await briveltonHost.storeRead(UTF8ToString(name));
  if (text === null) return 0;
  return stringToNewUTF8(text);
});

EM_ASYNC_JS(int, brv_store_remove, (const char* name), {
  return await briveltonHost.storeRemove(UTF8ToString(name)) ? 1 : 0;
});

EM_ASYNC_JS(char*, brv_store_list, (), {
  const text = (await briveltonHost.storeList()).join("\n");
  return stringToNewUTF8(text);
});

namespace brivelton {

namespace {

// Takes a malloc'd string from the JavaScript side.
std::string Adopt(char* text) {
  if (!text) return {};
  std::string s(text);
  std::free(text);
  return s;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

uint64_t NowUs() { return uint64_t(emscripten_get_now() * 1000.0); }

// Web Serial opens a port at a speed: the device opens at a first one and
// closes and reopens at each other speed it is set to.
class WebSerialDevice : public SerialDevice {
 public:
  WebSerialDevice(int handle, uint32_t baud) : handle_(handle) { settings_.baud = baud; }
  ~WebSerialDevice() override { brv_close(handle_); }

  bool GetState(LineSettings& settings) override {
    settings = settings_;
    return alive_;
  }

  bool SetState(const LineSettings& settings) override {
    // Web Serial speaks 8N1 and nothing the utility never asks for.
    if (settings.data_bits != 8 || settings.parity != Parity::kNone || settings.stop_bits != StopBits::kOne)
      return false;
    if (!alive_) return false;
    if (settings.baud != settings_.baud) {
      if (!brv_reopen(handle_, settings.baud)) {
        alive_ = false;
        return false;
      }
    }
    settings_ = settings;
    return true;
  }

  bool SetTimeouts(const CommTimeouts& timeouts) override {
    timeouts_ = timeouts;
    return alive_;
  }
  bool SetEventMask(uint32_t) override { return alive_; }

  bool Read(std::span<uint8_t> buffer, size_t& got) override {
    got = 0;
    if (!alive_) return false;
    ReadWindow window(timeouts_, buffer.size(), NowUs());
    while (got < buffer.size()) {
      const int n = brv_take(handle_, buffer.data() + got, int(buffer.size() - got));
      if (n > 0) {
        got += size_t(n);
        window.Arrived(NowUs());
        continue;
      }
      const uint64_t left = window.LeftUs(NowUs());
      if (left == 0) break;
      // Whole milliseconds, rounded up: a browser's timer drops the fraction
      // and would fire short of the deadline, and the wait for the rest is
      // held to at least 4 ms once timers are nested.
      const double wait_ms = left == kNoDeadline ? -1.0 : std::ceil(double(left) / 1000.0);
      // A late chunk stays queued on the JavaScript side for the next read.
      const int r = brv_wait(handle_, wait_ms);
      if (r < 0) {
        alive_ = false;
        return false;
      }
    }
    return true;
  }

  bool Write(std::span<const uint8_t> bytes, size_t& written) override {
    written = 0;
    if (!alive_) return false;
    const CommTimeouts& t = timeouts_;
    const uint64_t total_us = TotalDeadlineUs(0, t.write_total_multiplier_ms, bytes.size(),
                                              t.write_total_constant_ms);
    const double ms = total_us == kNoDeadline ? -1.0 : double(total_us) / 1000.0;
    const int n = brv_write(handle_, bytes.data(), int(bytes.size()), ms);
    if (n < 0) {
      alive_ = false;
      return false;
    }
    written = size_t(n);
    return true;
  }

  bool Purge() override { return alive_ && brv_purge(handle_); }
  // A write resolves once the browser has passed the bytes on.
  bool Flush() override { return alive_; }

 private:
  int handle_;
  bool alive_ = true;
  LineSettings settings_;
  CommTimeouts timeouts_;
};

// The speed a port is first opened at, before the link sets its own.
constexpr uint32_t kFirstBaud = 115200;

}  // namespace

std::unique_ptr<SerialDevice> WebSerialPorts::Open(const std::string& name, OpenError* error) {
  const int handle = brv_open(name.c_str(), kFirstBaud);
  if (handle <= 0) {
    if (error) {
      switch (-handle) {
        case 1: *error = OpenError::kNotFound; break;
        case 2: *error = OpenError::kBusy; break;
        case 3: *error = OpenError::kPermission; break;
        default: *error = OpenError::kOther; break;
      }
    }
    return nullptr;
  }
  if (error) *error = OpenError::kNone;
  return std::make_unique<WebSerialDevice>(handle, kFirstBaud);
}

PortListing WebPortList::List() {
  PortListing listing;
  for (auto& name : Lines(Adopt(brv_list_ports()))) listing.entries.emplace_back(name);
  return listing;
}

std::vector<PortDetail> WebPortList::Details(const std::string& name) const {
  std::vector<PortDetail> details;
  for (const auto& line : Lines(Adopt(brv_port_details(name.c_str())))) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) details.push_back({line.substr(0, eq), line.substr(eq + 1)});
  }
  return details;
}

UsbIdentity WebPortList::UsbIdentityOf(const std::string& name) const {
  UsbIdentity usb;
  for (const auto& detail : Details(name)) {
    const size_t colon = detail.value.find(':');
    if (detail.label != "usb" || colon == std::string::npos) continue;
    usb.vendor = detail.value.substr(0, colon);
    usb.product = detail.value.substr(colon + 1);
  }
  return usb;
}

void WebClock::Sleep(uint32_t ms) { brv_sleep(double(ms)); }
uint64_t WebClock::NowMs() { return NowUs() / 1000; }
uint64_t WebClock::NowUs() { return brivelton::NowUs(); }

bool WebStateStore::Write(const std::string& name, const std::string& content,
                          std::string& error) {
  char* failure = brv_store_write(name.c_str(), content.c_str());
  if (!failure) return true;
  error = Adopt(failure);
  return false;
}

std::optional<std::string> WebStateStore::Read(const std::string& name, std::string& refused) {
  refused.clear();
  char* text = brv_store_read(name.c_str());
  if (!text) return std::nullopt;
  return Adopt(text);
}

bool WebStateStore::Remove(const std::string& name, std::string& why) {
  if (brv_store_remove(name.c_str())) return true;
  why = "the browser's storage refused it";
  return false;
}

std::vector<std::string> WebStateStore::List() { return Lines(Adopt(brv_store_list())); }

std::string WebStateStore::PathOf(const std::string& name) const {
  return "the browser's storage (" + name + ")";
}

}  // namespace brivelton
