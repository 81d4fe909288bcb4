// The directory chooser ("パス設定"): a drive box, the subdirectories of the current directory
// and an edit with the current path. It walks the file system by changing the process's
// current directory, and leaves it wherever the user went, after OK and after Cancel alike;
// its callers return to their own directory before they touch files.
//
// Drives. There are no drive letters here: the drive box lists directories that stand in for
// them, each named by its path, in this order: "/", the user's home directory, then every
// removable medium mounted below /media or /run/media (in the order of the mount table).
// "/" and the home directory are fixed drives, listed when they are directories. A removable
// medium is a mount of a block device ("/dev/...") or a network share (nfs, nfs4, cifs,
// smb3); optical discs (iso9660, udf, /dev/sr*) and RAM disks (tmpfs, ramfs, /dev/ram*,
// /dev/zram*) are never listed, and neither are the system's own file systems (proc, sysfs,
// cgroup, overlay, ...), which have no device. Making a drive current changes to its
// directory; a removable medium must still be mounted there, so a medium taken out after the
// window opened is refused with "そのドライブは、現在、使用できません".
//
// Shortcuts. The chooser of the cache path also lists, after the drives, the caches of the
// user's browsers, each by its own name (browser, profile and directory); making one current
// changes to its directory as a fixed drive does.
//
// The current drive is the listed drive or shortcut whose directory holds the current
// directory most closely; when a mount that is not listed lies closer (a disc, a RAM disk),
// no drive is selected.
//
// Navigation uses '/' only: a backslash is an ordinary byte of a directory name here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "app/modal_view.h"
#include "platform/language.h"

namespace lumbra {

inline constexpr std::string_view kDriveUnusableMessage =
    platform::TrLater("そのドライブは、現在、使用できません");

// The chooser's view: the drive box, the directory list, the path edit (ids below).
using ChooserView = ModalView;

// A directory the drive box lists after the drives, by a name of its own.
struct Shortcut {
  std::string label;  // the line in the box
  std::string path;   // absolute; the directory made current
};

// Where the drives come from. Made in main() with ForThisProcess(); tests point it at a
// mount table and directories of their own.
struct DriveSource {
  std::string mountsFile;               // a mount table in the form of /proc/self/mounts
  std::string home;                     // the user's home directory ($HOME)
  std::vector<std::string> mediaRoots;  // where removable media are mounted
  std::vector<Shortcut> shortcuts;      // listed after the drives (none by default)

  static DriveSource ForThisProcess();
};

// One entry of the drive box.
struct Drive {
  std::string path;  // the directory made current, and its name in the box without a label
  bool removable = false;
  std::string label;  // a shortcut's name in the box
};

class DirectoryChooser {
 public:
  // Control ids of the window (template 130, title "パス設定").
  enum Control : int {
    kOk = 1,                // "OK", the default button: Enter in the edit is OK
    kCancel = 2,            // "ｷｬﾝｾﾙ"
    kHiddenButton = 1000,   // hidden, no command
    kPathEdit = 1001,       // edit under the label "ディレクトリー名"
    kDriveBox = 1005,       // drop-down box (no edit part) beside the label "ドライブ"
    kDirectoryList = 1006,  // list, one selection; a selection change enters the directory
  };

  // `startPath` is where the window opens: empty for the current directory.
  DirectoryChooser(ChooserView& view, DriveSource drives, std::string startPath = {});

  // Window initialisation: goes to the start path and fills the controls.
  void Open();
  // The user selected another line of the directory list: enters that directory at once.
  void OnDirectorySelected();
  // The user selected another entry of the drive box: makes that drive current.
  void OnDriveSelected();
  // OK (button or Enter): the edit's text, exactly as typed, becomes the result.
  void OnOk();
  // Cancel (button, Esc or close box): closes; the current directory stays where it is.
  void OnCancel();

  // The path: the start path before Open, the current directory while open, and after OK
  // the text of the edit as the user left it (not checked to exist).
  const std::string& GetPath() const { return pathText_; }

 private:
  void ListDirectories(const std::string& dir);
  void FillDirectoryList();
  void ShowMembers();
  int DriveOf(const std::string& dir) const;
  bool MakeDriveCurrent(const Drive& drive) const;

  ChooserView& view_;
  DriveSource source_;
  std::string pathText_;
  std::vector<Drive> drives_;
  std::vector<std::string> mountPoints_;  // every mount, listed or not
  int currentDrive_ = -1;                 // position in drives_, -1 for none
  std::vector<std::string> dirNames_;     // in the order the file system gives them
  std::vector<std::string> shownNames_;   // dirNames_ as the list shows them, sorted
};

}  // namespace lumbra
