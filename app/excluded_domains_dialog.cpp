#include "app/excluded_domains_dialog.h"

#include "core/log_tree.h"
#include "platform/fs.h"
#include "platform/language.h"

namespace lumbra {

void ExcludedDomainsDialog::Open() {
  fileDir_ = platform::CurrentDirectory();
  // Without a readable current directory the file is looked for where we are.
  if (fileDir_.empty()) fileDir_ = ".";
  browseDir_ = fileDir_;
  list_.Load(fileDir_);
  selectedIndex_ = -1;
  ShowList();
  ShowMembers();
}

void ExcludedDomainsDialog::OnAdd() {
  domainText_ = view_.GetText(kDomainEdit);
  if (domainText_.empty()) return;
  if (list_.Add(domainText_)) ShowList();
  selectedIndex_ = -1;
  domainText_.clear();
  ShowMembers();
}

void ExcludedDomainsDialog::OnDelete() {
  if (selectedIndex_ < 0) return;
  list_.RemoveAt(static_cast<std::size_t>(selectedIndex_));
  selectedIndex_ = -1;
  domainText_.clear();
  ShowList();
  ShowMembers();
}

void ExcludedDomainsDialog::OnSelect() {
  domainText_ = view_.GetText(kDomainEdit);
  int index = view_.Selection(kDomainList);
  selectedIndex_ =
      index >= 0 && static_cast<std::size_t>(index) < list_.names().size() ? index : -1;
  if (selectedIndex_ >= 0) domainText_ = list_.names()[static_cast<std::size_t>(selectedIndex_)];
  ShowMembers();
}

void ExcludedDomainsDialog::OnBrowse() {
  domainText_ = view_.GetText(kDomainEdit);
  platform::ChangeDirectory(browseDir_);
  std::optional<std::string> chosen = view_.ChooseDirectory("");
  if (!chosen) return;
  if (std::string now = platform::CurrentDirectory(); !now.empty()) browseDir_ = now;
  if (std::optional<std::string> host = HostOfLogPath(*chosen)) {
    domainText_ = *host;
  } else {
    view_.ShowMessage(platform::Tr(kNotLocalWwwPathMessage));
  }
  ShowMembers();
}

bool ExcludedDomainsDialog::OnUpdate() {
  platform::ChangeDirectory(fileDir_);
  domainText_ = view_.GetText(kDomainEdit);
  bool written = list_.Save(fileDir_);
  view_.Close(true);
  return written;
}

void ExcludedDomainsDialog::OnCancel() {
  platform::ChangeDirectory(fileDir_);
  view_.Close(false);
}

void ExcludedDomainsDialog::ShowList() { view_.SetEntries(kDomainList, list_.names()); }

void ExcludedDomainsDialog::ShowMembers() {
  view_.SetText(kDomainEdit, domainText_);
  // The list's highlight follows the selection the window acts on: none after add or delete.
  view_.Select(kDomainList, selectedIndex_);
}

}  // namespace lumbra
