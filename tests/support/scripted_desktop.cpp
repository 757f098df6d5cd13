#include "support/scripted_desktop.h"

bool ScriptedDesktop::IsKeyDown(int virtual_key) {
  key_queries.push_back(virtual_key);
  return held_.count(virtual_key) != 0;
}

int ScriptedDesktop::ShowMessageBox(const common::WideString& text,
                                    const common::WideString& caption,
                                    std::uint32_t style) {
  boxes.push_back({std::u16string(text.View()), !caption.IsAbsent(),
                   std::u16string(caption.View()), style});
  if (while_shown_) while_shown_();
  if ((style & 0x0F) != desktop::MB_YESNO) return desktop::IDOK;
  if (answers_.empty()) return desktop::IDNO;
  const int answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void ScriptedDesktop::ShowProgress(const common::WideString& title,
                                   desktop::ProgressFeed& feed) {
  progress.push_back({std::u16string(title.View()), {}, false});
  for (int update = 0;; ++update) {
    if (update == cancel_at_ || (cancel_when_ && cancel_when_())) {
      feed.Cancel();
      progress.back().cancelled = true;
      return;
    }
    desktop::ProgressView view;
    if (!feed.Update(&view)) return;
    progress.back().views.push_back(view);
    feed.Wait(250);
  }
}

bool ScriptedDesktop::Interrupt() {
  const std::lock_guard<std::mutex> lock(watch_mutex_);
  if (!watch_) return false;
  watch_();
  return true;
}

std::unique_ptr<desktop::RunWatch> ScriptedDesktop::WatchRun(
    const std::function<void()>& cancel) {
  struct Watch : desktop::RunWatch {
    explicit Watch(ScriptedDesktop& desktop) : desktop_(desktop) {}
    ~Watch() override {
      const std::lock_guard<std::mutex> lock(desktop_.watch_mutex_);
      desktop_.watch_ = nullptr;
    }
    ScriptedDesktop& desktop_;
  };
  const std::lock_guard<std::mutex> lock(watch_mutex_);
  watch_ = cancel;
  return std::make_unique<Watch>(*this);
}
