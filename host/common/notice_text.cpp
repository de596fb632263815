#include "host/common/notice_text.h"

#include <algorithm>

#include "base/text.h"

namespace zuvo {
namespace {

// A framed notice: the title in the top edge, then the lines.
std::vector<std::string> Framed(const std::string& title, const std::vector<std::string>& lines,
                                char edge) {
  size_t width = title.empty() ? 0 : TextColumns(title) + 4;
  for (const std::string& l : lines) width = std::max(width, TextColumns(l) + 2);
  width = std::max<size_t>(width, 24);
  std::vector<std::string> out;
  std::string top(1, '+');
  top += edge;
  if (!title.empty()) top += " " + title + " ";
  top += std::string(width + 1 - TextColumns(top), edge) + "+";
  out.push_back(top);
  for (const std::string& l : lines) {
    out.push_back("| " + l + std::string(width - 1 - TextColumns(l), ' ') + "|");
  }
  std::string bottom(width + 2, edge);
  bottom.front() = bottom.back() = '+';
  out.push_back(bottom);
  return out;
}

std::vector<std::string> PrintableLines(const std::u16string& text) {
  std::vector<std::string> lines;
  for (const std::u16string& l : SplitLines(text)) lines.push_back(PrintableText(l));
  return lines;
}

}  // namespace

std::vector<std::u16string> SplitLines(const std::u16string& text) {
  std::vector<std::u16string> lines(1);
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == kCR || c == kLF) {
      if (c == kCR && i + 1 < text.size() && text[i + 1] == kLF) ++i;
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  return lines;
}

size_t TextColumns(const std::string& utf8) {
  size_t n = 0;
  for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
  return n;
}

std::vector<std::string> ToastText(const ToastSeen& toast) {
  std::vector<std::string> lines = PrintableLines(toast.message);
  if (!toast.link.empty()) {
    std::string link(1, '<');
    link.append(PrintableText(toast.link)).push_back('>');
    lines.push_back(link);
  }
  return Framed(PrintableText(toast.title), lines, '-');
}

std::vector<std::string> MessageBoxText(const MessageBoxSeen& box) {
  std::vector<std::string> lines = PrintableLines(box.text);
  lines.push_back("[ OK ]");
  return Framed(PrintableText(box.title), lines, '=');
}

}  // namespace zuvo
