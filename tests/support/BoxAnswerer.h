#pragma once

#include "ui/MessageBox.h"

#include <deque>
#include <vector>

// Answers the program's message boxes in place of a person and remembers each
// box as it would have been shown. Answers queued with Answer() are given in
// order; without one, a question is answered Yes and any other box OK.
class BoxAnswerer {
public:
  BoxAnswerer() {
    previous_ = ui::SetMessageBoxResponder([this](const ui::MessageBoxRequest &request) {
      Shown.push_back(request);
      if (!answers_.empty()) {
        const int answer = answers_.front();
        answers_.pop_front();
        return answer;
      }
      return (request.Buttons & 0x0F) == ui::MB_YESNO ? ui::IDYES : ui::IDOK;
    });
  }
  ~BoxAnswerer() { ui::SetMessageBoxResponder(previous_); }
  BoxAnswerer(const BoxAnswerer &) = delete;
  BoxAnswerer &operator=(const BoxAnswerer &) = delete;

  void Answer(int button) { answers_.push_back(button); }

  std::vector<ui::MessageBoxRequest> Shown;

private:
  std::deque<int> answers_;
  ui::MessageBoxResponder previous_;
};
