#pragma once
// Typing a password at a terminal without it showing: echo is switched off
// on standard input while an object of this class lives, when standard
// input is a terminal at all.

namespace app {

class HiddenInput {
public:
    HiddenInput();
    ~HiddenInput();
    HiddenInput(const HiddenInput&) = delete;
    HiddenInput& operator=(const HiddenInput&) = delete;

    // Echo was switched off (standard input is a terminal).
    bool active() const { return active_; }

private:
    bool active_ = false;
    unsigned int savedFlags_ = 0;
};

} // namespace app
