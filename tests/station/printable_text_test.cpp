#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "station/printable_text.h"

namespace quillon {
namespace {

// What `ports`, `ports --watch` and the text report print of an adapter's
// name or a log's field: controls, hidden characters and broken UTF-8 as
// escapes, everything else as it is.
TEST(PrintableText, EscapesWhatATerminalWouldActOn) {
    const std::pair<std::string, std::string> texts[] = {
        {"\x1b]0;title\x07", "\\x1b]0;title\\x07"},
        {"ok\rFAILED\x7f", "ok\\x0dFAILED\\x7f"},
        {"tab\there\n", "tab\\x09here\\x0a"},
        {"\xc2\x9b"
         "2J",
         "\\xc2\\x9b2J"},  // C1's CSI
        {"abc\xe2\x80\xae"
         "fed",
         "abc\\xe2\\x80\\xaefed"},  // right-to-left override
        {"A\xe2\x80\x8b"
         "B",
         "A\\xe2\\x80\\x8bB"},       // zero-width space
        {"\xff\xc3", "\\xff\\xc3"},  // no UTF-8, cut short
        {"\xc0\xaf", "\\xc0\\xaf"},  // overlong
        {"\\x1b", "\\x5cx1b"},       // no forged escape
        {"\\\\.\\COM3", "\\\\.\\COM3"},
        {"Stand \xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa6",
         "Stand \xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa6"},
    };
    for (const auto& [text, shown] : texts) {
        EXPECT_EQ(Printable(text), shown);
    }
}

// Long names keep their start and their end, are cut between characters,
// and a column widens until no two names read the same.
TEST(PrintableText, ElidedBetweenCharactersAndNeverAlike) {
    const std::string name = "Rack \xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9 pos 01";
    for (std::size_t width = 5; width < 20; ++width) {
        std::string shown = ElideMiddle(name, width);
        EXPECT_EQ(Printable(shown), shown) << width;  // no character cut in two
        EXPECT_LE(Columns(shown), width);
    }
    EXPECT_EQ(ElideMiddle(name, 12), "Rack...os 01");
    EXPECT_EQ(ElideMiddle("a\x1b"
                          "bcdefghij",
                          9),
              "a...fghij");  // never half an escape

    const std::string middle(50, '-');
    const std::vector<std::string> names = {"A" + middle + "1" + middle + "Z",
                                            "A" + middle + "2" + middle + "Z", "short",
                                            "A" + middle + "1" + middle + "Z"};
    ColumnLabels labels = DistinctLabels(names, 40);
    std::set<std::string> shown(labels.shown.begin(), labels.shown.end());
    EXPECT_EQ(shown.size(), 3u);
    EXPECT_LE(labels.width, names[0].size());
    EXPECT_EQ(DistinctLabels({"short", "other"}, 40).width, 5u);
}

}  // namespace
}  // namespace quillon
