#pragma once

// The layer service on the in-memory platform is the real model; its renderer
// keeps every committed tree so tests can read what would be on screen at any
// time of the virtual clock.

#include <memory>
#include <vector>

#include "Platform/Layers.h"

namespace zoba::fakes {

class FakeLayerRenderer final : public platform::LayerRenderer {
 public:
  void commit(std::shared_ptr<const platform::RenderTree> tree) override {
    commits.push_back(std::move(tree));
  }

  // The newest tree; an empty one before the first commit.
  const platform::RenderTree& current() const { return commits.empty() ? empty_ : *commits.back(); }
  std::size_t shownPanels() const { return current().panels.size(); }

  std::vector<std::shared_ptr<const platform::RenderTree>> commits;

 private:
  platform::RenderTree empty_;
};

}  // namespace zoba::fakes
