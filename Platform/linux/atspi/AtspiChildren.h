#pragma once

// An element's children: how they are asked for (a search for the ones shown, all
// of them, or one by one), and what they become once their answers are in: the
// entry a combo box holds and the children a user can see.

#include <memory>

#include "Platform/linux/atspi/AtspiFetch.h"

namespace zoba::platform::linux_backend::atspi {

class Engine;

// Part of a fetch's second round: its children, as the toolkit can give them.
void askChildren(Engine& engine, const std::shared_ptr<Fetch>& fetch);
// Settles whether a combo box holds a text entry, from its children's roles.
void findEntryChild(Engine& engine, Fetch& fetch);
// Settles the children the user can see, from the children's states; false when
// they were settled already or there are no children to settle.
bool settleShownChildren(Engine& engine, Fetch& fetch);
// Serves replies until what settling the children waits for is in, or `deadline`:
// whether it is.
bool waitForChildren(Engine& engine, Fetch& fetch, double deadline);

}  // namespace zoba::platform::linux_backend::atspi
