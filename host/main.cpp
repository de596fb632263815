// zuvo-host: the host stand-in. (Subcommands come with the console.)
#include <cstdio>

int main() {
  std::puts("zuvo-host");
  return 0;
}
