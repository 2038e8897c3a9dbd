#include "app/report.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "test_support.h"

namespace {

std::string Report(const std::vector<DeviceRecord>& records) {
  DeviceInventory inventory;
  for (const DeviceRecord& record : records) InventoryTestAccess::Append(inventory, record);
  WCHAR report[kReportChars];
  BuildReport(inventory, report);
  return Utf8(report);
}

struct ReportCase {
  const char* name;
  std::vector<DeviceRecord> records;  // in append order
  const char* expected;
};

TEST(Report, ListsDevicesLastAppendedFirstWithEachCardKeyOnItsOwnSlot) {
  const ReportCase cases[] = {
      {"one main drive", {RecordWithLetters('E')}, "[{\"iDrive\":\"E\"}]"},
      {"main and two cards", {RecordWithLetters('E', 'F', 'G')},
       "[{\"iDrive\":\"E\",\"sdDriveA\":\"F\",\"sdDriveB\":\"G\"}]"},
      {"last appended first", {RecordWithLetters('E'), RecordWithLetters('H')},
       "[{\"iDrive\":\"H\"},{\"iDrive\":\"E\"}]"},
      {"second card alone", {RecordWithLetters('E', 0, 'G')}, "[{\"iDrive\":\"E\",\"sdDriveB\":\"G\"}]"},
      {"overview example", {RecordWithLetters('E'), RecordWithLetters('H', 'I')},
       "[{\"iDrive\":\"H\",\"sdDriveA\":\"I\"},{\"iDrive\":\"E\"}]"},
  };
  for (const ReportCase& c : cases) EXPECT_EQ(Report(c.records), c.expected) << c.name;
}

TEST(Report, LengthIsFifteenPerLetterPlusOneUpToAllLetters) {
  // All 26 letters spread three ways: one per device, three per device, mixed.
  std::vector<DeviceRecord> single, triple, mixed;
  for (char letter = 'A'; letter <= 'Z'; ++letter) single.push_back(RecordWithLetters(letter));
  for (char letter = 'A'; letter <= 'X'; letter += 3) {
    triple.push_back(RecordWithLetters(letter, static_cast<char>(letter + 1), static_cast<char>(letter + 2)));
  }
  triple.push_back(RecordWithLetters('Y', 'Z'));
  for (char letter = 'A'; letter <= 'Y'; letter += 2) mixed.push_back(RecordWithLetters(letter, 0, static_cast<char>(letter + 1)));
  for (const auto* records : {&single, &triple, &mixed}) {
    const std::string report = Report(*records);
    EXPECT_EQ(report.size(), 391u) << report;
    EXPECT_EQ(report.front(), '[');
    EXPECT_EQ(report.back(), ']');
    // One colon per key: no root's colon, backslash or white space leaks in.
    EXPECT_EQ(std::count(report.begin(), report.end(), ':'), 26);
    EXPECT_EQ(report.find_first_of("\\ \t\r\n"), std::string::npos);
  }
  EXPECT_EQ(Report({RecordWithLetters('C')}).size(), 16u);
}

}  // namespace
