// Results of steps that can fail: what a step gives, or why it failed.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

// The steps of ours that a failed system call can be part of.
enum class Step {
  StartThread,
  CreateTemporary,  // a temporary file beside a slot
  Write,
  KeepAttributes,  // the owner, permissions and ACL of what a slot held
  Link,            // giving an unnamed temporary a hidden name
  LinkNewest,      // linking the newest frame's slot beside its name
  Replace,         // EEXIST: something else took the slot's place
  RemoveOld,       // what a slot held, once swapped out
};

// A system call that failed: the step it was part of, and its errno.
struct SystemFailure {
  Step step;
  int error;
};

// Why a run cannot start: the lines that say so.
struct Refusal {
  std::string message;
};

// What a step that gives nothing back came to: done, or its failure.
template <typename Failure = SystemFailure>
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Failure failure) : failure_(std::move(failure)) {}

  bool ok() const { return !failure_; }
  const Failure& failure() const { return *failure_; }

 private:
  std::optional<Failure> failure_;
};

// The value a step gives, or its failure.
template <typename Value, typename Failure = SystemFailure>
class [[nodiscard]] Result {
 public:
  Result(Value value) : value_(std::move(value)) {}
  Result(Failure failure) : value_(std::move(failure)) {}

  bool ok() const { return value_.index() == 0; }
  Value& value() { return std::get<0>(value_); }
  const Failure& failure() const { return std::get<1>(value_); }

 private:
  std::variant<Value, Failure> value_;
};
