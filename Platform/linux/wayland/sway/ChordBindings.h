#pragma once

// sway passes no key events of other clients to us, so the chord's keys are claimed as
// key bindings of the compositor: `bindsym --no-repeat --inhibited Shift+Shift_R nop
// TAG shift` fires when the right key goes down while the left one holds the modifier,
// its mirror for the other order, and a `binding` event tells us. Pure text in, text
// out: tested without sway.
//
// What the focused window sees differs from X11: sway keeps the press and the release
// of a key that completed a binding from the client (it still gets the first key's
// press and release and the modifier state throughout). A `--release` binding would
// leave every key to the client but fire only when the key comes up; a binding of the
// second key without the modifier fires on the first key alone and eats it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zoba::platform::linux_backend::wayland {

class ChordBindings {
 public:
  // `tag` is written into every binding's command so that this process knows its own
  // bindings' events from those of another helper (or of one that died).
  explicit ChordBindings(std::string tag) : tag_(std::move(tag)) {}

  // The device bits of every pair these bindings can watch.
  static std::uint64_t allPairs();
  // The pairs any of whose keys are in `deviceBits`.
  static std::uint64_t pairsOf(std::uint64_t deviceBits);

  // sway commands (joined with ';') that add, or remove, the bindings of the pairs in
  // `deviceBits`; empty when there are none.
  std::string bindCommands(std::uint64_t deviceBits) const;
  std::string unbindCommands(std::uint64_t deviceBits) const;

  // The modifier-flags word of the chord a `binding` event's payload reports (both
  // keys of the pair and the modifier down), when the binding is one of ours.
  std::optional<std::uint64_t> chordOf(std::string_view eventPayload) const;

  const std::string& tag() const { return tag_; }

 private:
  std::string tag_;
};

}  // namespace zoba::platform::linux_backend::wayland
