// inspect and extract with the names Windows users give: accented and Japanese folders and
// packages, made through the wide calls as Explorer makes them, reached through ANSI paths.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "cli/inspect_command.h"
#include "output/log_container.h"
#include "output/package.h"
#include "support/recording_host.h"

namespace trawler {
namespace {

namespace fs = std::filesystem;

constexpr char kOutsideCodePage[] =
    "its name has characters that the system's ANSI code page cannot hold";

// A name in the ANSI code page, and whether the code page holds it exactly: without
// WC_NO_BEST_FIT_CHARS "é" would pass as "e" in code page 932.
struct AnsiName {
    std::string text;
    bool held;
};

AnsiName InAnsi(const std::wstring& wide) {
    const bool utf8 = GetACP() == CP_UTF8;  // holds every name; takes no best-fit flag
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int size = static_cast<int>(wide.size());
    BOOL defaulted = FALSE;
    BOOL* report = utf8 ? nullptr : &defaulted;
    int length = WideCharToMultiByte(CP_ACP, flags, wide.data(), size, nullptr, 0, nullptr, report);
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, flags, wide.data(), size, &text[0], length, nullptr, report);
    return {text, !defaulted};
}

std::string ReadStream(std::FILE* file) {
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
    return text;
}

struct CommandResult {
    int code;
    std::vector<std::string> out;  // lines, each with only its first two fields
    std::vector<std::string> err;  // lines, sorted: two folders may be shown alike ("?")
};

std::vector<std::string> Lines(const std::string& text, bool firstTwoFields) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = text.substr(start, end - start);
        size_t tab = line.find('\t');
        if (firstTwoFields && tab != std::string::npos)
            line = line.substr(0, line.find('\t', tab + 1));
        lines.push_back(line);
    }
    return lines;
}

CommandResult RunCommand(int (*command)(const std::vector<std::string>&, std::FILE*, std::FILE*),
                         const std::vector<std::string>& args) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int code = command(args, out, err);
    CommandResult result{code, Lines(ReadStream(out), true), Lines(ReadStream(err), false)};
    std::sort(result.err.begin(), result.err.end());
    std::fclose(out);
    std::fclose(err);
    return result;
}

std::vector<std::wstring> Listing(const fs::path& folder) {
    std::vector<std::wstring> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().wstring());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The packages of the tree, by path below it. Names with "é" are held by code page 1252 only,
// Japanese ones by 932 only, "한" by neither; "表" ends in a byte 0x5C in 932, as if it ended
// in a separator.
const std::vector<std::wstring> kTree = {
    L"a.zlg",
    L"\u00e9.zlg",
    L"\u9867\u5ba2.zlg",
    L"\ud55c.zlg",
    L"m\\\u9867\u5ba2.zlg",
    L"caf\u00e9\\x.zlg",
    L"\u8868\\\u30bd.zlg",
    L"\ud55cdir\\x.zlg",
};

class FileNamesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The suite runs these tests again on a Japanese PC: it must really have code page 932.
        if (const char* acp = std::getenv("TRAWLER_EXPECT_ACP")) {
            ASSERT_EQ(std::to_string(GetACP()), acp);
        }
        wchar_t temp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        m_base = fs::path(temp) / (L"trawler-names-" + std::to_wstring(GetCurrentProcessId()));
        fs::remove_all(m_base);
        ASSERT_TRUE(fs::create_directories(m_base / L"tree"));
        AnsiName base = InAnsi(m_base.wstring());
        ASSERT_TRUE(base.held) << "the temporary folder needs a name the code page holds";
        m_ansiBase = base.text;
        ASSERT_NO_FATAL_FAILURE(MakePackage(m_ansiBase + "\\p.zlg"));
        for (const std::wstring& name : kTree) {
            fs::path path = m_base / L"tree" / name;
            fs::create_directories(path.parent_path());
            ASSERT_TRUE(CopyFileW((m_base / L"p.zlg").c_str(), path.c_str(), TRUE));
        }
    }

    void TearDown() override { fs::remove_all(m_base); }

    void MakePackage(const std::string& path) {
        testing::RecordingHost host;
        LogContainer container(host);
        ASSERT_TRUE(container.Create(path + ".tmp"));
        ASSERT_TRUE(WriteCommentToLog(container, host, "ACME", "paper jam"));
        ASSERT_TRUE(container.WriteEnd());
        ASSERT_TRUE(container.Close());
        ASSERT_EQ(MakeZlg(host, path + ".tmp", path), kPackageOk);
    }

    // What inspect must say of the tree's packages under folder (a path below the tree):
    // each package named, valid where every part of its name is held, unreadable where only
    // its own name is not, and the folder named on standard error where a folder's is not.
    CommandResult Expected(const std::wstring& folder) {
        CommandResult expected{kInspectOk, {}, {}};
        const std::wstring prefix = folder.empty() ? L"" : folder + L"\\";
        std::set<std::wstring> unlisted;  // folders the code page cannot name
        size_t valid = 0;
        for (const std::wstring& name : kTree) {
            if (name.compare(0, prefix.size(), prefix) != 0) continue;
            const std::wstring below = name.substr(prefix.size());
            const std::wstring sub = below.substr(0, below.find(L'\\'));
            if (sub != below && !InAnsi(sub).held) {
                if (unlisted.insert(sub).second) {
                    expected.err.push_back(Path(prefix + sub) +
                                           ": cannot list this folder: " + kOutsideCodePage);
                }
                expected.code = kInspectUsage;
            } else if (!InAnsi(name).held) {
                const std::string path = Path(name);
                expected.out.push_back(path + "\tunreadable: cannot open \"" + path +
                                       "\": " + kOutsideCodePage + " [open-failed]");
                expected.code = kInspectUsage;
            } else {
                expected.out.push_back(Path(name) + "\tvalid");
                ++valid;
            }
        }
        // No name in the tree is another's start, so the walk's order is the paths' byte order.
        std::sort(expected.out.begin(), expected.out.end());
        std::sort(expected.err.begin(), expected.err.end());
        const size_t total = expected.out.size();
        expected.out.push_back(std::to_string(total) + " package" + (total == 1 ? "" : "s") + ": " +
                               std::to_string(valid) + " valid, 0 damaged, " +
                               std::to_string(total - valid) + " unreadable");
        return expected;
    }

    // The ANSI path of a path below the tree, as inspect shows it.
    std::string Path(const std::wstring& below) const {
        std::string path = m_ansiBase + "\\tree";
        return below.empty() ? path : path + "\\" + InAnsi(below).text;
    }

    fs::path m_base;
    std::string m_ansiBase;
};

// Every package is named, in order, valid when its name reaches it, and reported when the code
// page cannot hold its name or its folder's; none is left out or opened under a mangled name.
TEST_F(FileNamesTest, BatchInspectNamesEveryPackageInTheCodePage) {
    std::vector<std::wstring> folders = {L""};
    // A folder named alone is walked too, where its name can be passed at all.
    for (const std::wstring folder : {L"m", L"caf\u00e9", L"\u8868", L"\ud55cdir"}) {
        if (InAnsi(folder).held) folders.push_back(folder);
    }
    SCOPED_TRACE("code page " + std::to_string(GetACP()));
    for (const std::wstring& folder : folders) {
        SCOPED_TRACE(Path(folder));
        const CommandResult expected = Expected(folder);
        const CommandResult result = RunCommand(RunInspect, {Path(folder)});
        EXPECT_EQ(result.out, expected.out);
        EXPECT_EQ(result.err, expected.err);
        EXPECT_EQ(result.code, expected.code);
    }
}

// The folders extract makes, its staging folder among them, are the ones named: a folder name
// read as UTF-8 would be made under another name, or not at all.
TEST_F(FileNamesTest, ExtractMakesTheFolderNamed) {
    SCOPED_TRACE("code page " + std::to_string(GetACP()));
    for (const std::wstring top : {L"caf\u00e9", L"out\u8868"}) {
        const AnsiName name = InAnsi(top);
        if (!name.held) continue;
        SCOPED_TRACE(name.text);
        std::vector<std::wstring> before = Listing(m_base);
        const std::string folder = m_ansiBase + "\\" + name.text + "\\new";
        const CommandResult result =
            RunCommand(RunExtract, {m_ansiBase + "\\p.zlg", "--to", folder});
        EXPECT_EQ(result.code, kInspectOk);
        EXPECT_EQ(result.err, std::vector<std::string>{});
        ASSERT_FALSE(result.out.empty());
        EXPECT_EQ(result.out.front(), folder + "/container.bin");
        EXPECT_TRUE(fs::is_regular_file(m_base / top / L"new" / L"container.bin"));
        before.push_back(top);
        std::sort(before.begin(), before.end());
        EXPECT_EQ(Listing(m_base), before);
        EXPECT_EQ(Listing(m_base / top), std::vector<std::wstring>{L"new"});
    }
}

}  // namespace
}  // namespace trawler
