// An output file that appears under its name only when the job that writes it succeeds: the
// job writes a temporary file in the target's folder, which is renamed over the target at the
// end, so that a failed job leaves any previous file as it was.
#ifndef QUILLET_CLI_SAFE_OUTPUT_H
#define QUILLET_CLI_SAFE_OUTPUT_H

#include <optional>
#include <ostream>
#include <string>

namespace quillet::cli {

// The target that stands for standard output.
inline constexpr const char* kStandardOutput = "-";

class SafeOutput {
 public:
  // Creates the empty temporary file (for "-" in the system's temporary folder); nullopt and
  // the reason, naming the folder, when it cannot be created.
  static std::optional<SafeOutput> Create(const std::string& target, std::string* error);

  SafeOutput(SafeOutput&& other) noexcept;
  SafeOutput& operator=(SafeOutput&&) = delete;
  SafeOutput(const SafeOutput&) = delete;
  SafeOutput& operator=(const SafeOutput&) = delete;
  // Removes the temporary file unless Commit or Abandon dealt with it.
  ~SafeOutput();

  const std::string& TemporaryPath() const { return temporary_; }

  // Puts the finished file in place: renamed over the target, or for "-" copied to out.
  // Empty, or the reason with the path when that failed.
  std::string Commit(std::ostream& out);
  // After a failure: removes the temporary file, or keeps it as TARGET.partial. Empty, or the
  // reason with the path when keeping it failed.
  std::string Abandon(bool keepPartial);

 private:
  SafeOutput(std::string target, std::string temporary)
      : target_(std::move(target)), temporary_(std::move(temporary)) {}

  std::string target_;
  std::string temporary_;
  bool settled_ = false;
};

// "path: reason" from the system's last error number.
std::string SystemReason(const std::string& path);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_SAFE_OUTPUT_H
