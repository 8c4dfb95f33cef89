// The outbox's list files and the verdict on a desk's answer: what stays queued, what leaves.
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "output/desk_upload.h"
#include "output/outbox.h"
#include "platform/file_ops.h"
#include "unit/output_test_support.h"

namespace trawler {
namespace {

class ListFile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_scratch.Ok());
        m_folder = m_scratch.Folder();
        m_path = PathInFolder(m_folder, kOutboxName);
    }
    std::vector<std::string> Read() {
        std::vector<std::string> names;
        std::string error;
        EXPECT_TRUE(ReadListFile(m_path, &names, &error)) << error;
        return names;
    }
    testing::ScratchFolder m_scratch;
    std::string m_folder, m_path;
};

TEST_F(ListFile, ACrashLeavesTheOldListReadableAndTheNextWriteWorks) {
    std::string error;
    ASSERT_TRUE(AddToListFile(m_path, "a.zlg", &error)) << error;
    // A write that died before its rename: a half temporary beside the list.
    std::FILE* half = std::fopen((m_path + ".new").c_str(), "wb");
    ASSERT_NE(nullptr, half);
    std::fputs("a.zlg\nb.z", half);
    std::fclose(half);
    EXPECT_EQ(std::vector<std::string>{"a.zlg"}, Read());
    ASSERT_TRUE(AddToListFile(m_path, "c.zlg", &error)) << error;
    EXPECT_EQ((std::vector<std::string>{"a.zlg", "c.zlg"}), Read());
    // A temporary that cannot be written (a folder with something in it stands in its place):
    // the add fails and the list is as it was.
    std::remove((m_path + ".new").c_str());
    ASSERT_TRUE(MakeFolder(m_path + ".new"));
    ASSERT_TRUE(MakeFolder(PathInFolder(m_path + ".new", "x")));
    std::string removeError;
    EXPECT_FALSE(AddToListFile(m_path, "d.zlg", &removeError));
    EXPECT_NE("", removeError);
    EXPECT_EQ((std::vector<std::string>{"a.zlg", "c.zlg"}), Read());
}

// Queued, settled (delivered or kept), and collected again at a start, over a few folders: the
// packages collected are always exactly those queued and not yet settled away, folder by folder.
TEST_F(ListFile, WaitingPackagesAreThoseQueuedAndNotSettledAway) {
    const std::string folderList = PathInFolder(m_folder, "outbox-folders");
    std::vector<std::string> folders;
    for (const char* name : {"a", "b", "c"}) {
        folders.push_back(PathInFolder(m_folder, name));
        ASSERT_TRUE(MakeFolder(folders.back()));
    }
    std::vector<std::pair<std::string, std::vector<std::string>>> model;
    auto entry = [&](const std::string& folder) {
        return std::find_if(model.begin(), model.end(),
                            [&](const auto& e) { return e.first == folder; });
    };
    std::mt19937 random(8);
    std::string error;
    for (int step = 0; step < 300; ++step) {
        const QueuedPackage p{folders[random() % folders.size()],
                              "No" + std::to_string(random() % 4) + ".zlg"};
        const int what = static_cast<int>(random() % 3);
        SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(what) + " " +
                     p.folder + " " + p.name);
        auto e = entry(p.folder);
        if (what == 0) {
            ASSERT_TRUE(QueuePackage(folderList, p, &error)) << error;
            if (e == model.end()) {
                model.push_back({p.folder, {p.name}});
            } else if (std::find(e->second.begin(), e->second.end(), p.name) == e->second.end()) {
                e->second.push_back(p.name);
            }
        } else {
            const bool stays = what == 1;
            ASSERT_TRUE(SettlePackage(folderList, p, stays, &error)) << error;
            if (!stays && e != model.end()) {
                auto n = std::find(e->second.begin(), e->second.end(), p.name);
                if (n != e->second.end()) e->second.erase(n);
                if (e->second.empty()) model.erase(e);
            }
        }
        ASSERT_FALSE(PathExists(PathInFolder(p.folder, kOutboxName) + ".new"));
        std::vector<std::string> expected, got;
        for (const auto& m : model)
            for (const std::string& name : m.second) expected.push_back(m.first + "/" + name);
        for (const QueuedPackage& q : WaitingPackages(folderList, &error))
            got.push_back(q.folder + "/" + q.name);
        ASSERT_EQ(expected, got);
    }
    // A folder that went away with its outbox leaves the list at the next collection.
    for (const std::string& folder : folders) {
        std::remove(PathInFolder(folder, kOutboxName).c_str());
        ASSERT_TRUE(RemoveEmptyFolder(folder));
    }
    EXPECT_TRUE(WaitingPackages(folderList, &error).empty());
    EXPECT_FALSE(PathExists(folderList));
}

