#include <windows.h>

#include <fstream>
#include <iterator>

#include "durable.h"

namespace quillet::cli::plan {

bool SyncFile(const std::filesystem::path& path) {
  HANDLE file =
      CreateFileA(path.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool synced = FlushFileBuffers(file) != 0;
  CloseHandle(file);
  return synced;
}

// Windows has no folder to sync: RenameDurably writes the rename through.
bool SyncFolder(const std::filesystem::path&) { return true; }

std::string RenameDurably(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (!MoveFileExA(from.string().c_str(), to.string().c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return "cannot rename " + from.string() + " to " + to.string() + " (Windows error " +
           std::to_string(GetLastError()) + ")";
  }
  return "";
}

std::string MakePrivateFolder(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  const DWORD attributes = GetFileAttributesA(path.string().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return "cannot create the folder " + path.string();
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return path.string() + " is a link or junction, which is not taken";
  }
  return "";
}

std::string CheckPrivateFolder(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesA(path.string().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return "";
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return path.string() + " is not a folder";
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return path.string() + " is a link or junction, which is not taken";
  }
  return "";
}

std::string CheckPrivateFile(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesA(path.string().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return "";
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return path.string() + " is not a file";
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return path.string() + " is a link, which is not taken";
  }
  return "";
}

std::string CheckSharedFolder(const std::filesystem::path&) { return ""; }

std::string ReadSharedFile(const std::filesystem::path& file, std::string& text, bool& untrusted) {
  untrusted = false;
  std::ifstream in(file, std::ios::binary);
  if (!in) return "cannot read " + file.string();
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return in.bad() ? "cannot read " + file.string() : "";
}

std::string ResolveTrustedPath(const std::filesystem::path& path, std::filesystem::path& resolved) {
  std::error_code error;
  resolved = std::filesystem::weakly_canonical(path, error);
  if (error) resolved = path;
  return "";
}

std::string AppendPrivately(const std::filesystem::path& path, const std::string& text) {
  // The file inherits the permissions of its folder.
  HANDLE file = CreateFileA(path.string().c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                            FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return "cannot write " + path.string() + " (Windows error " + std::to_string(GetLastError()) +
           ")";
  }
  // A line cut off by a kill or a full disk is ended before the new one, not glued onto it.
  LARGE_INTEGER size{};
  char last = '\n';
  DWORD got = 0;
  OVERLAPPED at{};
  if (GetFileSizeEx(file, &size) != 0 && size.QuadPart > 0) {
    at.Offset = static_cast<DWORD>(size.QuadPart - 1);
    at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
    if (ReadFile(file, &last, 1, &got, &at) == 0 || got != 1) last = '\n';
  }
  const std::string lines = last != '\n' ? "\n" + text : text;
  DWORD wrote = 0;
  const bool written =
      WriteFile(file, lines.data(), static_cast<DWORD>(lines.size()), &wrote, nullptr) != 0 &&
      wrote == lines.size() && FlushFileBuffers(file) != 0;
  const DWORD error = GetLastError();
  CloseHandle(file);
  return written
             ? ""
             : "cannot write " + path.string() + " (Windows error " + std::to_string(error) + ")";
}

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

std::string HostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = "";
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) return "unknown";
  return name;
}

}  // namespace quillet::cli::plan
