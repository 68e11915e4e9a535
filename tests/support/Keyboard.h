#pragma once

// Key presses, releases and clicks through XTEST, one key at a time, as the X server's own
// input: exactly the events asked for (xdotool adds releases and presses of
// modifiers it finds held).

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace zoba::testing {

class Keyboard {
 public:
  // Connects to $DISPLAY; connected() is false without a display or XTEST.
  Keyboard();
  ~Keyboard();
  Keyboard(const Keyboard&) = delete;
  Keyboard& operator=(const Keyboard&) = delete;

  bool connected() const;
  // Presses or releases the key of `keysymName` ("Shift_L", "Alt_R"...) and returns
  // once the server has processed it; false when the key is not on the keyboard.
  bool press(std::string_view keysymName);
  bool release(std::string_view keysymName);
  // The helper's chord, both Shift keys, pressed and released. `beforeSecond`
  // runs just before the key that completes it goes down, `whileHeld` while both
  // are down: a benchmark's clock starts at the one, a reader waits in the other.
  bool pressChord(const std::function<void()>& beforeSecond = {},
                  const std::function<void()>& whileHeld = {});
  // Moves the pointer to (x, y) on the root and clicks the first button there.
  bool click(int x, int y);

 private:
  bool send(std::string_view keysymName, bool down);
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zoba::testing
