// The chord's sway bindings as text: the commands for each pair and which `binding`
// events (recorded from sway 1.7) are this process's chords.
#include <gtest/gtest.h>

#include <string>

#include "Platform/Events.h"
#include "Platform/linux/wayland/sway/ChordBindings.h"

namespace zoba::platform::linux_backend::wayland {
namespace {

namespace Flag = ModifierFlag;

constexpr std::uint64_t shiftPair = Flag::leftShift | Flag::rightShift;
constexpr std::uint64_t optionPair = Flag::leftOption | Flag::rightOption;
constexpr std::uint64_t commandPair = Flag::leftCommand | Flag::rightCommand;

TEST(ChordBindings, CommandsBindBothOrdersOfTheWatchedPairsOnly) {
  const ChordBindings bindings("zoba-chord-7");
  struct Case {
    std::uint64_t keys;
    const char* bind;
    const char* unbind;
  };
  const Case cases[] = {
      {0, "", ""},
      {Flag::control | Flag::leftControl, "", ""},
      {shiftPair,
       "bindsym --no-repeat --inhibited Shift+Shift_R nop zoba-chord-7 shift; "
       "bindsym --no-repeat --inhibited Shift+Shift_L nop zoba-chord-7 shift",
       "unbindsym --inhibited Shift+Shift_R; unbindsym --inhibited Shift+Shift_L"},
      // One key of a pair watches the pair.
      {Flag::rightCommand,
       "bindsym --no-repeat --inhibited Mod4+Super_R nop zoba-chord-7 command; "
       "bindsym --no-repeat --inhibited Mod4+Super_L nop zoba-chord-7 command",
       "unbindsym --inhibited Mod4+Super_R; unbindsym --inhibited Mod4+Super_L"},
      {optionPair,
       "bindsym --no-repeat --inhibited Mod1+Alt_R nop zoba-chord-7 option; "
       "bindsym --no-repeat --inhibited Mod1+Alt_L nop zoba-chord-7 option; "
       "bindsym --no-repeat --inhibited Mod1+ISO_Level3_Shift nop zoba-chord-7 option; "
       "bindsym --no-repeat --inhibited Mod5+Alt_L nop zoba-chord-7 option",
       "unbindsym --inhibited Mod1+Alt_R; unbindsym --inhibited Mod1+Alt_L; "
       "unbindsym --inhibited Mod1+ISO_Level3_Shift; unbindsym --inhibited Mod5+Alt_L"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    EXPECT_EQ(bindings.bindCommands(c.keys), c.bind);
    EXPECT_EQ(bindings.unbindCommands(c.keys), c.unbind);
  }
  EXPECT_EQ(ChordBindings::allPairs(), shiftPair | optionPair | commandPair);
  EXPECT_EQ(ChordBindings::pairsOf(Flag::leftShift | Flag::leftOption | Flag::capsLock),
            shiftPair | optionPair);
}

TEST(ChordBindings, OnlyThisProcesssBindingEventsAreChords) {
  const ChordBindings bindings("zoba-chord-4242");
  struct Case {
    const char* name;
    const char* payload;
    std::optional<std::uint64_t> chord;
  };
  const Case cases[] = {
      {"shift",
       R"({"change":"run","binding":{"command":"nop zoba-chord-4242 shift","event_state_mask":["Shift"],"input_codes":[],"input_code":0,"symbols":["Shift_R"],"symbol":"Shift_R","input_type":"keyboard"}})",
       shiftPair | Flag::shift},
      {"option",
       R"({"change":"run","binding":{"command":"nop zoba-chord-4242 option","event_state_mask":["Mod1"],"input_codes":[],"input_code":0,"symbols":["Alt_R"],"symbol":"Alt_R","input_type":"keyboard"}})",
       optionPair | Flag::option},
      {"command",
       R"({"change":"run","binding":{"command":"nop zoba-chord-4242 command","event_state_mask":["Mod4"],"input_codes":[],"input_code":0,"symbols":["Super_L"],"symbol":"Super_L","input_type":"keyboard"}})",
       commandPair | Flag::command},
      {"the user's own binding",
       R"({"change":"run","binding":{"command":"nop other","event_state_mask":["Control"],"input_codes":[],"input_code":0,"symbols":["x"],"symbol":"x","input_type":"keyboard"}})",
       std::nullopt},
      {"another helper's", R"({"change":"run","binding":{"command":"nop zoba-chord-42 shift"}})",
       std::nullopt},
      {"a longer pid", R"({"change":"run","binding":{"command":"nop zoba-chord-42420 shift"}})",
       std::nullopt},
      {"an unknown pair", R"({"change":"run","binding":{"command":"nop zoba-chord-4242 control"}})",
       std::nullopt},
      {"a trailing word", R"({"change":"run","binding":{"command":"nop zoba-chord-4242 shift x"}})",
       std::nullopt},
      {"not a run", R"({"change":"other","binding":{"command":"nop zoba-chord-4242 shift"}})", std::nullopt},
      {"command not a string", R"({"change":"run","binding":{"command":7}})", std::nullopt},
      {"binding not an object", R"({"change":"run","binding":[]})", std::nullopt},
      {"not json", "nop zoba-chord-4242 shift", std::nullopt},
      {"empty", "", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(bindings.chordOf(c.payload), c.chord);
  }
}

}  // namespace
}  // namespace zoba::platform::linux_backend::wayland
