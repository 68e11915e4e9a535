#pragma once

// Coroutine tasks bound to the main thread. A capture is written as a plain
// sequence of steps; it suspends only where it waits (timers, work on another
// thread) and the main loop serves requests, chords and animations meanwhile.
//
// A Task is lazy: it starts when it is awaited or detached. Tasks are never
// cancelled; every awaitable here resumes its coroutine exactly once, on the main
// thread.

#include <coroutine>
#include <exception>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

#include "Platform/Platform.h"

namespace zoba {

template <typename T = void>
class Task;

namespace task_detail {

template <typename T>
struct Result {
  std::optional<T> value;
  void return_value(T v) { value.emplace(std::move(v)); }
  T take() { return std::move(*value); }
};

template <>
struct Result<void> {
  void return_void() {}
  void take() {}
};

}  // namespace task_detail

template <typename T>
class Task {
 public:
  struct promise_type : task_detail::Result<T> {
    std::coroutine_handle<> continuation;
    bool detached = false;

    Task get_return_object() { return Task(std::coroutine_handle<promise_type>::from_promise(*this)); }
    std::suspend_always initial_suspend() noexcept { return {}; }

    struct FinalAwaiter {
      bool await_ready() noexcept { return false; }
      std::coroutine_handle<> await_suspend(std::coroutine_handle<promise_type> self) noexcept {
        promise_type& promise = self.promise();
        if (promise.continuation) return promise.continuation;
        if (promise.detached) self.destroy();  // nobody will read the result
        return std::noop_coroutine();
      }
      void await_resume() noexcept {}
    };
    FinalAwaiter final_suspend() noexcept { return {}; }
    // Errors travel as values; an exception escaping a task is a bug.
    void unhandled_exception() noexcept { std::terminate(); }
  };

  Task(Task&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
  Task& operator=(Task&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, {});
    }
    return *this;
  }
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;
  ~Task() { reset(); }

  auto operator co_await() && noexcept {
    struct Awaiter {
      std::coroutine_handle<promise_type> handle;
      bool await_ready() noexcept { return false; }
      std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept {
        handle.promise().continuation = awaiting;
        return handle;
      }
      T await_resume() { return handle.promise().take(); }
    };
    return Awaiter{handle_};
  }

  // Starts the task without waiting for it; its frame frees itself when it ends.
  void detach() && {
    auto handle = std::exchange(handle_, {});
    handle.promise().detached = true;
    handle.resume();
  }

 private:
  explicit Task(std::coroutine_handle<promise_type> handle) : handle_(handle) {}
  void reset() {
    if (handle_) handle_.destroy();
    handle_ = {};
  }

  std::coroutine_handle<promise_type> handle_;
};

// Resumes the awaiting coroutine on the main thread after `seconds`.
struct sleepFor {
  double seconds;
  bool await_ready() const noexcept { return false; }
  void await_suspend(std::coroutine_handle<> handle) const {
    platform::current().runLoop->after(seconds, [handle] { handle.resume(); });
  }
  void await_resume() const noexcept {}
};

// Resumes the awaiting coroutine once the main loop has served what waits now
// (posted requests, due timers): a long job on the main thread yields with it.
struct yieldToLoop {
  bool await_ready() const noexcept { return false; }
  void await_suspend(std::coroutine_handle<> handle) const {
    platform::current().runLoop->post([handle] { handle.resume(); });
  }
  void await_resume() const noexcept {}
};

// Runs `work` on a thread of its own and resumes the awaiting coroutine on the
// main thread with its result. For pixel work that would stall animations.
template <typename Work>
class offMainThread {
 public:
  using Value = std::invoke_result_t<Work&>;

  explicit offMainThread(Work work) : work_(std::move(work)) {}

  bool await_ready() const noexcept { return false; }
  void await_suspend(std::coroutine_handle<> handle) {
    std::thread([this, handle] {
      if constexpr (std::is_void_v<Value>) {
        work_();
      } else {
        result_.emplace(work_());
      }
      platform::current().runLoop->post([handle] { handle.resume(); });
    }).detach();
  }
  Value await_resume() {
    if constexpr (!std::is_void_v<Value>) return std::move(*result_);
  }

 private:
  Work work_;
  std::conditional_t<std::is_void_v<Value>, bool, std::optional<Value>> result_{};
};

}  // namespace zoba
