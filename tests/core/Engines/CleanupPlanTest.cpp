// Plan records: derived lists, kept reasons, equality and the error texts.
#include <gtest/gtest.h>

#include "Engines/CleanupError.h"
#include "Engines/CleanupPlan.h"

namespace bx {
namespace {

using S = CleanupItem::Status;

CleanupItem item(std::uint32_t uid, std::int64_t size, S status) {
    return CleanupItem(uid, size, std::nullopt, "a/b/" + std::to_string(uid) + ".eml", status);
}

std::vector<std::uint32_t> uids(const std::vector<CleanupItem>& items) {
    std::vector<std::uint32_t> out;
    for (const auto& i : items) out.push_back(i.uid);
    return out;
}

TEST(CleanupPlan, DerivedListsFollowItemOrderAndSkipPending) {
    CleanupPlan plan("INBOX", "Inbox", Date{}, 7,
                     {item(1, 100, S::verified()), item(2, 200, S::pending()),
                      item(3, 300, S::sizeMismatch(1, 2)), item(4, 400, S::verified()),
                      item(5, 500, S::notBackedUp()), item(6, 600, S::unreadable()),
                      item(7, 700, S::pending())});
    EXPECT_EQ(uids(plan.verified()), (std::vector<std::uint32_t>{1, 4}));
    EXPECT_EQ(uids(plan.unverified()), (std::vector<std::uint32_t>{3, 5, 6}));
    EXPECT_EQ(plan.pending(), 2);
    EXPECT_EQ(plan.verifiedBytes(), 500);

    // Derived values follow later status changes.
    plan.items[1].status = S::verified();
    EXPECT_EQ(uids(plan.verified()), (std::vector<std::uint32_t>{1, 2, 4}));
    EXPECT_EQ(plan.pending(), 1);
    EXPECT_EQ(plan.verifiedBytes(), 700);
}

TEST(CleanupPlan, EmptyPlanAndDefaults) {
    CleanupPlan plan("INBOX", "INBOX", Date{}, 1, {});
    EXPECT_TRUE(plan.verified().empty());
    EXPECT_TRUE(plan.unverified().empty());
    EXPECT_EQ(plan.pending(), 0);
    EXPECT_EQ(plan.verifiedBytes(), 0);
    EXPECT_EQ(plan.otherDeletedOnServer, 0);
    EXPECT_FALSE(plan.serverSupportsUIDPlus);
    EXPECT_TRUE(plan.canDeleteSafely());
}

TEST(CleanupPlan, CanDeleteSafely) {
    struct Case { bool uidplus; std::int64_t others; bool safe; };
    for (auto c : {Case{true, 3, true}, Case{false, 0, true}, Case{true, 0, true},
                   Case{false, 1, false}}) {
        CleanupPlan plan("INBOX", "INBOX", Date{}, 1, {});
        plan.serverSupportsUIDPlus = c.uidplus;
        plan.otherDeletedOnServer = c.others;
        EXPECT_EQ(plan.canDeleteSafely(), c.safe) << c.uidplus << " " << c.others;
    }
}

TEST(CleanupItem, StatusEquality) {
    EXPECT_EQ(S::sizeMismatch(10, 12), S::sizeMismatch(10, 12));
    EXPECT_NE(S::sizeMismatch(10, 12), S::sizeMismatch(12, 10));
    EXPECT_NE(S::sizeMismatch(0, 0), S::pending());
    EXPECT_EQ(S::pending(), S());
    EXPECT_EQ(S::verified(), S::verified());
    EXPECT_NE(S::verified(), S::unreadable());
    EXPECT_NE(S::notBackedUp(), S::unreadable());
}

TEST(CleanupItem, KeptReasons) {
    struct Case { S status; std::optional<std::string> reason; };
    const Case cases[] = {
        {S::sizeMismatch(10, 12), "Local copy is 10 bytes, the server's is 12"},
        {S::sizeMismatch(4096, 123456789012), "Local copy is 4096 bytes, the server's is 123456789012"},
        {S::notBackedUp(), "Not in your vault yet \u2014 run a backup first"},
        {S::unreadable(), "Local copy doesn't read as a complete email"},
        {S::pending(), std::nullopt},
        {S::verified(), std::nullopt},
    };
    for (const auto& c : cases) {
        CleanupItem i(9, 1, std::nullopt, std::nullopt, c.status);
        EXPECT_EQ(i.keptReason(), c.reason);
        EXPECT_EQ(i.id(), 9u);
    }
}

TEST(CleanupError, Descriptions) {
    struct Case { CleanupError error; std::string text; };
    const Case cases[] = {
        {CleanupError::otherDeletedMessages(3),
         "This server can only remove all messages marked for deletion at once, and 3 other "
         "message(s) in the folder are already marked. Nothing was deleted."},
        {CleanupError::stopped(200, 450, std::string("UID STORE failed (NO): nope")),
         "Released 200 of 450 messages, then the server reported a problem (UID STORE failed "
         "(NO): nope). The other 250 are still on the server, untouched."},
        // A problem with nothing released still uses the "Released" sentence.
        {CleanupError::stopped(0, 10, std::string("x")),
         "Released 0 of 10 messages, then the server reported a problem (x). The other 10 are "
         "still on the server, untouched."},
        {CleanupError::stopped(0, 450, std::nullopt), "Stopped before anything was released."},
        {CleanupError::stopped(200, 450, std::nullopt),
         "Stopped after releasing 200 of 450 messages. The other 250 stay on the server."},
        // Messages whose removal could not be confirmed are never called untouched.
        {CleanupError::stopped(200, 450, std::string("The server closed the connection."), 200),
         "Released 200 of 450 messages, then the server reported a problem (The server closed "
         "the connection.). 200 more may have been removed as well; the other 50 are still on "
         "the server, untouched."},
        {CleanupError::uidValidityChanged(),
         "The folder was renumbered on the server since it was checked. Run a backup, then "
         "check again."},
        {CleanupError::nothingVerified(),
         "No message in the selection has a verified copy in your vault. Nothing was deleted."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.errorDescription(), c.text);
        EXPECT_STREQ(c.error.what(), c.text.c_str());
    }
}

TEST(CleanupError, Equality) {
    EXPECT_EQ(CleanupError::stopped(1, 2, std::nullopt), CleanupError::stopped(1, 2, std::nullopt));
    EXPECT_FALSE(CleanupError::stopped(1, 2, std::nullopt) == CleanupError::stopped(1, 3, std::nullopt));
    EXPECT_FALSE(CleanupError::stopped(1, 2, std::nullopt) == CleanupError::stopped(1, 2, std::string("")));
    EXPECT_FALSE(CleanupError::stopped(1, 2, std::string("a")) == CleanupError::stopped(1, 2, std::string("b")));
    EXPECT_EQ(CleanupError::otherDeletedMessages(2), CleanupError::otherDeletedMessages(2));
    EXPECT_FALSE(CleanupError::otherDeletedMessages(2) == CleanupError::otherDeletedMessages(1));
    EXPECT_FALSE(CleanupError::nothingVerified() == CleanupError::uidValidityChanged());
}

}  // namespace
}  // namespace bx
