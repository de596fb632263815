// The options form in a terminal, for the host stand-in: a modal text form
// that shows the caption, the "Shared Folder" box, the two check boxes and
// the buttons, and reads the user's choices line by line.
//
// The controls are numbered in focus order: 1 "Apply", 2 "Start with Zuvo
// File Sharing Turned on", 3 the folder box, 4 "...", 5 "Include Sub
// Folders", 6 "Cancel"; "Apply" has the focus when the form opens. At the
// prompt:
//   Enter         activates the focused control (press a button, toggle a
//                 check box, edit the folder box)
//   1 to 6        moves the focus to that control and activates it
//   n or Tab      moves the focus to the next control, p to the previous
//   x             the window's close command (also the end of the input)
// Editing the folder box reads the new text as typed; Enter alone keeps the
// text, and a text in double quotes is taken literally ("" empties the box).
// The folder browser ("...") reads a folder path; a path that ends with
// Tab or "?" lists the folders whose names complete it and offers their
// common completion, which Enter alone then picks. Enter alone with nothing
// offered, or Esc then Enter, cancels the browser.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "settings/form_view.h"

namespace zuvo {

class TerminalFormView : public FormView {
 public:
  TerminalFormView(std::istream& in, std::ostream& out) : in_(in), out_(out) {}

  void RunModal(frmOptions& form) override;
  std::u16string BrowseForFolder(frmOptions& form) override;

 private:
  enum Control { kApply = 1, kStartOn, kFolder, kBrowse, kSubFolders, kCancel };
  static constexpr int kControlCount = 6;

  bool ReadLine(std::string& line);  // false at the end of the input
  void Draw(const frmOptions& form, int focus);
  void Activate(frmOptions& form, int control);
  void EditFolder(frmOptions& form);

  std::istream& in_;
  std::ostream& out_;
};

// The folders whose paths complete |typed|: the typed folder part followed
// by each matching sub-folder name and a separator, sorted. Hidden folders
// (names starting with ".") match only a prefix that starts with ".".
std::vector<std::string> CompleteFolderPath(const std::string& typed);

}  // namespace zuvo
