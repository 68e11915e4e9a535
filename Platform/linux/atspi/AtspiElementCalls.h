#pragma once

// What a fetch asks of one element, in two rounds: the basics (role, name,
// description, parent, child count, and states where they matter), then, once the
// role is known, what the fetch wants and the role needs, each one call or none.

#include <memory>

#include "Platform/linux/atspi/AtspiFetch.h"

namespace zoba::platform::linux_backend::atspi {

class Engine;

// The first round, from the bridge's cache where it holds the element.
void askBasics(Engine& engine, const std::shared_ptr<Fetch>& fetch);
// The second round, once the first is in.
void askDetails(Engine& engine, const std::shared_ptr<Fetch>& fetch);
void askStates(Engine& engine, const std::shared_ptr<Fetch>& fetch);

}  // namespace zoba::platform::linux_backend::atspi
