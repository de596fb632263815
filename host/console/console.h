// The console: drives the plug-in's contract from JSON Lines. Each input
// line is one call, answered by one output line:
//
//   {"call":"GetPublishCommandInfo","nCommandIdx":2,"sName":"a","sValue":"b","sHelp":"c"}
//   {"ok":true,"result":null,"error":null,"out":{"sName":...},"state":{...},
//    "toasts":[...],"messageBoxes":[...]}
//
// Parameters carry the contract's names; a missing one starts as the empty
// text or 0. {"holder":"read"} answers the settings holder's fields. A line
// that is not JSON, or names no known call, is answered with
// {"ok":false,"error":"bad request: <why>"}. Output is ASCII only.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

#include "host/common/plugin_driver.h"

namespace zuvo {

class Console {
 public:
  explicit Console(PluginDriver& driver) : driver_(driver) {}

  // Answers one input line (without its line feed); the answer has none.
  std::string Handle(std::string_view line);

  // Answers every line of |in| on |out|, flushing after each.
  void Run(std::istream& in, std::ostream& out);

 private:
  PluginDriver& driver_;
};

}  // namespace zuvo
