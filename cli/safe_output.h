// An output file that appears under its name only when the job that writes it succeeds: the
// job writes a temporary file in the target's folder, which is renamed over the target at the
// end, so that a failed job leaves any previous file as it was.
#ifndef QUILLET_CLI_SAFE_OUTPUT_H
#define QUILLET_CLI_SAFE_OUTPUT_H

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#if !defined(_WIN32)
#include <sys/types.h>
#endif

namespace quillet::cli {

// The target that stands for standard output.
inline constexpr const char* kStandardOutput = "-";

class SafeOutput {
 public:
  // Creates the empty temporary file (for "-", and a file this process holds open for writing,
  // in the system's temporary folder), after removing the temporary files that ended processes
  // left in that folder; nullopt and the reason, naming the folder, when it cannot be created
  // or the target is a directory, a link of another user in a folder others may write to, a
  // dangling link that is not the caller's own in a folder only the caller may write, or a file
  // with another hard link that would be written through. The temporary file stays open: the
  // job writes it through its descriptor, so that nobody can swap the name for a link. A
  // target that is a device or a pipe gets no temporary file (see Direct), nor does a writable
  // file in a folder that refuses one to this user (see InPlace). Until the temporary file is
  // settled, a terminating signal removes it. refuseFolder: why no file may be written into
  // that folder (the one the file lands in, after links), or empty.
  using FolderRule = std::function<std::string(const std::string& folder)>;
  static std::optional<SafeOutput> Create(const std::string& target, std::string* error,
                                          const FolderRule& refuseFolder = nullptr);

  SafeOutput(SafeOutput&& other) noexcept;
  SafeOutput& operator=(SafeOutput&&) = delete;
  SafeOutput(const SafeOutput&) = delete;
  SafeOutput& operator=(const SafeOutput&) = delete;
  // Removes the temporary file unless Commit or Abandon dealt with it.
  ~SafeOutput();

  // Where the job writes: the temporary file (through its open descriptor where the system
  // shows one as a path), or the target itself when Direct.
  const std::string& TemporaryPath() const { return temporary_; }
  // The temporary file's own name, as a person finds it in its folder.
  const std::string& TemporaryFileName() const { return name_; }
  // The target is no regular file (a device, a pipe): written directly, nothing to replace or
  // keep, and Commit and Abandon do nothing.
  bool Direct() const { return direct_; }
  // The target is a file this process holds open for writing (/dev/stdout redirected to it,
  // with > or >>): Commit writes the finished file through that descriptor, at its position or
  // its end as the descriptor's mode says, never truncating or replacing it.
  bool Held() const { return held_ >= 0; }
  // Why the target is written directly although it is a regular file: its folder cannot take
  // the temporary file. Empty otherwise.
  const std::string& InPlace() const { return inPlace_; }

  // Puts the finished file in place: renamed over the target (only while the temporary name
  // is still the file this process created), for "-" copied to out, or copied through the held
  // descriptor. Empty, or the reason with the path when that failed.
  std::string Commit(std::ostream& out);
  // After a failure: removes the temporary file, or keeps it as TARGET.partial. Empty, or the
  // reason with the path when keeping it failed.
  std::string Abandon(bool keepPartial);

 private:
#if defined(_WIN32)
  struct Previous {};
#else
  // The file that the target replaces, whose mode and owner the new one takes.
  struct Previous {
    mode_t mode;
    uid_t owner;
    gid_t group;
  };
#endif

  SafeOutput(std::string target, std::string temporary, std::optional<Previous> previous,
             bool direct, std::string inPlace = "")
      : target_(std::move(target)),
        temporary_(std::move(temporary)),
        name_(temporary_),
        previous_(previous),
        direct_(direct),
        inPlace_(std::move(inPlace)) {}

  void TakePreviousMode() const;
  // Empty while the temporary name is still the file this process created, else the reason.
  std::string Swapped() const;
  // Closes the temporary file's descriptor and removes the name.
  void Remove();
  // Copies the temporary file through the descriptor; empty, or the reason.
  std::string CopyTo(int descriptor) const;

  std::string target_;
  std::string temporary_;
  // The temporary file's name in its folder (temporary_ may be its descriptor's path).
  std::string name_;
  std::optional<Previous> previous_;
  bool direct_ = false;
  std::string inPlace_;
  bool settled_ = false;
  // The open temporary file, and the descriptor of a held target, or -1.
  int descriptor_ = -1;
  int held_ = -1;
};

// The name of a temporary file for the target's file name in its folder: hidden, no longer
// than the longest file name when the target's name is not, and telling the machine and the
// process that writes it.
std::string TemporaryName(const std::string& name);

// Removes from the folder the temporary files of this user that ended processes of this
// machine left behind (a kill -9, a crash).
void RemoveStaleTemporaries(const std::string& folder);

// "path: reason" from the system's last error number.
std::string SystemReason(const std::string& path);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_SAFE_OUTPUT_H
