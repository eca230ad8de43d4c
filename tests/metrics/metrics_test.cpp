// The service's metrics without a server: series per slot across renames, and the process
// figures' parsing of /proc.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "metrics/process_collector.h"
#include "metrics/service_metrics.h"

namespace corvelle {
namespace {

using prometheus::MetricFamily;

const MetricFamily& FamilyNamed(const std::vector<MetricFamily>& families,
                                const std::string& name) {
    const auto found =
        std::find_if(families.begin(), families.end(),
                     [&](const MetricFamily& family) { return family.name == name; });
    EXPECT_NE(found, families.end()) << name;
    return *found;
}

TEST(ServiceMetrics, ASlotsSeriesAreReplacedWhenItTakesAnotherName) {
    ServiceMetrics metrics(2);
    const auto now = ServiceMetrics::SteadyClock::now();
    metrics.RenameTerminal(0, "一号泵站", {});
    metrics.SetTerminal(0, true, {.polls = 5, .replies = 4, .replyErrors = 1}, now);
    auto families = metrics.Collect();
    const MetricFamily& replies = FamilyNamed(families, "corvelle_replies_total");
    ASSERT_EQ(replies.metric.size(), 1U);
    EXPECT_EQ(replies.metric[0].counter.value, 4);
    EXPECT_EQ(replies.metric[0].label[0].value, "一号泵站");
    EXPECT_EQ(replies.metric[0].label[1].value, "1");
    EXPECT_EQ(FamilyNamed(families, "corvelle_terminals_linked").metric[0].gauge.value, 1);
    EXPECT_EQ(FamilyNamed(families, "corvelle_last_reply_age_seconds").metric.size(), 1U);

    // The page's counts go on; the new terminal's series starts from them.
    metrics.RenameTerminal(0, "二号泵站", {.polls = 5, .replies = 4, .replyErrors = 1});
    metrics.SetTerminal(0, false, {.polls = 7, .replies = 6, .replyErrors = 1}, now);
    families = metrics.Collect();
    const MetricFamily& renamed = FamilyNamed(families, "corvelle_replies_total");
    ASSERT_EQ(renamed.metric.size(), 1U);
    EXPECT_EQ(renamed.metric[0].label[0].value, "二号泵站");
    EXPECT_EQ(renamed.metric[0].counter.value, 2);
    EXPECT_EQ(FamilyNamed(families, "corvelle_reply_errors_total").metric[0].counter.value, 0);
    EXPECT_EQ(FamilyNamed(families, "corvelle_slots_in_use").metric[0].gauge.value, 1);
    EXPECT_EQ(FamilyNamed(families, "corvelle_terminals_linked").metric[0].gauge.value, 0);
    EXPECT_TRUE(std::none_of(families.begin(), families.end(), [](const MetricFamily& family) {
        return family.name == "corvelle_publishing_up";
    }));
}

TEST(ServiceMetrics, RegistrationHistogramIsCumulativeAndEndsAtInfinity) {
    ServiceMetrics metrics(1);
    ConnectionCounts counts;
    counts.registrations[0] = 2;
    counts.registrations.back() = 1;
    counts.registrationMsSum = 40000;
    metrics.SetConnections(counts);
    const auto families = metrics.Collect();
    const auto& histogram =
        FamilyNamed(families, "corvelle_registration_seconds").metric[0].histogram;
    EXPECT_EQ(histogram.sample_count, 3U);
    EXPECT_DOUBLE_EQ(histogram.sample_sum, 40);
    EXPECT_EQ(histogram.bucket.front().cumulative_count, 2U);
    EXPECT_EQ(histogram.bucket[histogram.bucket.size() - 2].cumulative_count, 2U);
    EXPECT_EQ(histogram.bucket.back().cumulative_count, 3U);
    EXPECT_TRUE(std::isinf(histogram.bucket.back().upper_bound));
}

TEST(ProcStat, FieldsFollowTheLastParenthesisOfTheCommandName) {
    const auto stat = ParseProcStat(
        "42 (a (b) c) S 1 42 42 0 -1 4194560 100 0 0 0 250 75 0 0 20 0 3 0 123456 1000000 2048 "
        "18446744073709551615 1 1 0 0 0 0 0 4096 0 0 0 0 17 1 0 0 0 0 0\n");
    ASSERT_TRUE(stat.has_value());
    EXPECT_EQ(stat->userTicks, 250U);
    EXPECT_EQ(stat->systemTicks, 75U);
    EXPECT_EQ(stat->startTicks, 123456U);
    EXPECT_EQ(stat->residentPages, 2048U);
    EXPECT_FALSE(ParseProcStat("42 (short) S 1 2 3").has_value());
    EXPECT_FALSE(ParseProcStat("no parenthesis at all").has_value());
    EXPECT_FALSE(ParseProcStat("1 (x) S 1 1 1 0 -1 0 0 0 0 0 1x 2 0 0 0 0 0 0 5 0 9").has_value());
}

}  // namespace
}  // namespace corvelle
