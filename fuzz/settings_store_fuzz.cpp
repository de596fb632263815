// The settings store's file, as any bytes. Opening a store that does not
// parse is reported and leaves the file byte for byte as it was, also when
// the file breaks under a store that is already open and a write comes. A
// store that parses takes a write, and what it writes parses again and is
// written the same way a second time.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "fuzz/fuzz_support.h"
#include "settings/registry.h"

namespace zuvo::fuzz {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream out;
  out << file.rdbuf();
  return out.str();
}

void WriteAll(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
}

long Put(RegistryBackend& backend, const std::string& subKey, const std::string& name,
         std::u16string_view data) {
  KeyHandle key = 0;
  long status = backend.OpenKey(kHkeyLocalMachine, subKey, KeyAccess::kWrite, key);
  if (status != reg::kSuccess) return status;
  status = backend.SetValue(key, name, data);
  backend.CloseKey(key);
  return status;
}

}  // namespace
}  // namespace zuvo::fuzz

using namespace zuvo;
using namespace zuvo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The store files live in memory (/dev/shm when there is one): every
  // write is flushed to disk otherwise.
  static TempRoot* root =
      new TempRoot("settings", ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
  const std::string path = (root->path() / "store.reg").string();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // A store opened while the file was sound, then the file replaced.
  ::unlink(path.c_str());
  std::unique_ptr<RegistryBackend> open = OpenPlatformRegistry(path);
  WriteAll(path, bytes);
  // The replacement must look different from what the open store read.
  const timespec later[2] = {{0, UTIME_OMIT}, {1, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), later, 0);

  bool parses = true;
  try {
    OpenPlatformRegistry(path);
  } catch (const std::runtime_error& e) {
    parses = false;
    Check(std::string_view(e.what()).find(path) != std::string_view::npos,
          "the report does not name the store file");
  }
  Check(ReadAll(path) == bytes, "opening the store changed its file");

  const long created = open->CreateKey(kHkeyLocalMachine, "SOFTWARE\\Fuzz");
  if (!parses) {
    Check(created == reg::kBadDb, "a store that does not parse took a write");
    Check(ReadAll(path) == bytes, "a store that does not parse was rewritten");
    return 0;
  }
  Check(created == reg::kSuccess, "a store that parses refused a new key");
  Check(Put(*open, "SOFTWARE\\Fuzz", "Value", u"1") == reg::kSuccess,
        "a store that parses refused a value");
  const std::string written = ReadAll(path);
  std::unique_ptr<RegistryBackend> again;
  try {
    again = OpenPlatformRegistry(path);
  } catch (const std::runtime_error& e) {
    Fail("the store's own output does not parse", Utf8ToUtf16(e.what()));
  }
  Check(Put(*again, "SOFTWARE\\Fuzz", "Value", u"1") == reg::kSuccess,
        "the rewritten store refused a value");
  Check(ReadAll(path) == written, "writing the same store twice gave two different files");
  return 0;
}
