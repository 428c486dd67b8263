#include "repodb/journal.h"

#include <gtest/gtest.h>

namespace rk {
namespace {

// What the write-back writes, the next run reads back, whatever the paths
// hold; what a write cut short left is dropped, never half read.
TEST(journal, entries_read_back_as_written) {
  const std::vector<journal_entry> entries{
      {"/r/CVSROOT/users", "/r/CVSROOT/.rk_tmAAAAAA"},
      {"/a\nb\\n/CVSROOT/passwd", "/a\nb\\n/CVSROOT/.rk_tmBBBBBB"},
      {"/ends in \\", "/ends in \\/.rk_tmCCCCCC"},
  };
  const std::string text = journal_text(entries);
  EXPECT_EQ(journal_entries(text), entries);
  EXPECT_EQ(text.find("\nb"), std::string::npos) << "a line break is escaped";
  for (std::size_t cut = 0; cut < text.size(); ++cut) {
    auto read = journal_entries(std::string_view(text).substr(0, cut));
    ASSERT_LE(read.size(), entries.size());
    for (std::size_t i = 0; i < read.size(); ++i) EXPECT_EQ(read[i], entries[i]) << cut;
  }
}

}  // namespace
}  // namespace rk
