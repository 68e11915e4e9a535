#pragma once

// The bridge's own cache of its tree (org.a11y.atspi.Cache): one call for the
// role, states, name and place of every element. Only Chromium's is whole and
// current.

#include <memory>

#include "Platform/linux/atspi/AtspiFetch.h"

namespace zoba::platform::linux_backend::atspi {

class Engine;

// Loads the application's cache unless it is fresh or the bridge has none.
void loadCache(Engine& engine, const std::shared_ptr<Application>& app);
// Fills the fetch's basics from a fresh cache; false when it does not hold the element.
bool fillFromCache(Fetch& fetch);
// Whether the application's cache was loaded within its lifetime.
bool cacheFresh(const Application& app);

}  // namespace zoba::platform::linux_backend::atspi