TEST(ListText, ReadsWhatOtherEditorsLeaveAndRefusesNamesThatWouldSplit) {
    EXPECT_EQ((std::vector<std::string>{"a.zlg", "b.zlg"}),
              ParseList("a.zlg\r\n\r\nb.zlg\na.zlg\nb.zlg"));
    std::string error;
    for (const char* bad : {"", "a\nb.zlg", "a\rb.zlg"})
        EXPECT_FALSE(AddToListFile("/nonexistent/.trawler-outbox", bad, &error)) << bad;
}

HttpAnswer Answered(int status, const std::string& body) {
    HttpAnswer a;
    a.outcome = HttpOutcome::kAnswered;
    a.status = status;
    a.body = body;
    return a;
}

// What stays queued is exactly what a later try (or IT) could mend; a package is taken for
// delivered only when the desk answers for that very package.
TEST(DeskVerdicts, EachAnswerDecidesWhetherThePackageWaits) {
    const std::string sha(64, 'a');
    const std::string mine = R"({"sha256": ")" + sha + R"(", "valid": true})";
    HttpAnswer noAnswer;
    noAnswer.error = "connection refused";
    HttpAnswer unreadable;
    unreadable.outcome = HttpOutcome::kBodyUnreadable;
    struct Case {
        const char* name;
        HttpAnswer answer;
        DeskVerdict verdict;
        bool queued;
        const char* detail;
    };
    const Case cases[] = {
        {"added", Answered(201, mine), DeskVerdict::kAdded, false, ""},
        {"already", Answered(200, mine), DeskVerdict::kAlready, false, ""},
        {"kept redacted", Answered(201, R"({"sha256": "cc", "received_sha256": ")" + sha + "\"}"),
         DeskVerdict::kAdded, false, ""},
        {"another package's answer", Answered(200, R"({"sha256": "bb"})"),
         DeskVerdict::kUnreachable, true, "HTTP 200 from something other than the desk"},
        {"a login page", Answered(200, "<html>"), DeskVerdict::kUnreachable, true,
         "HTTP 200 from something other than the desk"},
        {"wrong token", Answered(401, R"({"error": "unknown token"})"), DeskVerdict::kTokenRefused,
         true, "HTTP 401: unknown token"},
        {"no upload role", Answered(403, R"({"error": "needs role upload"})"),
         DeskVerdict::kTokenRefused, true, "HTTP 403: needs role upload"},
        {"not a package", Answered(415, R"({"error": "not a package"})"), DeskVerdict::kRefused,
         false, "HTTP 415: not a package"},
        {"desk fault", Answered(503, "busy\nmore"), DeskVerdict::kUnreachable, true,
         "HTTP 503: busy"},
        {"no answer", noAnswer, DeskVerdict::kUnreachable, true, "connection refused"},
        {"unreadable", unreadable, DeskVerdict::kUnreadable, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DeskSendResult r = JudgeDeskAnswer(c.answer, sha);
        EXPECT_EQ(c.verdict, r.verdict);
        EXPECT_EQ(c.queued, StaysQueued(r.verdict));
        EXPECT_EQ(c.detail, r.detail);
    }
}

}  // namespace
}  // namespace trawler
