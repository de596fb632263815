// libsodium must be started once before its first use; every entry point
// of this module that reaches it calls RequireSodium().
#pragma once

#include <sodium.h>

#include <cstdio>
#include <cstdlib>

namespace zuvo::trust {

inline void RequireSodium() {
  // sodium_init is safe to call from several threads and more than once.
  static const bool ready = sodium_init() >= 0;
  if (!ready) {
    std::fputs("zuvo: libsodium could not start\n", stderr);
    std::abort();
  }
}

}  // namespace zuvo::trust
