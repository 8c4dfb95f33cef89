// Recording redaction: the description is JSON (docs/DEVICE.md); names stand in "printers",
// "faults" and, as the driver and the recorder worded them, in "error_texts" and "recording".
#include "cli/recording_redact.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <cstdio>
#include <set>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "acquire/printer_search.h"
#include "platform/file_ops.h"
#include "platform/owned_file.h"
#include "sim/device_description.h"

namespace trawler {
namespace {

using Json = nlohmann::ordered_json;

std::string FoldCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string BaseName(const std::string& path) {
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string Stem(const std::string& path) {
    std::string name = BaseName(path);
    const std::string extension = ".json";
    if (name.size() > extension.size() &&
        FoldCase(name.substr(name.size() - extension.size())) == extension) {
        name.resize(name.size() - extension.size());
    }
    return name;
}

bool IsAbsolute(const std::string& path) {
    return (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
           (path.size() > 1 && path[1] == ':');
}

bool ReadText(const std::string& path, std::string* text) {
    OwnedFile file(std::fopen(path.c_str(), "rb"));
    if (!file) return false;
    char block[65536];
    for (;;) {
        size_t got = std::fread(block, 1, sizeof block, file.Get());
        text->append(block, got);
        if (got < sizeof block) return !std::ferror(file.Get());
    }
}

bool CopyNew(const std::string& from, const std::string& to) {
    OwnedFile in(std::fopen(from.c_str(), "rb"));
    if (!in) return false;
    OwnedFile out(OpenNewFile(to));
    if (!out) return false;
    std::vector<char> block(65536);
    for (;;) {
        size_t got = std::fread(block.data(), 1, block.size(), in.Get());
        if (std::ferror(in.Get())) return false;
        if (got == 0) break;
        if (std::fwrite(block.data(), 1, got, out.Get()) != got) return false;
    }
    return out.Close();
}

// Every occurrence of each name (without regard to ASCII case), longest names first so that a
// name inside a longer one does not break the longer one's replacement.
std::string ReplaceNames(std::string text,
                         const std::vector<std::pair<std::string, std::string>>& names) {
    for (const auto& [name, placeholder] : names) {
        const std::string folded = FoldCase(name);
        const std::string foldedText = FoldCase(text);
        std::string result;
        size_t from = 0;
        for (;;) {
            size_t at = foldedText.find(folded, from);
            if (at == std::string::npos) break;
            result.append(text, from, at - from);
            result += placeholder;
            from = at + name.size();
        }
        result.append(text, from, std::string::npos);
        text = std::move(result);
    }
    return text;
}

void ReplaceNamesIn(Json& value, const std::vector<std::pair<std::string, std::string>>& names) {
    if (value.is_string()) {
        value = ReplaceNames(value.get<std::string>(), names);
    } else if (value.is_structured()) {
        for (Json& item : value) ReplaceNamesIn(item, names);
    }
}

// Side files: every "file" member names one, relative to the description's folder.
class SideFileCopier {
  public:
    SideFileCopier(const std::string& in, const std::string& out, StagedFiles& staged)
        : m_inFolder(ParentFolder(in)),
          m_inStem(Stem(in)),
          m_outFolder(ParentFolder(out)),
          m_outStem(Stem(out)),
          m_staged(staged) {}

    // Whether the walk stopped at a side file's name that was taken.
    bool Exists() const { return m_exists; }

    bool Walk(Json& value, std::string* error) {
        if (value.is_object()) {
            for (auto& [key, item] : value.items()) {
                if (key == "file" && item.is_string()) {
                    if (!Copy(item, error)) return false;
                } else if (!Walk(item, error)) {
                    return false;
                }
            }
        } else if (value.is_array()) {
            for (Json& item : value) {
                if (!Walk(item, error)) return false;
            }
        }
        return true;
    }

  private:
    bool Copy(Json& reference, std::string* error) {
        const std::string name = reference.get<std::string>();
        const std::string from =
            IsAbsolute(name) || m_inFolder.empty() ? name : PathInFolder(m_inFolder, name);
        std::string suffix = BaseName(name);
        if (suffix.compare(0, m_inStem.size() + 1, m_inStem + ".") == 0) {
            suffix = suffix.substr(m_inStem.size() + 1);
        }
        std::string newName = m_outStem + "." + suffix;
        for (int n = 2; m_names.count(newName) != 0; ++n) {
            newName = m_outStem + "." + std::to_string(n) + "." + suffix;
        }
        m_names.insert(newName);
        const std::string to = m_outFolder.empty() ? newName : PathInFolder(m_outFolder, newName);
        std::string temp;
        m_exists = PathExists(to);
        if (!m_staged.Stage(to, &temp, error)) return false;
        if (!CopyNew(from, temp)) {
            *error = "cannot copy " + from + " to " + temp;
            return false;
        }
        reference = newName;
        return true;
    }

    std::string m_inFolder, m_inStem, m_outFolder, m_outStem;
    StagedFiles& m_staged;
    std::set<std::string> m_names;
    bool m_exists = false;
};

}  // namespace

bool RedactPrinterName(PlaceholderBook& book, const std::string& name, const std::string& rank,
                       std::string* redacted, std::string* error) {
    const std::string kind = rank.empty() ? "printer" : "printer-" + rank;
    const bool fileOutput = name.find(kFileOutputMark) != std::string::npos;
    return book.Placeholder(kind, FoldCase(name), name, name, redacted, error,
                            fileOutput ? std::string(" ") + kFileOutputMark : std::string());
}

namespace {

// The printers' ranks in the list's order, one rank for names that differ only in case.
std::map<std::string, size_t> PrinterRanks(const Json& root) {
    std::vector<std::string> listed;
    if (root.contains("printers") && root["printers"].is_array()) {
        for (const Json& printer : root["printers"]) {
            if (printer.is_object() && printer.contains("name") && printer["name"].is_string()) {
                listed.push_back(printer["name"].get<std::string>());
            }
        }
    }
    std::sort(listed.begin(), listed.end(), ListOrderLess);
    std::map<std::string, size_t> ranks;
    for (const std::string& name : listed) ranks.emplace(FoldCase(name), ranks.size() + 1);
    return ranks;
}

// Replaces the printer names of the list and the faults; *names gets each name met with its
// placeholder. False when a placeholder could not be made.
bool RedactPrinterFields(Json& root, PlaceholderBook& book,
                         std::vector<std::pair<std::string, std::string>>* names,
                         std::string* error) {
    const std::map<std::string, size_t> ranks = PrinterRanks(root);
    const size_t width = std::to_string(ranks.size()).size();
    auto redact = [&](Json& value) {
        if (!value.is_string()) return true;
        const std::string name = value.get<std::string>();
        auto rank = ranks.find(FoldCase(name));
        std::string rankText;
        if (rank != ranks.end()) {
            rankText = std::to_string(rank->second);
            rankText.insert(0, width - rankText.size(), '0');
        }
        std::string placeholder;
        if (!RedactPrinterName(book, name, rankText, &placeholder, error)) return false;
        if (!name.empty()) names->emplace_back(name, placeholder);
        value = placeholder;
        return true;
    };
    for (const char* list : {"printers", "faults"}) {
        if (!root.contains(list) || !root[list].is_array()) continue;
        const char* field = std::strcmp(list, "printers") == 0 ? "name" : "printer";
        for (Json& item : root[list]) {
            if (item.is_object() && item.contains(field) && !redact(item[field])) return false;
        }
    }
    return true;
}

}  // namespace

RedactOutcome RedactRecording(const std::string& in, const std::string& out, StagedFiles& staged,
                              PlaceholderBook& book, std::string* error) {
    std::string text;
    if (!ReadText(in, &text)) {
        *error = "cannot read " + in;
        return RedactOutcome::kUnreadable;
    }
    std::string problem;
    ParseDeviceDescription(text, ParentFolder(in), &problem);
    Json root = Json::parse(text, nullptr, false);
    if (!problem.empty() || !root.is_object()) {
        *error = in + " is neither a package nor a recording: " +
                 (problem.empty() ? std::string("not a JSON object") : problem);
        return RedactOutcome::kDamaged;
    }

    // Names in the order met, each with its placeholder; the longest are replaced first in the
    // texts, so a name inside a longer one cannot break it.
    std::vector<std::pair<std::string, std::string>> names;
    if (!RedactPrinterFields(root, book, &names, error)) return RedactOutcome::kRefused;
    std::stable_sort(names.begin(), names.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
    for (const char* key : {"error_texts", "recording"}) {
        if (root.contains(key)) ReplaceNamesIn(root[key], names);
    }

    SideFileCopier copier(in, out, staged);
    if (!copier.Walk(root, error)) {
        return copier.Exists() ? RedactOutcome::kExists : RedactOutcome::kWriteFailed;
    }
    std::string temp;
    if (!staged.Stage(out, &temp, error)) return RedactOutcome::kExists;
    std::string json = root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    if (!WriteNewTextFile(temp, json, false, error)) return RedactOutcome::kWriteFailed;
    return RedactOutcome::kWritten;
}

}  // namespace trawler
