#include "testing/scripted_dialog_views.h"

#include <gtest/gtest.h>

namespace lumbra::testing {

std::optional<std::string> RunChooser(const DriveSource& drives, std::string_view start,
                                      const ChooserScript& script, std::string* openedAt) {
  ScriptedChooserView view;
  DirectoryChooser chooser(view, drives, std::string(start));
  chooser.Open();
  if (openedAt != nullptr) *openedAt = view.GetText(DirectoryChooser::kPathEdit);
  for (const std::string& name : script.enter) {
    if (!view.Pick(DirectoryChooser::kDirectoryList, name)) {
      ADD_FAILURE() << "the chooser does not list " << name << " in "
                    << view.GetText(DirectoryChooser::kPathEdit);
      return std::nullopt;
    }
    chooser.OnDirectorySelected();
  }
  if (script.typed) view.SetText(DirectoryChooser::kPathEdit, *script.typed);
  if (!script.ok) {
    chooser.OnCancel();
    return std::nullopt;
  }
  chooser.OnOk();
  return chooser.GetPath();
}

std::optional<std::string> ScriptedDomainsView::ChooseDirectory(std::string_view start) {
  ChooserScript script{.enter = {}, .typed = std::nullopt, .ok = false};
  if (!browses.empty()) {
    script = browses.front();
    browses.pop_front();
  }
  std::string openedAt;
  std::optional<std::string> chosen = RunChooser(drives_, start, script, &openedAt);
  chooserOpenedAt.push_back(openedAt);
  return chosen;
}

}  // namespace lumbra::testing
