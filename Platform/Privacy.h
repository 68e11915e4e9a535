#pragma once

namespace zoba::platform {

enum class Permission { screenRecording, accessibility };

class Privacy {
 public:
  virtual ~Privacy() = default;
  // Whether the permission is granted now.
  virtual bool preflight(Permission permission) = 0;
  // Asks the user (or the desktop) to grant it; the answer may come later.
  virtual void request(Permission permission) = 0;
};

}  // namespace zoba::platform
