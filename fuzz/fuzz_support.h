// What every fuzz target shares: turning input bytes into wide text, and
// stopping with a message the moment a property or a run's rule fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/run_rules.h"

// Reads the bytes as UTF-8 up to three-byte sequences, so that every UTF-16
// code unit Windows can pass is reachable while seeds stay plain text. A byte
// that starts no whole sequence stands for itself.
inline std::wstring WideTextOf(const uint8_t* data, size_t size) {
  std::wstring text;
  size_t at = 0;
  while (at < size) {
    const uint8_t lead = data[at];
    const size_t length = lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xC0 && lead <= 0xDF ? 2 : 1;
    uint32_t unit = length == 3 ? lead & 0x0Fu : lead & 0x1Fu;
    bool whole = length > 1 && at + length <= size;
    for (size_t i = 1; whole && i < length; ++i) {
      whole = (data[at + i] & 0xC0u) == 0x80u;
      unit = (unit << 6) | (data[at + i] & 0x3Fu);
    }
    text.push_back(static_cast<wchar_t>(whole ? unit : lead));
    at += whole ? length : 1;
  }
  return text;
}

// Ends the run as a crash, which libFuzzer keeps as a reproducing input.
inline void Require(bool holds, const std::string& what) {
  if (holds) return;
  std::fprintf(stderr, "property broken: %s\n", what.c_str());
  std::abort();
}

// Every handle and LocalAlloc block closed, and nothing misused.
inline void RequireHealthyWorld() {
  std::vector<std::string> broken;
  run_rules::CheckWorld(broken);
  for (const std::string& rule : broken) Require(false, rule);
}
