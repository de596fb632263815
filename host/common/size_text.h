// A file's size as the user reads it: "512 bytes", "1.5 KiB", "3.0 MiB".
#pragma once

#include <cstdint>
#include <string>

namespace zuvo {

std::string SizeText(uint64_t bytes);

}  // namespace zuvo
