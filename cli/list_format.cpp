#include "list_format.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>

#include "command_line.h"

namespace quillet::cli {
namespace {

std::vector<std::string_view> Split(std::string_view text, char separator, std::size_t maxParts) {
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < maxParts) {
    const std::size_t at = text.find(separator);
    if (at == std::string_view::npos) break;
    parts.push_back(text.substr(0, at));
    text.remove_prefix(at + 1);
  }
  parts.push_back(text);
  return parts;
}

std::string Padded(const std::string& text, std::size_t width, bool right) {
  const std::string fill(width - std::min(width, text.size()), ' ');
  return right ? fill + text : text + fill;
}

// A CSV field, quoted when it holds a separator, a quote or a line end.
std::string CsvField(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (const char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// The lists hold whatever bytes the server keeps; JSON text must be UTF-8, so bytes that are
// not are replaced rather than refused.
std::string Json(const nlohmann::ordered_json& value) {
  return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace

std::optional<ListFormat> ParseListFormat(std::string_view name) {
  if (name == "table") return ListFormat::kTable;
  if (name == "raw") return ListFormat::kRaw;
  if (name == "json") return ListFormat::kJson;
  if (name == "csv") return ListFormat::kCsv;
  return std::nullopt;
}

std::string DatabaseListJson(std::string_view list) {
  return Json(nlohmann::ordered_json(SplitDatabaseList(list)));
}

std::string ConnectionListJson(std::string_view list) {
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  for (const ConnectionRow& row : SplitConnectionList(list)) {
    nlohmann::ordered_json process = row.process;
    if (const std::optional<int32_t> number = ParseInt32(row.process)) process = *number;
    rows.push_back({{"process", process},
                    {"database", row.database},
                    {"user", row.user},
                    {"program", row.program}});
  }
  return Json(rows);
}

std::string DatabaseListCsv(std::string_view list) {
  std::string text = "database\r\n";
  for (const std::string& name : SplitDatabaseList(list)) text += CsvField(name) + "\r\n";
  return text;
}

std::string ConnectionListCsv(std::string_view list) {
  std::string text = "process,database,user,program\r\n";
  for (const ConnectionRow& row : SplitConnectionList(list)) {
    text += CsvField(row.process) + "," + CsvField(row.database) + "," + CsvField(row.user) + "," +
            CsvField(row.program) + "\r\n";
  }
  return text;
}

std::vector<std::string> SplitDatabaseList(std::string_view list) {
  std::vector<std::string> names;
  for (std::string_view name : Split(list, ';', std::string_view::npos)) {
    if (!name.empty()) names.emplace_back(name);
  }
  return names;
}

std::string FormatDatabaseList(std::string_view list) {
  const std::vector<std::string> names = SplitDatabaseList(list);
  if (names.empty()) return "";
  std::string text;
  for (const std::string& name : names) text += name + "\n";
  return text;
}

std::vector<ConnectionRow> SplitConnectionList(std::string_view list) {
  std::vector<ConnectionRow> rows;
  if (list.empty()) return rows;
  for (std::string_view line : Split(list, ';', std::string_view::npos)) {
    std::vector<std::string_view> fields = Split(line, ':', 4);
    fields.resize(4);
    rows.push_back({std::string(fields[0]), std::string(fields[1]), std::string(fields[2]),
                    std::string(fields[3])});
  }
  return rows;
}

std::string FormatConnectionTable(std::string_view list) {
  const std::vector<ConnectionRow> rows = SplitConnectionList(list);
  if (rows.empty()) return "";
  const ConnectionRow heading{"PROCESS", "DATABASE", "USER", "PROGRAM"};
  std::array<std::size_t, 3> width{heading.process.size(), heading.database.size(),
                                   heading.user.size()};
  for (const ConnectionRow& row : rows) {
    width[0] = std::max(width[0], row.process.size());
    width[1] = std::max(width[1], row.database.size());
    width[2] = std::max(width[2], row.user.size());
  }
  auto line = [&](const ConnectionRow& row, bool numberToTheRight) {
    std::string text = Padded(row.process, width[0], numberToTheRight) + "  " +
                       Padded(row.database, width[1], false) + "  " +
                       Padded(row.user, width[2], false) + "  " + row.program;
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text + "\n";
  };
  std::string table = line(heading, false);
  for (const ConnectionRow& row : rows) table += line(row, true);
  return table;
}

}  // namespace quillet::cli
