// Placeholder until the AT-SPI backend lands: no application is reachable.
#include "Platform/linux/Backends.h"

namespace zoba::platform::linux_backend {

namespace {
class NoAccessibility final : public Accessibility {
 public:
  std::optional<AXElement> applicationElement(std::int32_t) override { return std::nullopt; }
  void setMessagingTimeout(const AXElement&, double) override {}
  std::optional<AXValue> copyAttributeValue(const AXElement&, std::string_view) override {
    return std::nullopt;
  }
  std::optional<AXArray> copyMultipleAttributeValues(const AXElement&,
                                                     std::span<const std::string>) override {
    return std::nullopt;
  }
  std::optional<std::int64_t> attributeValueCount(const AXElement&, std::string_view) override {
    return std::nullopt;
  }
  std::optional<bool> isAttributeSettable(const AXElement&, std::string_view) override {
    return std::nullopt;
  }
  bool setAttributeValue(const AXElement&, std::string_view, const AXValue&) override { return false; }
  std::unique_ptr<AXObserver> createObserver(std::int32_t, AXNotificationHandler) override { return nullptr; }
};
}  // namespace

std::unique_ptr<Accessibility> makeAccessibility() { return std::make_unique<NoAccessibility>(); }

}  // namespace zoba::platform::linux_backend
