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

#include <cstddef>
#include <cstdint>
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

  bool Matches(std::u16string_view name) const {
    uint64_t steps = 0;
    return Matches(name, steps);
  }
  // Also adds the work done to |steps|: one per character compared, and at
  // least one per call. Never more than 2 x (name + 1) x (piece + 1) per
  // call (a pattern with an optional dot ending is tried twice).
  bool Matches(std::u16string_view name, uint64_t& steps) const;
};

// The most a pattern list may ask for: distinct pieces, and the characters
// of the distinct pieces together. A listing's matching then costs at most
// about kMaxPatternChars steps per character of the names listed, whatever
// the length of the list's text.
inline constexpr size_t kMaxPatternPieces = 32;
inline constexpr size_t kMaxPatternChars = 256;

// Splits |patterns| at every ";" into its distinct pieces, in the order of
// their first occurrence. Pieces are the same when they match the same
// names: the same text up to letter case, every form of kAll (the empty
// piece, "*", "*.*"), every kNothing piece. A repeat would only list the
// same files again; it is dropped. The pieces are views into |patterns|;
// blanks are kept. Pieces past the bounds above are left out: a caller that
// must not cut a list silently asks PatternListWithinBounds first.
std::vector<PatternPiece> SplitPatternList(std::u16string_view patterns);

// Whether the distinct pieces of |patterns| keep within kMaxPatternPieces
// and kMaxPatternChars. Costs one pass over the text.
bool PatternListWithinBounds(std::u16string_view patterns);

}  // namespace zuvo
