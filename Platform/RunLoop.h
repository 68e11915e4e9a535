#pragma once

#include <functional>

namespace zoba::platform {

// The main thread's event loop. Everything the service owns lives on it.
class RunLoop {
 public:
  virtual ~RunLoop() = default;
  // Serves the main thread until quit().
  virtual void run() = 0;
  virtual void quit() = 0;
  // Queues work for the main thread; callable from any thread.
  virtual void post(std::function<void()> work) = 0;
  // Runs work on the main thread after `seconds`; main thread only.
  virtual void after(double seconds, std::function<void()> work) = 0;
  // Monotonic seconds, the clock animations and deadlines are measured on.
  virtual double now() const = 0;
};

}  // namespace zoba::platform
