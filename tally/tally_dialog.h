// fennow's window "ファイル　チェック" without its toolkit: the controls by their ids, the view
// a window implements (TallyView), and the model that takes every decision (TallyDialog).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/language.h"
#include "tally/tally.h"

namespace lumbra {

enum class TallyControl : int {
  Ok = 1,        // Enter: closes the window, as "終了" does
  Quit = 2,      // "終了", Esc and the close box
  Dir = 1001,    // the edit DIR
  Start = 1004,  // "開始"
  FileCount = 1006,
  ByteTotal = 1007,
  DirCount = 1008,
  Browse = 1022,  // "参照"
};

inline constexpr std::string_view kTallyTitle = platform::TrLater("ファイル　チェック");
inline constexpr std::string_view kTallyDirLabel = "DIR";
inline constexpr std::string_view kTallyBrowseLabel = platform::TrLater("参照");
inline constexpr std::string_view kTallyStartLabel = platform::TrLater("開始");
inline constexpr std::string_view kTallyQuitLabel = platform::TrLater("終了");
inline constexpr std::string_view kTallyAboutMenuText =
    platform::TrLater("バージョン情報(fennow) (&A)...");
inline constexpr std::string_view kTallyAboutTitle = platform::TrLater("バージョン情報(fennow)");
inline constexpr std::string_view kTallyAboutText = "fennow Version 1.0";
inline constexpr int kTallyAboutCommand = 16;

// What the window does for the model. Texts are UTF-8; the DIR edit holds a path as typed.
class TallyView {
 public:
  virtual ~TallyView() = default;
  virtual std::string Text(TallyControl edit) = 0;
  virtual void SetText(TallyControl control, std::string_view text) = 0;
  // The directory chooser, run modally from `start`; nullopt when it was cancelled.
  virtual std::optional<std::string> ChooseDirectory(std::string_view start) = 0;
  virtual void ShowAbout(std::string_view title, std::string_view text) = 0;
  // A message box with an OK button ("\r" is a line break).
  virtual void ShowMessage(std::string_view text) = 0;
  virtual void Close() = 0;
};

class TallyDialog {
 public:
  explicit TallyDialog(TallyView& view) : view_(view) {}

  // A click on a control, Enter (Ok) or Esc and the close box (Quit).
  void OnCommand(TallyControl control);
  // A command of the window's menu: the about box when `command`, with its low four bits
  // masked off, is kTallyAboutCommand. False for every other command.
  bool OnSystemCommand(int command);

  const TallyCounts& counts() const { return counts_; }

 private:
  void Browse();
  void Start();

  TallyView& view_;
  std::string dir_;
  TallyCounts counts_;
};

}  // namespace lumbra
