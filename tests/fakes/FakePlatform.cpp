#include "tests/fakes/FakePlatform.h"

#include <chrono>

namespace zoba::fakes {

std::optional<std::string> FakeProcess::executablePath(std::int32_t pid) {
  auto path = paths.find(pid);
  if (path == paths.end()) return std::nullopt;
  return path->second;
}

std::optional<platform::ProcessInfo> FakeProcess::info(std::int32_t pid) {
  auto parent = parents.find(pid);
  if (parent == parents.end()) return std::nullopt;
  return platform::ProcessInfo{pid, parent->second};
}

std::optional<platform::GuestCode> FakeCodeSigning::guest(std::int32_t pid) {
  ++calls;
  auto found = guests.find(pid);
  if (found == guests.end()) return std::nullopt;
  return platform::GuestCode{pid, found->second};
}

std::optional<platform::Requirement> FakeCodeSigning::requirement(std::string_view text) {
  ++calls;
  requirementTexts.emplace_back(text);
  constexpr std::string_view prefix = "anchor apple generic and certificate leaf[subject.OU] = \"";
  if (text.size() <= prefix.size() || !text.starts_with(prefix) || !text.ends_with('"')) return std::nullopt;
  return platform::Requirement{std::string(text),
                               std::string(text.substr(prefix.size(), text.size() - prefix.size() - 1))};
}

int FakeCodeSigning::checkValidity(const platform::GuestCode& guest,
                                   const platform::Requirement& requirement) {
  ++calls;
  bool valid = guest.signing && guest.signing->teamIdentifier == requirement.teamIdentifier;
  return valid ? 0 : -1;
}

class FakeMonitor final : public platform::EventMonitor {
 public:
  FakeMonitor(FakeEvents& events, int token) : events_(events), token_(token) {}
  ~FakeMonitor() override { events_.handlers_.erase(token_); }
  void watchKeys(std::uint64_t deviceBits) override { events_.watchedKeys.push_back(deviceBits); }

 private:
  FakeEvents& events_;
  int token_;
};

std::unique_ptr<platform::EventMonitor> FakeEvents::addGlobalFlagsChangedMonitor(
    std::function<void(std::uint64_t)> handler) {
  if (!available) return nullptr;
  int token = nextToken_++;
  handlers_.emplace(token, std::move(handler));
  return std::make_unique<FakeMonitor>(*this, token);
}

void FakeEvents::flagsChanged(std::uint64_t flags) {
  auto handlers = handlers_;  // a handler may remove its monitor
  for (auto& [token, handler] : handlers) handler(flags);
}

std::optional<platform::Image> FakeWorkspace::icon(const platform::RunningApplication& application) {
  ++iconCalls;
  auto found = icons.find(application.pid);
  if (found == icons.end()) return std::nullopt;
  return found->second;
}

bool FakePrivacy::preflight(platform::Permission permission) {
  return permission == platform::Permission::screenRecording ? screenRecording : accessibility;
}

FakePlatform installFakePlatform() {
  auto services = std::make_unique<platform::Services>();
  auto process = std::make_unique<FakeProcess>();
  auto codeSigning = std::make_unique<FakeCodeSigning>();
  auto runLoop = std::make_unique<FakeRunLoop>();
  auto events = std::make_unique<FakeEvents>();
  auto workspace = std::make_unique<FakeWorkspace>();
  auto privacy = std::make_unique<FakePrivacy>();
  auto accessibility = std::make_unique<FakeAccessibility>();
  auto screenCapture = std::make_unique<FakeScreenCapture>();
  auto renderer = std::make_unique<FakeLayerRenderer>();
  FakeLayerRenderer& layerRenderer = *renderer;
  FakeRunLoop* clock = runLoop.get();
  auto layers = std::make_unique<platform::Layers>(std::move(renderer), [clock] { return clock->now(); });
  FakePlatform fakes{*process, *codeSigning,   *runLoop,       *events, *workspace,
                     *privacy, *accessibility, *screenCapture, *layers, layerRenderer};
  services->process = std::move(process);
  services->codeSigning = std::move(codeSigning);
  services->runLoop = std::move(runLoop);
  services->events = std::move(events);
  services->workspace = std::move(workspace);
  services->privacy = std::move(privacy);
  services->accessibility = std::move(accessibility);
  services->screenCapture = std::move(screenCapture);
  services->layers = std::move(layers);
  platform::install(std::move(services));
  return fakes;
}

}  // namespace zoba::fakes
