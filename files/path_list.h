// PathList: the paths a listing appends, in order, kept as the lines of one
// UTF-16 text: a lead (any text, often empty), then for each path a CR and
// the path.
//
// That text is what a listing's reply is made of, so a reply is never
// copied out of the list: the caller gives its reply-so-far as the lead
// (with the room its buffer already has) and takes the whole text back with
// TakeText(). A listing of a whole tree thus writes each path once, into one
// growing buffer, and allocates nothing per path.
//
// Append-only: paths stay in the order they were appended, duplicates
// included; nothing sorts them. A list may be given a limit on its text's
// length: an append that would go past it is refused and marks the list as
// cut, so a listing can stop and say so instead of growing without end. A path must not hold a CR,
// which would read back as two paths; the listings never append one (files/dir_recurse.h). An
// append that runs out of memory throws std::bad_alloc and leaves the list as it was.
#pragma once

#include <cstddef>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

namespace zuvo {

class PathList {
 public:
  // Reads the paths from the text, one line at a time.
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::u16string_view;
    using difference_type = std::ptrdiff_t;
    using reference = std::u16string_view;
    using pointer = void;

    const_iterator() = default;
    std::u16string_view operator*() const {
      return lines_.substr(0, lines_.find(u'\r', 1)).substr(1);
    }
    const_iterator& operator++() {
      const size_t next = lines_.find(u'\r', 1);
      lines_ =
          next == std::u16string_view::npos ? lines_.substr(lines_.size()) : lines_.substr(next);
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator old = *this;
      ++*this;
      return old;
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) {
      return a.lines_.data() + a.lines_.size() == b.lines_.data() + b.lines_.size() &&
             a.lines_.size() == b.lines_.size();
    }

   private:
    friend class PathList;
    explicit const_iterator(std::u16string_view lines) : lines_(lines) {}
    std::u16string_view lines_;  // CR + path, for this path and the ones after it
  };
  using iterator = const_iterator;
  using value_type = std::u16string_view;
  using size_type = size_t;

  PathList() = default;
  // A list whose text starts with |lead|; its buffer, with the room it has,
  // becomes the list's.
  explicit PathList(std::u16string lead) : text_(std::move(lead)), leadSize_(text_.size()) {}

  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  // The characters of all paths together (no lead, no CRs counted).
  size_t chars() const { return text_.size() - leadSize_ - count_; }

  const_iterator begin() const {
    return const_iterator(std::u16string_view(text_).substr(leadSize_));
  }
  const_iterator end() const {
    return const_iterator(std::u16string_view(text_).substr(text_.size()));
  }

  // The lead, then CR and the path for each path in order.
  const std::u16string& text() const { return text_; }
  // Gives the text away; the list is left empty, with an empty lead.
  std::u16string TakeText() && {
    count_ = 0;
    leadSize_ = 0;
    return std::exchange(text_, std::u16string());
  }

  // Appends |path|.
  void push_back(std::u16string_view path) { Append(path, {}); }
  // Appends |prefix| followed by |name| as one path. Either may be a path of
  // this list. Past the limit nothing is appended and the list is cut.
  void Append(std::u16string_view prefix, std::u16string_view name) {
    const size_t needed = text_.size() + 1 + prefix.size() + name.size();
    if (needed > limit_) {
      cut_ = true;
      return;
    }
    if (needed > text_.capacity()) Grow(needed, prefix, name);
    text_.push_back(u'\r');
    text_.append(prefix);
    text_.append(name);
    ++count_;
  }

  // Drops every path; the lead stays, and the list is no longer cut.
  void clear() {
    text_.resize(leadSize_);
    count_ = 0;
    cut_ = false;
  }

  // The most characters the text may hold, lead included; the buffer never
  // grows past it either.
  void set_limit(size_t chars) { limit_ = chars; }
  // Whether an append was refused for the limit.
  bool cut() const { return cut_; }

  friend bool operator==(const PathList& a, const PathList& b) {
    return a.count_ == b.count_ && a.leadSize_ == b.leadSize_ && a.text_ == b.text_;
  }

 private:
  // Makes room for |needed| characters (at least twice the old room),
  // keeping |prefix| and |name| valid when they point into the text.
  void Grow(size_t needed, std::u16string_view& prefix, std::u16string_view& name);

  std::u16string text_;  // the lead, then CR + path for each path
  size_t leadSize_ = 0;  // characters of the lead
  size_t count_ = 0;     // paths
  size_t limit_ = std::numeric_limits<size_t>::max();
  bool cut_ = false;
};

// Makes |reply| |lead| followed by a CR + path line for each path that
// |listing| appends to the list it is given. The reply's buffer, with the
// room it already has, becomes the list's text, so every path is written
// once, straight into the reply. When the listing throws, |reply| is |lead|
// alone and the exception passes on.
//
// With |maxChars| the reply holds at most that many characters: when the
// paths would go past it, the list is cut and ends with a CR and |cutNote|,
// so whoever reads it sees that it is not whole (a limit smaller than the
// lead and the note together lets those two through all the same).
template <typename Listing>
void WriteListingReply(std::u16string& reply, std::u16string_view lead, Listing&& listing,
                       size_t maxChars = std::numeric_limits<size_t>::max(),
                       std::u16string_view cutNote = {}) {
  reply.assign(lead);
  PathList list(std::move(reply));
  const size_t noteRoom = 1 + cutNote.size();
  if (maxChars != std::numeric_limits<size_t>::max()) {
    list.set_limit(maxChars > lead.size() + noteRoom ? maxChars - noteRoom : lead.size());
  }
  try {
    listing(list);
  } catch (...) {
    list.clear();
    reply = std::move(list).TakeText();
    throw;
  }
  if (list.cut()) {
    list.set_limit(std::numeric_limits<size_t>::max());
    list.push_back(cutNote);
  }
  reply = std::move(list).TakeText();
}

}  // namespace zuvo
