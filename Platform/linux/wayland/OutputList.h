#pragma once

// The outputs of one Wayland connection: wl_output for the scale and the mode, and
// xdg_output for where each sits in the compositor's layout, in logical pixels (the
// points the window rectangles use).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Platform/linux/wayland/WaylandConnection.h"
#include "ZobaCaptureCore/Rect.h"

struct zxdg_output_manager_v1;
struct zxdg_output_v1;

namespace zoba::platform::linux_backend::wayland {

struct OutputFacts {
  std::string name;
  Rect logical;  // layout coordinates, y down
  std::int32_t scale = 1;
  wl_output* output = nullptr;  // owned by the OutputList that listed it
};

class OutputList {
 public:
  // Binds every output the connection offers and reads their facts (two round
  // trips). Outputs without a size yet are left out.
  explicit OutputList(const WaylandConnection& connection);
  OutputList(OutputList&&) = default;
  OutputList& operator=(OutputList&&) = default;
  ~OutputList();

  std::vector<OutputFacts> list() const;

  struct Bound;  // one bound output and what it said (OutputList.cpp)

 private:
  std::vector<std::unique_ptr<Bound>> outputs_;
  ProxyPtr<zxdg_output_manager_v1> manager_{nullptr, nullptr};
};

// The output that shows most of `rect` (layout coordinates); null when none does.
const OutputFacts* outputHolding(const std::vector<OutputFacts>& outputs, const Rect& rect);

// The part of `a` inside `b`; an empty rectangle when they do not meet.
Rect intersection(const Rect& a, const Rect& b);

}  // namespace zoba::platform::linux_backend::wayland
