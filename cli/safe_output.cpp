#include "safe_output.h"

#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

namespace quillet::cli {
namespace {

bool Replace(const std::string& from, const std::string& to) {
#if defined(_WIN32)
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
  return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

std::string Folder(const std::string& target) {
  if (target == kStandardOutput) {
    std::error_code ignored;
    const std::filesystem::path temporary = std::filesystem::temp_directory_path(ignored);
    return temporary.empty() ? "." : temporary.string();
  }
  const std::string folder = std::filesystem::path(target).parent_path().string();
  return folder.empty() ? "." : folder;
}

}  // namespace

std::string SystemReason(const std::string& path) { return path + ": " + std::strerror(errno); }

std::optional<SafeOutput> SafeOutput::Create(const std::string& target, std::string* error) {
  const std::string folder = Folder(target);
  const std::string name = target == kStandardOutput
                               ? std::string("quillet-export")
                               : std::filesystem::path(target).filename().string();
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Hidden, and named after the target so that a left-over one is recognised.
    const std::string temporary =
        folder + "/." + name + ".quillet-" + std::to_string(random() % 1000000);
    // Created exclusively: never someone else's file, nor one that a link points to.
    const int descriptor = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (descriptor >= 0) {
      close(descriptor);
      return SafeOutput(target, temporary);
    }
    if (errno != EEXIST) break;
  }
  *error = "cannot create a file in the folder " + SystemReason(folder);
  return std::nullopt;
}

SafeOutput::SafeOutput(SafeOutput&& other) noexcept
    : target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      settled_(other.settled_) {
  other.settled_ = true;
}

SafeOutput::~SafeOutput() {
  if (!settled_) (void)std::remove(temporary_.c_str());
}

std::string SafeOutput::Commit(std::ostream& out) {
  settled_ = true;
  if (target_ == kStandardOutput) {
    std::ifstream file(temporary_, std::ios::binary);
    if (!file) {
      const std::string reason = "cannot read " + SystemReason(temporary_);
      (void)std::remove(temporary_.c_str());
      return reason;
    }
    out << file.rdbuf();
    out.flush();
    (void)std::remove(temporary_.c_str());
    return out ? "" : "could not write to standard output";
  }
  if (!Replace(temporary_, target_)) {
    const std::string reason = "cannot replace " + SystemReason(target_);
    (void)std::remove(temporary_.c_str());
    return reason;
  }
  return "";
}

std::string SafeOutput::Abandon(bool keepPartial) {
  settled_ = true;
  if (keepPartial && target_ != kStandardOutput) {
    const std::string partial = target_ + ".partial";
    if (Replace(temporary_, partial)) return "";
    const std::string reason = "cannot keep the rows as " + SystemReason(partial);
    (void)std::remove(temporary_.c_str());
    return reason;
  }
  (void)std::remove(temporary_.c_str());
  return "";
}

}  // namespace quillet::cli
