// PathList: the paths a listing appends, in order, kept compactly: every
// character in one UTF-16 buffer and, per path, where it ends. A listing of
// a whole tree thus costs two growing buffers instead of one heap text per
// path, and a reply can be sized from chars() and filled with straight
// copies. The characters live in a block of the C heap, grown with realloc:
// a large block grows where it is or is moved by remapping its pages, so the
// tens of megabytes of a big listing are neither copied nor touched again as
// the list grows.
//
// Append-only: paths stay in the order they were appended, duplicates
// included; nothing sorts them. An append that runs out of memory throws
// std::bad_alloc and leaves the list as it was.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zuvo {

class PathList {
 public:
  class const_iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = std::u16string_view;
    using difference_type = std::ptrdiff_t;
    using reference = std::u16string_view;
    using pointer = void;

    const_iterator() = default;
    std::u16string_view operator*() const { return (*list_)[index_]; }
    std::u16string_view operator[](difference_type n) const { return (*list_)[index_ + n]; }
    const_iterator& operator++() {
      ++index_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator old = *this;
      ++index_;
      return old;
    }
    const_iterator& operator--() {
      --index_;
      return *this;
    }
    const_iterator operator--(int) {
      const_iterator old = *this;
      --index_;
      return old;
    }
    const_iterator& operator+=(difference_type n) {
      index_ += n;
      return *this;
    }
    const_iterator& operator-=(difference_type n) {
      index_ -= n;
      return *this;
    }
    friend const_iterator operator+(const_iterator it, difference_type n) { return it += n; }
    friend const_iterator operator+(difference_type n, const_iterator it) { return it += n; }
    friend const_iterator operator-(const_iterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(const const_iterator& a, const const_iterator& b) {
      return static_cast<difference_type>(a.index_) - static_cast<difference_type>(b.index_);
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) {
      return a.index_ == b.index_;
    }
    friend auto operator<=>(const const_iterator& a, const const_iterator& b) {
      return a.index_ <=> b.index_;
    }

   private:
    friend class PathList;
    const_iterator(const PathList* list, size_t index) : list_(list), index_(index) {}
    const PathList* list_ = nullptr;
    size_t index_ = 0;
  };
  using iterator = const_iterator;
  using value_type = std::u16string_view;
  using size_type = size_t;

  PathList() = default;
  PathList(const PathList& other);
  PathList(PathList&& other) noexcept { swap(other); }
  PathList& operator=(PathList other) noexcept {
    swap(other);
    return *this;
  }
  ~PathList() { std::free(text_); }
  void swap(PathList& other) noexcept {
    std::swap(text_, other.text_);
    std::swap(chars_, other.chars_);
    std::swap(capacity_, other.capacity_);
    ends_.swap(other.ends_);
  }

  size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  // The characters of all paths together (no separators counted).
  size_t chars() const { return chars_; }

  std::u16string_view operator[](size_t i) const {
    const size_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::u16string_view(text_ + begin, ends_[i] - begin);
  }
  const_iterator begin() const { return const_iterator(this, 0); }
  const_iterator end() const { return const_iterator(this, ends_.size()); }

  // Appends |path|.
  void push_back(std::u16string_view path) { Append(path, {}); }
  // Appends |prefix| followed by |name| as one path, written in place. Either
  // may be a path of this list.
  void Append(std::u16string_view prefix, std::u16string_view name) {
    ends_.push_back(chars_ + prefix.size() + name.size());
    if (ends_.back() > capacity_ && !Grow(ends_.back(), prefix, name)) {
      ends_.pop_back();
      throw std::bad_alloc();
    }
    std::char_traits<char16_t>::copy(text_ + chars_, prefix.data(), prefix.size());
    std::char_traits<char16_t>::copy(text_ + chars_ + prefix.size(), name.data(), name.size());
    chars_ = ends_.back();
  }

  void clear() {
    chars_ = 0;
    ends_.clear();
  }

  friend bool operator==(const PathList& a, const PathList& b) {
    return a.ends_ == b.ends_ &&
           std::u16string_view(a.text_, a.chars_) == std::u16string_view(b.text_, b.chars_);
  }

 private:
  // Makes room for |needed| characters (at least twice the old room), keeping
  // |prefix| and |name| valid when they point into the old block. False
  // when there is no memory; then nothing has changed.
  bool Grow(size_t needed, std::u16string_view& prefix, std::u16string_view& name);

  char16_t* text_ = nullptr;  // every path, back to back (C heap)
  size_t chars_ = 0;
  size_t capacity_ = 0;
  std::vector<size_t> ends_;  // where each path ends in text_
};

// Appends, for each path of |list| in order, CR and the path, into |text|
// reserved once to its final size: the lines of a listing's reply. A path
// holding a character below code 32 is left out, as its line breaks would
// let a reply carry a forged host command.
void AppendPathLines(std::u16string& text, const PathList& list);

}  // namespace zuvo
