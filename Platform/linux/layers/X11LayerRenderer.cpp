// Placeholder until the X11 renderer lands: commits are dropped.
#include "Platform/linux/Backends.h"

namespace zoba::platform::linux_backend {

namespace {
class DroppingRenderer final : public LayerRenderer {
 public:
  void commit(std::shared_ptr<const RenderTree>) override {}
};
}  // namespace

std::unique_ptr<LayerRenderer> makeLayerRenderer() { return std::make_unique<DroppingRenderer>(); }

}  // namespace zoba::platform::linux_backend
