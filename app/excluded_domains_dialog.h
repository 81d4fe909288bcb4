// The excluded-domain window ("保存禁止　ドメイン名設定"): edits the list of hosts whose
// files are never stored into the logs, kept in lumbra-url.ini of the directory current when
// the window opens (the start directory; lumbra-cli exclude edits the same file with the same
// rules). The list shows the names sorted, letter case ignored; "更新" writes it in that order
// and closes, Cancel writes nothing. The browse button picks a host directory out of a
// LogTree with the directory chooser.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/excluded_domains.h"
#include "app/modal_view.h"
#include "platform/language.h"

namespace lumbra {

inline constexpr std::string_view kNotLocalWwwPathMessage =
    platform::TrLater("ローカルＷＷＷの正しいパスが指定されていません");

// The window's view: the list, the edit and a modal directory chooser.
class DomainsView : public ModalView {
 public:
  // Runs the directory chooser modally, opened on `start` (empty: the current directory).
  // The chosen path after OK, nullopt after Cancel; the current directory stays wherever the
  // user went in it.
  virtual std::optional<std::string> ChooseDirectory(std::string_view start) = 0;
};

class ExcludedDomainsDialog {
 public:
  // Control ids of the window (template 135, title "保存禁止　ドメイン名設定").
  enum Control : int {
    kUpdate = 1,            // "更新"
    kCancel = 2,            // "ｷｬﾝｾﾙ"
    kHiddenDefault = 1000,  // hidden default button without a command: Enter does nothing
    kAdd = 1008,            // "追加"
    kDelete = 1009,         // "削除"
    kDomainList = 1010,     // list, one selection, notifies changes
    kDomainEdit = 1022,     // edit of one host name
    kBrowse = 1036,         // "参照"
  };

  explicit ExcludedDomainsDialog(DomainsView& view) : view_(view) {}

  // Window initialisation: remembers the current directory and loads the list from there.
  void Open();
  // "追加": adds the edit's name unless it is listed in any letter case; empties the edit.
  void OnAdd();
  // "削除": removes the selected entry; nothing without a selection.
  void OnDelete();
  // The user selected another line of the list: its name goes into the edit.
  void OnSelect();
  // "参照": the chooser, starting where the last confirmed browse ended; the host directory
  // of the chosen LogTree path goes into the edit.
  void OnBrowse();
  // "更新": returns to the file's directory, writes the list (CR LF, safely replaced) and
  // closes with OK. True when the file was written; the window shows nothing either way and
  // the old file stays when it cannot be written.
  bool OnUpdate();
  // Cancel (button, Esc or close box): returns to the file's directory and closes; the file
  // is not touched.
  void OnCancel();

  const ExcludedDomainList& list() const { return list_; }

 private:
  void ShowList();
  void ShowMembers();

  DomainsView& view_;
  ExcludedDomainList list_;
  std::string domainText_;
  int selectedIndex_ = -1;
  std::string browseDir_;  // where the next browse starts
  std::string fileDir_;    // where lumbra-url.ini lies and the window returns on closing
};

}  // namespace lumbra
