// Presses and releases the helper's chord (both Shift keys) once through XTEST, for
// tests that drive the helper from outside C++ (the Node client's). Exits 1 without a
// display or XTEST.
#include "tests/support/Keyboard.h"

int main() {
  zoba::testing::Keyboard keyboard;
  return keyboard.pressChord() ? 0 : 1;
}
