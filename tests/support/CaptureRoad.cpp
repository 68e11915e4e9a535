#include "tests/support/CaptureRoad.h"

#include <algorithm>
#include <atomic>
#include <stop_token>
#include <thread>

#include "tests/support/Pixels.h"

namespace zoba::testing {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

bool CaptureRoad::landed() const {
  return std::find(types.begin(), types.end(), "captureLanded") != types.end();
}

bool CaptureRoad::ranWhole() const {
  const std::vector<std::string> whole{"captureSnapshot", "capture", "captureLanded"};
  return types.size() == whole.size() && types.front() == whole.front() &&
         std::is_permutation(types.begin(), types.end(), whole.begin());
}

json CaptureRoad::expectedHotkey() const {
  return json{{"type", "hotkey"},
              {"target", "capture"},
              {"captureId", hotkey.value("captureId", "")},
              {"animated", true}};
}

std::string CaptureRoad::faults() const {
  std::string found;
  if (hotkey != expectedHotkey()) found += "hotkey line " + hotkey.dump() + "; ";
  if (!ranWhole()) found += "lines " + json(types).dump() + "; ";
  if (!overlaySeen) found += "the shutter never covered the window; ";
  return found;
}

namespace {
// Within this of the colour in each channel: the compositor's blending rounds.
constexpr int patchTolerance = 8;
}  // namespace

OverlayPatch::OverlayPatch(std::function<std::optional<platform::Image>()> shoot, std::uint32_t colour)
    : shoot_(std::move(shoot)), colour_(colour) {
  if (auto shot = shoot_()) plainPixels_ = pixelsNear(*shot, colour_, patchTolerance);
}

bool OverlayPatch::covered() const {
  auto shot = shoot_();
  return shot && pixelsNear(*shot, colour_, patchTolerance) < plainPixels_ / 2;
}

std::optional<CaptureRoad> driveCaptureRoad(ChildProcess& helper, const CaptureRoadDesk& desk) {
  CaptureRoad road;
  std::atomic<bool> seen = false;
  std::jthread sampler([&](std::stop_token stop) {
    while (!stop.stop_requested() && !seen) seen = desk.overlayCovers();
    if (seen && desk.whileCovered) desk.whileCovered();
  });
  if (!desk.pressChord()) return std::nullopt;
  road.hotkey = json::parse(helper.readLine(std::chrono::seconds(5)).value_or("{}"), nullptr, false);
  const std::string id = road.hotkey.value("captureId", "");
  if (road.hotkey.value("type", "") != "hotkey") return std::nullopt;
  if (road.hotkey.value("target", "") == "capture") {
    helper.writeLine(json{
        {"type", "captureTarget"}, {"id", "card"}, {"captureId", id}, {"frame", desk.card}, {"radius", 12}}
                         .dump());
    for (const auto deadline = Clock::now() + desk.bound; Clock::now() < deadline && !road.landed();) {
      while (auto line = helper.readLine(std::chrono::milliseconds(20))) {
        auto message = json::parse(*line, nullptr, false);
        const std::string type = message.value("type", "");
        if (type == "response") continue;
        // Another capture's line is a fault the test sees as a wrong type.
        road.types.push_back(message.value("captureId", "") == id ? type : "other:" + type);
        if (type == "capture") road.capture = message["capture"];
      }
    }
  }
  sampler.request_stop();
  sampler.join();
  road.overlaySeen = seen;
  return road;
}

}  // namespace zoba::testing
