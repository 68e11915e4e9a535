// The flags word built from raw key events: what the chord detector sees.
#include <gtest/gtest.h>

#include <vector>

#include "Platform/Events.h"
#include "Platform/linux/x11/ModifierState.h"

namespace zoba::platform::linux_backend {
namespace {

namespace F = ModifierFlag;

struct Key {
  std::uint8_t keycode;
  std::uint32_t keysym;
  bool pressed;
};

struct Case {
  const char* name;
  std::vector<Key> events;
  std::uint64_t flags;
};

constexpr std::uint8_t shiftLKey = 50, shiftRKey = 62, altLKey = 64, altRKey = 108, ctrlLKey = 37,
                       ctrlRKey = 105, superLKey = 133, superRKey = 134, capsKey = 66, letterA = 38;
constexpr std::uint32_t letterASym = 0x61;

TEST(ModifierState, FlagsWordFromKeyEvents) {
  const std::vector<Case> cases = {
      {"nothing held", {}, 0},
      {"left shift", {{shiftLKey, Keysym::shiftL, true}}, F::leftShift | F::shift},
      {"both shifts",
       {{shiftLKey, Keysym::shiftL, true}, {shiftRKey, Keysym::shiftR, true}},
       F::leftShift | F::rightShift | F::shift},
      {"one shift released of two",
       {{shiftLKey, Keysym::shiftL, true},
        {shiftRKey, Keysym::shiftR, true},
        {shiftLKey, Keysym::shiftL, false}},
       F::rightShift | F::shift},
      {"alt keys are option",
       {{altLKey, Keysym::altL, true}, {altRKey, Keysym::altR, true}},
       F::leftOption | F::rightOption | F::option},
      {"meta is option", {{altLKey, Keysym::metaL, true}}, F::leftOption | F::option},
      {"AltGr is the right option", {{altRKey, Keysym::isoLevel3Shift, true}}, F::rightOption | F::option},
      {"super keys are command",
       {{superLKey, Keysym::superL, true}, {superRKey, Keysym::superR, true}},
       F::leftCommand | F::rightCommand | F::command},
      {"control keys",
       {{ctrlLKey, Keysym::controlL, true}, {ctrlRKey, Keysym::controlR, true}},
       F::leftControl | F::rightControl | F::control},
      {"other keys add nothing",
       {{letterA, letterASym, true}, {shiftLKey, Keysym::shiftL, true}},
       F::leftShift | F::shift},
      {"release of a key that is not down",
       {{shiftRKey, Keysym::shiftR, false}, {shiftLKey, Keysym::shiftL, true}},
       F::leftShift | F::shift},
      {"repeated press then one release",
       {{shiftLKey, Keysym::shiftL, true},
        {shiftLKey, Keysym::shiftL, true},
        {shiftLKey, Keysym::shiftL, false}},
       0},
      {"two keycodes with one keysym need both released",
       {{shiftLKey, Keysym::shiftL, true}, {51, Keysym::shiftL, true}, {shiftLKey, Keysym::shiftL, false}},
       F::leftShift | F::shift},
      {"caps lock toggles on press only",
       {{capsKey, Keysym::capsLock, true}, {capsKey, Keysym::capsLock, false}},
       F::capsLock},
      {"caps lock twice is off",
       {{capsKey, Keysym::capsLock, true},
        {capsKey, Keysym::capsLock, false},
        {capsKey, Keysym::capsLock, true}},
       0},
  };
  for (const auto& c : cases) {
    ModifierState state;
    for (const auto& key : c.events) state.apply(key.keycode, key.keysym, key.pressed);
    EXPECT_EQ(state.flags(), c.flags) << c.name;
  }
}

TEST(ModifierState, ReportsOnlyChanges) {
  ModifierState state;
  EXPECT_TRUE(state.apply(shiftLKey, Keysym::shiftL, true));
  EXPECT_FALSE(state.apply(shiftLKey, Keysym::shiftL, true)) << "auto-repeat";
  EXPECT_FALSE(state.apply(letterA, letterASym, true));
  EXPECT_FALSE(state.apply(shiftRKey, Keysym::shiftR, false)) << "release of a key not down";
  EXPECT_TRUE(state.apply(shiftLKey, Keysym::shiftL, false));
  EXPECT_TRUE(state.setCapsLock(true));
  EXPECT_FALSE(state.setCapsLock(true));
}

TEST(ModifierState, KeyKeepsItsBitWhenTheMappingChangesWhileHeld) {
  ModifierState state;
  state.apply(altRKey, Keysym::altR, true);
  // The key now reads as a letter; its release still clears the option bit.
  state.apply(altRKey, letterASym, false);
  EXPECT_EQ(state.flags(), 0u);
}

TEST(ModifierState, KeysymOfAMappingRow) {
  const std::vector<std::uint32_t> altMeta = {Keysym::none, Keysym::altL, Keysym::none, Keysym::metaL};
  const std::vector<std::uint32_t> letter = {letterASym, 0x41};
  const std::vector<std::uint32_t> empty = {Keysym::none, Keysym::none};
  const std::vector<std::uint32_t> letterThenShift = {letterASym, Keysym::shiftR};
  EXPECT_EQ(keysymOfRow(altMeta), Keysym::altL);
  EXPECT_EQ(keysymOfRow(letter), letterASym);
  EXPECT_EQ(keysymOfRow(empty), Keysym::none);
  EXPECT_EQ(keysymOfRow(letterThenShift), Keysym::shiftR);
  EXPECT_EQ(keysymOfRow({}), Keysym::none);
}

}  // namespace
}  // namespace zoba::platform::linux_backend
