#include "Platform/linux/wayland/sway/ChordBindings.h"

#include <array>
#include <nlohmann/json.hpp>

#include "Platform/Events.h"

namespace zoba::platform::linux_backend::wayland {

namespace {

namespace Flag = ModifierFlag;

struct Pair {
  std::string_view name;  // in the binding's command
  std::uint64_t keys;     // both device bits
  std::uint64_t modifier;
  // sway key combinations: the modifier held by one key, the other key pressed. sway
  // matches a binding's modifiers exactly, as they were before the key went down.
  std::array<std::string_view, 4> combos;
};

// AltGr (ISO_Level3_Shift, Mod5) is the right Alt key on many layouts, as on X11.
constexpr std::array<Pair, 3> pairs{{
    {"shift", Flag::leftShift | Flag::rightShift, Flag::shift, {"Shift+Shift_R", "Shift+Shift_L"}},
    {"option",
     Flag::leftOption | Flag::rightOption,
     Flag::option,
     {"Mod1+Alt_R", "Mod1+Alt_L", "Mod1+ISO_Level3_Shift", "Mod5+Alt_L"}},
    {"command", Flag::leftCommand | Flag::rightCommand, Flag::command, {"Mod4+Super_R", "Mod4+Super_L"}},
}};

template <class Each>
std::string commands(std::uint64_t deviceBits, Each each) {
  std::string out;
  for (const auto& pair : pairs) {
    if (!(pair.keys & deviceBits)) continue;
    for (auto combo : pair.combos) {
      if (combo.empty()) continue;
      if (!out.empty()) out += "; ";
      each(out, pair, combo);
    }
  }
  return out;
}

// The string at `key`, empty when it is missing or not a string.
std::string stringAt(const nlohmann::json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

}  // namespace

std::uint64_t ChordBindings::allPairs() {
  std::uint64_t bits = 0;
  for (const auto& pair : pairs) bits |= pair.keys;
  return bits;
}

std::uint64_t ChordBindings::pairsOf(std::uint64_t deviceBits) {
  std::uint64_t bits = 0;
  for (const auto& pair : pairs) {
    if (pair.keys & deviceBits) bits |= pair.keys;
  }
  return bits;
}

std::string ChordBindings::bindCommands(std::uint64_t deviceBits) const {
  // --no-repeat: a held key's repeats are not new chords. --inhibited: the chord works
  // in front of a client that inhibits the compositor's shortcuts too (a virtual
  // machine's window), as raw key events do on X11.
  return commands(deviceBits, [this](std::string& out, const Pair& pair, std::string_view combo) {
    out.append("bindsym --no-repeat --inhibited ")
        .append(combo)
        .append(" nop ")
        .append(tag_)
        .append(" ")
        .append(pair.name);
  });
}

std::string ChordBindings::unbindCommands(std::uint64_t deviceBits) const {
  return commands(deviceBits, [](std::string& out, const Pair&, std::string_view combo) {
    // sway finds a binding by its keys and the flags that tell bindings apart
    // (--inhibited is one, --no-repeat is not).
    out.append("unbindsym --inhibited ").append(combo);
  });
}

std::optional<std::uint64_t> ChordBindings::chordOf(std::string_view eventPayload) const {
  const auto event = nlohmann::json::parse(eventPayload, nullptr, false);
  if (!event.is_object() || stringAt(event, "change") != "run") return std::nullopt;
  const auto binding = event.find("binding");
  if (binding == event.end() || !binding->is_object()) return std::nullopt;
  const std::string command = stringAt(*binding, "command");
  const std::string_view prefix = "nop ";
  if (command.size() < prefix.size() + tag_.size() + 1 || !command.starts_with(prefix)) return std::nullopt;
  std::string_view rest(command);
  rest.remove_prefix(prefix.size());
  if (!rest.starts_with(tag_) || rest[tag_.size()] != ' ') return std::nullopt;
  rest.remove_prefix(tag_.size() + 1);
  for (const auto& pair : pairs) {
    if (rest == pair.name) return pair.keys | pair.modifier;
  }
  return std::nullopt;
}

}  // namespace zoba::platform::linux_backend::wayland
