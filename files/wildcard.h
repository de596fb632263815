// The file-name patterns of the listings, matched in portable code.
//
// The dialect is the one Windows folders are listed with: "*" matches any
// run of characters (none included), "?" matches exactly one character, and
// letters compare without regard to case under the file-name rule
// (base/file_name_case.h). A pattern that ends in
// "." followed by stars also matches the name without that ending, so "*.*"
// matches every name, with or without a dot, and "read*.*" matches "readme".
// Every other character, blanks included, matches itself.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zuvo {

bool MatchWildcard(std::u16string_view pattern, std::u16string_view name);

// One piece of a ";"-separated pattern list, classified and upper-cased
// once per listing.
struct PatternPiece {
  enum class Kind {
    kAll,      // matches every file: the empty piece, "*", "*.*"
    kNothing,  // holds "\\", "/", ":" or is "..": it could only reach outside the folder
    kSuffix,   // "*" and a text without wildcards: compared at the name's end
    kPattern,  // matched as MatchWildcard does
  };
  Kind kind;
  std::u16string_view text;
  std::u16string folded;  // text upper-cased (kSuffix: without its "*")

  bool Matches(std::u16string_view name) const;
};

// Splits |patterns| at every ";", keeping empty pieces, in order. The pieces
// are views into |patterns|; blanks are kept.
std::vector<PatternPiece> SplitPatternList(std::u16string_view patterns);

}  // namespace zuvo
