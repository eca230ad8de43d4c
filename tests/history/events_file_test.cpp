// The events reader: generic rows whatever their kind, quoted fields with commas, quotes and line
// ends, and bad rows counted on the line where they start.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "history/events_file.h"
#include "record/csv_rows.h"

namespace corvelle {
namespace {

std::vector<EventRecord> ReadEvents(const std::string& rows, ReadProblems& problems,
                                    std::size_t maxEvents = 100) {
    std::istringstream in(std::string(kByteOrderMark).append(kEventHeader) + "\r\n" + rows);
    std::vector<EventRecord> events;
    ReadEventsFile(
        in, "events-2026-12-08.csv", problems, [](const EventRecord&) { return true; }, maxEvents,
        events);
    return events;
}

TEST(EventsFile, GenericRowsWithQuotedFieldsOverLines) {
    ReadProblems problems;
    const auto events = ReadEvents(
        "2026-12-08 10:00:00.000,,,开始记录,/data（corvelle 1.0）\r\n"
        "2026-12-08 10:00:01.000,3,\"a,\"\"b\"\"\",注册,10.0.0.5:4001\r\n"
        "2026-12-08 10:00:02.000,3,'=1+2,已断开,\r\n"
        "2026-12-08 10:00:03.000,3,泵站,终端配置,\"{\"\"name\"\": \"\"x,y\"\",\r\n"
        "\"\"unit\"\": \"\"V\"\"}\"\r\n"
        "2026-12-08 10:00:04.000,3,泵站,报警,\"高\r\n限\"\r\n",
        problems);
    EXPECT_EQ(problems.rows, 0U);
    ASSERT_EQ(events.size(), 5U);
    EXPECT_EQ(events[0].slot, 0);
    EXPECT_EQ(events[0].name, "");
    EXPECT_EQ(events[0].event, "开始记录");
    EXPECT_EQ(events[1].slot, 3);
    EXPECT_EQ(events[1].name, "a,\"b\"");
    EXPECT_EQ(events[2].name, "=1+2");
    EXPECT_EQ(events[3].event, "终端配置");
    EXPECT_EQ(events[3].detail, "{\"name\": \"x,y\",\r\n\"unit\": \"V\"}");
    EXPECT_EQ(events[4].detail, "高\r\n限");
    EXPECT_EQ(events[4].time - events[0].time, std::chrono::seconds(4));
}

TEST(EventsFile, BadRowsCountedOnTheLineTheyStart) {
    ReadProblems problems;
    const auto events = ReadEvents(
        "2026-12-08 10:00:00.000,1,a,注册,\"x\r\ny\"\r\n"  // lines 2 and 3
        "2026-12-08 10:00:01.000,x,a,注册,\r\n"            // line 4: no slot
        "2026-12-08 10:00:02.000,1,a,注册\r\n"             // a field too few
        "2026-12-08 10:00:03.000,70000,a,注册,\r\n"        // no such slot
        "10:00:04,1,a,注册,\r\n"                           // no date
        "2026-12-08 10:00:05.000,1,a,已断开,\"open",       // a quote open at the end
        problems);
    EXPECT_EQ(events.size(), 1U);
    EXPECT_EQ(problems.rows, 5U);
    EXPECT_EQ(problems.firstLine, 4U);
    EXPECT_EQ(problems.firstFile, "events-2026-12-08.csv");
}

TEST(EventsFile, KeepsNoMoreThanAsked) {
    ReadProblems problems;
    std::istringstream in(
        "2026-12-08 10:00:00.000,1,a,注册,\r\n"
        "2026-12-08 10:00:01.000,2,b,注册,\r\n"
        "2026-12-08 10:00:02.000,1,a,已断开,\r\n");
    std::vector<EventRecord> events;
    const auto read = ReadEventsFile(
        in, "e", problems, [](const EventRecord& e) { return e.name == "a"; }, 1, events);
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(events[0].event, "注册");
    EXPECT_EQ(read.leftOut, 1U);
}

}  // namespace
}  // namespace corvelle
